// The reference server under attack, beside the same server quiet. 8 clients make 1,000 `GET version`
// requests and post 1,000 reports of about 50 KB, first alone, then while 1,000 slow connections from
// 64 addresses hold on: slow TLS handshakes, slow request heads, slow bodies and slow reads of a
// 32 MiB pack, a quarter each, a byte a second, each reconnecting as soon as the server cuts it off.
// Printed: version p99 and reports/s with their ratios to the quiet run, and the server's peak RSS.
// Then one address against each limit that is shared out per address (AttackRows.cpp).
// Run: ./attack-bench

#include "AttackRows.h"
#include "ReportClients.h"
#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestPki.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr int kSlowConnections = 1000;
constexpr int kAddresses = 64;
constexpr int kPackBytes = 32 * 1024 * 1024;

// One slow connection of each kind, a byte a second, made again whenever the server ends it.
class Attackers : public QObject
{
public:
    enum Kind {
        Handshake,
        Head,
        Body,
        Read,
    };

    explicit Attackers(int port) : port(port)
    {
        for (int i = 0; i < kSlowConnections; ++i)
            sockets.push_back(dial(i));
        connect(&tick, &QTimer::timeout, this, [this] { trickle(); });
        tick.start(1000);
    }

    int open() const
    {
        int count = 0;
        for (const auto &socket : sockets)
            count += socket->state() == QAbstractSocket::ConnectedState;
        return count;
    }
    int cutOff = 0;

private:
    std::unique_ptr<QSslSocket> dial(int i)
    {
        auto socket = std::make_unique<QSslSocket>();
        const Kind kind = static_cast<Kind>(i % 4);
        socket->bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + i % kAddresses)));
        // A small window, so that a reader that does not read holds the server's answer back.
        if (kind == Read)
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        QSslSocket *raw = socket.get();
        QObject::connect(raw, &QAbstractSocket::disconnected, this, [this, i, raw] {
            ++cutOff;
            raw->deleteLater();
            sockets[static_cast<std::size_t>(i)].release();
            sockets[static_cast<std::size_t>(i)] = dial(i);
        });
        if (kind == Handshake) {
            socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            QObject::connect(raw, &QAbstractSocket::connected, raw, [raw] { raw->write("\x16\x03\x01\x02\x00", 5); });
            return socket;
        }
        if (kind == Read)
            socket->setReadBufferSize(1024);
        QObject::connect(raw, &QSslSocket::encrypted, raw, [raw, kind] {
            if (kind == Read)
                raw->write("GET /pack HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            else if (kind == Body)
                raw->write("POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 16000000\r\n\r\n{");
        });
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        return socket;
    }

    void trickle()
    {
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            QSslSocket &socket = *sockets[i];
            if (socket.state() != QAbstractSocket::ConnectedState)
                continue;
            switch (static_cast<Kind>(i % 4)) {
            case Handshake:
                socket.QTcpSocket::write("\x01", 1);
                break;
            case Head:
                if (socket.isEncrypted())
                    socket.write("X");
                break;
            case Body:
                if (socket.isEncrypted())
                    socket.write(" ");
                break;
            case Read:
                break;
            }
        }
    }

    const int port;
    std::vector<std::unique_ptr<QSslSocket>> sockets;
    QTimer tick;
};

struct Phase
{
    Run versions;
    Run reports;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    QTextStream out(stdout);
    TestPki pki;
    pki.trustInThisProcess();
    QTemporaryDir content;
    writeFile(content.filePath(QStringLiteral("version.json")), "{\"ok\":true,\"version\":\"1.0.0\"}");
    QByteArray pack(kPackBytes, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(pack.data()), kPackBytes / 4);
    writeFile(content.filePath(QStringLiteral("pack.zip")), pack);

    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    int port = 0;
    if (!pki.isValid() ||
        !startContentServer(server, QStringLiteral(CONTENT_SERVER_PATH), pki, content.path(),
                            {QStringLiteral("--reports-per-minute"), QStringLiteral("100000")}, port)) {
        out << "the content server did not start\n";
        return 1;
    }
    const std::string ca = pki.caPath().toStdString();
    const auto measure = [&] {
        Phase phase;
        phase.versions = runClients(port, ca, false);
        phase.reports = runClients(port, ca, true);
        return phase;
    };
    const Phase quiet = measure();
    const double quietRss = peakResidentMiB(server.processId());

    Attackers attackers(port);
    // Past the head deadline, so that the server is cutting slow connections off and they come again.
    QTimer::singleShot(12000, &app, &QCoreApplication::quit);
    app.exec();
    const int openBefore = attackers.open();
    Phase attacked;
    std::thread clients([&] {
        attacked = measure();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    clients.join();
    const int openAfter = attackers.open();
    const double attackedRss = peakResidentMiB(server.processId());
    server.terminate();
    server.waitForFinished();

    const auto perSecond = [](const Run &run) { return kRequests / run.seconds; };
    out << QStringLiteral("%1 requests of each kind by %2 clients; %3 slow connections from %4 addresses "
                          "(%5 open as the clients started, %6 as they ended, %7 cut off and made again); %8 cores\n")
               .arg(kRequests)
               .arg(kClients)
               .arg(kSlowConnections)
               .arg(kAddresses)
               .arg(openBefore)
               .arg(openAfter)
               .arg(attackers.cutOff)
               .arg(std::thread::hardware_concurrency())
        << QStringLiteral("                  quiet      attacked   ratio   failed (quiet/attacked)\n")
        << QStringLiteral("GET version p99   %1 ms  %2 ms  %3   %4/%5\n")
               .arg(p99(quiet.versions), 6, 'f', 1)
               .arg(p99(attacked.versions), 6, 'f', 1)
               .arg(p99(attacked.versions) / p99(quiet.versions), 5, 'f', 2)
               .arg(quiet.versions.failed)
               .arg(attacked.versions.failed)
        << QStringLiteral("reports/s         %1     %2     %3   %4/%5\n")
               .arg(perSecond(quiet.reports), 6, 'f', 0)
               .arg(perSecond(attacked.reports), 6, 'f', 0)
               .arg(perSecond(attacked.reports) / perSecond(quiet.reports), 5, 'f', 2)
               .arg(quiet.reports.failed)
               .arg(attacked.reports.failed)
        << QStringLiteral("peak RSS          %1 MiB %2 MiB\n").arg(quietRss, 6, 'f', 0).arg(attackedRss, 6, 'f', 0)
        << QStringLiteral("goals: p99 under 1 s, reports/s at least half the quiet figure, RSS under 300 MB\n");
    out.flush();
    oneAddressRows(out, pki, content.path());
    return 0;
}
