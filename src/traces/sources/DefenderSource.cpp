#include "traces/sources/DefenderSource.h"

#include "platform/Registry.h"

#include <QRegularExpression>

namespace {
const char *const kExclusions = "SOFTWARE\\Microsoft\\Windows Defender\\Exclusions";
const char *const kChannel = "Microsoft-Windows-Windows Defender/Operational";
constexpr int kDays = 30;
// More exclusions than any configuration holds: the rest is named.
constexpr int kLargestExclusions = 4096;

const struct
{
    const char *key;
    const char *kind;
    bool isPath;
} kKinds[] = {{"Paths", "путь", true}, {"Extensions", "расширение", false}, {"Processes", "процесс", true}};

// Defender's own spelling of a file: "file:_C:\…", several joined by ";".
QString threatPath(const QString &recorded)
{
    QString path = recorded.section(QLatin1Char(';'), 0, 0).trimmed();
    if (path.startsWith(QLatin1String("file:_"), Qt::CaseInsensitive))
        path = path.mid(6);
    return path.left(32768);
}

// The folders whose exclusion lets a cheat lie unscanned: the users' and temporary ones, the game's
// and Steam's.
QStringList sparedFolders(const TraceMachine &machine)
{
    return machine.gameFolders + traces::userFolders(machine.windowsFolder);
}
} // namespace

QString DefenderSource::name() const
{
    return QObject::tr("Защитник");
}

bool DefenderSource::sparesTooMuch(const QString &path, const QStringList &folders)
{
    static const QRegularExpression kDrive(QStringLiteral("^[A-Za-z]:[\\\\/]?$"));
    QString trimmed = path.trimmed();
    if (kDrive.match(trimmed).hasMatch() || trimmed == QLatin1String("*") || trimmed == QLatin1String("/"))
        return true;
    while (trimmed.size() > 3 && (trimmed.endsWith(QLatin1Char('\\')) || trimmed.endsWith(QLatin1Char('/'))))
        trimmed.chop(1);
    // The excluded folder is one of them, holds one or lies inside one.
    return std::any_of(folders.begin(), folders.end(), [&trimmed](const QString &folder) {
        return folder.compare(trimmed, Qt::CaseInsensitive) == 0 || traces::isBelow(folder, trimmed) ||
               traces::isBelow(trimmed, folder);
    });
}

TraceFindings DefenderSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    const QStringList spared = sparedFolders(machine);
    for (const auto &kind : kKinds) {
        const QString key = QLatin1String(kExclusions) + QLatin1Char('\\') + QLatin1String(kind.key);
        const platform::RegistryKeyContents exclusions = platform::readRegistryKey(HKEY_LOCAL_MACHINE, key);
        if (exclusions.access == platform::RegistryKeyContents::Denied)
            found.unreadable.append(
                QStringLiteral("%1 (%2)").arg(name(), traces::registryPlace(HKEY_LOCAL_MACHINE, key)));
        if (exclusions.values.size() > kLargestExclusions)
            found.notRead.append(QObject::tr("%1 (%2): прочитаны первые %3 исключений")
                                     .arg(name(), traces::registryPlace(HKEY_LOCAL_MACHINE, key))
                                     .arg(kLargestExclusions));
        for (const platform::RegistryValue &value : exclusions.values.mid(0, kLargestExclusions)) {
            const QString excluded = value.name.left(32768);
            if (excluded.isEmpty())
                continue;
            found.notices.append(QObject::tr("Исключение Защитника: %1 %2").arg(QObject::tr(kind.kind), excluded));
            if (kind.isPath && sparesTooMuch(excluded, spared))
                found.signs.append(QObject::tr("Защитник не проверяет: %1").arg(excluded));
            else if (kind.isPath)
                found.excludedPaths.append(excluded);
        }
    }
    readLog(machine, found);
    return found;
}

void DefenderSource::readLog(const TraceMachine &machine, TraceFindings &found) const
{
    for (const LoggedEvent &event :
         found.readLogEvents(name(), QLatin1String(kChannel), {1116, 1117, 5001, 5007}, kDays, machine.now)) {
        const QString when = event.time.isValid() ? traces::shownTime(event.time) : QObject::tr("время неизвестно");
        switch (event.id) {
        case 1116:
        case 1117: {
            TraceRow &row = found.addRow(name(), threatPath(event.data.value(QStringLiteral("Path"))), event.time);
            row.threat = event.data.value(QStringLiteral("Threat Name")).left(256);
            break;
        }
        case 5001:
            found.signs.append(QObject::tr("Защита в реальном времени выключена (%1)").arg(when));
            break;
        case 5007: {
            // Only the changes that open a way: an exclusion added, protection turned off.
            const QString change = event.data.value(QStringLiteral("New Value")).left(1024);
            if (change.contains(QLatin1String("\\Exclusions\\"), Qt::CaseInsensitive) ||
                (change.contains(QLatin1String("Disable"), Qt::CaseInsensitive) &&
                 change.contains(QLatin1String("0x1"))))
                found.signs.append(QObject::tr("Настройки Защитника изменены: %1 (%2)").arg(change, when));
            break;
        }
        }
    }
}
