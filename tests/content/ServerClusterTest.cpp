#include "ServerContent.h"
#include "TestBalancer.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestPostgres.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

// Two reference servers sharing one PostgreSQL database behind nginx's TCP balancer, configured as the
// README shows, under the load of several examiners at once.
class ServerClusterTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void serversSeeTheExaminersAddress();
    void oneChainThroughTheKillOfAServer();
    void databaseRestartRefusesAndRecovers();
    void copyKeepsTheChain();

private:
    struct Sent
    {
        int status = 0; // 0: no answer
        QString id;
    };
    // Posts a report; tried again, as an examiner would send it again, on no answer and on 503.
    Sent post(httplib::SSLClient &client, const std::string &body, int attempts);
    // Runs `clients` threads that each post to `port` until `next` gives no more reports to send, with
    // `attempts` a report.
    void load(int port, int clients, int attempts, const std::function<bool(std::string &)> &next,
              const std::function<void(const Sent &)> &done);
    bool startServer(int which);
    QSet<QString> storedIds(const QString &database);
    // The server program's output and exit status, run with `arguments` to verify or copy reports.
    QByteArray runServer(const QStringList &arguments, int &status);

    TestPki pki;
    QTemporaryDir folder;
    TestPostgres postgres;
    QProcess servers[2];
    int serverPorts[2] = {0, 0};
    TestBalancer balancer;
    int port = 0;
};

bool ServerClusterTest::startServer(int which)
{
    servers[which].setProcessEnvironment(postgres.environment());
    servers[which].setProcessChannelMode(QProcess::MergedChannels);
    return startContentServer(servers[which], QStringLiteral(CONTENT_SERVER_PATH), pki, folder.path(),
                              {QStringLiteral("--database"), postgres.uri(QStringLiteral("vigilor")),
                               QStringLiteral("--reports-per-minute"), QStringLiteral("100000"),
                               QStringLiteral("--proxy-protocol-from"), QStringLiteral("127.0.0.1")},
                              serverPorts[which]);
}

void ServerClusterTest::initTestCase()
{
    // A client writing to a server that was killed gets an error, not the end of the test.
    std::signal(SIGPIPE, SIG_IGN);
    QVERIFY(pki.isValid());
    pki.trustInThisProcess();
    QVERIFY(writeFile(folder.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"0.0.2\"}"));
    QVERIFY2(postgres.create({QStringLiteral("vigilor"), QStringLiteral("copy")}), qPrintable(postgres.errorString()));
    // Both start at once, and one of them makes the schema.
    QVERIFY(startServer(0));
    QVERIFY(startServer(1));

    QVERIFY(balancer.start(QStringLiteral(NGINX_STREAM_CONF), {serverPorts[0], serverPorts[1]}));
    port = balancer.port();
}

void ServerClusterTest::cleanupTestCase()
{
    for (QProcess *process : {&servers[0], &servers[1]}) {
        process->terminate();
        process->waitForFinished();
    }
}

void ServerClusterTest::serversSeeTheExaminersAddress()
{
    const QByteArray answer = getVersionFrom(QStringLiteral("127.0.0.7"), port);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
    QTest::qWait(200);
    const QByteArray logs = servers[0].readAll() + servers[1].readAll();
    QVERIFY2(logs.contains("127.0.0.7 GET /version 200"), logs.constData());
}

ServerClusterTest::Sent ServerClusterTest::post(httplib::SSLClient &client, const std::string &body, int attempts)
{
    Sent sent;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const httplib::Result result = client.Post("/report", body, "application/json");
        sent.status = result ? result->status : 0;
        if (sent.status == 200) {
            const QRegularExpressionMatch id =
                QRegularExpression(QStringLiteral("\"id\":\"([^\"]+)\"")).match(QString::fromStdString(result->body));
            sent.id = id.captured(1);
            return sent;
        }
        if (sent.status != 0 && sent.status != 503)
            return sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return sent;
}

void ServerClusterTest::load(int port, int clients, int attempts, const std::function<bool(std::string &)> &next,
                             const std::function<void(const Sent &)> &done)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([this, port, attempts, &next, &done] {
            httplib::SSLClient client("127.0.0.1", port);
            client.set_ca_cert_path(QFile::encodeName(pki.caPath()).constData());
            client.enable_server_certificate_verification(true);
            client.set_keep_alive(true);
            client.set_read_timeout(10, 0);
            std::string body;
            while (next(body))
                done(post(client, body, attempts));
        });
    // The main thread keeps its event loop turning for whatever the test does meanwhile.
    std::atomic<int> running{clients};
    std::thread joiner([&threads, &running] {
        for (std::thread &thread : threads) {
            thread.join();
            --running;
        }
    });
    while (running > 0)
        QTest::qWait(20);
    joiner.join();
}

QSet<QString> ServerClusterTest::storedIds(const QString &database)
{
    QByteArray rows;
    if (!postgres.sql(database, QStringLiteral("SELECT id FROM reports"), &rows))
        return {};
    QSet<QString> ids;
    for (const QByteArray &row : rows.split('\n'))
        if (!row.isEmpty())
            ids.insert(QString::fromLatin1(row));
    return ids;
}

QByteArray ServerClusterTest::runServer(const QStringList &arguments, int &status)
{
    QProcess check;
    check.setProcessEnvironment(postgres.environment());
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral(CONTENT_SERVER_PATH), arguments);
    check.waitForFinished(120000);
    status = check.exitCode();
    return check.readAll();
}

void ServerClusterTest::oneChainThroughTheKillOfAServer()
{
    // 8 examiners send 2,000 reports; one server dies without a word a third of the way in.
    std::atomic<int> nextReport{0};
    std::mutex mutex;
    QStringList acknowledged;
    QList<int> failures;
    std::atomic<int> answered{0};
    const auto next = [&nextReport](std::string &body) {
        const int number = nextReport++;
        body = "{\"format\":\"vigilor-report/1\",\"machine\":\"PC-" + std::to_string(number) + "\"}";
        return number < 2000;
    };
    const auto done = [&](const Sent &sent) {
        std::lock_guard<std::mutex> lock(mutex);
        if (sent.status == 200)
            acknowledged.append(sent.id);
        else
            failures.append(sent.status);
        ++answered;
    };
    bool killed = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!killed && answered >= 700) {
            servers[0].kill();
            killed = true;
        }
    });
    watch.start(5);
    load(port, 8, 100, next, done);
    watch.stop();
    QVERIFY(killed);
    servers[0].waitForFinished();
    const QByteArray killedLog = servers[0].readAll();

    QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size())));
    QCOMPARE(acknowledged.size(), 2000);
    // Both servers took reports into the one chain before the kill.
    QVERIFY(killedLog.count("POST /report 200") > 100);
    const QSet<QString> stored = storedIds(QStringLiteral("vigilor"));
    QCOMPARE(QSet<QString>(acknowledged.begin(), acknowledged.end()).size(), 2000);
    for (const QString &id : acknowledged)
        QVERIFY2(stored.contains(id), qPrintable(id));
    int status = -1;
    const QByteArray output = runServer(
        {QStringLiteral("--verify-reports"), QStringLiteral("--database"), postgres.uri(QStringLiteral("vigilor"))},
        status);
    QCOMPARE(status, 0);
    QVERIFY2(output.contains("chain holds over " + QByteArray::number(stored.size()) + " reports"), output.constData());
}

void ServerClusterTest::databaseRestartRefusesAndRecovers()
{
    QVERIFY(servers[0].state() == QProcess::Running || startServer(0));
    // 4 examiners post, one attempt a report so that refusals show, before, while and after the
    // database is away.
    enum Phase { Before, Away, Back };
    std::atomic<int> phase{Before};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    QList<QPair<int, Sent>> answers;
    const auto next = [&stop](std::string &body) {
        body = R"({"format":"vigilor-report/1","machine":"restart"})";
        return !stop;
    };
    const auto done = [&](const Sent &sent) {
        std::lock_guard<std::mutex> lock(mutex);
        answers.append({phase.load(), sent});
    };
    bool stopped = false, started = false;
    QTimer::singleShot(500, this, [&] {
        phase = Away;
        stopped = postgres.stop();
        QTest::qWait(2000);
        started = postgres.start();
        phase = Back;
        QTest::qWait(3000);
        stop = true;
    });
    load(port, 4, 1, next, done);
    QVERIFY(stopped && started);

    const QSet<QString> ids = storedIds(QStringLiteral("vigilor"));
    int refused = 0, storedAfter = 0;
    for (const auto &[when, sent] : answers) {
        // Never a 200 for a report that is not there, nor any answer but "stored" or "try again".
        QVERIFY2(sent.status == 200 || sent.status == 503, qPrintable(QString::number(sent.status)));
        if (sent.status == 200)
            QVERIFY2(ids.contains(sent.id), qPrintable(sent.id));
        refused += when == Away && sent.status == 503;
        storedAfter += when == Back && sent.status == 200;
    }
    QVERIFY(refused > 0);
    QVERIFY(storedAfter > 0);
    int status = -1;
    runServer(
        {QStringLiteral("--verify-reports"), QStringLiteral("--database"), postgres.uri(QStringLiteral("vigilor"))},
        status);
    QCOMPARE(status, 0);
}

void ServerClusterTest::copyKeepsTheChain()
{
    // A league's SQLite store of 1,000 reports, taken by a server of its own.
    QTemporaryDir alone;
    QVERIFY(writeFile(alone.filePath(QStringLiteral("version.json")), "{}"));
    QProcess sqliteServer;
    int sqlitePort = 0;
    QVERIFY(startContentServer(sqliteServer, QStringLiteral(CONTENT_SERVER_PATH), pki, alone.path(),
                               {QStringLiteral("--reports-per-minute"), QStringLiteral("100000")}, sqlitePort));
    std::atomic<int> nextReport{0};
    std::atomic<int> acknowledged{0};
    load(
        sqlitePort, 4, 1,
        [&nextReport](std::string &body) {
            const int number = nextReport++;
            body = "{\"format\":\"vigilor-report/1\",\"user\":\"" + std::to_string(number) + "\"}";
            return number < 1000;
        },
        [&acknowledged](const Sent &sent) { acknowledged += sent.status == 200; });
    sqliteServer.terminate();
    QVERIFY(sqliteServer.waitForFinished());
    QCOMPARE(acknowledged.load(), 1000);

    const QStringList copy = {QStringLiteral("--content"), alone.path(), QStringLiteral("--copy-reports-to"),
                              postgres.uri(QStringLiteral("copy"))};
    int status = -1;
    const QByteArray copied = runServer(copy, status);
    QVERIFY2(status == 0, copied.constData());
    const QByteArray original =
        runServer({QStringLiteral("--verify-reports"), QStringLiteral("--content"), alone.path()}, status);
    QCOMPARE(status, 0);
    const QByteArray copiedChain = runServer(
        {QStringLiteral("--verify-reports"), QStringLiteral("--database"), postgres.uri(QStringLiteral("copy"))},
        status);
    QCOMPARE(status, 0);
    QVERIFY2(original.contains("chain holds over 1000 reports; last chain value "), original.constData());
    QCOMPARE(copiedChain, original);
    QVERIFY2(copied.contains("copied 1000 reports"), copied.constData());

    // A second copy would make two chains of one: refused.
    const QByteArray again = runServer(copy, status);
    QCOMPARE(status, 2);
    QVERIFY2(again.contains("holds reports already"), again.constData());
}

VIGILOR_GUILESS_TEST_MAIN(ServerClusterTest)
#include "ServerClusterTest.moc"
