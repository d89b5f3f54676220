#include "app/RowFilterModel.h"

RowFilterModel::RowFilterModel(int flagRole, QObject *parent) : QSortFilterProxyModel(parent), flagRole(flagRole) {}

void RowFilterModel::setText(const QString &newText)
{
    text = newText;
    invalidateFilter();
}

void RowFilterModel::setOnlyMatches(bool only)
{
    onlyMatches = only;
    invalidateFilter();
}

bool RowFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *model = sourceModel();
    if (onlyMatches && !model->index(sourceRow, 0, sourceParent).data(flagRole).toBool())
        return false;
    if (text.isEmpty())
        return true;
    for (int column = 0; column < model->columnCount(sourceParent); ++column) {
        if (model->index(sourceRow, column, sourceParent).data().toString().contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
