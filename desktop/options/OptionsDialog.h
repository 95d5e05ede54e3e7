// COptionsDialog: the second tab's page ("高级设置").
//
// Each time the page is shown it lists the machine's fixed volumes, of every file system,
// by their first mount path in a sorted list; each time it is hidden the list is emptied.
// The check boxes and the advanced fields start with the values the volume discovery
// writes and keep whatever the user enters for the rest of the run; nothing reads them
// and nothing is saved. "应用(&A)" shows one box per listed volume with its mount path;
// "取消(&C)" returns the main window to its first tab.
//
// The controls sit where the page's template puts them, in dialog units of the page's
// font; the owner sizes and places the page as a whole.
#pragma once

#include "DiskVolumeInfo.h"

#include <QHash>
#include <QWidget>

class QListWidget;

class COptionsDialog final : public QWidget
{
    Q_OBJECT

public:
    // `owner` is the main window; its tab control is where Cancel returns.
    explicit COptionsDialog(QWidget* owner);

    // Makes the page a hidden child of `parent` (the tab control) with its controls.
    // `templateId` is 108.
    bool Create(unsigned templateId, QWidget* parent);

    // Shows and hides the page as ShowWindow does: a change of state fills or clears the
    // volume list (OnShowWindow).
    void setVisible(bool visible) override;

    // The listed volumes, keyed by list index: each record stays with its list item.
    const QHash<int, CDiskVolumeInfo>& VolumeMap() const { return m_volumeMap; }

private:
    void OnInitDialog();
    void CreateControls(QWidget* content);
    void OnCtlColor();
    void OnShowWindow(bool show);
    void FillVolumeList();
    void AddVolume(const CDiskVolumeInfo& volume);
    void OnBnClickedApply();
    void OnBnClickedCancel();

    QWidget* m_owner;
    QHash<int, CDiskVolumeInfo> m_volumeMap;
    QListWidget* m_volumeList = nullptr;
};
