#include "platform/LockedFile.h"

#include <QDir>
#include <QObject>

namespace platform {

QString amcacheHivePath(const QString &windowsFolder)
{
    return windowsFolder.isEmpty()
               ? QString()
               : QDir::toNativeSeparators(windowsFolder + QStringLiteral("/AppCompat/Programs/Amcache.hve"));
}

ReadEnd copyLockedFile(const QString &path, QIODevice &destination, qint64 limit, QString &why, CopyRoute &route)
{
    route = CopyRoute::FileSystem;
    const ReadEnd end = copyRegularFile(path, destination, limit, why);
    // Only a file that would not open is locked; one too large or cut short stays as it is.
    if (end != ReadEnd::NotOpened)
        return end;
    const QString native = QDir::toNativeSeparators(path);
    if (native.size() < 3 || native.at(1) != QLatin1Char(':') || native.at(2) != QLatin1Char('\\'))
        return end;
    const QString openReason = why;
    if (!destination.reset()) {
        why = QObject::tr("копия не начата заново");
        return ReadEnd::Failed;
    }
    route = CopyRoute::RawVolume;
    const ReadEnd raw =
        copyFromNtfsVolume(QStringLiteral("\\\\.\\") + native.left(2), native.mid(2), destination, limit, why);
    if (raw != ReadEnd::Whole && raw != ReadEnd::TooLarge)
        why = QObject::tr("%1; с тома: %2").arg(openReason, why);
    return raw;
}

} // namespace platform
