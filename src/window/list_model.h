// One of the window's three lists: its rows of name and value as the list
// view shows them in the columns "Название" and "Значение". A list judged
// against limits gives a row whose value is beyond its limit a warning
// background; its texts stay as they are.
#pragma once

#include "data/list_rows.h"
#include "data/supply_limits.h"

#include <QAbstractTableModel>
#include <QColor>

#include <optional>
#include <vector>

class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    const CListRows &Rows() const { return m_rows; }
    void SetRows(CListRows rows);
    // None: no row is judged (the day list).
    void SetLimits(std::optional<CLimits> limits);
    bool IsBeyondLimit(int nRow) const;

    static QColor WarningBackground() { return QColor(255, 196, 160); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole = Qt::DisplayRole) const override;

private:
    void JudgeRows();

    CListRows m_rows;
    std::optional<CLimits> m_limits;
    std::vector<bool> m_beyond; // per row, empty when not judged
};
