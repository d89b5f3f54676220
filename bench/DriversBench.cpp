// The drivers check's file work: 500 PE files (Wine's own libraries serve) each read once, hashed
// (SHA-256, SHA-1), digested (Authenticode), their embedded signature read and matched against the
// whole driver list; beside `sha256sum` over the same files, warm cache, best of three.
// Run: vigilor-demo-driver-list LIST.json server/demo/loldrivers/drivers.csv
//      drivers-bench LIST.json [FOLDER]    (FOLDER: Wine's 64-bit libraries by default)

#include "drivers/DriverFile.h"
#include "rules/DriverList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <limits>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 2) {
        out << "usage: drivers-bench LIST.json [FOLDER]\n";
        return 2;
    }
    QFile listFile(QString::fromLocal8Bit(argv[1]));
    if (!listFile.open(QIODevice::ReadOnly)) {
        out << listFile.fileName() << ": " << listFile.errorString() << "\n";
        return 1;
    }
    const DriverList list = DriverList::fromJson(
        QJsonDocument::fromJson(listFile.readAll()).object().value(QStringLiteral("data")).toObject());
    const QDir folder(argc > 2 ? QString::fromLocal8Bit(argv[2])
                               : QStringLiteral("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"));
    QStringList files;
    for (const QString &name : folder.entryList(
             {QStringLiteral("*.dll"), QStringLiteral("*.sys"), QStringLiteral("*.exe")}, QDir::Files, QDir::Name)) {
        if (files.size() == 500)
            break;
        files.append(folder.filePath(name));
    }
    qint64 bytes = 0;
    for (const QString &file : qAsConst(files))
        bytes += QFileInfo(file).size();
    qint64 ours = std::numeric_limits<qint64>::max();
    qint64 theirs = std::numeric_limits<qint64>::max();
    int listed = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        listed = 0;
        for (const QString &file : qAsConst(files)) {
            const DriverFileFacts facts = examineDriverFile(file);
            listed += list.byDigest(facts.sha256, facts.sha1, facts.authenticode) ? 1 : 0;
        }
        ours = std::min(ours, timer.elapsed());
        QProcess sha256sum;
        sha256sum.setStandardOutputFile(QProcess::nullDevice());
        timer.start();
        sha256sum.start(QStringLiteral("sha256sum"), files);
        sha256sum.waitForFinished(-1);
        theirs = std::min(theirs, timer.elapsed());
    }
    const double megabytes = double(bytes) / (1024 * 1024);
    out << files.size() << " files, " << QString::number(megabytes, 'f', 1) << " MiB, list of " << list.size()
        << " drivers (" << listed << " listed among the files)\n"
        << "ours (SHA-256, SHA-1, Authenticode, signature, list): " << ours << " ms; sha256sum: " << theirs
        << " ms; ratio ours/sha256sum " << QString::number(double(ours) / std::max<qint64>(theirs, 1), 'f', 2) << "\n";
    return 0;
}
