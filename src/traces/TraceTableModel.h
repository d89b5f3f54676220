#pragma once

#include "app/RowFilterModel.h"
#include "traces/ExecutionTraces.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

// The rows of a collection as a table: time, program, source, state, rule and medium; a matching row takes
// its rule's colour. Texts from the machine are plain display text, never markup.
class TraceTableModel : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY(TraceTableModel)

public:
    enum Column { TimeColumn, ProgramColumn, SourceColumn, StateColumn, RuleColumn, MediumColumn, ColumnCount };
    // The time as milliseconds since 1970 (or the lowest number when none), for sorting.
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int MatchedRole = Qt::UserRole + 2;

    explicit TraceTableModel(QObject *parent = nullptr);

    void setRows(QVector<TraceRow> rows);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // The program cell's tooltip: the path, its digest and what a Prefetch file keeps of the runs.
    static QString programDetails(const TraceRow &row);

    QVector<TraceRow> rows;
};

// The rows filtered as every table is (RowFilterModel, the matches flagged), sorted by time with the
// rows that have none last in either order.
class TraceFilterModel : public RowFilterModel
{
    Q_OBJECT
    Q_DISABLE_COPY(TraceFilterModel)

public:
    explicit TraceFilterModel(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};
