#include "traces/sources/RegistrySources.h"

#include "platform/System.h"
#include "traces/TraceDecoders.h"

#include <QSet>

namespace {
using platform::RegistryKeyContents;
using platform::RegistryValue;

const RegistryTraceTable kRegistryTraces[] = {
    {"BAM",
     {{HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\bam\\UserSettings"}},
     "",
     RegistryLayout::Bam,
     true},
    {"DAM",
     {{HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\dam\\State\\UserSettings"},
      {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\dam\\UserSettings"}},
     "",
     RegistryLayout::Bam,
     false},
    {"UserAssist",
     {{HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist"}, {}},
     "\\Count",
     RegistryLayout::UserAssist,
     false},
    {"Compatibility Assistant",
     {{HKEY_CURRENT_USER,
       "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store"},
      {}},
     nullptr,
     RegistryLayout::ValueName,
     false},
    {"AppCompat Layers",
     {{HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers"},
      {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers"}},
     nullptr,
     RegistryLayout::ValueName,
     false},
    {"MUICache",
     {{HKEY_CURRENT_USER, "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache"}, {}},
     nullptr,
     RegistryLayout::MuiCache,
     false},
};

// The programs of one key's values as the layout keeps them; how many.
int decodeValues(const RegistryTraceTable &table, const RegistryKeyContents &key,
                 const QVector<QPair<QString, QString>> &devices, TraceFindings &found)
{
    const QString name = QLatin1String(table.name);
    QSet<QString> seen;
    int programs = 0;
    for (const RegistryValue &value : key.values) {
        switch (table.layout) {
        case RegistryLayout::Bam:
            if (value.type != platform::RegBinary || value.data.size() < 8)
                break;
            found.addRow(name, traces::dosPath(value.name, devices), traces::fileTime(value.data, 0));
            ++programs;
            break;
        case RegistryLayout::UserAssist: {
            const QString decoded = traces::rot13(value.name);
            if (decoded.startsWith(QLatin1String("UEME_CTL")))
                break;
            const QString program = traces::userAssistProgram(decoded, platform::knownFolderPath);
            found.addRow(name, program, value.data.size() >= 72 ? traces::fileTime(value.data, 60) : QDateTime());
            ++programs;
            break;
        }
        case RegistryLayout::ValueName:
            if (!value.name.isEmpty()) {
                found.addRow(name, value.name, QDateTime());
                ++programs;
            }
            break;
        case RegistryLayout::MuiCache: {
            const QString program = traces::muiCacheProgram(value.name);
            if (!program.isEmpty() && !seen.contains(program.toLower())) {
                seen.insert(program.toLower());
                found.addRow(name, program, QDateTime());
                ++programs;
            }
            break;
        }
        }
    }
    return programs;
}
} // namespace

QString RegistrySource::name() const
{
    return QLatin1String(table.name);
}

TraceFindings RegistrySource::collect(const TraceMachine &, TraceLimits &) const
{
    TraceFindings found;
    const QVector<QPair<QString, QString>> devices =
        table.layout == RegistryLayout::Bam ? platform::driveDevices() : QVector<QPair<QString, QString>>();
    bool readable = false;
    int programs = 0;
    for (const RegistryKeyOfTraces &place : table.keys) {
        if (!place.key)
            break;
        const QString key = QLatin1String(place.key);
        const RegistryKeyContents top = platform::readRegistryKey(place.hive, key);
        if (top.access == RegistryKeyContents::Denied)
            found.unreadable.append(QStringLiteral("%1 (%2)").arg(name(), traces::registryPlace(place.hive, key)));
        if (top.access != RegistryKeyContents::Read)
            continue;
        readable = true;
        if (!table.perSubKey) {
            programs += decodeValues(table, top, devices, found);
            continue;
        }
        for (const QString &subKey : top.subKeys) {
            const QString path = key + QLatin1Char('\\') + subKey + QLatin1String(table.perSubKey);
            const RegistryKeyContents below = platform::readRegistryKey(place.hive, path);
            if (below.access == RegistryKeyContents::Denied)
                found.unreadable.append(QStringLiteral("%1 (%2)").arg(name(), traces::registryPlace(place.hive, path)));
            else if (below.access == RegistryKeyContents::Read)
                programs += decodeValues(table, below, devices, found);
        }
    }
    if (table.emptyIsSign && readable && programs == 0)
        found.signs.append(QObject::tr("Ключ %1 доступен для чтения, но не содержит ни одной программы").arg(name()));
    return found;
}

std::vector<std::unique_ptr<TraceSource>> registrySources()
{
    std::vector<std::unique_ptr<TraceSource>> sources;
    for (const RegistryTraceTable &table : kRegistryTraces)
        sources.push_back(std::make_unique<RegistrySource>(table));
    return sources;
}
