#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The reference server's limits shared out per address, against one address on the venue's network
// that tries to take all of one: bodies in flight, a body's silence, the workers that wait on Steam,
// and a document rewritten in place while examiners download it.
class ServerSharesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void oneAddressHoldsItsShareOfBodies();
    void silentBodyIsCutWhateverItSentBefore();
    void lookupsWaitingOnSteamDelayNoReport();
    void documentRewrittenInPlaceIsServedWhole();

private:
    TestPki pki;
    QTemporaryDir content;
    QProcess server;
    int port = 0;
    std::unique_ptr<TestServer> steamApi;
};

namespace {
const QByteArray kReport = R"({"format":"vigilor-report/1","machine":"PC","events":[]})";
constexpr int kLargestBody = 16 * 1024 * 1024;

// A TLS connection from `source` that announces a report of 16 MiB and sends all of it but its last
// byte, then keeps silent.
std::unique_ptr<QSslSocket> almostWholeBody(const QString &source, int port)
{
    std::unique_ptr<QSslSocket> socket = connectFrom(source, port);
    if (socket->isEncrypted())
        sendAll(*socket, "POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                             QByteArray::number(kLargestBody) + "\r\n\r\n" + QByteArray(kLargestBody - 1, ' '));
    return socket;
}
} // namespace

void ServerSharesTest::initTestCase()
{
    QVERIFY(pki.isValid());
    pki.trustInThisProcess();
    QVERIFY(writeFile(content.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"0.0.2\"}"));
    QVERIFY(writeFile(content.filePath(QStringLiteral("pack.zip")), QByteArray(8 * 1024 * 1024, 'A')));
    QVERIFY(writeFile(content.filePath(QStringLiteral("steam.key")), "0123456789ABCDEF0123456789ABCDEF\n"));
    // Steam at its slowest: every answer comes after the server has given up on it.
    steamApi = std::make_unique<TestServer>(pki);
    QVERIFY(steamApi->start());
    steamApi->setHandler(QStringLiteral("ISteamUser/GetPlayerBans/v1/"),
                         [](const std::string &, const std::string &query) {
                             return TestServer::Reply{200, steamPlayerBans(query), 11000};
                         });
    server.setProcessChannelMode(QProcess::ForwardedChannels);
    QVERIFY(
        startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                           {QStringLiteral("--steam-api-key-file"), content.filePath(QStringLiteral("steam.key")),
                            QStringLiteral("--steam-api-url"), steamApi->baseUrl(), QStringLiteral("--steam-api-ca"),
                            pki.caPath(), QStringLiteral("--steam-rest-seconds"), QStringLiteral("0")},
                           port));
}

void ServerSharesTest::cleanupTestCase()
{
    server.terminate();
    server.waitForFinished();
}

// Sixteen bodies of 16 MiB from one address took the whole budget, and every other examiner's report
// got 503: now the address holds its 32 MiB, and its third body is the one refused.
void ServerSharesTest::oneAddressHoldsItsShareOfBodies()
{
    std::vector<std::unique_ptr<QSslSocket>> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(almostWholeBody(QStringLiteral("127.0.0.21"), port));
    // Whichever of them the server read past the share is the one refused.
    int refused = 0;
    for (const auto &socket : held) {
        socket->waitForReadyRead(2000);
        refused += socket->readAll().startsWith("HTTP/1.1 503") ? 1 : 0;
    }
    QCOMPARE(refused, 1);
    const QByteArray answer =
        requestFrom(QStringLiteral("127.0.0.22"), port, "POST /report", "Content-Type: application/json\r\n", kReport);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
}

// A body sent fast and then held: its pace would have bought it minutes of silence.
void ServerSharesTest::silentBodyIsCutWhateverItSentBefore()
{
    const std::unique_ptr<QSslSocket> socket = almostWholeBody(QStringLiteral("127.0.0.23"), port);
    QElapsedTimer clock;
    clock.start();
    while (socket->state() == QAbstractSocket::ConnectedState && clock.elapsed() < 30000)
        socket->waitForDisconnected(1000);
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(clock.elapsed() < 13000, qPrintable(QString::number(clock.elapsed())));
}

// One address loops ban lookups while Steam does not answer: reports, which never touch Steam, are
// answered at once all the same, and the address's lookups past its share of the queue get 503.
void ServerSharesTest::lookupsWaitingOnSteamDelayNoReport()
{
    std::vector<std::thread> lookups;
    std::atomic<int> refused{0};
    for (int i = 0; i < 96; ++i)
        lookups.emplace_back([this, i, &refused] {
            const QByteArray answer = getFrom(QStringLiteral("127.0.0.24"), port,
                                              "/bans?account=7656119800001" + QByteArray::number(1000 + i));
            refused += answer.startsWith("HTTP/1.1 503") ? 1 : 0;
        });
    QTest::qWait(500);
    QElapsedTimer clock;
    clock.start();
    const QByteArray answer =
        requestFrom(QStringLiteral("127.0.0.25"), port, "POST /report", "Content-Type: application/json\r\n", kReport);
    const qint64 elapsed = clock.elapsed();
    for (std::thread &lookup : lookups)
        lookup.join();
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.left(200).constData());
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QVERIFY2(refused > 0, "no lookup of the address was refused");
}

// A document rewritten in place ("cp" over it) while examiners download it: each answer is one whole
// version, never a mix of both.
void ServerSharesTest::documentRewrittenInPlaceIsServedWhole()
{
    const QString pack = content.filePath(QStringLiteral("pack.zip"));
    QVERIFY(getFrom(QStringLiteral("127.0.0.26"), port, "/pack").startsWith("HTTP/1.1 200"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const QByteArray versions[] = {QByteArray(8 * 1024 * 1024, 'A'), QByteArray(8 * 1024 * 1024, 'B')};
        for (int n = 1; !done; ++n) {
            QFile file(pack);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) // truncates, as cp does
                return;
            file.write(versions[n % 2]);
        }
    });
    QStringList broken;
    for (int i = 0; i < 30; ++i) {
        const QByteArray answer = getFrom(QStringLiteral("127.0.0.26"), port, "/pack");
        const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        if (!answer.startsWith("HTTP/1.1 200") || body.size() != 8 * 1024 * 1024 ||
            body.count(body.at(0)) != body.size())
            broken.append(QStringLiteral("%1: %2 bytes").arg(QString::fromLatin1(answer.left(12))).arg(body.size()));
    }
    done = true;
    writer.join();
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QStringLiteral(", "))));
}

VIGILOR_GUILESS_TEST_MAIN(ServerSharesTest)
#include "ServerSharesTest.moc"
