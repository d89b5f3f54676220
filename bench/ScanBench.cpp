// scanFolder over a folder of 100,000 entries with a pattern that hits about 1 % of them, beside
// `ls -a DIR | grep -ci PATTERN` in the same run. Prints the times and their ratio.
// Run: ./scan-bench [entries]

#include "rules/FileScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {
template <typename Work> double bestOf(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    return *std::min_element(times.begin(), times.end());
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int entries = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    for (int i = 0; i < entries; ++i) {
        // Every hundredth name holds the pattern.
        const QString name =
            i % 100 == 0 ? QStringLiteral("Cheat_%1.dll").arg(i) : QStringLiteral("file_%1.dat").arg(i);
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
    }
    const QString pattern = QStringLiteral("cheat");

    int hits = 0;
    const double scanMs = bestOf(5, [&] {
        FileScanner scanner;
        hits = scanner.scanFolder(dir.path(), pattern).size();
    });
    QString shellCount;
    const double shellMs = bestOf(5, [&] {
        QProcess shell;
        shell.start(QStringLiteral("sh"),
                    {QStringLiteral("-c"), QStringLiteral("ls -a \"$0\" | grep -ci \"$1\""), dir.path(), pattern});
        shell.waitForFinished(-1);
        shellCount = QString::fromLocal8Bit(shell.readAllStandardOutput()).trimmed();
    });
    out << QStringLiteral("%1 entries, %2 hits (shell counted %3)\n").arg(entries).arg(hits).arg(shellCount)
        << QStringLiteral("scanFolder:          %1 ms (best of 5)\n").arg(scanMs, 0, 'f', 1)
        << QStringLiteral("ls -a | grep -ci:    %1 ms (best of 5)\n").arg(shellMs, 0, 'f', 1)
        << QStringLiteral("ratio scanFolder/shell: %1\n").arg(scanMs / shellMs, 0, 'f', 2);
    return 0;
}
