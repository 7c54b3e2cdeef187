// One of the window's three lists: its rows of name and value as the list
// view shows them in the columns "Название" and "Значение".
#pragma once

#include "list_rows.h"

#include <QAbstractTableModel>

class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    const CListRows &Rows() const { return m_rows; }
    void SetRows(CListRows rows);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole = Qt::DisplayRole) const override;

private:
    CListRows m_rows;
};
