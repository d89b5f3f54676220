#pragma once

#include "drivers/DriverTypes.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

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

// Shows the rows whose any column holds the filter text (any letter case), optionally only the ones
// judged red or orange or found on the list.
class DriverFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY(DriverFilterModel)

public:
    explicit DriverFilterModel(QObject *parent = nullptr);

    void setText(const QString &text);
    void setOnlyMatches(bool only);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString text;
    bool onlyMatches = false;
};
