#include "platform/Processes.h"

#include <QDir>
#include <QFileInfo>

// Linux lists its processes under /proc: the image is what /proc/PID/exe links to.
namespace platform {

QVector<RunningProcess> runningProcesses()
{
    QVector<RunningProcess> processes;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        RunningProcess process;
        process.pid = pid;
        process.path = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        // A deleted image reads "/path (deleted)"; the name is what ran.
        if (process.path.endsWith(QLatin1String(" (deleted)")))
            process.path.chop(10);
        process.image = QFileInfo(process.path).fileName();
        if (process.image.isEmpty()) // kernel threads, or not ours to look at
            continue;
        processes.append(process);
    }
    return processes;
}

} // namespace platform
