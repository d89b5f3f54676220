#include "traces/TraceTableModel.h"

#include "traces/AmcacheReader.h"

#include <QColor>

#include <limits>

TraceTableModel::TraceTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void TraceTableModel::setRows(QVector<TraceRow> newRows)
{
    beginResetModel();
    rows = std::move(newRows);
    endResetModel();
}

int TraceTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int TraceTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TraceTableModel::programDetails(const TraceRow &row)
{
    QStringList lines{row.path};
    if (!row.sha256.isEmpty())
        lines.append(QStringLiteral("SHA-256: ") + row.sha256);
    if (!row.sha1.isEmpty())
        lines.append(tr("SHA-1 по Amcache: %1").arg(row.sha1) +
                     (!amcacheSha1IsWhole(row.recordedSize) ? tr(" (первых 30 МиБ файла)") : QString()));
    lines += row.recordedFacts;
    if (row.runCount > 0)
        lines.append(tr("Запусков: %1").arg(row.runCount));
    QStringList earlier;
    for (const QDateTime &time : row.earlierRuns)
        earlier.append(time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!earlier.isEmpty())
        lines.append(tr("Ранее (UTC): %1").arg(earlier.join(QStringLiteral(", "))));
    if (!row.loaded.isEmpty())
        lines.append(tr("Загружено файлов: %1").arg(row.loaded.size()));
    if (row.timeKind == TraceTimeKind::Modified)
        lines.append(tr("Время — изменение файла по кэшу, не запуск"));
    else if (row.timeKind == TraceTimeKind::Recorded)
        lines.append(tr("Время — запись файла в Amcache, не запуск: Windows вносит и файлы установленных программ"));
    if (row.cachePosition >= 0)
        lines.append(tr("Место в кэше: %1 (0 — самая новая запись)").arg(row.cachePosition));
    static const char *const kDeviceTimes[] = {"Первая установка", "Последняя установка", "Последнее подключение",
                                               "Последнее отключение"};
    for (int i = 0; i < row.deviceTimes.size() && i < 4; ++i) {
        if (row.deviceTimes.at(i).isValid())
            lines.append(QStringLiteral("%1 (UTC): %2")
                             .arg(tr(kDeviceTimes[i]),
                                  row.deviceTimes.at(i).toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    }
    return lines.size() > 1 ? lines.join(QLatin1Char('\n')) : QString();
}

QVariant TraceTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const TraceRow &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return row.time.isValid() ? row.time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
        case ProgramColumn:
            return row.path;
        case SourceColumn:
            return row.source;
        case StateColumn:
            return row.renamedTo.isEmpty() ? traceStateText(row.state)
                                           : traceStateText(row.state) + QStringLiteral(" → ") + row.renamedTo;
        case RuleColumn:
            if (!row.matched && !row.threat.isEmpty())
                return row.threat;
            return row.matchedFile.isEmpty() ? row.ruleDescription
                                             : tr("%1 (загружен %2)").arg(row.ruleDescription, row.matchedFile);
        case MediumColumn:
            return traceMediumText(row.medium);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == ProgramColumn)
            return programDetails(row);
        break;
    case Qt::ForegroundRole:
        if (row.matched)
            return QColor(row.ruleLevel != 0 ? Qt::red : QColor(0xff, 0xa5, 0x00));
        // What Defender caught asks for a look: its names are broad ("HackTool"), no verdict of ours.
        if (!row.threat.isEmpty())
            return QColor(0xff, 0xa5, 0x00);
        break;
    case SortRole:
        if (index.column() == TimeColumn)
            return row.time.isValid() ? row.time.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        return data(index, Qt::DisplayRole);
    case MatchedRole:
        return row.matched || !row.threat.isEmpty();
    }
    return QVariant();
}

QVariant TraceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Время (UTC)");
    case ProgramColumn:
        return tr("Программа");
    case SourceColumn:
        return tr("Источник");
    case StateColumn:
        return tr("Состояние");
    case RuleColumn:
        return tr("Правило");
    case MediumColumn:
        return tr("Носитель");
    }
    return QVariant();
}

TraceFilterModel::TraceFilterModel(QObject *parent) : RowFilterModel(TraceTableModel::MatchedRole, parent)
{
    setSortRole(TraceTableModel::SortRole);
}

bool TraceFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (left.column() == TraceTableModel::TimeColumn) {
        const qint64 a = left.data(TraceTableModel::SortRole).toLongLong();
        const qint64 b = right.data(TraceTableModel::SortRole).toLongLong();
        constexpr qint64 none = std::numeric_limits<qint64>::min();
        // Rows without a time stay at the bottom whichever way the column is sorted.
        if ((a == none) != (b == none))
            return (a == none) == (sortOrder() == Qt::DescendingOrder);
        return a < b;
    }
    return QString::localeAwareCompare(left.data(TraceTableModel::SortRole).toString(),
                                       right.data(TraceTableModel::SortRole).toString()) < 0;
}
