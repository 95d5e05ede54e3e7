#include "OptionsDialog.h"

#include "DialogUnits.h"
#include "TabCtrl.h"
#include "WideText.h"

#include "platform/LastError.h"
#include "platform/MessageBox.h"
#include "platform/Volume.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace
{
// The page's template, in dialog units: x, y, width, height.
constexpr QRect kVolumesLabel(7, 7, 145, 8);
constexpr QRect kVolumeList(7, 21, 239, 151);
constexpr QRect kQuickSearchCheck(7, 180, 64, 10);    // 1008
constexpr QRect kMonitorChangesCheck(7, 200, 64, 10); // 1009
constexpr QRect kMoreSettingsCheck(7, 220, 64, 10);   // 1010
constexpr QRect kAdvancedGroup(7, 240, 239, 82);
constexpr QRect kUsnMaximumSizeLabel(14, 258, 93, 8);
constexpr QRect kUsnAllocationDeltaLabel(14, 278, 93, 8);
constexpr QRect kInitHashLabel(14, 298, 93, 8);
constexpr QRect kUsnMaximumSizeEdit(110, 255, 60, 14);     // 1015
constexpr QRect kUsnAllocationDeltaEdit(110, 275, 60, 14); // 1011
constexpr QRect kInitHashEdit(110, 295, 60, 14);           // 1012
constexpr QRect kUsnMaximumSizeUnit(175, 258, 33, 8);
constexpr QRect kUsnAllocationDeltaUnit(175, 278, 33, 8);
constexpr QRect kApplyButton(7, 330, 50, 14);   // 1013
constexpr QRect kCancelButton(67, 330, 50, 14); // 1014

// Copies the first of the volume's mount paths into `first` (empty when it has none).
// A list longer than MAX_PATH units is read again into a buffer of the length asked for,
// so a volume with many mount points is listed like any other.
bool ReadFirstMountPath(LPCWSTR volumeName, WCHAR (&first)[MAX_PATH + 1])
{
    std::vector<WCHAR> paths(MAX_PATH);
    DWORD length = 0;
    while (!GetVolumePathNamesForVolumeNameW(volumeName, paths.data(), static_cast<DWORD>(paths.size()),
                                             &length))
    {
        if (GetLastError() != ERROR_MORE_DATA || length <= paths.size())
            return false;
        paths.resize(length);
    }
    const auto end =
        std::find(paths.begin(), paths.begin() + std::min<size_t>(paths.size(), MAX_PATH), u'\0');
    std::fill(std::copy(paths.begin(), end, first), std::end(first), u'\0');
    return true;
}

void CopyText(LPCWSTR text, WCHAR (&target)[MAX_PATH + 1])
{
    int i = 0;
    for (; i < MAX_PATH && text[i] != u'\0'; ++i)
        target[i] = text[i];
    target[i] = u'\0';
}
} // namespace

COptionsDialog::COptionsDialog(QWidget* owner) : QWidget(nullptr), m_owner(owner) {}

bool COptionsDialog::Create(unsigned /*templateId*/, QWidget* parent)
{
    setParent(parent);
    setFont(SongDialogFont());
    // The controls reach further down than the page area of a window at its initial
    // size; the page scrolls rather than cut off the fields and buttons.
    auto* scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    CreateControls(content);
    const QSize margin =
        DialogUnitsToPixels(QSize(kVolumesLabel.x(), kVolumesLabel.y()), DialogBaseUnits(font()));
    const QRect used = content->childrenRect();
    content->resize(used.x() + used.width() + margin.width(), used.y() + used.height() + margin.height());
    scroller->setWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroller);
    OnInitDialog();
    return true;
}

void COptionsDialog::CreateControls(QWidget* content)
{
    const QSize base = DialogBaseUnits(font());
    const auto place = [&](QWidget* control, const QRect& dialogUnits, const char* name)
    {
        control->setGeometry(DialogUnitsToPixels(dialogUnits, base));
        control->setObjectName(QLatin1String(name));
    };
    const auto label = [&](const QString& text, const QRect& dialogUnits, Qt::Alignment alignment)
    {
        auto* control = new QLabel(text, content);
        control->setAlignment(alignment | Qt::AlignVCenter);
        control->setGeometry(DialogUnitsToPixels(dialogUnits, base));
    };

    // The group box first, so that the fields inside it lie above it.
    place(new QGroupBox(QStringLiteral("高级设置(供有一定技术经验的专业用户使用)"), content), kAdvancedGroup,
          "advancedGroup");
    label(QStringLiteral("选择需要加入快速搜索功能的磁盘(卷): "), kVolumesLabel, Qt::AlignLeft);
    m_volumeList = new QListWidget(content);
    m_volumeList->setSortingEnabled(true);
    place(m_volumeList, kVolumeList, "volumeList");
    place(new QCheckBox(QStringLiteral("加入快速搜索"), content), kQuickSearchCheck, "quickSearchCheck");
    place(new QCheckBox(QStringLiteral("实时更新监控"), content), kMonitorChangesCheck,
          "monitorChangesCheck");
    place(new QCheckBox(QStringLiteral("更多设置"), content), kMoreSettingsCheck, "moreSettingsCheck");
    label(QStringLiteral("USN 日志文件大小: "), kUsnMaximumSizeLabel, Qt::AlignRight);
    label(QStringLiteral("USN 日志文件增量: "), kUsnAllocationDeltaLabel, Qt::AlignRight);
    place(new QLineEdit(content), kUsnMaximumSizeEdit, "usnMaximumSizeEdit");
    place(new QLineEdit(content), kUsnAllocationDeltaEdit, "usnAllocationDeltaEdit");
    label(QStringLiteral("Hash 查找表初始元素数: "), kInitHashLabel, Qt::AlignRight);
    place(new QLineEdit(content), kInitHashEdit, "initHashEdit");
    auto* apply = new QPushButton(QStringLiteral("应用(&A)"), content);
    place(apply, kApplyButton, "applyButton");
    auto* cancel = new QPushButton(QStringLiteral("取消(&C)"), content);
    place(cancel, kCancelButton, "cancelButton");
    label(QStringLiteral("KB"), kUsnMaximumSizeUnit, Qt::AlignLeft);
    label(QStringLiteral("KB"), kUsnAllocationDeltaUnit, Qt::AlignLeft);

    connect(apply, &QPushButton::clicked, this, &COptionsDialog::OnBnClickedApply);
    connect(cancel, &QPushButton::clicked, this, &COptionsDialog::OnBnClickedCancel);
}

void COptionsDialog::OnInitDialog()
{
    // The values the volume discovery writes into every volume section.
    findChild<QLineEdit*>(QStringLiteral("usnMaximumSizeEdit"))->setText(QStringLiteral("8192"));
    findChild<QLineEdit*>(QStringLiteral("usnAllocationDeltaEdit"))->setText(QStringLiteral("1024"));
    findChild<QLineEdit*>(QStringLiteral("initHashEdit"))->setText(QStringLiteral("100000"));
    findChild<QCheckBox*>(QStringLiteral("moreSettingsCheck"))->setChecked(true);
    findChild<QCheckBox*>(QStringLiteral("quickSearchCheck"))->setChecked(true);
    OnCtlColor();
}

// The page and its static controls (labels, check boxes, group box) show the window
// colour; edits, the list and the buttons keep their own.
void COptionsDialog::OnCtlColor()
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Base));
    setPalette(colours);
    setAutoFillBackground(true);
}

void COptionsDialog::setVisible(bool visible)
{
    const bool changes = isHidden() == visible;
    QWidget::setVisible(visible);
    if (changes)
        OnShowWindow(visible);
}

void COptionsDialog::OnShowWindow(bool show)
{
    if (show)
    {
        FillVolumeList();
        return;
    }
    m_volumeList->clear();
    m_volumeMap.clear();
}

void COptionsDialog::FillVolumeList()
{
    WCHAR volumeName[MAX_PATH];
    const HANDLE search = FindFirstVolumeW(volumeName, MAX_PATH);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (GetDriveTypeW(volumeName) != DRIVE_FIXED)
                continue;
            CDiskVolumeInfo volume;
            WCHAR label[MAX_PATH];
            DWORD maximumComponentLength = 0;
            DWORD fileSystemFlags = 0;
            // A volume that cannot be read ends the list: the ones before it stay.
            if (!GetVolumeInformationW(volumeName, label, MAX_PATH, &volume.dwSerialNumber,
                                       &maximumComponentLength, &fileSystemFlags, volume.szFileSystemName,
                                       MAX_PATH))
                break;
            if (!ReadFirstMountPath(volumeName, volume.szPathName))
                break;
            CopyText(volumeName, volume.szVolumeName);
            AddVolume(volume);
        } while (FindNextVolumeW(search, volumeName, MAX_PATH));
        FindVolumeClose(search);
    }
    if (m_volumeList->count() > 0)
    {
        const QSignalBlocker quiet(m_volumeList);
        m_volumeList->setCurrentRow(0);
    }
}

// The list sorts its items, so a new item may push earlier ones down: their records are
// re-keyed with them, and every listed volume keeps exactly one record.
void COptionsDialog::AddVolume(const CDiskVolumeInfo& volume)
{
    auto* item = new QListWidgetItem(FromWide(volume.szPathName));
    m_volumeList->addItem(item);
    const int index = m_volumeList->row(item);
    QHash<int, CDiskVolumeInfo> moved;
    for (auto it = m_volumeMap.cbegin(); it != m_volumeMap.cend(); ++it)
        moved.insert(it.key() >= index ? it.key() + 1 : it.key(), it.value());
    moved.insert(index, volume);
    m_volumeMap.swap(moved);
}

void COptionsDialog::OnBnClickedApply()
{
    // One box per listed volume, in list order.
    for (int index = 0; index < m_volumeList->count(); ++index)
    {
        const auto record = m_volumeMap.constFind(index);
        if (record != m_volumeMap.cend())
            AfxMessageBox(record->szPathName, MB_OK);
    }
}

void COptionsDialog::OnBnClickedCancel()
{
    auto* tabs = m_owner != nullptr ? m_owner->findChild<CTabCtrl*>() : nullptr;
    if (tabs == nullptr)
        return;
    tabs->SetCurSel(0);
    // The owner switches pages as for a user's choice, which hides this page.
    tabs->NotifySelChange();
}
