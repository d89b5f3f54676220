#include "traces/ExecutionTraces.h"

#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/RegistryHives.h"
#include "platform/System.h"
#include "platform/UsnJournal.h"
#include "rules/FileHash.h"
#include "traces/EventLogReader.h"
#include "traces/PrefetchReader.h"
#include "traces/ShortcutReader.h"
#include "traces/TraceDecoders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

namespace {
using platform::RegistryKeyContents;
using platform::RegistryValue;

// What one collection reads of the player's files at most: a trace file, and the bytes hashed in all.
constexpr qint64 kLargestTraceFile = 64 * 1024 * 1024;
constexpr qint64 kHashingBudget = qint64(8) << 30;
// Prefetch files are kilobytes; one far larger is made, not grown.
constexpr qint64 kLargestPrefetchFile = 16 * 1024 * 1024;
const char kGameImage[] = "csgo.exe";
// A "$I" file holds a path of at most 32,767 characters; a machine has a few users' bins.
constexpr qint64 kLargestRecycleBinEntry = 28 + 2 * 32768;
constexpr int kLargestRecycleBinUsers = 1000;
// How far back the event log is read: installed services for a month, trace services for a week.
constexpr int kServiceDays = 30;
constexpr int kTraceServiceDays = 7;
// Shortcuts are a few kilobytes.
constexpr qint64 kLargestShortcut = 1024 * 1024;

// Whether `path` lies below `folder`, both as Windows or local paths, in any letter case.
bool isBelow(const QString &path, const QString &folder)
{
    const auto normal = [](const QString &text) {
        return QDir::cleanPath(QString(text).replace(QLatin1Char('\\'), QLatin1Char('/'))).toLower();
    };
    const QString base = normal(folder);
    return !base.isEmpty() && normal(path).startsWith(base + QLatin1Char('/'));
}

// How a registry source keeps its programs.
enum class Layout {
    Bam,        // REG_BINARY values named by the program, a FILETIME first
    UserAssist, // ROT13 names, 72-byte data with a run count and a FILETIME
    ValueName,  // the value names are the programs
    MuiCache,   // the value names are the programs with a suffix, several per program
};

struct RegistrySource
{
    const char *name;
    HKEY hive;
    const char *key;
    const char *perSubKey; // null: the key's own values; else each sub-key followed by this ("" or "\\Count")
    Layout layout;
};

const RegistrySource kRegistrySources[] = {
    {"BAM", HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings", "", Layout::Bam},
    {"BAM", HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\bam\\UserSettings", "", Layout::Bam},
    {"DAM", HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\dam\\State\\UserSettings", "", Layout::Bam},
    {"DAM", HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\dam\\UserSettings", "", Layout::Bam},
    {"UserAssist", HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist", "\\Count",
     Layout::UserAssist},
    {"Compatibility Assistant", HKEY_CURRENT_USER,
     "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Store", nullptr,
     Layout::ValueName},
    {"AppCompat Layers", HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers",
     nullptr, Layout::ValueName},
    {"AppCompat Layers", HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers",
     nullptr, Layout::ValueName},
    {"MUICache", HKEY_CURRENT_USER, "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache",
     nullptr, Layout::MuiCache},
};

// Folders of files that tell what ran or was opened: Prefetch files and shortcuts.
struct FolderSource
{
    const char *name;
    const char *knownFolder;
    const char *below;
    const char *filter;
};

QString recentItem(const QString &fileName)
{
    return fileName.left(fileName.size() - 4); // less ".lnk"
}

const FolderSource kFolderSources[] = {
    {"Prefetch", platform::knownFolder::kWindows, "/Prefetch", "*.pf"},
    {"Recent", platform::knownFolder::kRoamingAppData, "/Microsoft/Windows/Recent", "*.lnk"},
};

const char *const kTraceServices[] = {"SysMain", "PcaSvc", "DPS", "EventLog", "bam"};

const char kPrefetchParameters[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters";
const char kExplorerAdvanced[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

QString where(HKEY hive, const QString &key)
{
    return platform::registryHiveName(hive) + QLatin1Char('\\') + key;
}

QString shownTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

// Reads the machine for one collection.
class Collector
{
public:
    Collector(const TraceMachine &machine) : machine(machine), devices(platform::driveDevices()) {}

    void readRegistry(const RegistrySource &source);
    void readFolder(const FolderSource &source);
    void readPrefetch(const QFileInfo &file, const QDateTime &changed);
    void readRecycleBin(const QString &drive);
    void readShortcut(const QFileInfo &file, const QDateTime &changed);
    void readEventLog(const QString &channel, const QVector<int> &ids);
    void readUsnJournal(const QString &drive, const QVector<QRegularExpression> &patterns);
    void readPca();
    void addSigns();
    void settleStates(const std::function<void(int, int)> &progress, int stepsBefore, bool hash,
                      const std::atomic<bool> *stop);

    TraceCollection result;

private:
    TraceRow &addRow(const QString &source, const QString &path, const QDateTime &time);
    template <typename Parse>
    auto parseTraceFile(const QString &source, const QString &path, qint64 limit, const QString &tooLarge, Parse parse)
        -> decltype(parse(QByteArray(), std::declval<QString &>()));
    bool isGame(const QString &program) const;
    QString scratchFolder();
    void decode(const RegistrySource &source, const RegistryKeyContents &key);

    const TraceMachine &machine;
    const QVector<QPair<QString, QString>> devices;
    bool bamReadable = false;
    int bamPrograms = 0;
    QString prefetchFolder; // as it was listed; empty when the Windows folder is unknown
    platform::FolderAccess prefetchAccess = platform::FolderAccess::Missing;
    int prefetchFiles = 0;
    QDateTime newestPrefetch;
    std::unique_ptr<QTemporaryDir> scratch; // ours, for the copies a library reads
};

TraceRow &Collector::addRow(const QString &source, const QString &path, const QDateTime &time)
{
    TraceRow row;
    row.time = time;
    row.path = path;
    row.fileName = traces::programFileName(path);
    row.source = source;
    result.rows.append(row);
    return result.rows.last();
}

bool Collector::isGame(const QString &program) const
{
    return program.compare(QLatin1String(kGameImage), Qt::CaseInsensitive) == 0 ||
           machine.gameImages.contains(program, Qt::CaseInsensitive);
}

QString Collector::scratchFolder()
{
    if (!scratch) {
        const QString temporary = platform::temporaryFolder();
        if (temporary.isEmpty())
            return QString(); // not beside the file system's root instead
        scratch = std::make_unique<QTemporaryDir>(temporary + QStringLiteral("/vigilor-traces-XXXXXX"));
    }
    return scratch->isValid() ? scratch->path() : QString();
}

// The trace file at `path` of `source`, read whole up to `limit` and handed to `parse`; what cannot be
// read or parsed is named among what was not read, with `tooLarge` for a file past the limit.
template <typename Parse>
auto Collector::parseTraceFile(const QString &source, const QString &path, qint64 limit, const QString &tooLarge,
                               Parse parse) -> decltype(parse(QByteArray(), std::declval<QString &>()))
{
    QByteArray data;
    QString reason;
    const platform::ReadEnd end = platform::readWholeFile(path, limit, data, reason);
    decltype(parse(data, reason)) parsed;
    if (end == platform::ReadEnd::Whole)
        parsed = parse(data, reason);
    else if (end == platform::ReadEnd::TooLarge)
        reason = tooLarge;
    if (!parsed)
        result.notRead.append(QStringLiteral("%1 (%2): %3").arg(source, QDir::toNativeSeparators(path), reason));
    return parsed;
}

// The Recycle Bin of `drive`: each "$I" file of each user's folder is a row of what was deleted, in
// the bin while its "$R" file is there. A user's folder of thousands of deletions is cut and named.
void Collector::readRecycleBin(const QString &drive)
{
    const QString source = QObject::tr("Корзина");
    const QString bin = QDir::cleanPath(QDir::fromNativeSeparators(drive) + QStringLiteral("/$Recycle.Bin"));
    const platform::FolderAccess access = platform::folderAccess(bin);
    if (access == platform::FolderAccess::Denied)
        result.unreadable.append(QStringLiteral("%1 (%2)").arg(source, QDir::toNativeSeparators(bin)));
    if (access != platform::FolderAccess::Readable)
        return;
    const QStringList users =
        QDir(bin).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &user : users.mid(0, kLargestRecycleBinUsers)) {
        const QString folder = bin + QLatin1Char('/') + user;
        if (platform::folderAccess(folder) == platform::FolderAccess::Denied) {
            result.unreadable.append(QStringLiteral("%1 (%2)").arg(source, QDir::toNativeSeparators(folder)));
            continue;
        }
        bool cut = false;
        const QFileInfoList entries = platform::listFiles(folder, {QStringLiteral("$I*")}, cut);
        if (cut)
            result.notRead.append(QObject::tr("%1 (%2): больше %3 файлов, прочитаны первые")
                                      .arg(source, QDir::toNativeSeparators(folder))
                                      .arg(platform::kLargestFolderListing));
        const QString notAnEntry = QObject::tr("не запись корзины");
        for (const QFileInfo &entry : entries) {
            const auto recycled = parseTraceFile(source, entry.filePath(), kLargestRecycleBinEntry, notAnEntry,
                                                 [&notAnEntry](const QByteArray &data, QString &reason) {
                                                     const auto decoded = traces::recycledFile(data);
                                                     if (!decoded)
                                                         reason = notAnEntry;
                                                     return decoded;
                                                 });
            if (!recycled)
                continue;
            TraceRow &row = addRow(source, recycled->first, recycled->second);
            const QFileInfo stored(folder + QStringLiteral("/$R") + entry.fileName().mid(2));
            row.state = stored.exists() || stored.isSymLink() ? TraceState::Recycled : TraceState::Deleted;
            if (row.state == TraceState::Recycled)
                row.storedAt = stored.filePath();
        }
    }
    if (users.size() > kLargestRecycleBinUsers)
        result.notRead.append(QObject::tr("%1 (%2): больше %3 папок, прочитаны первые")
                                  .arg(source, QDir::toNativeSeparators(bin))
                                  .arg(kLargestRecycleBinUsers));
}

// The NTFS change journal of `drive`: what was created, renamed or deleted in the last week among
// programs, libraries, drivers, scripts, Prefetch files and shortcuts, or what a "traces" rule names;
// a journal made anew since Windows started is a red sign (deleting it wipes this record).
void Collector::readUsnJournal(const QString &drive, const QVector<QRegularExpression> &patterns)
{
    const QString shown = QStringLiteral("USN (%1)").arg(QDir::toNativeSeparators(drive));
    const platform::UsnJournalRead read = platform::readUsnJournal(drive);
    if (read.access == platform::UsnJournalRead::Access::Denied)
        result.unreadable.append(shown);
    if (read.access == platform::UsnJournalRead::Access::Failed)
        result.notRead.append(shown + QStringLiteral(": ") + read.error);
    if (read.access != platform::UsnJournalRead::Access::Read)
        return;
    QByteArray id(8, '\0');
    qToLittleEndian<quint64>(read.journalId, id.data());
    const QDateTime created = traces::fileTime(id, 0);
    if (created.isValid() && machine.bootTime.isValid() && created > machine.bootTime)
        result.signs.append(
            QObject::tr("Журнал USN создан заново: %1 (%2)").arg(QDir::toNativeSeparators(drive), shownTime(created)));
    if (read.cut)
        result.notRead.append(
            shown +
            QObject::tr(": прочитаны последние %1 МиБ записей").arg(platform::kLargestJournalRead / (1024 * 1024)));
    bool broken = false;
    const QVector<traces::UsnRecord> records = traces::usnRecords(read.records, broken);
    if (broken)
        result.notRead.append(shown + QObject::tr(": запись повреждена, прочитаны записи до неё"));

    static const QRegularExpression kWatched(QStringLiteral("\\.(exe|dll|sys|pf|bat|cmd|ps1|lnk)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    constexpr quint32 kCreated = 0x100, kDeleted = 0x200, kOldName = 0x1000, kNewName = 0x2000, kClosed = 0x80000000u;
    struct Change
    {
        traces::UsnRecord record;
        TraceState state;
        QString renamedTo;
    };
    QVector<Change> changes;
    QHash<QByteArray, int> pendingRename; // a file's old name waiting for its new one
    for (const traces::UsnRecord &record : records) {
        if (!record.time.isValid() || record.time.secsTo(machine.now) > kTraceServiceDays * 86400)
            continue;
        const bool watched =
            kWatched.match(record.name).hasMatch() ||
            std::any_of(patterns.cbegin(), patterns.cend(),
                        [&record](const QRegularExpression &pattern) { return pattern.match(record.name).hasMatch(); });
        if (record.reasons & kNewName) {
            const auto old = pendingRename.constFind(record.file);
            if (old != pendingRename.cend())
                changes[*old].renamedTo = record.name;
            else if (watched)
                changes.append({record, TraceState::Created, QString()});
            pendingRename.remove(record.file);
            continue;
        }
        if (!watched)
            continue;
        if (record.reasons & kOldName) {
            pendingRename.insert(record.file, changes.size());
            changes.append({record, TraceState::Renamed, QString()});
        } else if (record.reasons & kDeleted) {
            changes.append({record, TraceState::Deleted, QString()});
        } else if ((record.reasons & kCreated) && (record.reasons & kClosed)) {
            changes.append({record, TraceState::Created, QString()}); // once, as the file is closed
        }
    }
    QVector<QByteArray> parents;
    for (const Change &change : qAsConst(changes))
        parents.append(change.record.parent);
    const QHash<QByteArray, QString> folders = platform::usnFolders(drive, parents);
    for (const Change &change : qAsConst(changes)) {
        const QString folder = folders.value(change.record.parent);
        TraceRow &row = addRow(QStringLiteral("USN"),
                               folder.isEmpty() ? change.record.name : folder + QLatin1Char('\\') + change.record.name,
                               change.record.time);
        row.state = change.state;
        row.renamedTo = change.renamedTo;
    }
}

// What the event log keeps of a player covering tracks: a log cleared, the clock changed, a trace
// service stopped or reconfigured, a driver installed; and every service installed lately as a row.
void Collector::readEventLog(const QString &channel, const QVector<int> &ids)
{
    const QString shown = QObject::tr("Журнал событий %1").arg(channel);
    const platform::EventLogRead read = platform::readEventLog(channel, ids, kServiceDays);
    if (read.access == platform::EventLogRead::Access::Denied)
        result.unreadable.append(shown);
    if (read.access != platform::EventLogRead::Access::Read) {
        if (read.access == platform::EventLogRead::Access::Failed)
            result.notRead.append(shown + QStringLiteral(": ") + read.error);
        return;
    }
    if (read.cut)
        result.notRead.append(shown + QObject::tr(": прочитаны последние %1 событий").arg(platform::kLargestEventRead));
    QString error;
    const QVector<LoggedEvent> events = parseEvents(read.xml, error);
    if (!error.isEmpty())
        result.notRead.append(shown + QStringLiteral(": ") + error);
    const auto isTraceService = [](const QString &name) {
        return std::any_of(std::begin(kTraceServices), std::end(kTraceServices), [&name](const char *service) {
            return name.compare(QLatin1String(service), Qt::CaseInsensitive) == 0;
        });
    };
    for (const LoggedEvent &event : events) {
        if (event.channel.compare(channel, Qt::CaseInsensitive) != 0 || !ids.contains(event.id))
            continue;
        const qint64 age = event.time.isValid() ? event.time.secsTo(machine.now) : 0;
        const QString when = event.time.isValid() ? shownTime(event.time) : QObject::tr("время неизвестно");
        const QString user = event.data.value(QStringLiteral("SubjectDomainName")).isEmpty()
                                 ? event.data.value(QStringLiteral("SubjectUserName"))
                                 : event.data.value(QStringLiteral("SubjectDomainName")) + QLatin1Char('\\') +
                                       event.data.value(QStringLiteral("SubjectUserName"));
        switch (event.id) {
        case 104:
        case 1102:
            result.signs.append(QObject::tr("Журнал событий очищен: %1 (%2, %3)")
                                    .arg(event.data.value(QStringLiteral("Channel"), channel), when, user));
            break;
        case 4616:
            result.signs.append(QObject::tr("Системное время изменено: %1 → %2 (%3, %4)")
                                    .arg(event.data.value(QStringLiteral("PreviousTime")),
                                         event.data.value(QStringLiteral("NewTime")), when, user));
            break;
        case 7036: {
            // Its binary data is "<service>/<state>", 1 being stopped, whatever the system's language.
            const QStringList service = utf16FromHex(event.binary).split(QLatin1Char('/'));
            if (age <= kTraceServiceDays * 86400 && service.size() == 2 && isTraceService(service.at(0)) &&
                service.at(1) == QLatin1String("1"))
                result.signs.append(QObject::tr("Служба %1 остановлена (%2)").arg(service.at(0), when));
            break;
        }
        case 7040:
            if (age <= kTraceServiceDays * 86400 && isTraceService(event.data.value(QStringLiteral("param4"))))
                result.signs.append(QObject::tr("Тип запуска службы %1 изменён: %2 → %3 (%4)")
                                        .arg(event.data.value(QStringLiteral("param4")),
                                             event.data.value(QStringLiteral("param2")),
                                             event.data.value(QStringLiteral("param3")), when));
            break;
        case 7045: {
            const QString name = event.data.value(QStringLiteral("ServiceName"));
            const QString raw = event.data.value(QStringLiteral("ImagePath"));
            const QString image = serviceImageFile(raw, machine.windowsFolder);
            addRow(QObject::tr("Журнал событий"), image, event.time);
            const QString type = event.data.value(QStringLiteral("ServiceType"));
            if (type.contains(QLatin1String("driver"), Qt::CaseInsensitive) ||
                type.contains(QStringLiteral("драйвер"), Qt::CaseInsensitive) ||
                image.endsWith(QLatin1String(".sys"), Qt::CaseInsensitive))
                result.signs.append(QObject::tr("Установлен драйвер: %1 (%2, %3)").arg(name, raw, when));
            break;
        }
        }
    }
}

// A shortcut's row: its target (the shortcut's own name when it keeps none) and where the target lay:
// a program on a removable drive is what a loader run from a stick leaves behind.
void Collector::readShortcut(const QFileInfo &file, const QDateTime &changed)
{
    const QString source = QStringLiteral("Recent");
    const std::optional<ShortcutTarget> target = parseTraceFile(
        source, file.filePath(), kLargestShortcut, QObject::tr("больше 1 МиБ"),
        [this](const QByteArray &data, QString &reason) { return ::readShortcut(data, scratchFolder(), reason); });
    const QString shortcutName = recentItem(file.fileName());
    TraceRow &row = addRow(source, target && !target->path.isEmpty() ? target->path : shortcutName, changed);
    if (target)
        row.medium = target->medium;
}

// A Prefetch file's row: the program as the file names it, its last run, and the files it loaded. A
// file that cannot be read keeps the row its name gives, and is named.
void Collector::readPrefetch(const QFileInfo &file, const QDateTime &changed)
{
    const QString source = QStringLiteral("Prefetch");
    const std::optional<PrefetchRecord> record = parseTraceFile(
        source, file.filePath(), kLargestPrefetchFile, QObject::tr("больше 16 МиБ"),
        [this](const QByteArray &data, QString &reason) { return ::readPrefetch(data, scratchFolder(), reason); });
    if (!record) {
        addRow(source, traces::prefetchProgram(file.fileName()), changed);
        return;
    }
    const QString program =
        record->executable.isEmpty() ? traces::prefetchProgram(file.fileName()) : record->executable;
    TraceRow &row = addRow(source, program, record->runTimes.value(0, changed));
    row.earlierRuns = record->runTimes.mid(1);
    row.runCount = static_cast<int>(record->runCount);
    for (const QString &recorded : qAsConst(record->files))
        row.loaded.append(
            {traces::dosPath(prefetchDrivePath(recorded, record->volumes, machine.volumeDrives), devices), QString()});
    if (!isGame(row.fileName))
        return;
    // What the game loaded from elsewhere than its own and the system's folders was put there for
    // it: a cheat's library injected or side-loaded. The volume's own records ($MFT …) are no files.
    for (const TraceFile &loaded : qAsConst(row.loaded)) {
        const QString name = traces::programFileName(loaded.path);
        if (name.startsWith(QLatin1Char('$')) ||
            std::any_of(machine.ownFolders.cbegin(), machine.ownFolders.cend(),
                        [&loaded](const QString &folder) { return isBelow(loaded.path, folder); }))
            continue;
        result.signs.append(
            QObject::tr("Игра загружала файл вне своих папок: %1 (%2)").arg(loaded.path, file.fileName()));
        result.gameLoaded.append(loaded.path);
    }
}

void Collector::decode(const RegistrySource &source, const RegistryKeyContents &key)
{
    const QString name = QLatin1String(source.name);
    QSet<QString> seen;
    for (const RegistryValue &value : key.values) {
        switch (source.layout) {
        case Layout::Bam:
            if (value.type != platform::RegBinary || value.data.size() < 8)
                break;
            addRow(name, traces::dosPath(value.name, devices), traces::fileTime(value.data, 0));
            if (source.name == QLatin1String("BAM"))
                ++bamPrograms;
            break;
        case Layout::UserAssist: {
            const QString decoded = traces::rot13(value.name);
            if (decoded.startsWith(QLatin1String("UEME_CTL")))
                break;
            const QString program = traces::userAssistProgram(decoded, platform::knownFolderPath);
            addRow(name, program, value.data.size() >= 72 ? traces::fileTime(value.data, 60) : QDateTime());
            break;
        }
        case Layout::ValueName:
            if (!value.name.isEmpty())
                addRow(name, value.name, QDateTime());
            break;
        case Layout::MuiCache: {
            const QString program = traces::muiCacheProgram(value.name);
            if (!program.isEmpty() && !seen.contains(program.toLower())) {
                seen.insert(program.toLower());
                addRow(name, program, QDateTime());
            }
            break;
        }
        }
    }
}

void Collector::readRegistry(const RegistrySource &source)
{
    const QString key = QLatin1String(source.key);
    const RegistryKeyContents top = platform::readRegistryKey(source.hive, key);
    if (top.access == RegistryKeyContents::Denied)
        result.unreadable.append(QStringLiteral("%1 (%2)").arg(QLatin1String(source.name), where(source.hive, key)));
    if (top.access != RegistryKeyContents::Read)
        return;
    if (source.name == QLatin1String("BAM"))
        bamReadable = true;
    if (!source.perSubKey) {
        decode(source, top);
        return;
    }
    for (const QString &subKey : top.subKeys) {
        const QString path = key + QLatin1Char('\\') + subKey + QLatin1String(source.perSubKey);
        const RegistryKeyContents below = platform::readRegistryKey(source.hive, path);
        if (below.access == RegistryKeyContents::Denied)
            result.unreadable.append(
                QStringLiteral("%1 (%2)").arg(QLatin1String(source.name), where(source.hive, path)));
        else if (below.access == RegistryKeyContents::Read)
            decode(source, below);
    }
}

void Collector::readFolder(const FolderSource &source)
{
    const QString base = QLatin1String(source.knownFolder) == QLatin1String(platform::knownFolder::kWindows)
                             ? machine.windowsFolder
                             : machine.appDataFolder;
    if (base.isEmpty())
        return;
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(base) + QLatin1String(source.below));
    const platform::FolderAccess access = platform::folderAccess(folder);
    const bool prefetch = source.name == QLatin1String("Prefetch");
    if (prefetch) {
        prefetchFolder = folder;
        prefetchAccess = access;
    }
    if (access == platform::FolderAccess::Denied)
        result.unreadable.append(
            QStringLiteral("%1 (%2)").arg(QLatin1String(source.name), QDir::toNativeSeparators(folder)));
    if (access != platform::FolderAccess::Readable)
        return;
    bool cut = false;
    const QFileInfoList files = platform::listFiles(folder, {QLatin1String(source.filter)}, cut);
    if (cut)
        result.notRead.append(QObject::tr("%1 (%2): больше %3 файлов, прочитаны первые")
                                  .arg(QLatin1String(source.name), QDir::toNativeSeparators(folder))
                                  .arg(platform::kLargestFolderListing));
    for (const QFileInfo &file : files) {
        const QDateTime changed = platform::lastWritten(file.filePath());
        if (!prefetch) {
            readShortcut(file, changed);
            continue;
        }
        readPrefetch(file, changed);
        ++prefetchFiles;
        if (!newestPrefetch.isValid() || changed > newestPrefetch)
            newestPrefetch = changed;
    }
}

void Collector::readPca()
{
    if (machine.windowsFolder.isEmpty())
        return;
    const QString path =
        QDir::cleanPath(QDir::fromNativeSeparators(machine.windowsFolder) + "/appcompat/pca/PcaAppLaunchDic.txt");
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink())
        return;
    const QString shown = QStringLiteral("PCA (%1)").arg(QDir::toNativeSeparators(path));
    QFile file(path);
    QString reason;
    if (!platform::openRegularFile(file, reason)) {
        if (entry.isFile() && !entry.isReadable())
            result.unreadable.append(shown);
        else
            result.notRead.append(shown + QStringLiteral(": ") + reason);
        return;
    }
    QByteArray content = file.read(kLargestTraceFile);
    if (file.size() > kLargestTraceFile || !file.atEnd()) {
        // A record this large is made, not grown: the lines read are kept, the last cut one is not.
        result.signs.append(QObject::tr("Файл следов больше 64 МиБ, прочитано начало: %1").arg(shown));
        content.truncate(content.lastIndexOf('\n') + 1);
    }
    const auto launches = traces::pcaLaunches(content, platform::ansiCodec());
    for (const auto &launch : launches)
        addRow(QStringLiteral("PCA"), launch.first, launch.second);
}

void Collector::addSigns()
{
    QStringList &signs = result.signs;
    const RegistryKeyContents prefetchParameters =
        platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kPrefetchParameters));
    quint64 number = 0;
    const RegistryValue *enablePrefetcher = prefetchParameters.value(QStringLiteral("EnablePrefetcher"));
    const bool prefetchOff = enablePrefetcher && enablePrefetcher->number(number) && number == 0;
    if (prefetchOff)
        signs.append(QObject::tr("Prefetch отключён: EnablePrefetcher = 0 (%1)")
                         .arg(where(HKEY_LOCAL_MACHINE, QLatin1String(kPrefetchParameters))));

    for (const char *service : kTraceServices) {
        const QString name = QLatin1String(service);
        const QString key = QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\") + name;
        const RegistryKeyContents contents = platform::readRegistryKey(HKEY_LOCAL_MACHINE, key);
        const RegistryValue *start = contents.value(QStringLiteral("Start"));
        if (start && start->number(number) && number == 4)
            signs.append(QObject::tr("Служба %1 отключена: Start = 4 (%2)").arg(name, where(HKEY_LOCAL_MACHINE, key)));
        else if (platform::serviceState(name) == platform::ServiceState::NotRunning)
            signs.append(QObject::tr("Служба %1 не запущена").arg(name));
    }

    const RegistryKeyContents advanced = platform::readRegistryKey(HKEY_CURRENT_USER, QLatin1String(kExplorerAdvanced));
    const RegistryValue *trackPrograms = advanced.value(QStringLiteral("Start_TrackProgs"));
    if (trackPrograms && trackPrograms->number(number) && number == 0)
        signs.append(QObject::tr("Отслеживание запуска программ отключено: Start_TrackProgs = 0 (%1)")
                         .arg(where(HKEY_CURRENT_USER, QLatin1String(kExplorerAdvanced))));

    // A folder that may not be listed says nothing of its contents.
    if (!prefetchOff && !prefetchFolder.isEmpty() && prefetchAccess != platform::FolderAccess::Denied) {
        const QString folder = QDir::toNativeSeparators(prefetchFolder);
        if (prefetchFiles == 0)
            signs.append(QObject::tr("Prefetch включён, но в папке %1 нет ни одного файла .pf").arg(folder));
        else if (machine.bootTime.isValid() && newestPrefetch < machine.bootTime)
            signs.append(QObject::tr("Prefetch включён, но ни один файл .pf в папке %1 не менялся после запуска "
                                     "Windows (последний: %2)")
                             .arg(folder, shownTime(newestPrefetch)));
    }

    if (machine.bootTime.isValid() && machine.bootTime.secsTo(machine.now) < 60 * 60)
        signs.append(QObject::tr("Windows запущена менее 60 минут назад: %1").arg(shownTime(machine.bootTime)));

    if (bamReadable && bamPrograms == 0)
        signs.append(QObject::tr("Ключ BAM доступен для чтения, но не содержит ни одной программы"));
}

// The key under which a file is looked at once: what all its names share when it is there, else its
// path with "." and ".." taken away, in one letter case where the system ignores case.
QString fileKey(const QString &path)
{
    const QString identity = platform::fileIdentity(path);
    if (!identity.isEmpty())
        return identity;
    // Windows paths ("C:\…", "\\server\…") ignore case wherever they are read.
    const bool windowsPath = QDir::separator() == QLatin1Char('\\') || !path.startsWith(QLatin1Char('/'));
    const QString cleaned = QDir::cleanPath(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return QStringLiteral("path:") + (windowsPath ? cleaned.toLower() : cleaned);
}

void Collector::settleStates(const std::function<void(int, int)> &progress, int stepsBefore, bool hash,
                             const std::atomic<bool> *stop)
{
    // What is looked at: each row's program, then the files a Prefetch file says its program loaded
    // (those outside the Windows folder: the system's own libraries are no rule's business).
    struct Target
    {
        QString path;
        QString *sha256;
        TraceState *state; // null for a loaded file
    };
    QVector<Target> targets;
    // A state a reader set (the Recycle Bin's, the change journal's) stays; a target on a share stays
    // unasked, since a share may keep the collection waiting on it; only a name is only a name.
    for (TraceRow &row : result.rows) {
        if (!row.storedAt.isEmpty())
            targets.append({row.storedAt, &row.sha256, nullptr}); // in the bin: its state is the bin's
        else if (row.state == TraceState::NameOnly && row.medium != TraceMedium::Network &&
                 traces::isAbsoluteProgramPath(row.path))
            targets.append({row.path, &row.sha256, &row.state});
    }
    for (TraceRow &row : result.rows) {
        for (TraceFile &loaded : row.loaded) {
            if (traces::isAbsoluteProgramPath(loaded.path) && !isBelow(loaded.path, machine.windowsFolder))
                targets.append({loaded.path, &loaded.sha256, nullptr});
        }
    }

    // Each file is looked at and hashed once, however many traces name it and however they spell it.
    QHash<QString, int> firstTarget;
    QVector<int> sameAs(targets.size(), -1);
    QVector<bool> present(targets.size(), false);
    QVector<int> toHash;
    qint64 budget = kHashingBudget;
    int overBudget = 0;
    for (int i = 0; i < targets.size(); ++i) {
        Target &target = targets[i];
        const QString key = fileKey(target.path);
        const auto known = firstTarget.constFind(key);
        if (known != firstTarget.cend()) {
            sameAs[i] = *known;
            present[i] = present.at(*known);
            if (target.state)
                *target.state = present.at(i) ? TraceState::Present : TraceState::Deleted;
            continue;
        }
        firstTarget.insert(key, i);
        const QFileInfo file(target.path);
        present[i] = file.exists();
        if (target.state)
            *target.state = present.at(i) ? TraceState::Present : TraceState::Deleted;
        if (!hash || !present.at(i) || !file.isFile() || file.size() > kLargestHashedFile)
            continue;
        if (file.size() > budget) {
            ++overBudget;
            continue;
        }
        budget -= file.size();
        toHash.append(i);
    }
    if (overBudget > 0)
        result.notRead.append(QObject::tr("SHA-256: не посчитан для %1 файлов, исчерпан объём 8 ГиБ").arg(overBudget));
    const int total = stepsBefore + toHash.size();
    for (int n = 0; n < toHash.size() && !(stop && *stop); ++n) {
        Target &target = targets[toHash.at(n)];
        *target.sha256 = fileSha256(target.path);
        if (progress)
            progress(stepsBefore + n + 1, total);
    }
    for (int i = 0; i < targets.size(); ++i) {
        if (sameAs.at(i) >= 0)
            *targets[i].sha256 = *targets.at(sameAs.at(i)).sha256;
    }
}
} // namespace

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
    machine.ownFolders = gameFolders;
    machine.ownFolders << machine.windowsFolder
                       << platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFiles))
                       << platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFilesX86));
    machine.ownFolders.removeAll(QString());
    machine.volumeDrives = platform::volumeDrives();
    machine.fixedDrives = platform::fixedDrives();
    return machine;
}

TraceCollection collectTraces(const TraceMachine &machine, const QList<DetectionRule> &rules,
                              const std::function<void(int, int)> &progress, bool hashFiles,
                              const std::atomic<bool> *stop)
{
    Collector collector(machine);
    collector.result.collected = machine.now;
    const int sources = static_cast<int>(std::size(kRegistrySources) + std::size(kFolderSources)) + 4;
    int done = 0;
    const auto step = [&] {
        if (progress)
            progress(++done, sources);
    };
    for (const RegistrySource &source : kRegistrySources) {
        collector.readRegistry(source);
        step();
    }
    for (const FolderSource &source : kFolderSources) {
        collector.readFolder(source);
        step();
    }
    collector.readPca();
    step();
    for (const QString &drive : machine.fixedDrives)
        collector.readRecycleBin(drive);
    step();
    QVector<QRegularExpression> patterns;
    for (const DetectionRule &rule : rules) {
        if (rule.traces && !rule.registry)
            patterns.append(QRegularExpression(rule.filename, QRegularExpression::CaseInsensitiveOption));
    }
    for (const QString &drive : machine.fixedDrives)
        collector.readUsnJournal(drive, patterns);
    collector.readEventLog(QStringLiteral("System"), {104, 7036, 7040, 7045});
    collector.readEventLog(QStringLiteral("Security"), {1102, 4616});
    step();
    collector.addSigns();
    step();
    collector.settleStates(progress, sources, hashFiles, stop);
    matchTraces(collector.result.rows, rules);
    return collector.result;
}

void matchTraces(QVector<TraceRow> &rows, const QList<DetectionRule> &rules)
{
    struct Matcher
    {
        const DetectionRule *rule;
        QRegularExpression pattern; // invalid when the rule does not look at trace names
        QSet<QString> digests;
    };
    QVector<Matcher> matchers;
    for (const DetectionRule &rule : rules) {
        if (rule.registry || (!rule.traces && rule.sha256.isEmpty()))
            continue;
        Matcher matcher{&rule, QRegularExpression(), QSet<QString>(rule.sha256.cbegin(), rule.sha256.cend())};
        if (rule.traces)
            matcher.pattern = QRegularExpression(rule.filename, QRegularExpression::CaseInsensitiveOption);
        matchers.append(matcher);
    }
    const auto matches = [](const Matcher &matcher, const QString &fileName, const QString &sha256) {
        return (matcher.rule->traces && matcher.pattern.isValid() && matcher.pattern.match(fileName).hasMatch()) ||
               (!sha256.isEmpty() && matcher.digests.contains(sha256));
    };
    for (TraceRow &row : rows) {
        row.matched = false;
        row.ruleDescription.clear();
        row.ruleLevel = 0;
        row.matchedFile.clear();
        for (const Matcher &matcher : qAsConst(matchers)) {
            const bool own = matches(matcher, row.fileName, row.sha256);
            const auto loaded = own ? row.loaded.cend()
                                    : std::find_if(row.loaded.cbegin(), row.loaded.cend(), [&](const TraceFile &file) {
                                          return matches(matcher, traces::programFileName(file.path), file.sha256);
                                      });
            if (own || loaded != row.loaded.cend()) {
                row.matched = true;
                row.ruleDescription = matcher.rule->desc;
                row.ruleLevel = matcher.rule->level;
                if (!own)
                    row.matchedFile = loaded->path;
                break;
            }
        }
    }
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
} // namespace

QString traceMediumText(TraceMedium medium)
{
    const auto *entry = entryOf(kMediumNames, medium);
    return entry ? QObject::tr(entry->caption) : QString();
}

QString traceMediumName(TraceMedium medium)
{
    const auto *entry = entryOf(kMediumNames, medium);
    return entry ? QString::fromLatin1(entry->name) : QString();
}

TraceMedium traceMediumFromName(const QString &name)
{
    const auto *entry = entryNamed(kMediumNames, name);
    return entry ? entry->value : TraceMedium::Fixed;
}

QString traceStateText(TraceState state)
{
    const auto *entry = entryOf(kStateNames, state);
    return entry ? QObject::tr(entry->caption) : QStringLiteral("—");
}

QString traceStateName(TraceState state)
{
    const auto *entry = entryOf(kStateNames, state);
    return entry ? QString::fromLatin1(entry->name) : QStringLiteral("name");
}

TraceState traceStateFromName(const QString &name)
{
    const auto *entry = entryNamed(kStateNames, name);
    return entry ? entry->value : TraceState::NameOnly;
}
