#include "content/ServerTrust.h"
#include "content/ServerConfig.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>

// Trust follows the build: a pinned CA replaces every other root, no pin leaves the system store.
class ServerTrustTest : public QObject
{
    Q_OBJECT

private slots:
    void pinningFollowsTheBuild();
};

void ServerTrustTest::pinningFollowsTheBuild()
{
    const QList<QSslCertificate> pinned = QSslCertificate::fromData(QByteArray(kPinnedContentServerCa), QSsl::Pem);
    const QList<QSslCertificate> before = QSslConfiguration::defaultConfiguration().caCertificates();

    const bool applied = pinContentServerTrust();

    const QList<QSslCertificate> after = QSslConfiguration::defaultConfiguration().caCertificates();
    if (pinned.isEmpty()) {
        QVERIFY(!applied);
        QCOMPARE(after, before);
    } else {
        QVERIFY(applied);
        QCOMPARE(after, pinned);
        QVERIFY2(before.size() > pinned.size() || before.isEmpty(), "the system store is replaced, not extended");
    }
}

QTEST_GUILESS_MAIN(ServerTrustTest)
#include "ServerTrustTest.moc"
