#include "content/ServerTrust.h"
#include "TestMain.h"
#include "content/ServerConfig.h"

#include "TestPki.h"
#include "TestServer.h"
#include "content/NetworkHelper.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>

// Trust follows the build: a pinned CA replaces every other root, no pin leaves the system store.
class ServerTrustTest : public QObject
{
    Q_OBJECT

private slots:
    void pinningFollowsTheBuild();
    void pinThatHoldsNoCertificateTrustsNothing();
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

void ServerTrustTest::pinThatHoldsNoCertificateTrustsNothing()
{
    TestPki pki;
    std::unique_ptr<TestServer> server;
    VIGILOR_START_TEST_SERVER(pki, server);
    server->setReply(QStringLiteral("version"), "{}");
    NetworkHelper helper;
    QVERIFY(helper.get(server->baseUrl() + QStringLiteral("version")));

    QVERIFY(pinServerTrust("-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n"));
    NetworkHelper pinned;
    QVERIFY(!pinned.get(server->baseUrl() + QStringLiteral("version")));
    QVERIFY(server->requests().size() == 1);
}

VIGILOR_GUILESS_TEST_MAIN(ServerTrustTest)
#include "ServerTrustTest.moc"
