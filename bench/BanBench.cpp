// Ban lookups through the reference server with Steam lookups on, against a loopback stand-in of
// Steam's Web API that counts its calls: 100 distinct accounts looked up at once (a cold cache,
// where concurrent lookups share calls), then 1,000 lookups of the same 100 accounts one after
// another with the cache warm: median and 99th-percentile latency beside as many `GET version`
// requests in the same run, and the number of upstream calls.
// Run: ./ban-bench

#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestPki.h"
#include "TestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>

namespace {
constexpr int kAccounts = 100;
constexpr int kLookups = 1000;

QString account(int i)
{
    return QStringLiteral("765611980%1").arg(i, 8, 10, QLatin1Char('0'));
}

// Each request's latency in milliseconds, one request at a time.
QVector<double> timeRequests(QNetworkAccessManager &network, const QStringList &urls)
{
    QVector<double> latencies;
    for (const QString &url : urls) {
        QElapsedTimer clock;
        clock.start();
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(url)));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        latencies.append(clock.nsecsElapsed() / 1e6);
        reply->deleteLater();
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

double percentile(const QVector<double> &sorted, double share)
{
    return sorted.at(std::min(static_cast<int>(sorted.size() * share), static_cast<int>(sorted.size()) - 1));
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    TestPki pki;
    QTemporaryDir content;
    pki.trustInThisProcess();

    std::atomic<int> calls{0};
    TestServer steam(pki);
    if (!pki.isValid() || !steam.start()) {
        out << "cannot start the Steam stand-in\n";
        return 1;
    }
    steam.setHandler(QStringLiteral("ISteamUser/GetPlayerBans/v1/"),
                     [&calls](const std::string &, const std::string &query) {
                         ++calls;
                         return TestServer::Reply{200, steamPlayerBans(query), 0};
                     });

    writeFile(content.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"1.0.0\"}");
    writeFile(content.filePath(QStringLiteral("steam.key")), "BENCHKEY");
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    int port = 0;
    if (!pki.isValid() ||
        !startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                            {QStringLiteral("--steam-api-key-file"), content.filePath(QStringLiteral("steam.key")),
                             QStringLiteral("--steam-api-url"), steam.baseUrl(), QStringLiteral("--steam-api-ca"),
                             pki.caPath()},
                            port)) {
        out << "the content server did not start\n";
        return 1;
    }
    const QString base = QStringLiteral("https://127.0.0.1:%1/").arg(port);
    QNetworkAccessManager network;

    // Cold: every account at once.
    QElapsedTimer clock;
    clock.start();
    int pending = kAccounts;
    int failed = 0;
    QEventLoop cold;
    for (int i = 0; i < kAccounts; ++i) {
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(base + QStringLiteral("bans?account=") + account(i))));
        QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
            failed += reply->error() == QNetworkReply::NoError ? 0 : 1;

            reply->deleteLater();
            if (--pending == 0)
                cold.quit();
        });
    }
    cold.exec();
    const double coldMs = clock.nsecsElapsed() / 1e6;
    const int coldCalls = calls;

    QStringList lookups;
    QStringList versions;
    for (int i = 0; i < kLookups; ++i) {
        lookups.append(base + QStringLiteral("bans?account=") + account(i % kAccounts));
        versions.append(base + QStringLiteral("version"));
    }
    const QVector<double> versionLatency = timeRequests(network, versions);
    const QVector<double> banLatency = timeRequests(network, lookups);

    server.terminate();
    server.waitForFinished();
    out << QStringLiteral("cold: %1 distinct accounts at once in %2 ms, %3 failed, %4 upstream calls\n")
               .arg(kAccounts)
               .arg(coldMs, 0, 'f', 0)
               .arg(failed)
               .arg(coldCalls)
        << QStringLiteral("warm: %1 lookups, %2 more upstream calls (%3 in all; goal: 100 or fewer)\n")
               .arg(kLookups)
               .arg(calls - coldCalls)
               .arg(calls)
        << QStringLiteral("                 median    p99\n")
        << QStringLiteral("GET bans         %1 ms  %2 ms\n")
               .arg(percentile(banLatency, 0.5), 6, 'f', 2)
               .arg(percentile(banLatency, 0.99), 6, 'f', 2)
        << QStringLiteral("GET version      %1 ms  %2 ms\n")
               .arg(percentile(versionLatency, 0.5), 6, 'f', 2)
               .arg(percentile(versionLatency, 0.99), 6, 'f', 2)
        << QStringLiteral("ratio bans/version: median %1, p99 %2\n")
               .arg(percentile(banLatency, 0.5) / percentile(versionLatency, 0.5), 0, 'f', 2)
               .arg(percentile(banLatency, 0.99) / percentile(versionLatency, 0.99), 0, 'f', 2);
    return 0;
}
