#include "BoxRecorder.h"
#include "ImageBuilder.h"
#include "OptionsDialog.h"
#include "OrvaDesktopDlg.h"
#include "ScratchFolder.h"
#include "TabCtrl.h"

#include "platform/DriveMap.h"

#include "platform/testing/ScriptedVolume.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <memory>

using orva::platform::testing::ScriptedVolume;

namespace
{
ScriptedVolume Scripted(char letter, const char16_t* fileSystem, UINT driveType)
{
    ScriptedVolume volume;
    volume.letter = letter;
    volume.fileSystem = fileSystem;
    volume.driveType = driveType;
    return volume;
}

QStringList Items(const QListWidget* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->item(i)->text());
    return items;
}
} // namespace

// The settings page inside a started main window whose settings file already lists a
// volume (no first-run question), with scripted volumes: fixed NTFS on T, fixed FAT32 on
// D, an NTFS optical drive on R and fixed NTFS on C, enumerated in that order after the
// machine's own.
class OptionsPageTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_folder = std::make_unique<ScratchFolder>();
        m_folder->SetVolumeCount("1");
        for (const auto& volume : {Scripted('T', u"NTFS", 3), Scripted('D', u"FAT32", 3),
                                   Scripted('R', u"NTFS", 5), Scripted('C', u"NTFS", 3)})
            orva::platform::testing::AddScriptedVolume(volume);
        m_window = std::make_unique<COrvaDesktopDlg>();
        m_window->OnInitDialog();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_page = static_cast<COptionsDialog*>(m_window->Page(1));
        m_list = m_page->findChild<QListWidget*>(QStringLiteral("volumeList"));
        QVERIFY(m_list != nullptr);
    }
    void cleanup()
    {
        m_window.reset();
        orva::platform::testing::ClearScriptedVolumes();
        m_folder.reset();
    }

    void initialTextsAndCheckStates()
    {
        const auto check = [&](const char* name)
        { return m_page->findChild<QCheckBox*>(QLatin1String(name)); };
        const auto edit = [&](const char* name)
        { return m_page->findChild<QLineEdit*>(QLatin1String(name)); };
        QCOMPARE(check("quickSearchCheck")->text(), QStringLiteral("加入快速搜索"));
        QCOMPARE(check("monitorChangesCheck")->text(), QStringLiteral("实时更新监控"));
        QCOMPARE(check("moreSettingsCheck")->text(), QStringLiteral("更多设置"));
        QVERIFY(check("quickSearchCheck")->isChecked());
        QVERIFY(!check("monitorChangesCheck")->isChecked());
        QVERIFY(check("moreSettingsCheck")->isChecked());
        QCOMPARE(edit("usnMaximumSizeEdit")->text(), QStringLiteral("8192"));
        QCOMPARE(edit("usnAllocationDeltaEdit")->text(), QStringLiteral("1024"));
        QCOMPARE(edit("initHashEdit")->text(), QStringLiteral("100000"));
        QCOMPARE(m_page->findChild<QGroupBox*>()->title(),
                 QStringLiteral("高级设置(供有一定技术经验的专业用户使用)"));
        QCOMPARE(m_page->findChild<QPushButton*>(QStringLiteral("applyButton"))->text(),
                 QStringLiteral("应用(&A)"));
        QCOMPARE(m_page->findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(),
                 QStringLiteral("取消(&C)"));

        QStringList labels;
        for (const QLabel* label : m_page->findChildren<QLabel*>())
            labels.append(label->text());
        for (const char* text : {"选择需要加入快速搜索功能的磁盘(卷): ", "USN 日志文件大小: ",
                                 "USN 日志文件增量: ", "Hash 查找表初始元素数: "})
            QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
        QCOMPARE(labels.count(QStringLiteral("KB")), 2);

        // The page shows the window colour; the controls drawn on it do not paint over it.
        QCOMPARE(m_page->palette().color(QPalette::Window), m_page->palette().color(QPalette::Base));
        QVERIFY(m_page->autoFillBackground());
        QVERIFY(!check("quickSearchCheck")->autoFillBackground());
    }

    // Each showing lists the fixed volumes afresh; hiding empties the list.
    void listRebuiltOnEveryShowingAndEmptiedOnHiding()
    {
        QCOMPARE(m_list->count(), 0);
        SelectTab(1);
        QStringList first = Items(m_list);
        QVERIFY(first.contains(QStringLiteral("C:\\")));
        QVERIFY(first.contains(QStringLiteral("D:\\")));
        QVERIFY(first.contains(QStringLiteral("T:\\")));
        QVERIFY(!first.contains(QStringLiteral("R:\\")));
        QStringList unique = first;
        QCOMPARE(unique.removeDuplicates(), 0);
        QStringList sorted = first;
        sorted.sort();
        QCOMPARE(first, sorted);
        QCOMPARE(m_list->currentRow(), 0);
        QCOMPARE(m_page->VolumeMap().size(), first.size());

        SelectTab(0);
        QCOMPARE(m_list->count(), 0);
        QVERIFY(m_page->VolumeMap().isEmpty());
        SelectTab(1);
        QCOMPARE(Items(m_list), first);
    }

    void editsAndChecksSurviveHidingAndShowing()
    {
        QFile settings(m_folder->SettingsFile());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray settingsBefore = settings.readAll();
        settings.close();

        SelectTab(1);
        auto* quickSearch = m_page->findChild<QCheckBox*>(QStringLiteral("quickSearchCheck"));
        auto* initHash = m_page->findChild<QLineEdit*>(QStringLiteral("initHashEdit"));
        quickSearch->click();
        initHash->clear();
        QTest::keyClicks(initHash, QStringLiteral("4096"));
        SelectTab(0);
        SelectTab(1);
        QVERIFY(!quickSearch->isChecked());
        QCOMPARE(initHash->text(), QStringLiteral("4096"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), settingsBefore);
    }

    void attachedImageIsListedByItsDrive()
    {
        orva::mkimage::ImageOptions options;
        options.output = QDir::current().filePath(QStringLiteral("volume.img")).toStdString();
        std::string error;
        QVERIFY2(orva::mkimage::BuildImage(options, {}, &error), error.c_str());
        QVERIFY(orva::platform::AttachImage('N', options.output, 0));
        SelectTab(1);
        QVERIFY(Items(m_list).contains(QStringLiteral("N:\\")));
        const int index = Items(m_list).indexOf(QStringLiteral("N:\\"));
        QCOMPARE(QString::fromUtf16(m_page->VolumeMap().value(index).szFileSystemName),
                 QStringLiteral("NTFS"));
        orva::platform::DetachImage('N');
    }

    // One box per listed volume with its mount path, each once, although the sorted list
    // moves earlier items down as later volumes (C:\ after T:\) arrive.
    void applyShowsEveryListedVolumeOnce()
    {
        SelectTab(1);
        BoxRecorder boxes;
        QTest::mouseClick(m_page->findChild<QPushButton*>(QStringLiteral("applyButton")), Qt::LeftButton);
        QCOMPARE(boxes.Texts(), Items(m_list));
        for (const auto& box : boxes.boxes)
            QCOMPARE(box.type, UINT(MB_OK));
        for (int i = 0; i < m_list->count(); ++i)
            QCOMPARE(QString::fromUtf16(m_page->VolumeMap().value(i).szPathName), m_list->item(i)->text());
        const int fat = Items(m_list).indexOf(QStringLiteral("D:\\"));
        QCOMPARE(QString::fromUtf16(m_page->VolumeMap().value(fat).szFileSystemName),
                 QStringLiteral("FAT32"));
    }

    // The template reaches below the page area of a window at its initial size: the page
    // scrolls, so the fields and buttons stay reachable.
    void lowerControlsReachableAtTheInitialSize()
    {
        SelectTab(1);
        auto* apply = m_page->findChild<QPushButton*>(QStringLiteral("applyButton"));
        QVERIFY(apply->visibleRegion().isEmpty());
        m_page->findChild<QScrollArea*>()->ensureWidgetVisible(apply);
        QVERIFY(!apply->visibleRegion().isEmpty());
    }

    void cancelReturnsToTheSearchPage()
    {
        SelectTab(1);
        QVERIFY(m_page->isVisible());
        QTest::mouseClick(m_page->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        QCOMPARE(m_window->TabCtrl()->GetCurSel(), 0);
        QVERIFY(m_window->Page(0)->isVisible());
        QVERIFY(!m_page->isVisible());
        QCOMPARE(m_list->count(), 0);
        QVERIFY(m_page->VolumeMap().isEmpty());
    }

private:
    // A user's click on the tab's item.
    void SelectTab(int index)
    {
        CTabCtrl* tabs = m_window->TabCtrl();
        const QPoint centre = tabs->GetItemRect(index).center();
        QWidget* strip = tabs->childAt(centre);
        QVERIFY(strip != nullptr);
        QTest::mouseClick(strip, Qt::LeftButton, {}, strip->mapFrom(tabs, centre));
        QCOMPARE(tabs->GetCurSel(), index);
    }

    std::unique_ptr<ScratchFolder> m_folder;
    std::unique_ptr<COrvaDesktopDlg> m_window;
    COptionsDialog* m_page = nullptr;
    QListWidget* m_list = nullptr;
};

QTEST_MAIN(OptionsPageTest)
#include "OptionsPageTest.moc"
