#include "BoxRecorder.h"
#include "DialogUnits.h"
#include "OrvaDesktopDlg.h"
#include "ScratchFolder.h"
#include "Shockwaveflash_ads.h"
#include "StatusText.h"
#include "TabCtrl.h"
#include "VolumeSettings.h"

#include "platform/testing/ScriptedVolume.h"

#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QThread>

#include <atomic>

namespace
{
const QString kQuestion = QStringLiteral("当前尚没有开启奥瓦文件搜索服务，是否立即启用？");
const QString kBannerMovie = QStringLiteral("http://ads.example.invalid/200906/16/178843_sy-dt.swf");

// What LayoutControls must produce for the window's current size.
struct ExpectedLayout
{
    QRect banner, logo, tabCtrl, page, statusBar;
};

ExpectedLayout Expect(const COrvaDesktopDlg& window)
{
    const int statusHeight = window.StatusBar()->sizeHint().height();
    const int width = window.width();
    const int bottom = window.height() - statusHeight;
    ExpectedLayout layout;
    layout.statusBar = QRect(0, bottom, width, statusHeight);
    layout.banner = QRect(12, 12, 600, 75);
    layout.logo = QRect(width - 12 - 208, 12, 208, 100);
    layout.tabCtrl = QRect(12, 97, width - 24, bottom - 12 - 97);
    const int itemHeight = window.TabCtrl()->GetItemRect(0).height();
    layout.page =
        QRect(2, itemHeight + 4, layout.tabCtrl.width() - 6, layout.tabCtrl.height() - itemHeight - 8);
    return layout;
}

void VerifyLayout(const COrvaDesktopDlg& window, const ExpectedLayout& expected)
{
    QCOMPARE(window.FlashAds()->geometry(), expected.banner);
    QCOMPARE(window.Logo()->geometry(), expected.logo);
    QCOMPARE(window.TabCtrl()->geometry(), expected.tabCtrl);
    QCOMPARE(window.Page(0)->geometry(), expected.page);
    QCOMPARE(window.Page(1)->geometry(), expected.page);
    QCOMPARE(window.StatusBar()->geometry(), expected.statusBar);
}
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { orva::platform::testing::ClearScriptedVolumes(); }

    void firstRunQuestionFollowsVolumeCount_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("asked");
        QTest::newRow("absent") << false << QString() << true;
        QTest::newRow("0") << true << "0" << true;
        QTest::newRow("text") << true << "abc" << true;
        QTest::newRow("0x5") << true << "0x5" << true;
        QTest::newRow("3") << true << "3" << false;
        QTest::newRow("blanks 3") << true << "  3" << false;
        QTest::newRow("3abc") << true << "3abc" << false;
        QTest::newRow("-1") << true << "-1" << false;
    }
    void firstRunQuestionFollowsVolumeCount()
    {
        QFETCH(bool, present);
        QFETCH(QString, value);
        QFETCH(bool, asked);
        ScratchFolder folder;
        if (present)
            folder.SetVolumeCount(value);
        BoxRecorder boxes(IDNO);
        COrvaDesktopDlg window;
        window.OnInitDialog();
        if (!asked)
        {
            QVERIFY(boxes.boxes.isEmpty());
            return;
        }
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, kQuestion);
        QCOMPARE(boxes.boxes[0].type, UINT(MB_YESNO | MB_ICONQUESTION));
    }

    void answeringNoWritesNothingAndStillShowsThePages()
    {
        ScratchFolder folder;
        BoxRecorder boxes(IDNO);
        COrvaDesktopDlg window;
        window.OnInitDialog();
        QVERIFY(!folder.SettingsFileExists());
        QCOMPARE(window.TabCtrl()->GetItemCount(), 2);
        QVERIFY(window.Page(0) != nullptr && window.Page(1) != nullptr);
        QCOMPARE(window.StatusText(), QString());
    }

    // The discovery completes before the pages exist, so the search page finds its result.
    void answeringYesDiscoversBeforeThePagesExist()
    {
        ScratchFolder folder;
        orva::platform::testing::ScriptedVolume ntfs;
        ntfs.letter = 'S';
        ntfs.volumeName = u"\\\\?\\Volume{5c1a7ed0-0000-0000-0000-0000000000a1}\\";
        orva::platform::testing::AddScriptedVolume(ntfs);

        COrvaDesktopDlg window;
        bool pagesAtQuestion = true;
        BoxRecorder boxes(IDYES, [&] { pagesAtQuestion = window.Page(0) != nullptr; });
        window.OnInitDialog();
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(!pagesAtQuestion);

        const std::u16string path = ToWide(folder.SettingsFile());
        const LONG count = ReadVolumeCount(path.c_str());
        QVERIFY(count >= 1);
        bool found = false;
        for (LONG i = 0; i < count; ++i)
        {
            CVolumeSettings settings;
            ReadVolumeSettings(path.c_str(), static_cast<DWORD>(i), settings);
            found = found || std::u16string(settings.VolumeRootPath) == ntfs.volumeName;
        }
        QVERIFY(found);
    }

    void tabsInOrderAndTheSearchPageShownAtStart()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.TabCtrl()->GetItemCount(), 2);
        QCOMPARE(window.TabCtrl()->GetItemText(0), QStringLiteral("闪电搜索"));
        QCOMPARE(window.TabCtrl()->GetItemText(1), QStringLiteral("高级设置"));
        QCOMPARE(window.TabCtrl()->GetCurSel(), 0);
        QVERIFY(window.Page(0)->isVisible());
        QVERIFY(!window.Page(1)->isVisible());
        QCOMPARE(window.Page(0)->parentWidget(), window.TabCtrl());
        QCOMPARE(window.Page(1)->parentWidget(), window.TabCtrl());
        QCOMPARE(window.windowTitle(), QStringLiteral("奥瓦文件搜索 (Alpha 0.1版)"));
    }

    void escapeOnTheTabsKeepsTheWindowOpen()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.TabCtrl()->setFocus();
        QTest::keyClick(window.TabCtrl(), Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Rejected));
        QVERIFY(window.Page(0)->isVisible());
    }

    void layoutFollowsEveryResize()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        // The template's 562 x 383 dialog units in the dialog font's base units.
        const QSize base = DialogBaseUnits(window.font());
        QCOMPARE(window.size(), QSize((562 * base.width() + 2) / 4, (383 * base.height() + 4) / 8));
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        VerifyLayout(window, Expect(window));
        QCOMPARE(window.TabCtrl()->y(), 97);

        window.resize(1100, 760);
        VerifyLayout(window, Expect(window));
        window.resize(700, 420);
        VerifyLayout(window, Expect(window));
    }

    // At 48 pixels or less of width, or of height above the status bar, nothing moves.
    void tinyClientAreaMovesNothing()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.resize(800, 500);
        const ExpectedLayout before = Expect(window);
        const int statusHeight = window.StatusBar()->sizeHint().height();

        window.resize(48, 500);
        QCOMPARE(window.width(), 48);
        QCOMPARE(window.TabCtrl()->geometry(), before.tabCtrl);
        QCOMPARE(window.Logo()->geometry(), before.logo);
        window.resize(800, statusHeight + 48);
        QCOMPARE(window.height(), statusHeight + 48);
        QCOMPARE(window.TabCtrl()->geometry(), before.tabCtrl);
        QCOMPARE(window.FlashAds()->geometry(), before.banner);

        window.resize(49 + 300, statusHeight + 49);
        QCOMPARE(window.Logo()->geometry(), Expect(window).logo);
        QCOMPARE(window.TabCtrl()->geometry(), Expect(window).tabCtrl);
    }

    // Two passes at start-up, one per resize, none while the client area is too small.
    void bannerLoadsAndPlaysOnEveryLayoutPass()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        QSignalSpy loads(window.FlashAds(), &CShockwaveflash_ads::LoadStarted);
        QSignalSpy plays(window.FlashAds(), &CShockwaveflash_ads::PlayStarted);
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(loads.size(), 2);
        QCOMPARE(plays.size(), 2);
        QCOMPARE(loads.at(0).at(0).toUrl(), QUrl(kBannerMovie));
        QCOMPARE(QUrl(kBannerMovie).path(), QStringLiteral("/200906/16/178843_sy-dt.swf"));

        window.resize(900, 600);
        window.resize(950, 640);
        QCOMPARE(loads.size(), 4);
        QCOMPARE(plays.size(), 4);
        window.resize(40, 640);
        QCOMPARE(loads.size(), 4);
        // The banner server resolves nowhere: the built-in banner stays, the window is free.
        QVERIFY(!window.FlashAds()->HasMovie());
    }

    void minimisedWindowDrawsItsIconInTheMiddle()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setWindowState(Qt::WindowMinimized);
        if (!window.isMinimized())
            QSKIP("this platform does not minimise windows");
        const int size = window.style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, &window);
        const QImage icon = window.windowIcon().pixmap(size).toImage();
        // The window's own painting; what covers it (its children) is the window system's affair.
        QImage painted(window.size(), QImage::Format_ARGB32);
        window.render(&painted, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const QPoint origin((window.width() - size + 1) / 2, (window.height() - size + 1) / 2);
        for (const QPoint inside :
             {QPoint(size / 2, size / 2), QPoint(size / 3, size / 2), QPoint(size / 2, size / 4)})
            QCOMPARE(painted.pixelColor(origin + inside), icon.pixelColor(inside));
        QVERIFY(painted.pixelColor(origin + QPoint(size / 2, size / 2)) != painted.pixelColor(2, 2));
    }

    void movieEventsAreAnsweredWithTheirTexts()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        BoxRecorder boxes;
        emit window.FlashAds()->FSCommand(QStringLiteral("openUrl"), QStringLiteral("http://x.invalid/"));
        emit window.FlashAds()->FlashCall(QStringLiteral("<invoke name=\"ping\"/>"));
        QCOMPARE(boxes.Texts(),
                 QStringList({QStringLiteral("openUrl"), QStringLiteral("<invoke name=\"ping\"/>")}));
        QCOMPARE(boxes.boxes[0].type, UINT(MB_OK));
        QCOMPARE(boxes.boxes[1].type, UINT(MB_OK));
    }

    void statusTextsReplaceEachOther()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        SendStatusText(&window, QStringLiteral("正在建立索引..."));
        QCOMPARE(window.StatusText(), QStringLiteral("正在建立索引..."));
        SendStatusText(&window, QStringLiteral("共有符合的项目 12 个"));
        QCOMPARE(window.StatusText(), QStringLiteral("共有符合的项目 12 个"));
    }

    // A worker may drop its text as soon as the send returns: the text is in the bar by then.
    void statusTextFromAnotherThreadArrivesBeforeTheSendReturns()
    {
        ScratchFolder folder;
        folder.SetVolumeCount("1");
        COrvaDesktopDlg window;
        window.OnInitDialog();
        std::atomic<bool> done = false;
        QString seenAfterSend;
        QThread* worker = QThread::create(
            [&]
            {
                SendStatusText(&window, QStringLiteral("共有符合的项目 3 个"));
                seenAfterSend = window.StatusText();
                done = true;
            });
        worker->start();
        QTRY_VERIFY(done.load());
        worker->wait();
        delete worker;
        QCOMPARE(seenAfterSend, QStringLiteral("共有符合的项目 3 个"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
