#include "traces/sources/RecycleBinSource.h"

#include "traces/TraceDecoders.h"

#include <QFileInfo>

namespace {
// A "$I" file holds a path of at most 32,767 characters; a machine has a few users' bins.
constexpr qint64 kLargestRecycleBinEntry = 28 + 2 * 32768;
constexpr int kLargestRecycleBinUsers = 1000;
} // namespace

QString RecycleBinSource::name() const
{
    return QObject::tr("Корзина");
}

TraceFindings RecycleBinSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    for (const QString &drive : machine.fixedDrives)
        readDrive(drive, found);
    return found;
}

// A user's folder of thousands of deletions is cut and named.
void RecycleBinSource::readDrive(const QString &drive, TraceFindings &found) const
{
    const QString source = name();
    const QString bin = QDir::cleanPath(QDir::fromNativeSeparators(drive) + QStringLiteral("/$Recycle.Bin"));
    const platform::FolderAccess access = platform::folderAccess(bin);
    if (access == platform::FolderAccess::Denied)
        found.unreadable.append(QStringLiteral("%1 (%2)").arg(source, QDir::toNativeSeparators(bin)));
    if (access != platform::FolderAccess::Readable)
        return;
    const QStringList users =
        QDir(bin).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &user : users.mid(0, kLargestRecycleBinUsers)) {
        const QString folder = bin + QLatin1Char('/') + user;
        if (platform::folderAccess(folder) == platform::FolderAccess::Denied) {
            found.unreadable.append(QStringLiteral("%1 (%2)").arg(source, QDir::toNativeSeparators(folder)));
            continue;
        }
        const QFileInfoList entries = found.listTraceFiles(source, folder, QStringLiteral("$I*"));
        const QString notAnEntry = QObject::tr("не запись корзины");
        for (const QFileInfo &entry : entries) {
            const auto recycled =
                found.parseTraceFile(source, entry.filePath(), kLargestRecycleBinEntry, notAnEntry,
                                     [&notAnEntry](const QByteArray &data, QString &reason, QString *) {
                                         const auto decoded = traces::recycledFile(data);
                                         if (!decoded)
                                             reason = notAnEntry;
                                         return decoded;
                                     });
            if (!recycled)
                continue;
            TraceRow &row = found.addRow(source, recycled->first, recycled->second);
            const QFileInfo stored(folder + QStringLiteral("/$R") + entry.fileName().mid(2));
            row.state = stored.exists() || stored.isSymLink() ? TraceState::Recycled : TraceState::Deleted;
            if (row.state == TraceState::Recycled)
                row.storedAt = stored.filePath();
        }
    }
    if (users.size() > kLargestRecycleBinUsers)
        found.notRead.append(QObject::tr("%1 (%2): больше %3 папок, прочитаны первые")
                                 .arg(source, QDir::toNativeSeparators(bin))
                                 .arg(kLargestRecycleBinUsers));
}
