#include "HistoryDatabase.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TestPki.h"
#include "TestPostgres.h"
#include "TestServer.h"
#include "content/NetworkHelper.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

// The reference content server, run as a child process against a content folder made here. With
// VIGILOR_TEST_STORE=postgresql the same cases run with reports, ban cache and report limit in a
// throwaway PostgreSQL cluster.
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
    void steamBans_data();
    void steamBans();
    void reports_data();
    void reports();
    void reportsFromOneAddressAreLimited();
    void bodiesAreCountedAsTheyArrive_data();
    void bodiesAreCountedAsTheyArrive();
    void adminPages_data();
    void adminPages();
    void failedLoginsSlowTheAddressDown();
    void heldChainHeadCostsA503NotAWait();
    void droppedTableIsMadeAgain();
    void namedFileProblemsStopTheStart_data();
    void namedFileProblemsStopTheStart();
    void chainShowsAnEditedReport();
    void deepStoredReportIsNotWalked(); // after the chain's checks: it adds a report out of the chain
    void tricklingClientsKeepNobodyWaiting_data();
    void tricklingClientsKeepNobodyWaiting();
    void examinerBehindTheSameNatGetsIn();
    void steamKeyStaysOutOfTheLog(); // ends the server with Steam lookups

private:
    QString url(const QString &path) const { return QStringLiteral("https://127.0.0.1:%1/").arg(port) + path; }
    QString steamUrl(const QString &path) const
    {
        return QStringLiteral("https://127.0.0.1:%1/").arg(steamPort) + path;
    }

    // Both servers share their stores, as two behind one address would.
    QStringList storeOptions(const QString &database) const
    {
        return postgres ? QStringList{QStringLiteral("--database"), postgres->uri(database)} : QStringList();
    }

    std::unique_ptr<TestPostgres> postgres;
    TestPki pki;
    QTemporaryDir content;
    QProcess server;
    int port = 0;
    // The same content served with Steam lookups on, against a stand-in of Steam's Web API.
    std::unique_ptr<TestServer> steamApi;
    QString steamMode = QStringLiteral("ok");
    std::atomic<int> steamCalls{0};
    QProcess steamServer;
    int steamPort = 0;
};

namespace {
const QByteArray kSteamKey = "0123456789ABCDEF0123456789ABCDEF";
const QByteArray kAdmin = "admin:s3cret-admin-token-1";

// `count` connections from `source` to loopback `port`, each with a TLS record header announcing a
// ClientHello of 512 bytes, which then never comes whole.
bool openSlowHandshakes(const QString &source, int port, int count, std::vector<std::unique_ptr<QTcpSocket>> &sockets)
{
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        if (!sockets.back()->bind(QHostAddress(source)))
            return false;
        sockets.back()->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (!sockets.back()->waitForConnected(2000))
            return false;
        sockets.back()->write("\x16\x03\x01\x02\x00", 5);
    }
    return true;
}

// `count` TLS connections from `source` to loopback `port`, each announcing a report of 16 MB and
// sending one byte of it; those the server does not admit are kept closed.
void openSlowBodies(const QString &source, int port, int count, std::vector<std::unique_ptr<QTcpSocket>> &sockets)
{
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<QSslSocket>();
        socket->bind(QHostAddress(source));
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        if (socket->waitForEncrypted(2000))
            socket->write("POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 16000000\r\n\r\n{");
        sockets.push_back(std::move(socket));
    }
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray authenticate; // the WWW-Authenticate header
};

// One request and its answer, whatever the status.
Answer fetch(const QString &url, const QByteArray &body = QByteArray(), const QByteArray &authorization = QByteArray())
{
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = body.isNull() ? network.get(request) : network.post(request, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(20000);
    Answer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                  reply->rawHeader("WWW-Authenticate")};
    delete reply;
    return answer;
}

const QByteArray kReport =
    R"({"format":"vigilor-report/1","machine":"<b>PC</b>","events":[)"
    R"({"type":"account","steam_id":"7656","persona_name":"<script>x</script>",)"
    R"("looked_up":true,"vac":true},)"
    R"({"type":"traces","signs":["<i>sign</i>"],"rows":[{"path":"C:\\<b>x</b>.exe",)"
    R"("source":"BAM","state":"deleted","rule":"Loader","level":1},{"path":"y.exe","time":"2026-01-01T00:00:00Z",)"
    R"("time_kind":"recorded","sha1":"<b>ab"}]},)"
    R"({"type":"scan","findings":[{"kind":"unreadable","target":"<u>H</u>","reason":"view"},)"
    R"({"kind":"signature","level":1,"error":"timeout","target":"cs<b>go.exe","pid":7},)"
    R"j({"kind":"hidden_window","level":1,"description":"Окно скрыто от записи экрана",)j"
    R"j("target":"<b>m (x.exe, PID 5)"}]},)j"
    R"({"type":"drivers","lines":[{"level":"red","text":"<b>red</b>"},{"level":"plain","text":"x"}],)"
    R"("findings":[{"kind":"driver","name":"<u>d.sys","path":"C:\\d.sys","state":"loaded",)"
    R"("signer":"<i>V</i>","list":"d.sys","level":"red"}]},{"type":"accounts","not_read":"<b>no</b>"},)"
    R"j({"type":"whole_check","violations":3,"attention":1,"not_checked":2,"cancelled_at":"2 из 4: <i>x</i>"}]})j";

} // namespace

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
    if (qgetenv("VIGILOR_TEST_STORE") == "postgresql") {
        postgres = std::make_unique<TestPostgres>();
        QVERIFY2(postgres->create({QStringLiteral("reports")}), qPrintable(postgres->errorString()));
        server.setProcessEnvironment(postgres->environment());
        steamServer.setProcessEnvironment(postgres->environment());
    }
    server.setProcessChannelMode(QProcess::ForwardedChannels);
    QVERIFY(writeFile(content.filePath(QStringLiteral("admin.token")), " s3cret-admin-token-1\n"));
    QVERIFY(startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                               QStringList{QStringLiteral("--admin-token-file"),
                                           content.filePath(QStringLiteral("admin.token")),
                                           QStringLiteral("--request-head-seconds"), QStringLiteral("3"),
                                           QStringLiteral("--connections-per-address"), QStringLiteral("16")} +
                                   storeOptions(QStringLiteral("reports")),
                               port));

    steamApi = std::make_unique<TestServer>(pki);
    QVERIFY(steamApi->start());
    steamApi->setHandler(
        QStringLiteral("ISteamUser/GetPlayerBans/v1/"), [this](const std::string &, const std::string &query) {
            ++steamCalls;
            if (steamMode == QLatin1String("fail"))
                return TestServer::Reply{500, "{}", 0};
            if (steamMode == QLatin1String("malformed"))
                return TestServer::Reply{200, "{\"players\":[{\"SteamId\":1}]}", 0};
            if (steamMode == QLatin1String("huge")) // valid JSON, 2 MiB of it blank
                return TestServer::Reply{200, QByteArray(2 * 1024 * 1024, ' ') + steamPlayerBans(query), 0};
            if (steamMode == QLatin1String("trickle")) // a byte every 300 ms
                return TestServer::Reply{200, steamPlayerBans(query), 0, 300};
            return TestServer::Reply{200, steamPlayerBans(query), steamMode == QLatin1String("stall") ? 11000 : 0};
        });
    // Earlier answers: one of two hours ago, one of two days ago.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString cached = QStringLiteral("INSERT INTO ban_cache VALUES ('76561198000000013', 0, 0, 0, 3, 5, 'none', "
                                          "%1), ('76561198000000014', 1, 0, 1, 0, 9, 'none', %2)")
                               .arg(now - 7200)
                               .arg(now - 2 * 86400);
    if (!postgres)
        QVERIFY(writeDatabase(content.filePath(QStringLiteral("ban-cache.sqlite")),
                              {QStringLiteral("CREATE TABLE ban_cache(account TEXT PRIMARY KEY, vac INTEGER NOT NULL, "
                                              "community INTEGER NOT NULL, vac_bans INTEGER NOT NULL, game_bans "
                                              "INTEGER NOT NULL, days_since_last_ban INTEGER NOT NULL, economy TEXT "
                                              "NOT NULL, fetched INTEGER NOT NULL)"),
                               cached}));
    QVERIFY(writeFile(content.filePath(QStringLiteral("steam.key")), kSteamKey + "\n"));
    steamServer.setProcessChannelMode(QProcess::MergedChannels);
    QVERIFY(startContentServer(
        steamServer, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
        QStringList{QStringLiteral("--steam-api-key-file"), content.filePath(QStringLiteral("steam.key")),
                    QStringLiteral("--steam-api-url"), steamApi->baseUrl(), QStringLiteral("--steam-api-ca"),
                    pki.caPath(), QStringLiteral("--steam-rest-seconds"), QStringLiteral("1")} +
            storeOptions(QStringLiteral("reports")),
        steamPort));
    // The server made the schema as it started.
    if (postgres)
        QVERIFY2(postgres->sql(QStringLiteral("reports"), cached), qPrintable(postgres->errorString()));
}

void ContentServerTest::cleanupTestCase()
{
    for (QProcess *process : {&server, &steamServer}) {
        process->terminate();
        process->waitForFinished();
    }
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

    // Ranges are ignored: thirty of them once made thirty copies of the file in one answer.
    QByteArray ranges = "Range: bytes=0-";
    for (int i = 1; i < 30; ++i)
        ranges += ",0-";
    const QByteArray answer = getFrom(QStringLiteral("127.0.0.6"), port, "/unzip/exe", ranges + "\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
    QVERIFY(answer.endsWith("\r\n\r\n" + QByteArray("MZ\0\1binary", 10)));
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

void ContentServerTest::steamBans_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("calls");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    // After a failure Steam is asked again only after its rest (a second here): the rows after one
    // wait it out.
    QTest::addColumn<bool>("rested");

    const QString unavailable = R"({"ok":false,"message":"ban lookup unavailable"})";
    // Rows run in this order against one server and one cache.
    QTest::newRow("steam answers") << "76561198000000011"
                                   << "ok" << 1 << 200
                                   << R"({"ok":true,"data":{"vac":true,"community":false,"vac_bans":1,)"
                                      R"("game_bans":0,"days_since_last_ban":42,"economy":"none"}})"
                                   << false;
    QTest::newRow("cache hit makes no call") << "76561198000000011"
                                             << "fail" << 0 << 200
                                             << R"({"ok":true,"data":{"vac":true,"community":false,"vac_bans":1,)"
                                                R"("game_bans":0,"days_since_last_ban":42,"economy":"none"}})"
                                             << false;
    QTest::newRow("league's table adds its ban") << "76561198000000002"
                                                 << "ok" << 1 << 200
                                                 << R"({"ok":true,"data":{"vac":false,"community":true,"vac_bans":0,)"
                                                    R"("game_bans":0,"days_since_last_ban":42,"economy":"none"}})"
                                                 << false;
    QTest::newRow("outage, answer of two hours ago") << "76561198000000013"
                                                     << "fail" << 1 << 200
                                                     << R"({"ok":true,"data":{"vac":false,"community":false,)"
                                                        R"("vac_bans":0,"game_bans":3,"days_since_last_ban":5,)"
                                                        R"("economy":"none"}})"
                                                     << false;
    QTest::newRow("outage, answer of two days ago") << "76561198000000014"
                                                    << "fail" << 1 << 502 << unavailable << true;
    QTest::newRow("outage, nothing cached") << "76561198000000015"
                                            << "fail" << 1 << 502 << unavailable << true;
    QTest::newRow("right after an outage, a miss fails without asking") << "76561198000000020"
                                                                        << "ok" << 0 << 502 << unavailable << false;
    QTest::newRow("malformed answer") << "76561198000000016"
                                      << "malformed" << 1 << 502 << unavailable << true;
    QTest::newRow("stalled") << "76561198000000017"
                             << "stall" << 1 << 502 << unavailable << true;
    QTest::newRow("answer of 2 MiB") << "76561198000000018"
                                     << "huge" << 1 << 502 << unavailable << true;
    QTest::newRow("answer a byte at a time") << "76561198000000019"
                                             << "trickle" << 1 << 502 << unavailable << true;
    QTest::newRow("not a SteamID64")
        << "7656119800000001"
        << "ok" << 0 << 400 << R"x({"ok":false,"message":"account must be a SteamID64 (17 digits starting 7656119)"})x"
        << true;
}

void ContentServerTest::steamBans()
{
    QFETCH(QString, account);
    QFETCH(QString, mode);
    QFETCH(int, calls);
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(bool, rested);

    if (rested)
        QTest::qWait(1100);
    steamMode = mode;
    const int callsBefore = steamCalls;
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(QUrl(steamUrl(QStringLiteral("bans?account=") + account))));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(steamCalls - callsBefore, calls);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    QCOMPARE(QString::fromUtf8(reply->readAll()), body);
    delete reply;
}

void ContentServerTest::tricklingClientsKeepNobodyWaiting_data()
{
    QTest::addColumn<bool>("bodies");
    QTest::newRow("handshakes") << false;
    QTest::newRow("bodies") << true; // a whole head holds no longer than its body's pace allows
}

void ContentServerTest::tricklingClientsKeepNobodyWaiting()
{
    QFETCH(bool, bodies);
    // 64 connections from one address of their own, each trickling a byte a second.
    std::vector<std::unique_ptr<QTcpSocket>> trickling;
    if (bodies)
        openSlowBodies(QStringLiteral("127.0.0.10"), port, 64, trickling);
    else
        QVERIFY(openSlowHandshakes(QStringLiteral("127.0.0.3"), port, 64, trickling));
    const auto open = [&trickling] {
        int count = 0;
        for (const auto &socket : trickling) {
            if (socket->state() == QAbstractSocket::ConnectedState) {
                socket->write("\x01", 1);
                ++count;
            }
        }
        return count;
    };
    QTest::qWait(1000);
    open();
    QTest::qWait(500);
    const int held = open();
    QVERIFY2(held <= 16, qPrintable(QString::number(held))); // the rest were closed as they came

    // Meanwhile an examiner elsewhere is answered at once.
    QElapsedTimer clock;
    clock.start();
    const QByteArray answer = getVersionFrom(QStringLiteral("127.0.0.2"), port);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));

    // The server cuts the trickling ones off once their time for a request head or body has run out.
    for (int second = 0; second < 6 && open() > 0; ++second)
        QTest::qWait(1000);
    QCOMPARE(open(), 0);
}

// A player behind the venue's NAT holds as many slow connections as the address may have; an examiner
// behind the same NAT is answered all the same.
void ContentServerTest::examinerBehindTheSameNatGetsIn()
{
    std::vector<std::unique_ptr<QTcpSocket>> held;
    QVERIFY(openSlowHandshakes(QStringLiteral("127.0.0.9"), port, 16, held));
    QTest::qWait(300);
    const QByteArray answer = getVersionFrom(QStringLiteral("127.0.0.9"), port);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
}

void ContentServerTest::steamKeyStaysOutOfTheLog()
{
    QVERIFY(steamApi->requests().join(QLatin1Char(' ')).contains(QString::fromLatin1(kSteamKey)));
    steamServer.terminate();
    QVERIFY(steamServer.waitForFinished());
    const QByteArray log = steamServer.readAll();
    QVERIFY2(log.contains("Steam ban lookup of 1 accounts failed"), log.constData());
    QVERIFY(!log.contains(kSteamKey));
}

void ContentServerTest::reports_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    QTest::newRow("a report") << kReport << 200;
    QTest::newRow("another format") << QByteArray(R"({"format":"vigilor-report/2"})") << 400;
    QTest::newRow("not an object") << QByteArray(R"(["vigilor-report/1"])") << 400;
    QTest::newRow("nested 65 deep") << QByteArray(R"({"format":"vigilor-report/1","events":)") + QByteArray(64, '[') +
                                           QByteArray(64, ']') + "}"
                                    << 400;
    QTest::newRow("a key twice") << QByteArray(R"({"format":"vigilor-report/2","format":"vigilor-report/1"})") << 400;
    QTest::newRow("a NUL in a string") << QByteArray(R"({"format":"vigilor-report/1","machine":"PC-\u0000-X"})") << 400;
    QTest::newRow("over 16 MiB") << QByteArray(R"({"format":"vigilor-report/1","note":")") +
                                        QByteArray(16 * 1024 * 1024, 'x') + "\"}"
                                 << 413;
}

void ContentServerTest::reports()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const Answer answer = fetch(url(QStringLiteral("report")), body);
    QCOMPARE(answer.status, status);
    const QJsonObject reply = QJsonDocument::fromJson(answer.body).object();
    if (status != 200) {
        QVERIFY(status == 413 || reply.value(QStringLiteral("ok")) == false);
        return;
    }
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-HJKMNP-TV-Z]{4}(-[0-9A-HJKMNP-TV-Z]{4}){2}$"))
                .match(data.value(QStringLiteral("id")).toString())
                .hasMatch());
    QCOMPARE(data.value(QStringLiteral("sha256")).toString(),
             QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()));
    const Answer stored = fetch(
        url(QStringLiteral("admin/reports/") + data.value(QStringLiteral("id")).toString() + QStringLiteral(".json")),
        QByteArray(), "Basic " + kAdmin.toBase64());
    QCOMPARE(stored.body, body);
    const Answer page = fetch(url(QStringLiteral("admin/reports/") + data.value(QStringLiteral("id")).toString()),
                              QByteArray(), "Basic " + kAdmin.toBase64());
    for (const char *shown :
         {"Следы запуска: 2, совпадений: 1", "<li class=\"bad\">&lt;i&gt;sign&lt;/i&gt;</li>",
          "<tr class=\"bad\"><td class=\"time\"></td><td>C:\\&lt;b&gt;x&lt;/b&gt;.exe</td>",
          "<td class=\"time\">2026-01-01T00:00:00Z (запись Amcache)</td>", "<td class=\"id\">SHA-1 &lt;b&gt;ab</td>",
          "Сканирование, обнаружений: 2", "<li class=\"warn\">Не прочитано: &lt;u&gt;H&lt;/u&gt; (view)</li>",
          "<li class=\"bad\">Окно скрыто от записи экрана: &lt;b&gt;m (x.exe, PID 5)</li>",
          "<li class=\"bad\">Не проверено за 10 с: процесс cs&lt;b&gt;go.exe (PID 7)</li>",
          "Драйверы: 1, обнаружений: 1<ul><li class=\"bad\">&lt;b&gt;red&lt;/b&gt;</li><li>x</li></ul>",
          "<tr class=\"bad\"><td>&lt;u&gt;d.sys</td><td>C:\\d.sys</td><td>&lt;i&gt;V&lt;/i&gt;</td>",
          "<td>d.sys</td><td>загружен</td>", "Аккаунты не проверены: &lt;b&gt;no&lt;/b&gt;",
          "Полная проверка: нарушения 3, требует внимания 1, не проверено 2; отменена на шаге: 2 из 4: "
          "&lt;i&gt;x&lt;/i&gt;"})
        QVERIFY2(page.body.contains(shown), page.body.constData());
}

void ContentServerTest::reportsFromOneAddressAreLimited()
{
    // What is refused spends nothing of the limit.
    for (int i = 0; i < 30; ++i)
        QCOMPARE(fetch(steamUrl(QStringLiteral("report")), "{\"format\":").status, 400);
    QList<int> statuses;
    for (int i = 0; i < 31; ++i)
        statuses.append(fetch(steamUrl(QStringLiteral("report")), kReport).status);
    // In a shared database the limit holds across servers: the report the other server stored in the
    // reports rows counts.
    QCOMPARE(statuses.count(200), postgres ? 29 : 30);
    QCOMPARE(statuses.last(), 429);
}

void ContentServerTest::bodiesAreCountedAsTheyArrive_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    // Any size in chunks passed the 16 MiB limit, which only Content-Length was held to: the limit
    // counts the body as it arrives, and a short chunked body is read and checked like any other.
    QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n")
                             << QByteArray("1d\r\n{\"format\":\"vigilor-report/2\"}\r\n0\r\n\r\n")
                             << QByteArray("HTTP/1.1 400");
    QTest::newRow("chunked, 20 MiB") << QByteArray("Transfer-Encoding: chunked\r\n")
                                     << "1400000\r\n" + QByteArray(0x1400000, ' ') + "\r\n0\r\n\r\n"
                                     << QByteArray("HTTP/1.1 413");
    QTest::newRow("gzip") << QByteArray("Content-Encoding: gzip\r\n") << QByteArray("\x1f\x8b", 2)
                          << QByteArray("HTTP/1.1 415");
}

void ContentServerTest::bodiesAreCountedAsTheyArrive()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    const QByteArray answer = requestFrom(QStringLiteral("127.0.0.8"), port, "POST /report",
                                          "Content-Type: application/json\r\n" + headers, body);
    QVERIFY2(answer.startsWith(status), answer.left(200).constData());
}

void ContentServerTest::adminPages_data()
{
    QTest::addColumn<bool>("tokenGiven");
    QTest::addColumn<QByteArray>("credentials");
    QTest::addColumn<int>("status");

    QTest::addColumn<QByteArray>("scheme");

    QTest::newRow("no credentials") << true << QByteArray() << 401 << QByteArray("Basic");
    QTest::newRow("wrong password") << true << QByteArray("admin:s3cret-admin-token-2") << 401 << QByteArray("Basic");
    QTest::newRow("wrong user") << true << QByteArray("root:s3cret-admin-token-1") << 401 << QByteArray("Basic");
    QTest::newRow("right") << true << kAdmin << 200 << QByteArray("Basic");
    QTest::newRow("scheme in lower case") << true << kAdmin << 200 << QByteArray("basic");
    QTest::newRow("server without a token") << false << kAdmin << 404 << QByteArray("Basic");
}

void ContentServerTest::adminPages()
{
    QFETCH(bool, tokenGiven);
    QFETCH(QByteArray, credentials);
    QFETCH(int, status);
    QFETCH(QByteArray, scheme);

    const QString list = tokenGiven ? url(QStringLiteral("admin/reports")) : steamUrl(QStringLiteral("admin/reports"));
    const Answer answer =
        fetch(list, QByteArray(), credentials.isEmpty() ? QByteArray() : scheme + ' ' + credentials.toBase64());
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.authenticate.startsWith("Basic realm="), status == 401);
    if (status == 200)
        QVERIFY2(answer.body.contains("&lt;b&gt;PC&lt;/b&gt;") && !answer.body.contains("<b>PC"),
                 answer.body.constData());
}

// Ten wrong passwords from one address in a minute: the address waits, even with the right one, and
// nobody else does.
void ContentServerTest::failedLoginsSlowTheAddressDown()
{
    const QByteArray wrong = "Authorization: Basic " + QByteArray("admin:guess").toBase64() + "\r\n";
    const QByteArray right = "Authorization: Basic " + kAdmin.toBase64() + "\r\n";
    for (int i = 0; i < 10; ++i)
        QVERIFY(getFrom(QStringLiteral("127.0.0.4"), port, "/admin/reports", wrong).startsWith("HTTP/1.1 401"));
    QVERIFY(getFrom(QStringLiteral("127.0.0.4"), port, "/admin/reports", right).startsWith("HTTP/1.1 429"));
    QVERIFY(getFrom(QStringLiteral("127.0.0.5"), port, "/admin/reports", right).startsWith("HTTP/1.1 200"));
}

// An operator's session holds the chain's head: a report is answered 503 within the session's lock
// limit, not after the holder lets go.
void ContentServerTest::heldChainHeadCostsA503NotAWait()
{
    if (!postgres)
        QSKIP("the chain's head is a row of PostgreSQL's");
    QProcess holder;
    holder.setProcessEnvironment(postgres->environment());
    holder.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"),
                                          postgres->uri(QStringLiteral("reports")), QStringLiteral("-c"),
                                          QStringLiteral("BEGIN; SELECT 1 FROM report_chain_head FOR UPDATE; "
                                                         "SELECT pg_sleep(15); COMMIT;")});
    QVERIFY(holder.waitForStarted());
    QTest::qWait(1000);
    const QByteArray answer =
        requestFrom(QStringLiteral("127.0.0.6"), port, "POST /report", "Content-Type: application/json\r\n", kReport);
    holder.kill();
    holder.waitForFinished();
    // The sleeping session does not notice its client went; it is ended, and its lock with it.
    QVERIFY(postgres->sql(QStringLiteral("reports"),
                          QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE "
                                         "'%pg_sleep(15)%' AND pid <> pg_backend_pid()")));
    QVERIFY2(answer.startsWith("HTTP/1.1 503"), answer.constData());
}

// An operator drops a table under the running server: it is made again, and reports are stored.
void ContentServerTest::droppedTableIsMadeAgain()
{
    if (!postgres)
        QSKIP("the tables are PostgreSQL's");
    QVERIFY(postgres->sql(QStringLiteral("reports"), QStringLiteral("DROP TABLE report_arrivals")));
    QList<QByteArray> statuses;
    for (int i = 0; i < 2; ++i)
        statuses.append(requestFrom(QStringLiteral("127.0.0.7"), port, "POST /report",
                                    "Content-Type: application/json\r\n", kReport)
                            .left(12));
    QVERIFY2(statuses.contains("HTTP/1.1 200"), statuses.join(' ').constData());
}

void ContentServerTest::namedFileProblemsStopTheStart_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("content"); // of the file named; null: no such file
    QTest::newRow("admin token of 15 characters") << "--admin-token-file" << QByteArray("fifteen-chars-x\n");
    QTest::newRow("no such Steam CA") << "--steam-api-ca" << QByteArray();
}

// A file an option names is unusable: the server does not start (exit 2) and names it.
void ContentServerTest::namedFileProblemsStopTheStart()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, content);
    const QString file = this->content.filePath(QStringLiteral("named-file"));
    QFile::remove(file);
    if (!content.isNull())
        QVERIFY(writeFile(file, content));
    QProcess start;
    start.setProcessChannelMode(QProcess::MergedChannels);
    start.start(QStringLiteral(CONTENT_SERVER_PATH),
                {QStringLiteral("--content"), this->content.path(), QStringLiteral("--cert"), pki.certPath(),
                 QStringLiteral("--key"), pki.keyPath(), QStringLiteral("--port"), QStringLiteral("1"), option, file});
    QVERIFY(start.waitForFinished(10000));
    QCOMPARE(start.exitCode(), 2);
    QVERIFY2(start.readAll().contains(file.toUtf8()), "the file is named");
}

void ContentServerTest::chainShowsAnEditedReport()
{
    const auto verify = [this](QByteArray &output) {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        if (postgres)
            check.setProcessEnvironment(postgres->environment());
        check.start(QStringLiteral(CONTENT_SERVER_PATH),
                    QStringList{QStringLiteral("--verify-reports"), QStringLiteral("--content"), content.path()} +
                        storeOptions(QStringLiteral("reports")));
        check.waitForFinished();
        output = check.readAll();
        return check.exitCode();
    };
    QByteArray output;
    QCOMPARE(verify(output), 0);
    QVERIFY2(output.contains("chain holds over 31 reports"), output.constData());

    QByteArray edited;
    if (postgres) {
        QVERIFY(postgres->sql(QStringLiteral("reports"),
                              QStringLiteral("UPDATE reports SET body = convert_to(replace(convert_from(body, 'UTF8'), "
                                             "'vac\":true', 'vac\":false'), 'UTF8') WHERE seq = 5 RETURNING id"),
                              &edited));
    } else {
        QProcess edit;
        edit.start(QStringLiteral("sqlite3"), {content.filePath(QStringLiteral("reports.sqlite")),
                                               QStringLiteral("UPDATE reports SET body = replace(body, 'vac\":true', "
                                                              "'vac\":false') WHERE seq = 5 RETURNING id")});
        QVERIFY(edit.waitForFinished());
        edited = edit.readAllStandardOutput();
    }
    edited = edited.trimmed();
    QCOMPARE(edited.size(), 14);
    QCOMPARE(verify(output), 1);
    QVERIFY2(output.contains("chain broken at report " + edited + " (number 5"), output.constData());
    // Whichever store holds them, the reports are in one place only.
    QCOMPARE(QFile::exists(content.filePath(QStringLiteral("reports.sqlite"))), !postgres);
}

// A report whose findings nest 50,000 deep, stored before the intake refused such: its page names the fault, and
// the server lives on.
void ContentServerTest::deepStoredReportIsNotWalked()
{
    const QString insert = QStringLiteral(
        "INSERT INTO reports(seq, id, received, sha256, chain, body, machine, \"user\", findings, banned) VALUES "
        "(100000, 'DEEP-DEEP-DEEP', 'x', 'x', 'x', %1, '', '', 0, 0)");
    if (postgres) {
        QVERIFY(postgres->sql(
            QStringLiteral("reports"),
            insert.arg("convert_to('{\"events\":[{\"type\":\"scan\",\"findings\":' || repeat('[', 50000) || "
                       "repeat(']', 50000) || '}]}', 'UTF8')")));
    } else {
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"),
                     {content.filePath(QStringLiteral("reports.sqlite")),
                      insert.arg("'{\"events\":[{\"type\":\"scan\",\"findings\":' || printf('%.50000c', '[') || "
                                 "printf('%.50000c', ']') || '}]}'")});
        QVERIFY(sqlite.waitForFinished());
        QCOMPARE(sqlite.exitCode(), 0);
    }
    const Answer page =
        fetch(url(QStringLiteral("admin/reports/DEEP-DEEP-DEEP")), QByteArray(), "Basic " + kAdmin.toBase64());
    QCOMPARE(page.status, 200);
    QVERIFY2(page.body.contains("Отчёт не показан: nested deeper than 64 levels"), page.body.left(500).constData());
    QCOMPARE(fetch(url(QStringLiteral("version"))).status, 200);
}

VIGILOR_GUILESS_TEST_MAIN(ContentServerTest)
#include "ContentServerTest.moc"
