#include "traces/TraceTypes.h"

#include "platform/System.h"

#include <QObject>

#include <algorithm>
#include <iterator>

int TraceCollection::matchCount() const
{
    return static_cast<int>(std::count_if(rows.cbegin(), rows.cend(), [](const TraceRow &row) { return row.matched; }));
}

TraceMachine TraceMachine::current(const QStringList &gameImages, const QStringList &gameFolders)
{
    TraceMachine machine;
    machine.windowsFolder = platform::knownFolderPath(QLatin1String(platform::knownFolder::kWindows));
    machine.appDataFolder = platform::knownFolderPath(QLatin1String(platform::knownFolder::kRoamingAppData));
    machine.bootTime = platform::bootTime();
    machine.now = QDateTime::currentDateTimeUtc();
    machine.gameImages = gameImages;
    machine.gameFolders = gameFolders;
    machine.gameFolders.removeAll(QString());
    machine.ownFolders = gameFolders;
    machine.ownFolders << machine.windowsFolder
                       << platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFiles))
                       << platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFilesX86));
    machine.ownFolders.removeAll(QString());
    machine.volumeDrives = platform::volumeDrives();
    machine.fixedDrives = platform::fixedDrives();
    return machine;
}

namespace {
// A value's name in the check report and its caption on the screen.
template <typename Value> struct Names
{
    Value value;
    const char *name;
    const char *caption;
};

const Names<TraceState> kStateNames[] = {
    {TraceState::Present, "present", QT_TRANSLATE_NOOP("QObject", "есть")},
    {TraceState::Deleted, "deleted", QT_TRANSLATE_NOOP("QObject", "удалён")},
    {TraceState::Recycled, "recycled", QT_TRANSLATE_NOOP("QObject", "в корзине")},
    {TraceState::Created, "created", QT_TRANSLATE_NOOP("QObject", "создан")},
    {TraceState::Renamed, "renamed", QT_TRANSLATE_NOOP("QObject", "переименован")},
    {TraceState::NameOnly, "name", "—"},
};

const Names<TraceMedium> kMediumNames[] = {
    {TraceMedium::Removable, "removable", QT_TRANSLATE_NOOP("QObject", "съёмный")},
    {TraceMedium::Network, "network", QT_TRANSLATE_NOOP("QObject", "сетевой")},
    {TraceMedium::Disc, "cd", "CD"},
};

const Names<TraceTimeKind> kTimeKindNames[] = {
    {TraceTimeKind::Modified, "modified", QT_TRANSLATE_NOOP("QObject", " (изменение файла)")},
    {TraceTimeKind::Recorded, "recorded", QT_TRANSLATE_NOOP("QObject", " (запись Amcache)")},
};

// The entry of `value`, or of `name`; null when the table has none.
template <typename Value, std::size_t N> const Names<Value> *entryOf(const Names<Value> (&table)[N], Value value)
{
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [value](const Names<Value> &entry) { return entry.value == value; });
    return found == std::end(table) ? nullptr : found;
}

template <typename Value, std::size_t N>
const Names<Value> *entryNamed(const Names<Value> (&table)[N], const QString &name)
{
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [&name](const Names<Value> &entry) { return name == QLatin1String(entry.name); });
    return found == std::end(table) ? nullptr : found;
}

// A value's name in the report, its caption on the screen, and the value a name stands for; `otherwise`
// where the table has none.
template <typename Value, std::size_t N>
QString nameOf(const Names<Value> (&table)[N], Value value, const QString &otherwise)
{
    const auto *entry = entryOf(table, value);
    return entry ? QString::fromLatin1(entry->name) : otherwise;
}

template <typename Value, std::size_t N>
QString captionOf(const Names<Value> (&table)[N], Value value, const QString &otherwise)
{
    const auto *entry = entryOf(table, value);
    return entry ? QObject::tr(entry->caption) : otherwise;
}

template <typename Value, std::size_t N>
Value valueNamed(const Names<Value> (&table)[N], const QString &name, Value otherwise)
{
    const auto *entry = entryNamed(table, name);
    return entry ? entry->value : otherwise;
}
} // namespace

QString traceTimeKindName(TraceTimeKind kind)
{
    return nameOf(kTimeKindNames, kind, QString());
}

TraceTimeKind traceTimeKindFromName(const QString &name)
{
    return valueNamed(kTimeKindNames, name, TraceTimeKind::Run);
}

QString traceTimeKindCaption(TraceTimeKind kind)
{
    return captionOf(kTimeKindNames, kind, QString());
}

QString traceMediumText(TraceMedium medium)
{
    return captionOf(kMediumNames, medium, QString());
}

QString traceMediumName(TraceMedium medium)
{
    return nameOf(kMediumNames, medium, QString());
}

TraceMedium traceMediumFromName(const QString &name)
{
    return valueNamed(kMediumNames, name, TraceMedium::Fixed);
}

QString traceStateText(TraceState state)
{
    return captionOf(kStateNames, state, QStringLiteral("—"));
}

QString traceStateName(TraceState state)
{
    return nameOf(kStateNames, state, QStringLiteral("name"));
}

TraceState traceStateFromName(const QString &name)
{
    return valueNamed(kStateNames, name, TraceState::NameOnly);
}
