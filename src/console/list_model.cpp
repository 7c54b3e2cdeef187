#include "list_model.h"

void CListModel::SetRows(CListRows rows)
{
    if (rows.size() != m_rows.size()) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    m_rows = std::move(rows);
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 1), {Qt::DisplayRole});
}

int CListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant CListModel::data(const QModelIndex &index, int nRole) const
{
    if (nRole != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    const SListRow &row = m_rows[size_t(index.row())];
    return index.column() == 0 ? row.strName : row.strValue;
}

QVariant CListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole)
        return QVariant();
    return nSection == 0 ? QStringLiteral("Название") : QStringLiteral("Значение");
}
