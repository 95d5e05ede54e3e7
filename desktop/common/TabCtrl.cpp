#include "TabCtrl.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

CTabCtrl::CTabCtrl(QWidget* parent) : QWidget(parent), m_bar(new QTabBar(this))
{
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    m_bar->move(2, 0);
    connect(m_bar, &QTabBar::currentChanged, this,
            [this]
            {
                if (!m_selecting)
                    emit SelChange();
            });
}

int CTabCtrl::InsertItem(int index, const QString& text)
{
    // The first item becomes the selection; that is no user's choice.
    m_selecting = true;
    const int inserted = m_bar->insertTab(index, text);
    m_selecting = false;
    m_bar->resize(m_bar->sizeHint());
    return inserted;
}

int CTabCtrl::GetItemCount() const
{
    return m_bar->count();
}

int CTabCtrl::GetCurSel() const
{
    return m_bar->currentIndex();
}

int CTabCtrl::SetCurSel(int index)
{
    const int previous = m_bar->currentIndex();
    if (index < 0 || index >= m_bar->count())
        return -1;
    m_selecting = true;
    m_bar->setCurrentIndex(index);
    m_selecting = false;
    return previous;
}

QRect CTabCtrl::GetItemRect(int index) const
{
    const QRect item = m_bar->tabRect(index);
    return item.isValid() ? item.translated(m_bar->pos()) : QRect();
}

QString CTabCtrl::GetItemText(int index) const
{
    return m_bar->tabText(index);
}

void CTabCtrl::NotifySelChange()
{
    emit SelChange();
}

void CTabCtrl::paintEvent(QPaintEvent*)
{
    // The pane below the items, drawn as the style draws a tab widget's frame.
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = m_bar->size();
    frame.tabBarRect = m_bar->geometry();
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    frame.rect = rect().adjusted(0, m_bar->height() - overlap, 0, 0);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void CTabCtrl::resizeEvent(QResizeEvent*)
{
    m_bar->resize(qMin(m_bar->sizeHint().width(), qMax(0, width() - 4)), m_bar->sizeHint().height());
}
