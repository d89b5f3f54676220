#include "traces/sources/PrefetchSource.h"

#include "platform/System.h"
#include "traces/PrefetchReader.h"
#include "traces/TraceDecoders.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {
// Prefetch files are kilobytes; one far larger is made, not grown.
constexpr qint64 kLargestPrefetchFile = 16 * 1024 * 1024;
const char kGameImage[] = "csgo.exe";
// The files one Prefetch file of the game may name in signs of their own.
constexpr int kLargestGameSigns = 100;
const char kPrefetchParameters[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters";

bool isGame(const TraceMachine &machine, const QString &program)
{
    return program.compare(QLatin1String(kGameImage), Qt::CaseInsensitive) == 0 ||
           machine.gameImages.contains(program, Qt::CaseInsensitive);
}

// A Prefetch file's row: the program as the file names it, its last run, and the files it loaded. A
// file that cannot be read keeps the row its name gives, and is named.
void readPrefetchFile(const TraceMachine &machine, const QVector<QPair<QString, QString>> &devices,
                      const QFileInfo &file, const QDateTime &changed, TraceLimits &limits, TraceFindings &found)
{
    const QString source = QStringLiteral("Prefetch");
    const std::optional<PrefetchRecord> record =
        found.parseTraceFile(source, file.filePath(), kLargestPrefetchFile, QObject::tr("больше 16 МиБ"),
                             [&limits](const QByteArray &data, QString &reason, QString *detail) {
                                 return readPrefetch(data, limits.scratchFolder(), reason, detail);
                             });
    if (!record) {
        found.addRow(source, traces::prefetchProgram(file.fileName()), changed);
        return;
    }
    const QString shown = QStringLiteral("%1 (%2)").arg(source, QDir::toNativeSeparators(file.filePath()));
    if (record->filesCut)
        found.notRead.append(
            shown + QObject::tr(": больше %1 загруженных файлов, прочитаны первые").arg(kLargestPrefetchNames));
    if (record->volumesCut)
        found.notRead.append(shown + QObject::tr(": больше %1 томов, прочитаны первые").arg(kLargestPrefetchVolumes));
    const QString program =
        record->executable.isEmpty() ? traces::prefetchProgram(file.fileName()) : record->executable;
    TraceRow &row = found.addRow(source, program, record->runTimes.value(0, changed));
    row.earlierRuns = record->runTimes.mid(1);
    row.runCount = static_cast<int>(record->runCount);
    // Two spellings of one volume name one file: it is a loaded file once.
    QSet<QString> seen;
    for (const QString &recorded : qAsConst(record->files)) {
        if (limits.loadedFilesLeft == 0) {
            if (!limits.loadedFilesCut)
                found.notRead.append(QObject::tr("%1: больше %2 загруженных файлов за сбор, остальные не прочитаны")
                                         .arg(source)
                                         .arg(TraceLimits::kLargestLoadedFiles));
            limits.loadedFilesCut = true;
            break;
        }
        const QString path =
            traces::dosPath(prefetchDrivePath(recorded, record->volumes, machine.volumeDrives), devices);
        if (seen.contains(path.toLower()))
            continue;
        seen.insert(path.toLower());
        row.loaded.append({path, QString()});
        --limits.loadedFilesLeft;
    }
    if (!isGame(machine, row.fileName))
        return;
    // What the game loaded from elsewhere than its own and the system's folders was put there for
    // it: a cheat's library injected or side-loaded. The volume's own records ($MFT …) are no files.
    // A sign names each such file up to kLargestGameSigns a Prefetch file; one more counts the rest,
    // so that a crafted file cannot bury the other signs.
    int outside = 0;
    for (const TraceFile &loaded : qAsConst(row.loaded)) {
        const QString name = traces::programFileName(loaded.path);
        if (name.startsWith(QLatin1Char('$')) ||
            std::any_of(machine.ownFolders.cbegin(), machine.ownFolders.cend(),
                        [&loaded](const QString &folder) { return traces::isBelow(loaded.path, folder); }))
            continue;
        if (++outside <= kLargestGameSigns)
            found.signs.append(
                QObject::tr("Игра загружала файл вне своих папок: %1 (%2)").arg(loaded.path, file.fileName()));
        // What lies on a share or names a device is never asked for its bytes.
        if (!traces::isShareOrDevicePath(loaded.path))
            found.gameLoaded.append(loaded.path);
    }
    if (outside > kLargestGameSigns)
        found.signs.append(QObject::tr("Игра загружала ещё %1 файлов вне своих папок (%2)")
                               .arg(outside - kLargestGameSigns)
                               .arg(file.fileName()));
}
} // namespace

QString PrefetchSource::name() const
{
    return QStringLiteral("Prefetch");
}

TraceFindings PrefetchSource::collect(const TraceMachine &machine, TraceLimits &limits) const
{
    TraceFindings found;
    const platform::RegistryKeyContents parameters =
        platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kPrefetchParameters));
    quint64 number = 0;
    const platform::RegistryValue *enablePrefetcher = parameters.value(QStringLiteral("EnablePrefetcher"));
    const bool switchedOff = enablePrefetcher && enablePrefetcher->number(number) && number == 0;
    if (switchedOff)
        found.signs.append(QObject::tr("Prefetch отключён: EnablePrefetcher = 0 (%1)")
                               .arg(traces::registryPlace(HKEY_LOCAL_MACHINE, QLatin1String(kPrefetchParameters))));
    if (machine.windowsFolder.isEmpty())
        return found;
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(machine.windowsFolder) + "/Prefetch");
    const platform::FolderAccess access = platform::folderAccess(folder);
    if (access == platform::FolderAccess::Denied)
        found.unreadable.append(QStringLiteral("%1 (%2)").arg(name(), QDir::toNativeSeparators(folder)));
    int files = 0;
    QDateTime newest;
    if (access == platform::FolderAccess::Readable) {
        const QFileInfoList listed = found.listTraceFiles(name(), folder, QStringLiteral("*.pf"));
        const QVector<QPair<QString, QString>> devices = platform::driveDevices();
        for (const QFileInfo &file : listed) {
            const QDateTime changed = platform::lastWritten(file.filePath());
            readPrefetchFile(machine, devices, file, changed, limits, found);
            ++files;
            if (!newest.isValid() || changed > newest)
                newest = changed;
        }
    }
    // A folder that may not be listed says nothing of its contents.
    if (switchedOff || access == platform::FolderAccess::Denied)
        return found;
    const QString shown = QDir::toNativeSeparators(folder);
    if (files == 0)
        found.signs.append(QObject::tr("Prefetch включён, но в папке %1 нет ни одного файла .pf").arg(shown));
    else if (machine.bootTime.isValid() && newest < machine.bootTime)
        found.signs.append(QObject::tr("Prefetch включён, но ни один файл .pf в папке %1 не менялся после запуска "
                                       "Windows (последний: %2)")
                               .arg(shown, traces::shownTime(newest)));
    return found;
}
