// One address on the venue's network trying to take all of one of the server's limits, each against a
// fresh server while 8 examiners post 1,000 reports: 16 reports of 2,000,000 empty objects at once; 16
// bodies of 16 MiB sent fast and then held silent; 64 kept-alive connections looping ban lookups while
// Steam does not answer. Printed: the examiners' report p99, their failures and the server's peak RSS.

#include "AttackRows.h"

#include "ReportClients.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestPki.h"
#include "TestServer.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslSocket>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr int kLargestBody = 16 * 1024 * 1024;

// A fresh server with `extra` options; `attack` runs on threads of its own (until `stop` is set)
// while the examiners post their reports.
void row(QTextStream &out, const QString &what, const TestPki &pki, const QString &content, const QStringList &extra,
         const std::function<void(int, const std::atomic<bool> &)> &attack)
{
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    int port = 0;
    if (!startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content,
                            QStringList{QStringLiteral("--reports-per-minute"), QStringLiteral("100000")} + extra,
                            port)) {
        out << what << ": the content server did not start\n";
        return;
    }
    std::atomic<bool> stop{false};
    std::thread attacker([&] { attack(port, stop); });
    std::this_thread::sleep_for(std::chrono::seconds(3)); // the attack takes hold first
    const Run reports = runClients(port, pki.caPath().toStdString(), true);
    stop = true;
    attacker.join();
    out << what << ": examiners' report p99 " << QString::number(p99(reports), 'f', 1) << " ms, " << reports.failed
        << " of " << kRequests << " failed; server peak RSS "
        << QString::number(peakResidentMiB(server.processId()), 'f', 0) << " MiB (goal under 300)\n";
    out.flush();
    server.terminate();
    server.waitForFinished();
}

// `count` threads from `source`, each running `work` until `stop`.
void onThreads(int count, const std::function<void(int)> &work)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(work, i);
    for (std::thread &thread : threads)
        thread.join();
}
} // namespace

void oneAddressRows(QTextStream &out, const TestPki &pki, const QString &content)
{
    // 11: reports of 2,000,000 empty objects, 16 at once, over and over.
    QByteArray objects = "{\"format\":\"x\",\"e\":[{}" + QByteArray(",{}").repeated(1999999) + "]}";
    objects += QByteArray(kLargestBody - objects.size() - 1, ' ');
    row(out, QStringLiteral("16 reports of 2,000,000 empty objects at once from one address"), pki, content, {},
        [&](int port, const std::atomic<bool> &stop) {
            onThreads(16, [&](int) {
                while (!stop)
                    requestFrom(QStringLiteral("127.0.2.1"), port, "POST /report", "Content-Type: application/json\r\n",
                                objects);
            });
        });

    // 12: 16 bodies of 16 MiB less a byte, sent fast, then held silent.
    row(out, QStringLiteral("16 bodies of 16 MiB sent fast and held by one address"), pki, content, {},
        [&](int port, const std::atomic<bool> &stop) {
            std::vector<std::unique_ptr<QSslSocket>> held;
            const QByteArray head =
                "POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(kLargestBody) +
                "\r\n\r\n";
            for (int i = 0; i < 16; ++i) {
                held.push_back(connectFrom(QStringLiteral("127.0.2.2"), port));
                sendAll(*held.back(), head + QByteArray(kLargestBody - 1, ' '));
            }
            while (!stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });

    // 13: 64 kept-alive connections looping ban lookups of unknown accounts while Steam does not answer.
    TestServer steam(pki);
    if (!steam.start()) {
        out << "the Steam stand-in did not start\n";
        return;
    }
    steam.setHandler(QStringLiteral("ISteamUser/GetPlayerBans/v1/"), [](const std::string &, const std::string &query) {
        return TestServer::Reply{200, steamPlayerBans(query), 11000};
    });
    writeFile(content + QStringLiteral("/steam.key"), "0123456789ABCDEF0123456789ABCDEF\n");
    row(out, QStringLiteral("64 connections of one address looping ban lookups while Steam is silent"), pki, content,
        {QStringLiteral("--steam-api-key-file"), content + QStringLiteral("/steam.key"),
         QStringLiteral("--steam-api-url"), steam.baseUrl(), QStringLiteral("--steam-api-ca"), pki.caPath()},
        [&](int port, const std::atomic<bool> &stop) {
            onThreads(64, [&](int) {
                const std::unique_ptr<QSslSocket> socket = connectFrom(QStringLiteral("127.0.2.3"), port);
                while (!stop && socket->state() == QAbstractSocket::ConnectedState) {
                    const QByteArray account =
                        QByteArray::number(76561198000000000LL + QRandomGenerator::global()->bounded(1000000));
                    sendAll(*socket, "GET /bans?account=" + account + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                    // The answer's head and its short body.
                    QByteArray answer;
                    while (!stop && !answer.contains("}") && socket->waitForReadyRead(1000))
                        answer += socket->readAll();
                }
            });
        });
}
