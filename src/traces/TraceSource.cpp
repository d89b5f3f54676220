#include "traces/TraceSource.h"

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
