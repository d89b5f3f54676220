// Reports through the reference server on loopback: 1,000 reports of about 50 KB posted by 8
// concurrent clients, beside as many `GET version` requests by the same clients in the same run
// (reports per second, 99th-percentile latency, ratios); then the time `--verify-reports` takes
// over 100,000 stored reports (of 1 KB: the chain's cost is per report, the hashing per byte); then
// the same reports into PostgreSQL through one server, and through two behind nginx, as ratios to
// SQLite's figures.
// Run: ./report-bench

#include "ReportClients.h"
#include "ServerContent.h"
#include "TestBalancer.h"
#include "TestEnvironment.h"
#include "TestPki.h"
#include "TestPostgres.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr int kStoredReports = 100000;

// 100,000 reports of about 1 KB with a sound chain, written straight into reports.sqlite.
void storeReports(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("store"));
    db.setDatabaseName(path);
    db.open();
    QSqlQuery query(db);
    query.exec(QStringLiteral("CREATE TABLE reports(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, received TEXT "
                              "NOT NULL, sha256 TEXT NOT NULL, chain TEXT NOT NULL, body BLOB NOT NULL, machine TEXT, "
                              "user TEXT, findings INTEGER, banned INTEGER)"));
    db.transaction();
    query.prepare(QStringLiteral("INSERT INTO reports(id, received, sha256, chain, body) VALUES (?, ?, ?, ?, ?)"));
    QByteArray previous(64, '0');
    for (int i = 0; i < kStoredReports; ++i) {
        const QByteArray body = QByteArray::fromStdString(report(i).substr(0, 1000)) + "]}]}";
        const QByteArray received = "2026-12-07T10:00:00.000Z";
        const QByteArray sha = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
        previous = QCryptographicHash::hash(previous + sha + received, QCryptographicHash::Sha256).toHex();
        query.addBindValue(QStringLiteral("R%1").arg(i));
        query.addBindValue(QString::fromLatin1(received));
        query.addBindValue(QString::fromLatin1(sha));
        query.addBindValue(QString::fromLatin1(previous));
        query.addBindValue(body);
        query.exec();
    }
    db.commit();
    db.close();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A client closing a connection the server has dropped gets an error, not the end of the run.
    std::signal(SIGPIPE, SIG_IGN);
    QTextStream out(stdout);
    TestPki pki;
    QTemporaryDir content;
    QTemporaryDir stored;
    writeFile(content.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"1.0.0\"}");

    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    // All clients come from one address here, as examiners behind one NAT would.
    int port = 0;
    if (!pki.isValid() ||
        !startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                            {QStringLiteral("--reports-per-minute"), QString::number(kRequests)}, port)) {
        out << "the content server did not start\n";
        return 1;
    }
    const std::string ca = pki.caPath().toStdString();
    const Run versions = runClients(port, ca, false);
    const Run reports = runClients(port, ca, true);
    server.terminate();
    server.waitForFinished();

    out << QStringLiteral("%1 requests by %2 clients; report body %3 KB\n")
               .arg(kRequests)
               .arg(kClients)
               .arg(report(0).size() / 1024)
        << QStringLiteral("                 per second   p99 ms   failed\n")
        << QStringLiteral("POST report      %1   %2   %3\n")
               .arg(kRequests / reports.seconds, 10, 'f', 0)
               .arg(p99(reports), 6, 'f', 1)
               .arg(reports.failed)
        << QStringLiteral("GET version      %1   %2   %3\n")
               .arg(kRequests / versions.seconds, 10, 'f', 0)
               .arg(p99(versions), 6, 'f', 1)
               .arg(versions.failed)
        << QStringLiteral("ratio report/version: throughput %1, p99 %2\n")
               .arg((kRequests / reports.seconds) / (kRequests / versions.seconds), 0, 'f', 2)
               .arg(p99(reports) / p99(versions), 0, 'f', 2);
    out.flush();

    // The same reports into PostgreSQL, synced to disk as SQLite is.
    TestPostgres postgres(true);
    if (!postgres.create({QStringLiteral("one"), QStringLiteral("two")})) {
        out << "PostgreSQL did not start: " << postgres.errorString() << "\n";
        return 1;
    }
    struct Setup
    {
        QString name;
        QString database;
        int servers;
    };
    const Setup setups[] = {{QStringLiteral("PostgreSQL, one server"), QStringLiteral("one"), 1},
                            {QStringLiteral("PostgreSQL, two servers behind nginx"), QStringLiteral("two"), 2}};
    out << QStringLiteral("\nstores: the same %1 reports by %2 clients; %3 cores, shared by the servers, the "
                          "database, nginx and the clients\n")
               .arg(kRequests)
               .arg(kClients)
               .arg(std::thread::hardware_concurrency())
        << QStringLiteral("                                       per second   p99 ms   failed   ratio/s   ratio p99\n")
        << QStringLiteral("SQLite, one server                     %1   %2   %3\n")
               .arg(kRequests / reports.seconds, 10, 'f', 0)
               .arg(p99(reports), 6, 'f', 1)
               .arg(reports.failed, 6);
    for (const Setup &setup : setups) {
        std::vector<std::unique_ptr<QProcess>> servers;
        QList<int> ports;
        for (int i = 0; i < setup.servers; ++i) {
            servers.push_back(std::make_unique<QProcess>());
            servers.back()->setProcessEnvironment(postgres.environment());
            servers.back()->setStandardOutputFile(QProcess::nullDevice());
            int serverPort = 0;
            if (!startContentServer(*servers.back(), QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                                    QStringList{QStringLiteral("--database"), postgres.uri(setup.database),
                                                QStringLiteral("--reports-per-minute"), QString::number(kRequests)} +
                                        (setup.servers > 1 ? QStringList{QStringLiteral("--proxy-protocol-from"),
                                                                         QStringLiteral("127.0.0.1")}
                                                           : QStringList()),
                                    serverPort)) {
                out << "the content server did not start\n";
                return 1;
            }
            ports.append(serverPort);
        }
        TestBalancer balancer;
        if (setup.servers > 1 && !balancer.start(QStringLiteral(NGINX_STREAM_CONF), ports)) {
            out << "nginx did not start\n";
            return 1;
        }
        const Run run = runClients(setup.servers > 1 ? balancer.port() : ports.front(), ca, true);
        out << QStringLiteral("%1 %2   %3   %4   %5   %6\n")
                   .arg(setup.name, -38)
                   .arg(kRequests / run.seconds, 10, 'f', 0)
                   .arg(p99(run), 6, 'f', 1)
                   .arg(run.failed, 6)
                   .arg((kRequests / run.seconds) / (kRequests / reports.seconds), 7, 'f', 2)
                   .arg(p99(run) / p99(reports), 9, 'f', 2);
        out.flush();
        for (const auto &server : servers) {
            server->terminate();
            server->waitForFinished();
        }
    }

    storeReports(stored.filePath(QStringLiteral("reports.sqlite")));
    QElapsedTimer clock;
    clock.start();
    QProcess verify;
    verify.start(QStringLiteral(CONTENT_SERVER_PATH),
                 {QStringLiteral("--verify-reports"), QStringLiteral("--content"), stored.path()});
    verify.waitForFinished(-1);
    out << QStringLiteral("--verify-reports over %1 stored reports: %2 ms, exit %3: %4")
               .arg(kStoredReports)
               .arg(clock.elapsed())
               .arg(verify.exitCode())
               .arg(QString::fromUtf8(verify.readAllStandardOutput()));
    return 0;
}
