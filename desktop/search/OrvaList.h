// COrvaList: the search page's result view, a virtual list.
//
// The view stores no rows: its model holds only the item count and asks the search page
// for every cell it paints (CSearchDialog::OnGetDispInfo), so a result of any size costs
// nothing until its rows are shown.
#pragma once

#include "platform/WinTypes.h"

#include <QAbstractTableModel>
#include <QTableView>

class CSearchDialog;

class COrvaListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColumnName,
        ColumnPath,
        ColumnSize,
        ColumnDate,
        ColumnCount
    };

    explicit COrvaListModel(CSearchDialog* page, QObject* parent);

    // Takes `count` rows (the view forgets every row it knew) and repaints them.
    void SetItemCount(DWORD count);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    CSearchDialog* m_page;
    int m_itemCount = 0;
};

class COrvaList final : public QTableView
{
    Q_OBJECT

public:
    explicit COrvaList(QWidget* parent);
};
