#include "traces/TraceSource.h"

#include "platform/EventLog.h"
#include "platform/System.h"
#include "traces/TraceDecoders.h"

#include <QLoggingCategory>

#include <algorithm>
#include <iterator>

Q_LOGGING_CATEGORY(lcTraces, "vigilor.traces", QtWarningMsg)

TraceRow &TraceFindings::addRow(const QString &source, const QString &path, const QDateTime &time)
{
    TraceRow row;
    row.time = time;
    row.path = path;
    row.fileName = traces::programFileName(path);
    row.source = source;
    rows.append(row);
    return rows.last();
}

QFileInfoList TraceFindings::listTraceFiles(const QString &source, const QString &folder, const QString &filter)
{
    bool cut = false;
    const QFileInfoList listed = platform::listFiles(folder, {filter}, cut);
    if (cut)
        notRead.append(QObject::tr("%1 (%2): больше %3 файлов, прочитаны первые")
                           .arg(source, QDir::toNativeSeparators(folder))
                           .arg(platform::kLargestFolderListing));
    return platform::distinctFiles(listed, filesListed);
}

void TraceFindings::addParserError(const QString &source, const QString &path, const QString &detail)
{
    const QString line = QStringLiteral("%1 (%2): %3").arg(source, QDir::toNativeSeparators(path), detail);
    qCWarning(lcTraces).noquote() << line;
    parserErrors.append(line);
}

TraceLimits::TraceLimits() = default;

TraceLimits::~TraceLimits() = default;

QString TraceLimits::scratchFolder()
{
    if (!scratch) {
        const QString temporary = platform::temporaryFolder();
        if (temporary.isEmpty())
            return QString();
        scratch = std::make_unique<QTemporaryDir>(temporary + QStringLiteral("/vigilor-traces-XXXXXX"));
    }
    return scratch->isValid() ? scratch->path() : QString();
}

namespace traces {

bool isBelow(const QString &path, const QString &folder)
{
    const auto normal = [](const QString &text) {
        return QDir::cleanPath(QString(text).replace(QLatin1Char('\\'), QLatin1Char('/'))).toLower();
    };
    const QString base = normal(folder);
    return !base.isEmpty() && normal(path).startsWith(base + QLatin1Char('/'));
}

QStringList userFolders(const QString &windowsFolder)
{
    QStringList folders;
    for (const char *guid : {platform::knownFolder::kUserProfiles, platform::knownFolder::kRoamingAppData,
                             platform::knownFolder::kLocalAppData})
        folders.append(platform::knownFolderPath(QLatin1String(guid)));
    if (!windowsFolder.isEmpty())
        folders.append(QDir::toNativeSeparators(windowsFolder + QStringLiteral("/Temp")));
    folders.removeAll(QString());
    return folders;
}

QString shownTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

const char *const kTraceServices[5] = {"SysMain", "PcaSvc", "DPS", "EventLog", "bam"};

bool isTraceService(const QString &name)
{
    return std::any_of(std::begin(kTraceServices), std::end(kTraceServices), [&name](const char *service) {
        return name.compare(QLatin1String(service), Qt::CaseInsensitive) == 0;
    });
}

QString registryPlace(HKEY hive, const QString &key)
{
    return platform::registryHiveName(hive) + QLatin1Char('\\') + key;
}

} // namespace traces

QVector<LoggedEvent> TraceFindings::readLogEvents(const QString &source, const QString &channel,
                                                  const QVector<int> &ids, int days, const QDateTime &now)
{
    const QString shown = QObject::tr("Журнал событий %1").arg(channel);
    const platform::EventLogRead read = platform::readEventLog(channel, ids, days);
    if (read.access == platform::EventLogRead::Access::Denied)
        unreadable.append(shown);
    if (read.access != platform::EventLogRead::Access::Read) {
        if (read.access == platform::EventLogRead::Access::Failed)
            notRead.append(shown + QStringLiteral(": ") + read.error);
        return {};
    }
    if (read.cut)
        notRead.append(shown + QObject::tr(": прочитаны последние %1 событий").arg(platform::kLargestEventRead));
    QString error;
    QString detail;
    QVector<LoggedEvent> events = parseEvents(read.xml, error, &detail);
    if (!error.isEmpty())
        notRead.append(shown + QStringLiteral(": ") + error);
    if (!detail.isEmpty())
        addParserError(source, channel, detail);
    // The window is the same whoever read the log: the live query asks for it, a file may not.
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const LoggedEvent &event) {
                                    const qint64 age = event.time.isValid() ? event.time.secsTo(now) : 0;
                                    return event.channel.compare(channel, Qt::CaseInsensitive) != 0 ||
                                           !ids.contains(event.id) || age > qint64(days) * 86400;
                                }),
                 events.end());
    return events;
}
