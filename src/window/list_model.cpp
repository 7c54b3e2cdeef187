#include "window/list_model.h"

#include <QBrush>

void CListModel::SetRows(CListRows rows)
{
    if (rows.size() != m_rows.size()) {
        beginResetModel();
        m_rows = std::move(rows);
        JudgeRows();
        endResetModel();
        return;
    }
    m_rows = std::move(rows);
    JudgeRows();
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 1), {Qt::DisplayRole, Qt::BackgroundRole});
}

void CListModel::SetLimits(std::optional<CLimits> limits)
{
    m_limits = std::move(limits);
    JudgeRows();
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 1), {Qt::BackgroundRole});
}

void CListModel::JudgeRows()
{
    m_beyond.clear();
    if (m_limits)
        m_beyond = RowsBeyondLimits(m_rows, *m_limits);
}

bool CListModel::IsBeyondLimit(int nRow) const
{
    return nRow >= 0 && size_t(nRow) < m_beyond.size() && m_beyond[size_t(nRow)];
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
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    if (nRole == Qt::BackgroundRole)
        return IsBeyondLimit(index.row()) ? QVariant(QBrush(WarningBackground())) : QVariant();
    const SListRow &row = m_rows[size_t(index.row())];
    // The whole name, also where a narrow view would cut it.
    if (nRole == Qt::ToolTipRole)
        return index.column() == 0 ? QVariant(row.strName) : QVariant();
    if (nRole != Qt::DisplayRole)
        return QVariant();
    return index.column() == 0 ? row.strName : row.strValue;
}

QVariant CListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole)
        return QVariant();
    return nSection == 0 ? QStringLiteral("Название") : QStringLiteral("Значение");
}
