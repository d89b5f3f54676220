#pragma once

#include "platform/FileSystem.h"
#include "platform/RegistryHives.h"
#include "traces/EventLogReader.h"
#include "traces/TraceTypes.h"

#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <memory>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcTraces)

// What one source of traces found: its rows, its red signs, what it could not read for lack of
// rights, what it could not read in full for any other reason, and the files the game loaded from
// outside its own and the system's folders.
struct TraceFindings
{
    QVector<TraceRow> rows;
    QStringList signs;
    QStringList notices;       // orange: worth the examiner's look, no sign by itself
    QStringList excludedPaths; // folders and files Defender does not scan, matched against every row
    QStringList unreadable;
    QStringList notRead;      // "<source> (<path>): <reason>", the reason in the examiner's words
    QStringList parserErrors; // "<source> (<path>): <the parsing library's own words>", for the report
    QStringList gameLoaded;

    TraceRow &addRow(const QString &source, const QString &path, const QDateTime &time);

    // The files of `folder` whose names match `filter`, each file once in the source's reading
    // whatever links or junctions lead to it; a folder cut at the listing's limit is named among what
    // was not read.
    QFileInfoList listTraceFiles(const QString &source, const QString &folder, const QString &filter);
    QSet<QString> filesListed; // their identities

    // The trace file at `path` of `source`, read whole up to `limit` and handed to `parse` (the bytes,
    // the reason, the library's detail); what cannot be read or parsed is named among what was not
    // read, with `tooLarge` for a file past the limit, and the library's words go to the log and the
    // report.
    template <typename Parse>
    auto parseTraceFile(const QString &source, const QString &path, qint64 limit, const QString &tooLarge, Parse parse)
        -> decltype(parse(QByteArray(), std::declval<QString &>(), nullptr));

    // The events of the log `channel` whose id is one of `ids`, of the `days` days before `now`, each
    // parsed on its own; a log that cannot be read, or is read in part, is named as `source`'s.
    QVector<LoggedEvent> readLogEvents(const QString &source, const QString &channel, const QVector<int> &ids, int days,
                                       const QDateTime &now);

    // Names the library's own words of why `path` of `source` could not be parsed.
    void addParserError(const QString &source, const QString &path, const QString &detail);
};

// What the sources of one collection share and draw from: the bytes left to hash, and one folder of
// ours for the private copies the parsing libraries read.
class TraceLimits
{
public:
    // What one collection hashes in all.
    static constexpr qint64 kHashingBudget = qint64(8) << 30;

    TraceLimits();
    ~TraceLimits();
    TraceLimits(const TraceLimits &) = delete;
    TraceLimits &operator=(const TraceLimits &) = delete;

    // Made when first asked for; empty when there is no temporary folder (never one beside the file
    // system's root instead).
    QString scratchFolder();

    // The files all Prefetch files of one collection may name as loaded.
    static constexpr int kLargestLoadedFiles = 200000;

    qint64 hashingBytesLeft = kHashingBudget;
    int loadedFilesLeft = kLargestLoadedFiles;
    bool loadedFilesCut = false; // named once

private:
    std::unique_ptr<QTemporaryDir> scratch;
};

// One place where Windows keeps traces of what ran: a registry key, a folder of trace files, a log.
// It reads only, within its own limits, and says what it could not read.
class TraceSource
{
public:
    virtual ~TraceSource() = default;
    // The source as the table's column shows it, such as "Prefetch".
    virtual QString name() const = 0;
    virtual TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const = 0;
};

// Helpers the sources share.
namespace traces {

// Whether `path` lies below `folder`, both as Windows or local paths, in any letter case.
bool isBelow(const QString &path, const QString &folder);

// The users' own folders, where the player's programs lie: the users' profiles, the roaming and local
// application data, and `windowsFolder`'s Temp; those the system does not know are left out.
QStringList userFolders(const QString &windowsFolder);

// A time as the signs show it: "2026-12-01 09:30:15 UTC".
QString shownTime(const QDateTime &time);

// The services whose work leaves the traces: stopping or disabling one is a sign.
extern const char *const kTraceServices[5];
bool isTraceService(const QString &name);

// A registry key as the signs and the unread list name it: "HKLM\…".
QString registryPlace(HKEY hive, const QString &key);

} // namespace traces

template <typename Parse>
auto TraceFindings::parseTraceFile(const QString &source, const QString &path, qint64 limit, const QString &tooLarge,
                                   Parse parse) -> decltype(parse(QByteArray(), std::declval<QString &>(), nullptr))
{
    QByteArray data;
    QString reason;
    QString detail;
    const platform::ReadEnd end = platform::readWholeFile(path, limit, data, reason);
    decltype(parse(data, reason, &detail)) parsed;
    if (end == platform::ReadEnd::Whole)
        parsed = parse(data, reason, &detail);
    else if (end == platform::ReadEnd::TooLarge)
        reason = tooLarge;
    if (!parsed) {
        notRead.append(QStringLiteral("%1 (%2): %3").arg(source, QDir::toNativeSeparators(path), reason));
        if (!detail.isEmpty())
            addParserError(source, path, detail);
    }
    return parsed;
}
