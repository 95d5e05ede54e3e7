// CTabCtrl: a tab control in the Windows manner. The item strip runs along the top; the
// pages are ordinary children of the control that their owner places in the area below
// the items (the control does not manage them). Selecting an item with the mouse or
// keyboard raises SelChange; SetCurSel by itself raises nothing.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QTabBar;

class CTabCtrl final : public QWidget
{
    Q_OBJECT

public:
    explicit CTabCtrl(QWidget* parent);

    // Inserts an item with `text` before `index`; returns its index.
    int InsertItem(int index, const QString& text);
    int GetItemCount() const;
    // -1 when no item is selected.
    int GetCurSel() const;
    // Selects `index` without raising SelChange; returns the previous selection.
    int SetCurSel(int index);
    // The item's rectangle in the control's coordinates; empty for a bad index.
    QRect GetItemRect(int index) const;
    QString GetItemText(int index) const;

    // Raises SelChange as a user's selection does, for callers that select an item and
    // want the owner to react the same way.
    void NotifySelChange();

signals:
    void SelChange();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabBar* m_bar;
    bool m_selecting = false; // SetCurSel in progress: the bar's change is not the user's
};
