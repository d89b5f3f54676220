#include "traces/ExecutionTraces.h"

#include "rules/DriverList.h"
#include "traces/AmcacheReader.h"

#include "platform/System.h"
#include "rules/FileHash.h"
#include "traces/TraceDecoders.h"
#include "traces/TraceSource.h"
#include "traces/sources/AmcacheSource.h"
#include "traces/sources/CompatCacheSource.h"
#include "traces/sources/DefenderSource.h"
#include "traces/sources/EventLogSource.h"
#include "traces/sources/PcaSource.h"
#include "traces/sources/PrefetchSource.h"
#include "traces/sources/RecentSource.h"
#include "traces/sources/RecycleBinSource.h"
#include "traces/sources/RegistrySources.h"
#include "traces/sources/UsbDeviceSource.h"
#include "traces/sources/UsnJournalSource.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
using platform::RegistryKeyContents;
using platform::RegistryValue;

const char kExplorerAdvanced[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

// Every source, in the order of their rows in the table. A new source is a file of its own under
// sources/ and a row here; the collector never knows a format.
std::vector<std::unique_ptr<TraceSource>> traceSources(const QVector<QRegularExpression> &watchedNames)
{
    std::vector<std::unique_ptr<TraceSource>> sources = registrySources();
    sources.push_back(std::make_unique<PrefetchSource>());
    sources.push_back(std::make_unique<RecentSource>());
    sources.push_back(std::make_unique<PcaSource>());
    sources.push_back(std::make_unique<RecycleBinSource>());
    sources.push_back(std::make_unique<UsnJournalSource>(watchedNames));
    sources.push_back(std::make_unique<EventLogSource>());
    sources.push_back(std::make_unique<CompatCacheSource>());
    sources.push_back(std::make_unique<AmcacheSource>());
    sources.push_back(std::make_unique<UsbDeviceSource>());
    sources.push_back(std::make_unique<DefenderSource>());
    return sources;
}

void appendFindings(TraceCollection &result, QStringList &excludedPaths, TraceFindings &&found)
{
    excludedPaths += found.excludedPaths;
    result.rows += std::move(found.rows);
    result.signs += found.signs;
    result.notices += found.notices;
    result.unreadable += found.unreadable;
    result.notRead += found.notRead;
    result.parserErrors += found.parserErrors;
    result.gameLoaded += found.gameLoaded;
}

// A path as exclusions and rows are compared: one separator, "." and ".." resolved, any letter case.
QString comparablePath(const QString &path)
{
    return QDir::cleanPath(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'))).toLower();
}

// An exclusion of Defender's that spares a file some row of this check names: it was kept from the
// scanner on purpose. Each row's own path and its folders up to 64 deep are looked up among the
// exclusions, so that thousands of exclusions cost no more than a few: comparing each with each row
// would take minutes on a machine the player has prepared.
QStringList coveredByExclusions(const QVector<TraceRow> &rows, const QStringList &excludedPaths)
{
    constexpr int kDeepestFolder = 64;
    QSet<QString> excluded;
    for (const QString &path : excludedPaths)
        excluded.insert(comparablePath(path));
    QSet<QString> covering;
    for (const TraceRow &row : rows) {
        const QString path = comparablePath(row.path);
        if (excluded.contains(path))
            covering.insert(path);
        int depth = 0;
        for (int at = path.indexOf(QLatin1Char('/'), 1); at > 0 && depth < kDeepestFolder;
             at = path.indexOf(QLatin1Char('/'), at + 1), ++depth) {
            const QString folder = path.left(at);
            if (excluded.contains(folder))
                covering.insert(folder);
        }
    }
    QStringList signs;
    for (const QString &path : excludedPaths) {
        if (covering.remove(comparablePath(path)))
            signs.append(QObject::tr("Защитник не проверяет: %1").arg(path));
    }
    return signs;
}

// The signs no one source gives: the trace services disabled or stopped, the tracking of programs
// switched off, and a Windows started too lately for its traces to say much.
QStringList machineSigns(const TraceMachine &machine)
{
    QStringList signs;
    quint64 number = 0;
    for (const char *service : traces::kTraceServices) {
        const QString name = QLatin1String(service);
        const QString key = QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\") + name;
        const RegistryKeyContents contents = platform::readRegistryKey(HKEY_LOCAL_MACHINE, key);
        const RegistryValue *start = contents.value(QStringLiteral("Start"));
        if (start && start->number(number) && number == 4)
            signs.append(QObject::tr("Служба %1 отключена: Start = 4 (%2)")
                             .arg(name, traces::registryPlace(HKEY_LOCAL_MACHINE, key)));
        else if (platform::serviceState(name) == platform::ServiceState::NotRunning)
            signs.append(QObject::tr("Служба %1 не запущена").arg(name));
    }

    const RegistryKeyContents advanced = platform::readRegistryKey(HKEY_CURRENT_USER, QLatin1String(kExplorerAdvanced));
    const RegistryValue *trackPrograms = advanced.value(QStringLiteral("Start_TrackProgs"));
    if (trackPrograms && trackPrograms->number(number) && number == 0)
        signs.append(QObject::tr("Отслеживание запуска программ отключено: Start_TrackProgs = 0 (%1)")
                         .arg(traces::registryPlace(HKEY_CURRENT_USER, QLatin1String(kExplorerAdvanced))));

    if (machine.bootTime.isValid() && machine.bootTime.secsTo(machine.now) < 60 * 60)
        signs.append(QObject::tr("Windows запущена менее 60 минут назад: %1").arg(traces::shownTime(machine.bootTime)));
    return signs;
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

// Marks each row's state and hashes what is there, each file once, within the collection's budget.
void settleStates(const TraceMachine &machine, TraceCollection &result, TraceLimits &limits,
                  const std::function<void(int, int)> &progress, int stepsBefore, bool hash,
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
                 !traces::isShareOrDevicePath(row.path) && traces::isAbsoluteProgramPath(row.path))
            targets.append({row.path, &row.sha256, &row.state});
    }
    for (TraceRow &row : result.rows) {
        for (TraceFile &loaded : row.loaded) {
            if (traces::isAbsoluteProgramPath(loaded.path) && !traces::isShareOrDevicePath(loaded.path) &&
                !traces::isBelow(loaded.path, machine.windowsFolder))
                targets.append({loaded.path, &loaded.sha256, nullptr});
        }
    }

    // Each file is looked at and hashed once, however many traces name it and however they spell it.
    QHash<QString, int> firstTarget;
    QVector<int> sameAs(targets.size(), -1);
    QVector<bool> present(targets.size(), false);
    QVector<int> toHash;
    qint64 &budget = limits.hashingBytesLeft;
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
// The SHA-1 Amcache recorded for the row's file, when it is the whole file's: of a larger file it covers
// only the start, and is no file's digest.
QString wholeFileSha1(const TraceRow &row)
{
    return amcacheSha1IsWhole(row.recordedSize) ? row.sha1 : QString();
}

// Identical signs as one, with their count: a crafted file repeating one sign a million times must
// not bury the others.
QStringList foldedSigns(const QStringList &signs)
{
    QStringList order;
    QHash<QString, int> counts;
    for (const QString &sign : signs) {
        if (counts[sign]++ == 0)
            order.append(sign);
    }
    QStringList folded;
    for (const QString &sign : qAsConst(order)) {
        const int count = counts.value(sign);
        folded.append(count == 1 ? sign : QObject::tr("%1 (×%2)").arg(sign).arg(count));
    }
    return folded;
}
} // namespace

TraceCollection collectTraces(const TraceMachine &machine, const QList<DetectionRule> &rules,
                              const std::function<void(int, int)> &progress, bool hashFiles,
                              const std::atomic<bool> *stop)
{
    QVector<QRegularExpression> watchedNames;
    for (const DetectionRule &rule : rules) {
        if (rule.traces && !rule.registry)
            watchedNames.append(QRegularExpression(rule.filename, QRegularExpression::CaseInsensitiveOption));
    }
    const std::vector<std::unique_ptr<TraceSource>> sources = traceSources(watchedNames);
    const int steps = static_cast<int>(sources.size()) + 1;
    int done = 0;
    const auto step = [&] {
        if (progress)
            progress(++done, steps);
    };
    TraceCollection result;
    result.collected = machine.now;
    TraceLimits limits;
    QStringList excludedPaths;
    for (const std::unique_ptr<TraceSource> &source : sources) {
        appendFindings(result, excludedPaths, source->collect(machine, limits));
        step();
    }
    result.signs += coveredByExclusions(result.rows, excludedPaths);
    result.signs += machineSigns(machine);
    result.signs = foldedSigns(result.signs);
    step();
    settleStates(machine, result, limits, progress, steps, hashFiles, stop);
    matchTraces(result.rows, rules);
    return result;
}

void matchTraces(QVector<TraceRow> &rows, const QList<DetectionRule> &rules)
{
    struct Matcher
    {
        const DetectionRule *rule;
        QRegularExpression pattern; // invalid when the rule does not look at trace names
        QSet<QString> digests;
        QSet<QString> sha1;
    };
    QVector<Matcher> matchers;
    for (const DetectionRule &rule : rules) {
        if (rule.registry || (!rule.traces && rule.sha256.isEmpty() && rule.sha1.isEmpty()))
            continue;
        Matcher matcher{&rule, QRegularExpression(), QSet<QString>(rule.sha256.cbegin(), rule.sha256.cend()),
                        QSet<QString>(rule.sha1.cbegin(), rule.sha1.cend())};
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
        const QString sha1 = wholeFileSha1(row);
        for (const Matcher &matcher : qAsConst(matchers)) {
            const bool own =
                matches(matcher, row.fileName, row.sha256) || (!sha1.isEmpty() && matcher.sha1.contains(sha1));
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

void matchListedDrivers(QVector<TraceRow> &rows, const DriverList &list)
{
    for (TraceRow &row : rows) {
        const QString sha1 = wholeFileSha1(row);
        if (row.matched || !row.driver || sha1.isEmpty())
            continue;
        if (const ListedDriver *listed = list.byDigest(QString(), sha1, QString())) {
            // As the drivers' tab judges a listed driver by itself: a malicious one is red, a vulnerable one
            // orange, since a clean PC may have one installed with a hardware tool.
            row.matched = true;
            row.ruleLevel = listed->malicious() ? 1 : 0;
            row.ruleDescription = listed->malicious()
                                      ? QObject::tr("Драйвер из списка вредоносных: %1").arg(listed->name)
                                      : QObject::tr("Драйвер из списка уязвимых: %1").arg(listed->name);
        }
    }
}
