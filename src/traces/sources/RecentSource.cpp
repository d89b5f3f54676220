#include "traces/sources/RecentSource.h"

#include "platform/System.h"
#include "traces/ShortcutReader.h"

#include <QFileInfo>

namespace {
// Shortcuts are a few kilobytes.
constexpr qint64 kLargestShortcut = 1024 * 1024;
} // namespace

QString RecentSource::name() const
{
    return QStringLiteral("Recent");
}

TraceFindings RecentSource::collect(const TraceMachine &machine, TraceLimits &limits) const
{
    TraceFindings found;
    if (machine.appDataFolder.isEmpty())
        return found;
    const QString folder =
        QDir::cleanPath(QDir::fromNativeSeparators(machine.appDataFolder) + "/Microsoft/Windows/Recent");
    const platform::FolderAccess access = platform::folderAccess(folder);
    if (access == platform::FolderAccess::Denied)
        found.unreadable.append(QStringLiteral("%1 (%2)").arg(name(), QDir::toNativeSeparators(folder)));
    if (access != platform::FolderAccess::Readable)
        return found;
    for (const QFileInfo &file : found.listTraceFiles(name(), folder, QStringLiteral("*.lnk"))) {
        const QDateTime changed = platform::lastWritten(file.filePath());
        const std::optional<ShortcutTarget> target =
            found.parseTraceFile(name(), file.filePath(), kLargestShortcut, QObject::tr("больше 1 МиБ"),
                                 [&limits](const QByteArray &data, QString &reason, QString *detail) {
                                     return readShortcut(data, limits.scratchFolder(), reason, detail);
                                 });
        const QString shortcutName = file.fileName().left(file.fileName().size() - 4); // less ".lnk"
        TraceRow &row = found.addRow(name(), target && !target->path.isEmpty() ? target->path : shortcutName, changed);
        if (target)
            row.medium = target->medium;
    }
    return found;
}
