#include "drivers/DriverCollector.h"

#include "drivers/DriverFile.h"
#include "drivers/DriverJudgement.h"
#include "drivers/IntegrityState.h"
#include "platform/FileSystem.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryHives.h"
#include "platform/System.h"
#include "traces/EventLogReader.h"
#include "traces/TraceDecoders.h"
#include "traces/TraceSource.h"
#include "traces/sources/UsnJournalSource.h"

#include <QDir>
#include <QObject>

namespace {
const char *const kServices = "SYSTEM\\CurrentControlSet\\Services";
// More services than any system has: the rest is named as not read.
constexpr int kLargestServiceListing = 8192;
constexpr int kInstalledDays = 30;
constexpr int kJournalDays = 7;

bool isBelowAny(const QString &path, const QStringList &folders)
{
    return std::any_of(folders.begin(), folders.end(),
                       [&path](const QString &folder) { return !folder.isEmpty() && traces::isBelow(path, folder); });
}

// What the check knows of each file, by its identity, so that a file named by a loaded driver, a
// service and an installation is read once.
class FileFacts
{
public:
    const DriverFileFacts &of(const QString &path)
    {
        const QString identity = platform::fileIdentity(path);
        const QString key = identity.isEmpty() ? QStringLiteral("path:") + path.toLower() : identity;
        auto found = facts.find(key);
        if (found == facts.end())
            found = facts.insert(key, examineDriverFile(path));
        return found.value();
    }

private:
    QHash<QString, DriverFileFacts> facts;
};

class Collector
{
public:
    Collector(const DriverMachine &machine, const DriverList &list) : machine(machine), list(list) {}

    void readLoaded();
    void readServices();
    void examineRows(const std::function<void(int, int)> &progress, const std::atomic<bool> *stop);
    void readInstalled();
    void readJournal();

    DriverCheck check;

private:
    DriverRow &rowFor(const QString &recorded);
    DriverEvidence evidenceOf(const DriverRow &row, const DriverFileFacts &facts) const;
    void notRead(const QString &text) { check.lines.append({DriverLineLevel::NotRead, text}); }
    // What a reader shared with the traces could not read, as this check's lines.
    void takeWhatWasNotRead(const TraceFindings &found);

    const DriverMachine &machine;
    const DriverList &list;
    QHash<QString, int> rowByPath;
    FileFacts files;
};

DriverRow &Collector::rowFor(const QString &recorded)
{
    const QString path = driverDrivePath(recorded, machine);
    const QString key = QDir::fromNativeSeparators(path).toLower();
    const auto found = rowByPath.constFind(key);
    if (found != rowByPath.constEnd())
        return check.rows[found.value()];
    rowByPath.insert(key, check.rows.size());
    DriverRow row;
    row.recordedPath = recorded;
    row.path = path;
    row.name = traces::programFileName(path);
    check.rows.append(row);
    return check.rows.last();
}

void Collector::readLoaded()
{
    const platform::LoadedDrivers loaded = platform::loadedDrivers();
    if (!loaded.read) {
        notRead(QObject::tr("Не удалось получить список загруженных драйверов: %1").arg(loaded.why));
        return;
    }
    if (!loaded.why.isEmpty())
        notRead(QObject::tr("Загруженные драйверы: %1").arg(loaded.why));
    if (loaded.cut)
        notRead(QObject::tr("Загруженные драйверы: прочитаны первые %1").arg(platform::kLargestDriverListing));
    // Every Windows has its kernel loaded: an empty list is a list not given, never a clean one.
    if (loaded.paths.isEmpty())
        notRead(QObject::tr("Система не назвала ни одного загруженного драйвера"));
    for (const QString &path : loaded.paths) {
        DriverRow &row = rowFor(path);
        row.loaded = true;
        row.state = DriverRow::State::Loaded;
    }
}

void Collector::readServices()
{
    const platform::RegistryKeyContents services =
        platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kServices));
    if (services.access != platform::RegistryKeyContents::Read) {
        notRead(QObject::tr("Нет прав на чтение служб (HKLM\\%1)").arg(QLatin1String(kServices)));
        return;
    }
    if (services.subKeys.size() > kLargestServiceListing)
        notRead(
            QObject::tr("Службы: прочитаны первые %1 из %2").arg(kLargestServiceListing).arg(services.subKeys.size()));
    for (const QString &name : services.subKeys.mid(0, kLargestServiceListing)) {
        const platform::RegistryKeyContents service =
            platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kServices) + QLatin1Char('\\') + name);
        const platform::RegistryValue *type = service.value(QStringLiteral("Type"));
        quint64 number = 0;
        // Kernel drivers (1) and file-system drivers (2).
        if (!type || !type->number(number) || (number != 1 && number != 2))
            continue;
        const platform::RegistryValue *image = service.value(QStringLiteral("ImagePath"));
        QString recorded = image ? image->text().trimmed() : QString();
        if (recorded.isEmpty())
            recorded = QStringLiteral("System32\\drivers\\%1.sys").arg(name);
        DriverRow &row = rowFor(recorded);
        if (row.service.isEmpty())
            row.service = name.left(256);
        if (!row.loaded)
            row.state = DriverRow::State::Service;
    }
}

DriverEvidence Collector::evidenceOf(const DriverRow &row, const DriverFileFacts &facts) const
{
    DriverEvidence evidence;
    evidence.path = row.path;
    evidence.name = row.name;
    evidence.entry = row.listEntry;
    evidence.category = row.listCategory;
    evidence.loaded = row.loaded;
    evidence.gone = !facts.there;
    evidence.inUserFolder = isBelowAny(row.path, machine.userFolders) || platform::isRemovableDrive(row.path);
    evidence.inSystemFolders = isBelowAny(row.path, machine.systemFolders);
    evidence.trustAsked = facts.trustAsked;
    evidence.signatureAccepted = facts.signatureAccepted();
    evidence.reason = facts.signatureReason.isEmpty() ? signatureText(row) : facts.signatureReason;
    return evidence;
}

void Collector::examineRows(const std::function<void(int, int)> &progress, const std::atomic<bool> *stop)
{
    int skipped = 0;
    for (int i = 0; i < check.rows.size(); ++i) {
        if (progress)
            progress(i, check.rows.size());
        DriverRow &row = check.rows[i];
        // A share or a device is never asked: an unreachable host keeps the asker waiting.
        if (traces::isShareOrDevicePath(row.path) || !traces::isAbsoluteProgramPath(row.path) ||
            (stop && stop->load())) {
            ++skipped;
            continue;
        }
        const DriverFileFacts &facts = files.of(row.path);
        if (!facts.there)
            row.state = DriverRow::State::Deleted;
        row.sha256 = facts.sha256;
        row.sha1 = facts.sha1;
        row.authenticode = facts.authenticode;
        row.signature = facts.signature;
        row.signer = facts.signer;
        row.signatureReason = facts.signatureReason;
        row.readProblem = facts.problem;
        if (facts.there && !facts.read)
            notRead(QObject::tr("Драйвер не прочитан: %1: %2").arg(QDir::toNativeSeparators(row.path), facts.problem));
        const ListedDriver *listed = list.byDigest(row.sha256, row.sha1, row.authenticode);
        if (!listed && !facts.there) {
            listed = list.byName(row.name);
            row.listedByName = listed != nullptr;
        }
        if (listed) {
            row.listEntry = listed->name;
            row.listCategory = listed->category;
        }
        for (const DriverLine &line : judgeDriver(evidenceOf(row, facts))) {
            row.red |= line.level == DriverLineLevel::Red;
            row.orange |= line.level == DriverLineLevel::Orange;
            check.lines.append(line);
        }
    }
    if (progress)
        progress(check.rows.size(), check.rows.size());
    if (skipped > 0)
        notRead(
            QObject::tr("Файлы драйверов не прочитаны: %1 (остановлено, сетевой или непонятный путь)").arg(skipped));
}

void Collector::readInstalled()
{
    TraceFindings found;
    const QVector<LoggedEvent> events = found.readLogEvents(QObject::tr("Драйверы"), QStringLiteral("System"), {7045},
                                                            kInstalledDays, machine.traces.now);
    takeWhatWasNotRead(found);
    for (const LoggedEvent &event : events) {
        const QString raw = event.data.value(QStringLiteral("ImagePath"));
        const QString path = driverDrivePath(raw, machine);
        if (!installsDriver(event.data.value(QStringLiteral("ServiceType")), path))
            continue;
        DriverEvidence evidence;
        evidence.kind = DriverEvidence::Kind::Installed;
        evidence.service = event.data.value(QStringLiteral("ServiceName")).left(256);
        evidence.path = raw.left(1024);
        evidence.name = traces::programFileName(path);
        evidence.when = event.time.isValid() ? traces::shownTime(event.time) : QObject::tr("время неизвестно");
        const bool askable = traces::isAbsoluteProgramPath(path) && !traces::isShareOrDevicePath(path);
        const DriverFileFacts facts = askable ? files.of(path) : DriverFileFacts{};
        evidence.gone = askable && !facts.there;
        evidence.inSystemFolders = isBelowAny(path, machine.systemFolders);
        evidence.signatureAccepted = facts.signatureAccepted();
        const ListedDriver *listed = list.byDigest(facts.sha256, facts.sha1, facts.authenticode);
        if (!listed)
            listed = list.byName(evidence.name);
        if (listed) {
            evidence.entry = listed->name;
            evidence.category = listed->category;
        }
        check.lines += judgeDriver(evidence);
    }
}

void Collector::takeWhatWasNotRead(const TraceFindings &found)
{
    for (const QString &source : found.unreadable)
        notRead(QObject::tr("Нет прав на чтение: %1").arg(source));
    for (const QString &source : found.notRead)
        notRead(QObject::tr("Не прочитано: %1").arg(source));
}

void Collector::readJournal()
{
    TraceLimits limits;
    const TraceFindings found = UsnJournalSource({}).collect(machine.traces, limits);
    takeWhatWasNotRead(found);
    for (const TraceRow &row : found.rows) {
        const qint64 age = row.time.isValid() ? row.time.secsTo(machine.traces.now) : 0;
        if (row.state != TraceState::Deleted || age > kJournalDays * 86400 ||
            !row.fileName.endsWith(QLatin1String(".sys"), Qt::CaseInsensitive))
            continue;
        const ListedDriver *listed = list.byName(row.fileName);
        if (!listed)
            continue;
        DriverEvidence evidence;
        evidence.kind = DriverEvidence::Kind::Journal;
        evidence.path = row.path;
        evidence.name = row.fileName;
        evidence.entry = listed->name;
        evidence.category = listed->category;
        evidence.when = row.time.isValid() ? traces::shownTime(row.time) : QObject::tr("время неизвестно");
        check.lines += judgeDriver(evidence);
    }
}
} // namespace

QString driverDrivePath(const QString &recorded, const DriverMachine &machine)
{
    QString path = serviceImageFile(recorded, machine.traces.windowsFolder);
    if (path.startsWith(QLatin1String("\\Device\\"), Qt::CaseInsensitive)) {
        for (const auto &[device, drive] : machine.devices) {
            // At a component boundary only: "\Device\HarddiskVolume1" is no prefix of "…Volume10".
            if (path.startsWith(device, Qt::CaseInsensitive) && path.size() > device.size() &&
                path.at(device.size()) == QLatin1Char('\\'))
                return drive + path.mid(device.size());
        }
    }
    return path;
}

DriverMachine DriverMachine::current()
{
    DriverMachine machine;
    machine.traces = TraceMachine::current();
    machine.systemFolders = QStringList{
        machine.traces.windowsFolder, platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFiles)),
        platform::knownFolderPath(QLatin1String(platform::knownFolder::kProgramFilesX86))};
    machine.userFolders = traces::userFolders(machine.traces.windowsFolder);
    machine.devices = platform::driveDevices();
    return machine;
}

DriverCheck checkDrivers(const DriverMachine &machine, const DriverList &list, const QString &listProblem,
                         const std::function<void(int, int)> &progress, const std::atomic<bool> *stop)
{
    Collector collector(machine, list);
    DriverCheck &check = collector.check;
    check.checked = machine.traces.now;
    if (!listProblem.isEmpty())
        check.lines.append({DriverLineLevel::Orange, QObject::tr("Список уязвимых драйверов не загружен")});
    check.lines += codeIntegrityLines(platform::codeIntegrityOptions());
    check.lines += kernelDebuggerLines(platform::kernelDebugger());
    check.lines += bootConfigurationLines();
    check.lines += blocklistLines();
    collector.readLoaded();
    collector.readServices();
    collector.examineRows(progress, stop);
    collector.readInstalled();
    collector.readJournal();
    // Red first, then orange, then the facts and what could not be read, each in the order found.
    std::stable_sort(check.lines.begin(), check.lines.end(),
                     [](const DriverLine &a, const DriverLine &b) { return int(a.level) < int(b.level); });
    return check;
}
