#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "content/NetworkHelper.h"

#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The reference content server, run as a child process against a content folder made here.
class ContentServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void servesDocumentsAsStored();
    void missingDocumentIsNotFound_data();
    void missingDocumentIsNotFound();
    void bans_data();
    void bans();

private:
    QString url(const QString &path) const { return QStringLiteral("https://127.0.0.1:%1/").arg(port) + path; }

    TestPki pki;
    QTemporaryDir content;
    QProcess server;
    int port = 0;
};

void ContentServerTest::initTestCase()
{
    QVERIFY(pki.isValid());
    pki.trustInThisProcess();
    QVERIFY(writeFile(content.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"0.0.2\"}"));
    QVERIFY(writeFile(content.filePath(QStringLiteral("unzip.exe")), QByteArray("MZ\0\1binary", 10)));
    QVERIFY(QDir(content.path()).mkdir(QStringLiteral("pack.zip")));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bans"));
        db.setDatabaseName(content.filePath(QStringLiteral("bans.sqlite")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
            QStringLiteral("CREATE TABLE accounts(account TEXT PRIMARY KEY, vac INTEGER, community INTEGER)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO accounts VALUES ('76561198000000001',1,0),"
                                          "('76561198000000002',0,1),('a&b',1,1)")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bans"));

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    port = probe.serverPort();
    probe.close();

    server.setProcessChannelMode(QProcess::ForwardedChannels);
    server.start(QStringLiteral(CONTENT_SERVER_PATH),
                 {QStringLiteral("--content"), content.path(), QStringLiteral("--cert"), pki.certPath(),
                  QStringLiteral("--key"), pki.keyPath(), QStringLiteral("--port"), QString::number(port)});
    QVERIFY(server.waitForStarted());
    // Wait until it listens.
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            return socket.waitForConnected(200);
        }(),
        10000);
}

void ContentServerTest::cleanupTestCase()
{
    server.terminate();
    server.waitForFinished();
}

void ContentServerTest::servesDocumentsAsStored()
{
    NetworkHelper helper;
    QVERIFY2(helper.get(url(QStringLiteral("version"))), qPrintable(helper.errorString()));
    QCOMPARE(helper.replyText(), QStringLiteral("{\"ok\":true,\"version\":\"0.0.2\"}"));

    QTemporaryDir dir;
    helper.reset();
    QVERIFY(helper.download(url(QStringLiteral("unzip/exe")), dir.filePath(QStringLiteral("unzip.exe"))));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("unzip.exe"))), QByteArray("MZ\0\1binary", 10));
}

void ContentServerTest::missingDocumentIsNotFound_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no file") << "motd";
    QTest::newRow("a folder in its place") << "pack";
}

void ContentServerTest::missingDocumentIsNotFound()
{
    QFETCH(QString, path);
    NetworkHelper helper;
    QVERIFY(!helper.get(url(path)));
    QVERIFY2(helper.errorString().contains(QLatin1String("Not Found")), qPrintable(helper.errorString()));
}

void ContentServerTest::bans_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("vac");
    QTest::addColumn<bool>("community");

    QTest::newRow("vac") << "?account=76561198000000001" << true << true << false;
    QTest::newRow("community") << "?account=76561198000000002" << true << false << true;
    QTest::newRow("unknown account is clean") << "?account=76561198000000003" << true << false << false;
    QTest::newRow("encoded key") << "?account=a%26b" << true << true << true;
    QTest::newRow("no account") << "" << false << false << false;
}

void ContentServerTest::bans()
{
    QFETCH(QString, query);
    QFETCH(bool, accepted);
    QFETCH(bool, vac);
    QFETCH(bool, community);

    NetworkHelper helper;
    QVERIFY2(helper.get(url(QStringLiteral("bans") + query)), qPrintable(helper.errorString()));
    QJsonObject envelope;
    QCOMPARE(helper.parseEnvelope(helper.replyText(), envelope), accepted);
    const QJsonObject data = envelope.value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("vac")).toBool(), vac);
    QCOMPARE(data.value(QStringLiteral("community")).toBool(), community);
}

VIGILOR_GUILESS_TEST_MAIN(ContentServerTest)
#include "ContentServerTest.moc"
