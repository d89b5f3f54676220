// Measures the start-up load on loopback:
//  1. CPU time spent while every reply is delayed by 500 ms, as a share of wall time, beside a loop that
//     polls the event queue without sleeping (the way a naive synchronous wait would);
//  2. wall time from the start of loading to the main window shown, beside curl fetching the same
//     seven documents one after another.
// Run: QT_QPA_PLATFORM=offscreen ./load-bench

#include "ServerContent.h"
#include "TestEnvironment.h"
#include "TestPki.h"
#include "TestServer.h"
#include "app/MainWindow.h"
#include "content/ContentLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

namespace {
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Measure
{
    double wall = 0;
    double cpu = 0;
    double share() const { return 100.0 * cpu / wall; }
};

template <typename Work> Measure measure(Work work)
{
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    work();
    return {clock.nsecsElapsed() / 1e9, cpuSeconds() - cpuBefore};
}

const char *const kPaths[] = {"version", "detection_data", "motd", "unzip/dll", "unzip/exe", "pack", "everything"};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    TestPki pki;
    if (!pki.isValid())
        return 1;
    pki.trustInThisProcess();
    TestServer server(pki);
    QTemporaryDir temp;
    ScopedEnvironment environment;
    setTemporaryFolder(environment, temp.path());
    writeFile(temp.filePath(QStringLiteral("registry.reg")),
              registryWithFolders(QStringLiteral("/g"), QStringLiteral("/s")));
    environment.set("VIGILOR_REGISTRY_FILE", temp.filePath(QStringLiteral("registry.reg")));
    if (!server.start() || !serveCompleteContent(server))
        return 1;

    // 1. CPU share while waiting for slow replies.
    server.setDelay(500);
    const Measure waiting = measure([&] {
        ContentLoader loader(server.baseUrl());
        loader.load();
    });
    const Measure polling = measure([&] {
        QNetworkAccessManager manager;
        for (const char *path : kPaths) {
            bool done = false;
            QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(server.baseUrl() + QLatin1String(path))));
            QObject::connect(reply, &QNetworkReply::finished, [&done] { done = true; });
            while (!done)
                QCoreApplication::processEvents();
            reply->deleteLater();
        }
    });
    out << "slow server (500 ms per reply):\n"
        << QStringLiteral("  load:          wall %1 s, cpu %2 s, %3 % of wall\n")
               .arg(waiting.wall, 0, 'f', 2)
               .arg(waiting.cpu, 0, 'f', 3)
               .arg(waiting.share(), 0, 'f', 2)
        << QStringLiteral("  polling loop:  wall %1 s, cpu %2 s, %3 % of wall\n")
               .arg(polling.wall, 0, 'f', 2)
               .arg(polling.cpu, 0, 'f', 3)
               .arg(polling.share(), 0, 'f', 2)
        << QStringLiteral("  cpu share ratio load/polling: %1\n").arg(waiting.share() / polling.share(), 0, 'f', 4);

    // 2. Start-up time on a fast loopback server.
    server.setDelay(0);
    const Measure startup = measure([&] {
        ContentLoader loader(server.baseUrl());
        loader.load();
        MainWindow window;
        window.show();
        QCoreApplication::processEvents();
    });
    const Measure curl = measure([&] {
        QProcess process;
        for (const char *path : kPaths) {
            process.start(QStringLiteral("curl"),
                          {QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QStringLiteral("--cacert"), pki.caPath(), server.baseUrl() + QLatin1String(path)});
            process.waitForFinished();
        }
    });
    out << "fast server:\n"
        << QStringLiteral("  load + main window shown: %1 s\n").arg(startup.wall, 0, 'f', 3)
        << QStringLiteral("  curl, seven documents:    %1 s\n").arg(curl.wall, 0, 'f', 3)
        << QStringLiteral("  ratio: %1\n").arg(startup.wall / curl.wall, 0, 'f', 2);
    return 0;
}
