#include "drivers/DriverTableModel.h"

#include <QColor>

DriverTableModel::DriverTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void DriverTableModel::setRows(QVector<DriverRow> newRows)
{
    beginResetModel();
    rows = std::move(newRows);
    endResetModel();
}

int DriverTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int DriverTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DriverTableModel::details(const DriverRow &row)
{
    QStringList lines{row.recordedPath};
    if (!row.service.isEmpty())
        lines.append(tr("Служба: %1").arg(row.service));
    if (!row.sha1.isEmpty())
        lines.append(QStringLiteral("SHA-1: ") + row.sha1);
    if (!row.authenticode.isEmpty())
        lines.append(QStringLiteral("Authenticode SHA-256: ") + row.authenticode);
    if (!row.signatureReason.isEmpty())
        lines.append(tr("Подпись: %1").arg(row.signatureReason));
    if (!row.readProblem.isEmpty())
        lines.append(tr("Файл: %1").arg(row.readProblem));
    return lines.join(QLatin1Char('\n'));
}

QVariant DriverTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const DriverRow &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return row.name;
        case PathColumn:
            return row.path;
        case SignatureColumn:
            return signatureText(row);
        case Sha256Column:
            return row.sha256;
        case ListColumn:
            if (row.listEntry.isEmpty())
                return QString();
            return row.listedByName ? tr("%1 (по имени)").arg(row.listEntry) : row.listEntry;
        case StateColumn:
            return driverStateText(row.state);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == NameColumn || index.column() == PathColumn)
            return details(row);
        break;
    case Qt::ForegroundRole:
        if (row.red)
            return QColor(Qt::red);
        if (row.orange)
            return QColor(0xff, 0xa5, 0x00);
        break;
    case FlaggedRole:
        return row.red || row.orange || !row.listEntry.isEmpty();
    }
    return QVariant();
}

QVariant DriverTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return tr("Драйвер");
    case PathColumn:
        return tr("Путь");
    case SignatureColumn:
        return tr("Подпись");
    case Sha256Column:
        return QStringLiteral("SHA-256");
    case ListColumn:
        return tr("Список");
    case StateColumn:
        return tr("Состояние");
    }
    return QVariant();
}
