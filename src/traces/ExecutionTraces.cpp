#include "traces/ExecutionTraces.h"

#include "platform/FileSystem.h"
#include "platform/RegistryHives.h"
#include "platform/System.h"
#include "scan/FileHash.h"
#include "traces/TraceDecoders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {
using platform::RegistryKeyContents;
using platform::RegistryValue;

// What one collection reads of the player's files at most: a trace file, and the bytes hashed in all.
constexpr qint64 kLargestTraceFile = 64 * 1024 * 1024;
constexpr qint64 kHashingBudget = qint64(8) << 30;

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

// Folders whose files are named after what ran or was opened: the name less its tail, the time the
// file last changed.
struct FolderSource
{
    const char *name;
    const char *knownFolder;
    const char *below;
    const char *filter;
    QString (*program)(const QString &fileName);
};

QString recentItem(const QString &fileName)
{
    return fileName.left(fileName.size() - 4); // less ".lnk"
}

const FolderSource kFolderSources[] = {
    {"Prefetch", platform::knownFolder::kWindows, "/Prefetch", "*.pf", traces::prefetchProgram},
    {"Recent", platform::knownFolder::kRoamingAppData, "/Microsoft/Windows/Recent", "*.lnk", recentItem},
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
    void readPca();
    void addSigns();
    void settleStates(const std::function<void(int, int)> &progress, int stepsBefore, bool hash,
                      const std::atomic<bool> *stop);

    TraceCollection result;

private:
    void addRow(const QString &source, const QString &path, const QDateTime &time);
    void decode(const RegistrySource &source, const RegistryKeyContents &key);

    const TraceMachine &machine;
    const QVector<QPair<QString, QString>> devices;
    bool bamReadable = false;
    int bamPrograms = 0;
    QString prefetchFolder; // as it was listed; empty when the Windows folder is unknown
    platform::FolderAccess prefetchAccess = platform::FolderAccess::Missing;
    int prefetchFiles = 0;
    QDateTime newestPrefetch;
};

void Collector::addRow(const QString &source, const QString &path, const QDateTime &time)
{
    TraceRow row;
    row.time = time;
    row.path = path;
    row.fileName = traces::programFileName(path);
    row.source = source;
    result.rows.append(row);
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
        const QDateTime changed = file.lastModified().toUTC();
        addRow(QLatin1String(source.name), source.program(file.fileName()), changed);
        if (prefetch) {
            ++prefetchFiles;
            if (!newestPrefetch.isValid() || changed > newestPrefetch)
                newestPrefetch = changed;
        }
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
    // Each file is looked at and hashed once, however many traces name it and however they spell it.
    QHash<QString, int> firstRow;
    QVector<int> rowKey(result.rows.size(), -1);
    QVector<int> toHash;
    qint64 budget = kHashingBudget;
    int overBudget = 0;
    for (int i = 0; i < result.rows.size(); ++i) {
        TraceRow &row = result.rows[i];
        if (!traces::isAbsoluteProgramPath(row.path)) {
            row.state = TraceState::NameOnly;
            continue;
        }
        const QString key = fileKey(row.path);
        const auto known = firstRow.constFind(key);
        if (known != firstRow.cend()) {
            rowKey[i] = *known;
            row.state = result.rows.at(*known).state;
            continue;
        }
        firstRow.insert(key, i);
        rowKey[i] = i;
        const QFileInfo file(row.path);
        row.state = file.exists() ? TraceState::Present : TraceState::Deleted;
        if (!hash || row.state != TraceState::Present || !file.isFile() || file.size() > kLargestHashedFile)
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
        TraceRow &row = result.rows[toHash.at(n)];
        row.sha256 = fileSha256(row.path);
        if (progress)
            progress(stepsBefore + n + 1, total);
    }
    for (int i = 0; i < result.rows.size(); ++i) {
        if (rowKey.at(i) >= 0 && rowKey.at(i) != i)
            result.rows[i].sha256 = result.rows.at(rowKey.at(i)).sha256;
    }
}
} // namespace

int TraceCollection::matchCount() const
{
    return static_cast<int>(std::count_if(rows.cbegin(), rows.cend(), [](const TraceRow &row) { return row.matched; }));
}

TraceMachine TraceMachine::current()
{
    TraceMachine machine;
    machine.windowsFolder = platform::knownFolderPath(QLatin1String(platform::knownFolder::kWindows));
    machine.appDataFolder = platform::knownFolderPath(QLatin1String(platform::knownFolder::kRoamingAppData));
    machine.bootTime = platform::bootTime();
    machine.now = QDateTime::currentDateTimeUtc();
    return machine;
}

TraceCollection collectTraces(const TraceMachine &machine, const QList<DetectionRule> &rules,
                              const std::function<void(int, int)> &progress, bool hashFiles,
                              const std::atomic<bool> *stop)
{
    Collector collector(machine);
    collector.result.collected = machine.now;
    const int sources = static_cast<int>(std::size(kRegistrySources) + std::size(kFolderSources)) + 2;
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
    for (TraceRow &row : rows) {
        row.matched = false;
        row.ruleDescription.clear();
        row.ruleLevel = 0;
        for (const Matcher &matcher : qAsConst(matchers)) {
            const bool byName =
                matcher.rule->traces && matcher.pattern.isValid() && matcher.pattern.match(row.fileName).hasMatch();
            const bool byDigest = !row.sha256.isEmpty() && matcher.digests.contains(row.sha256);
            if (byName || byDigest) {
                row.matched = true;
                row.ruleDescription = matcher.rule->desc;
                row.ruleLevel = matcher.rule->level;
                break;
            }
        }
    }
}

QString traceStateText(TraceState state)
{
    switch (state) {
    case TraceState::Present:
        return QObject::tr("есть");
    case TraceState::Deleted:
        return QObject::tr("удалён");
    case TraceState::NameOnly:
        break;
    }
    return QStringLiteral("—");
}

QString traceStateName(TraceState state)
{
    switch (state) {
    case TraceState::Present:
        return QStringLiteral("present");
    case TraceState::Deleted:
        return QStringLiteral("deleted");
    case TraceState::NameOnly:
        break;
    }
    return QStringLiteral("name");
}

TraceState traceStateFromName(const QString &name)
{
    for (const TraceState state : {TraceState::Present, TraceState::Deleted}) {
        if (name == traceStateName(state))
            return state;
    }
    return TraceState::NameOnly;
}
