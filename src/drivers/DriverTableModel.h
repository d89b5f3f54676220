#pragma once

#include "app/RowFilterModel.h"
#include "drivers/DriverTypes.h"

#include <QAbstractTableModel>

// The rows of a drivers check as a table: driver, path, signature, SHA-256, list entry and state; a
// row the check judged takes the colour of its worst line. Texts from the machine are plain display
// text, never markup.
class DriverTableModel : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY(DriverTableModel)

public:
    enum Column { NameColumn, PathColumn, SignatureColumn, Sha256Column, ListColumn, StateColumn, ColumnCount };
    static constexpr int FlaggedRole = Qt::UserRole + 1;

    explicit DriverTableModel(QObject *parent = nullptr);

    void setRows(QVector<DriverRow> rows);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    static QString details(const DriverRow &row);

    QVector<DriverRow> rows;
};

// The drivers' rows filtered as every table is, "only matches" keeping the flagged ones.
class DriverFilterModel : public RowFilterModel
{
public:
    explicit DriverFilterModel(QObject *parent = nullptr) : RowFilterModel(DriverTableModel::FlaggedRole, parent) {}
};
