#include "OrvaList.h"

#include "SearchDialog.h"

#include <QHeaderView>

#include <algorithm>
#include <climits>

COrvaListModel::COrvaListModel(CSearchDialog* page, QObject* parent)
    : QAbstractTableModel(parent), m_page(page)
{
}

void COrvaListModel::SetItemCount(DWORD count)
{
    beginResetModel();
    m_itemCount = static_cast<int>(std::min<DWORD>(count, INT_MAX));
    endResetModel();
}

int COrvaListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_itemCount;
}

int COrvaListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant COrvaListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    return m_page->OnGetDispInfo(index.row(), index.column(), role);
}

QVariant COrvaListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (section)
    {
    case ColumnName:
        return QStringLiteral("名称");
    case ColumnPath:
        return QStringLiteral("所在路径");
    case ColumnSize:
        return QStringLiteral("大小");
    case ColumnDate:
        return QStringLiteral("更改日期");
    default:
        return {};
    }
}

COrvaList::COrvaList(QWidget* parent) : QTableView(parent)
{
    // A report list: whole rows, no grid, no row headers, no editing, no sorting. Fixed
    // row heights keep a view of millions of rows as cheap as one of ten.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setSortingEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
}
