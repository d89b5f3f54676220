#include "content/NetworkHelper.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

class NetworkHelperTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void envelope_data();
    void envelope();
    void envelopeSyntaxErrorLeavesObjectUnchanged();
    void getKeepsBodyAndAnnouncesIt();
    void replyTextStopsAtZeroByte();
    void httpErrorFailsWithReplyDescription();
    void unreachableServerFails();
    void untrustedCertificateFails();
    void errorSticksUntilReset();
    void downloadWritesFile();
    void downloadIntoMissingFolderFailsAfterAnnouncingReply();
    void downloadDetectsFailedWrite();
    void failedReplyLeavesFileUntouched();
    void statusOtherThan200Fails_data();
    void statusOtherThan200Fails();
    void stalledServerFailsAfterTransferTimeout();

private:
    QString url(const char *path) const { return server->baseUrl() + QLatin1String(path); }

    TestPki pki;
    std::unique_ptr<TestServer> server;
};

void NetworkHelperTest::initTestCase()
{
    VIGILOR_START_TEST_SERVER(pki, server);
    server->setReply(QStringLiteral("good"), "{\"ok\":true,\"version\":\"1.2\"}");
    server->setReply(QStringLiteral("nul"), QByteArray("before\0after", 12));
    server->setReply(QStringLiteral("broken"), TestServer::Reply{500, "oops", 0});
    server->setReply(QStringLiteral("redirect"), TestServer::Reply{302, "moved", 0});
    server->setReply(QStringLiteral("empty"), TestServer::Reply{204, "", 0});
}

void NetworkHelperTest::envelope_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("versionMember");

    QTest::newRow("ok true") << "{\"ok\":true,\"version\":\"1\"}" << true << QString() << "1";
    QTest::newRow("ok true with message") << "{\"ok\":true,\"message\":\"m\"}" << true << QString() << "";
    QTest::newRow("ok false with message")
        << "{\"ok\":false,\"message\":\"down\",\"version\":\"2\"}" << false << "Request failed: down"
        << "2";
    QTest::newRow("ok number 1") << "{\"ok\":1,\"message\":\"x\"}" << false << "Request failed: x"
                                 << "";
    QTest::newRow("ok string true") << "{\"ok\":\"true\"}" << false << "Request failed: no further information"
                                    << "";
    QTest::newRow("ok missing") << "{\"version\":\"3\"}" << false << "Request failed: no further information"
                                << "3";
    QTest::newRow("message not a string") << "{\"ok\":false,\"message\":5}" << false << "Request failed: "
                                          << "";
    QTest::newRow("top level array") << "[1,2]" << false << "Request failed: no further information"
                                     << "";
    QTest::newRow("not json") << "<html>" << false << "JSON parse error: illegal value"
                              << "";
    QTest::newRow("empty") << "" << false << "JSON parse error: illegal value"
                           << "";
}

void NetworkHelperTest::envelope()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, error);
    QFETCH(QString, versionMember);

    NetworkHelper helper;
    QJsonObject out;
    QCOMPARE(helper.parseEnvelope(text, out), accepted);
    QCOMPARE(helper.errorString(), error);
    // The object reaches the caller even when the envelope reports failure.
    QCOMPARE(out.value(QStringLiteral("version")).toString(), versionMember);
}

void NetworkHelperTest::envelopeSyntaxErrorLeavesObjectUnchanged()
{
    NetworkHelper helper;
    QJsonObject out{{QStringLiteral("kept"), true}};
    QVERIFY(!helper.parseEnvelope(QStringLiteral("{\"ok\":"), out));
    QVERIFY(helper.errorString().startsWith(QLatin1String("JSON parse error: ")));
    QCOMPARE(out.value(QStringLiteral("kept")).toBool(), true);
}

void NetworkHelperTest::getKeepsBodyAndAnnouncesIt()
{
    NetworkHelper helper;
    QSignalSpy completed(&helper, &NetworkHelper::requestCompleted);
    QVERIFY(helper.get(url("good")));
    QCOMPARE(helper.replyText(), QStringLiteral("{\"ok\":true,\"version\":\"1.2\"}"));
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.at(0).at(0).toBool(), true);
    QCOMPARE(completed.at(0).at(1).toString(), helper.replyText());
    QVERIFY(helper.errorString().isEmpty());
}

void NetworkHelperTest::replyTextStopsAtZeroByte()
{
    NetworkHelper helper;
    QSignalSpy completed(&helper, &NetworkHelper::requestCompleted);
    QVERIFY(helper.get(url("nul")));
    QCOMPARE(helper.replyText(), QStringLiteral("before"));
    QCOMPARE(completed.at(0).at(1).toString(), QStringLiteral("before"));
}

void NetworkHelperTest::httpErrorFailsWithReplyDescription()
{
    NetworkHelper helper;
    QSignalSpy completed(&helper, &NetworkHelper::requestCompleted);
    QVERIFY(!helper.get(url("broken")));
    QVERIFY2(helper.errorString().contains(QLatin1String("Internal Server Error")), qPrintable(helper.errorString()));
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.at(0).at(0).toBool(), false);
    QCOMPARE(completed.at(0).at(1).toString(), helper.errorString());
}

void NetworkHelperTest::unreachableServerFails()
{
    // A port that was just free and is closed again: nothing listens there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    NetworkHelper helper;
    QVERIFY(!helper.get(QStringLiteral("https://127.0.0.1:%1/version").arg(port)));
    QVERIFY2(helper.errorString().contains(QLatin1String("Connection refused")), qPrintable(helper.errorString()));
}

void NetworkHelperTest::untrustedCertificateFails()
{
    TestPki stranger;
    QVERIFY(stranger.isValid());
    TestServer impostor(stranger);
    QVERIFY(impostor.start());
    impostor.setReply(QStringLiteral("version"), "{\"ok\":true,\"version\":\"9\"}");

    NetworkHelper helper;
    QVERIFY(!helper.get(impostor.baseUrl() + QStringLiteral("version")));
    QVERIFY(helper.replyText().isEmpty());
    QVERIFY(impostor.requests().isEmpty());
    QVERIFY2(!helper.errorString().isEmpty(), "an untrusted server must fail the request");
}

void NetworkHelperTest::errorSticksUntilReset()
{
    NetworkHelper helper;
    QVERIFY(!helper.get(url("broken")));
    // The reply is good, but the earlier error is still recorded.
    QVERIFY(!helper.get(url("good")));
    helper.reset();
    QVERIFY(helper.get(url("good")));
}

void NetworkHelperTest::downloadWritesFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.json"));
    NetworkHelper helper;
    QVERIFY(helper.download(url("good"), path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("{\"ok\":true,\"version\":\"1.2\"}"));
}

void NetworkHelperTest::downloadIntoMissingFolderFailsAfterAnnouncingReply()
{
    QTemporaryDir dir;
    NetworkHelper helper;
    QSignalSpy completed(&helper, &NetworkHelper::requestCompleted);
    QVERIFY(!helper.download(url("good"), dir.filePath(QStringLiteral("missing/out.json"))));
    QCOMPARE(helper.errorString(), QStringLiteral("Failed to write file"));
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.at(0).at(0).toBool(), true);
}

void NetworkHelperTest::downloadDetectsFailedWrite()
{
    // /dev/full opens for writing and then refuses every byte, like a full disk.
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full on this system");
    NetworkHelper helper;
    QVERIFY(!helper.download(url("good"), QStringLiteral("/dev/full")));
    QCOMPARE(helper.errorString(), QStringLiteral("Failed to write file"));
}

void NetworkHelperTest::failedReplyLeavesFileUntouched()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old");
    file.close();

    NetworkHelper helper;
    QVERIFY(!helper.download(url("broken"), path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));
}

void NetworkHelperTest::statusOtherThan200Fails_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("redirect") << "redirect"
                              << "Unexpected HTTP status 302";
    QTest::newRow("no content") << "empty"
                                << "Unexpected HTTP status 204";
}

void NetworkHelperTest::statusOtherThan200Fails()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("data.zip"));
    NetworkHelper helper;
    QVERIFY(!helper.get(server->baseUrl() + path));
    QCOMPARE(helper.errorString(), error);
    helper.reset();
    QVERIFY(!helper.download(server->baseUrl() + path, file));
    QVERIFY(!QFile::exists(file));
}

void NetworkHelperTest::stalledServerFailsAfterTransferTimeout()
{
    // Accepts the connection, then never says a word.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    NetworkHelper helper;
    QVERIFY(!helper.get(QStringLiteral("https://127.0.0.1:%1/version").arg(silent.serverPort())));
    QCOMPARE(helper.errorString(), QStringLiteral("No data from the server for 30 s"));
}

VIGILOR_GUILESS_TEST_MAIN(NetworkHelperTest)
#include "NetworkHelperTest.moc"
