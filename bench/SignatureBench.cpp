// The signature step's scan of files beside the `yara` command over the same files with the same
// rules, in the same run: 60 rules (strings in ASCII and UTF-16, hex patterns with jumps, a regular
// expression, PE-module conditions) over 2,000 files of 4 KiB to 1 MiB, warm in the page cache.
// Best of three each; the goal is a ratio of at most 1.1.
// Run: ./signature-bench

#include "TestEnvironment.h"
#include "rules/Signatures.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <limits>

namespace {
constexpr int kFiles = 2000;

QString rulesText()
{
    QString text = QStringLiteral("import \"pe\"\n");
    for (int i = 0; i < 60; ++i) {
        text += QStringLiteral("rule r%1 { meta: desc = \"Rule %1\" strings: $a = \"cheat-marker-%1\" ascii wide "
                               "$b = { 4D 5A ?? ?? [4-16] %2 %3 } $c = /loader_v%1\\.[0-9]+/ condition: any of them "
                               "or (pe.is_pe and pe.number_of_sections == %4) }\n")
                    .arg(i)
                    .arg(i % 256, 2, 16, QLatin1Char('0'))
                    .arg((i * 7) % 256, 2, 16, QLatin1Char('0'))
                    .arg(90 + i);
    }
    return text;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir temp;
    QRandomGenerator random(7);
    QStringList files;
    qint64 bytes = 0;
    for (int i = 0; i < kFiles; ++i) {
        const int size = 4096 << (i % 9); // 4 KiB to 1 MiB
        QByteArray content(size, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(content.data()), size / 4);
        if (i % 100 == 0)
            content.replace(size / 2, 16, "cheat-marker-" + QByteArray::number(i % 60));
        files.append(temp.filePath(QStringLiteral("samples/%1/file-%2.bin").arg(i % 20).arg(i)));
        writeFile(files.last(), content);
        bytes += size;
    }
    const QString rulesPath = temp.filePath(QStringLiteral("rules.yar"));
    writeFile(rulesPath, rulesText().toUtf8());
    QString error;
    const auto rules = SignatureRules::compile(rulesText(), {}, error);
    if (!rules) {
        out << error << "\n";
        return 1;
    }

    qint64 ours = std::numeric_limits<qint64>::max();
    qint64 theirs = std::numeric_limits<qint64>::max();
    qint64 plain = std::numeric_limits<qint64>::max(); // yara -r with its own default of threads
    int ourMatches = 0;
    int theirMatches = 0;
    const int threads = QThread::idealThreadCount();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const SignatureScan scan = scanSignatures(*rules, files, {});
        ours = std::min(ours, timer.elapsed());
        ourMatches = scan.matches.size();
        QProcess yara;
        timer.start();
        yara.start(QStringLiteral("yara"), {QStringLiteral("-r"), QStringLiteral("-p"), QString::number(threads),
                                            rulesPath, temp.filePath(QStringLiteral("samples"))});
        yara.waitForFinished(-1);
        theirs = std::min(theirs, timer.elapsed());
        theirMatches = yara.readAllStandardOutput().count('\n');
        timer.start();
        yara.start(QStringLiteral("yara"), {QStringLiteral("-r"), rulesPath, temp.filePath(QStringLiteral("samples"))});
        yara.waitForFinished(-1);
        plain = std::min(plain, timer.elapsed());
    }
    out << "cores: " << threads << "\n"
        << kFiles << " files, " << bytes / (1024 * 1024) << " MiB, 60 rules\n"
        << "signature step: " << ours << " ms (" << ourMatches << " matches)\n"
        << "yara -r -p " << threads << ": " << theirs << " ms (" << theirMatches << " matches)\n"
        << "yara -r: " << plain << " ms\n"
        << "ratio ours / yara -r -p " << threads << ": "
        << QString::number(double(ours) / std::max<qint64>(theirs, 1), 'f', 2)
        << ", ours / yara -r: " << QString::number(double(ours) / std::max<qint64>(plain, 1), 'f', 2)
        << " (goal at most 1.1)\n";
    return 0;
}
