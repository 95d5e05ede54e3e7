// COrvaDesktopDlg: the main window. From top to bottom: the banner with the logo beside
// it, the tab control with the search page ("闪电搜索") and the settings page ("高级设置"),
// and a one-pane status bar.
//
// OnInitDialog, run once before the window is shown, asks the first-run question when no
// volume is configured (and runs the discovery on a yes) before the pages exist, so a
// first run indexes what it discovered. Every size change lays the controls out again
// (LayoutControls), which also reloads and restarts the banner movie.
//
// Status texts arrive through OnSetStatusText (see StatusText.h); worker threads send
// them with a blocking call, so a text is in the bar before its send returns.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QSize>

#include <array>

class CShockwaveflash_ads;
class CTabCtrl;
class QLabel;
class QStatusBar;

class COrvaDesktopDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kPageCount = 2;

    explicit COrvaDesktopDlg(QWidget* parent = nullptr);

    // OnInitDialog, then the modal loop; returns the dialog's result.
    int DoModal();
    // Icons, first-run check and pages, layout, the selected page, the status bar. Runs
    // once; later calls do nothing.
    void OnInitDialog();

    // The pieces, for the program's own tests and tools.
    CTabCtrl* TabCtrl() const { return m_tabCtrl; }
    QWidget* Page(int index) const { return m_pages.at(index); }
    CShockwaveflash_ads* FlashAds() const { return m_flashAds; }
    QWidget* Logo() const;
    QStatusBar* StatusBar() const { return m_wndStatusBar; }
    QString StatusText() const;

public slots:
    // Puts `text` into the status bar's pane and shows it at once.
    void OnSetStatusText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override; // OnSize
    void paintEvent(QPaintEvent* event) override;   // OnPaint
    void keyPressEvent(QKeyEvent* event) override;

private:
    void InitPages();
    void CreateStatusBar();
    void LayoutControls();
    void ShowSelectedPage();
    void OnTcnSelchangeTab();
    void OnFSCommandFlashAds(const QString& command, const QString& args);
    void OnFlashCallFlashAds(const QString& request);

    QIcon m_hIcon;
    QStatusBar* m_wndStatusBar = nullptr; // created by OnInitDialog
    QLabel* m_statusPane = nullptr;
    CTabCtrl* m_tabCtrl;
    std::array<QWidget*, kPageCount> m_pages{};
    CShockwaveflash_ads* m_flashAds;
    QLabel* m_logo;
    bool m_initialised = false;
    QSize m_laidOutSize; // the client size of the last layout pass
};
