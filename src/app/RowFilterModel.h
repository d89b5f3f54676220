#pragma once

#include <QSortFilterProxyModel>

// Shows the rows whose any column holds the filter text (any letter case), optionally only those
// whose `flagRole` is true (the matches, the flagged drivers).
class RowFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY(RowFilterModel)

public:
    explicit RowFilterModel(int flagRole, QObject *parent = nullptr);

    void setText(const QString &text);
    void setOnlyMatches(bool only);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    const int flagRole;
    QString text;
    bool onlyMatches = false;
};
