#include "OrvaDesktopDlg.h"

#include "DialogUnits.h"
#include "OptionsDialog.h"
#include "ProgramArt.h"
#include "SearchDialog.h"
#include "Shockwaveflash_ads.h"
#include "TabCtrl.h"
#include "VolumeSettings.h"
#include "WideText.h"

#include "platform/MessageBox.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QStatusBar>
#include <QStyle>

namespace
{
// The window's template: client size and control places in dialog units.
constexpr QSize kTemplateSize(562, 383);
constexpr QRect kTabCtrlPlace(7, 117, 548, 259);
constexpr QRect kBannerPlace(24, 14, 284, 72);
constexpr QPoint kLogoPlace(399, 7);
constexpr unsigned kSearchPageTemplate = 107;
constexpr unsigned kOptionsPageTemplate = 108;

// Layout in pixels.
constexpr int kMargin = 12;         // around the work area
constexpr int kSmallestClient = 48; // at or below this width or height nothing moves
constexpr QSize kBannerSize(600, 75);
constexpr int kTabCtrlOffset = 85; // from the top of the work area

const QString kBannerMovie = QStringLiteral("http://ads.example.invalid/200906/16/178843_sy-dt.swf");
} // namespace

COrvaDesktopDlg::COrvaDesktopDlg(QWidget* parent)
    : QDialog(parent), m_hIcon(ProgramIcon()), m_tabCtrl(new CTabCtrl(this)),
      m_flashAds(new CShockwaveflash_ads(this)), m_logo(new QLabel(this))
{
    setWindowTitle(QStringLiteral("奥瓦文件搜索 (Alpha 0.1版)"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setFont(ShellDialogFont());

    const QSize base = DialogBaseUnits(font());
    m_tabCtrl->setGeometry(DialogUnitsToPixels(kTabCtrlPlace, base));
    m_flashAds->setGeometry(DialogUnitsToPixels(kBannerPlace, base));
    m_logo->setPixmap(ProgramLogo());
    m_logo->setGeometry(
        QRect(DialogUnitsToPixels(QRect(kLogoPlace, QSize()), base).topLeft(), m_logo->pixmap().size()));
    resize(DialogUnitsToPixels(kTemplateSize, base));

    connect(m_tabCtrl, &CTabCtrl::SelChange, this, &COrvaDesktopDlg::OnTcnSelchangeTab);
    connect(m_flashAds, &CShockwaveflash_ads::FSCommand, this, &COrvaDesktopDlg::OnFSCommandFlashAds);
    connect(m_flashAds, &CShockwaveflash_ads::FlashCall, this, &COrvaDesktopDlg::OnFlashCallFlashAds);
}

int COrvaDesktopDlg::DoModal()
{
    OnInitDialog();
    return exec();
}

void COrvaDesktopDlg::OnInitDialog()
{
    if (m_initialised)
        return;
    m_initialised = true;
    setWindowIcon(m_hIcon);
    InitPages();
    LayoutControls();
    ShowSelectedPage();
    CreateStatusBar();
    LayoutControls();
}

QWidget* COrvaDesktopDlg::Logo() const
{
    return m_logo;
}

QString COrvaDesktopDlg::StatusText() const
{
    return m_statusPane != nullptr ? m_statusPane->text() : QString();
}

// The first-run question comes before the pages exist, so that a yes is indexed at once.
void COrvaDesktopDlg::InitPages()
{
    WCHAR settingsPath[MAX_PATH];
    GetSettingsFilePath(settingsPath);
    if (ReadVolumeCount(settingsPath) == 0 &&
        AfxMessageBox(u"当前尚没有开启奥瓦文件搜索服务，是否立即启用？", MB_YESNO | MB_ICONQUESTION) == IDYES)
        DiscoverVolumes(settingsPath);

    m_tabCtrl->InsertItem(m_tabCtrl->GetItemCount(), QStringLiteral("闪电搜索"));
    m_tabCtrl->InsertItem(m_tabCtrl->GetItemCount(), QStringLiteral("高级设置"));

    auto* searchPage = new CSearchDialog(this);
    auto* optionsPage = new COptionsDialog(this);
    m_pages = {searchPage, optionsPage};
    searchPage->Create(kSearchPageTemplate, m_tabCtrl);
    optionsPage->Create(kOptionsPageTemplate, m_tabCtrl);
}

void COrvaDesktopDlg::CreateStatusBar()
{
    m_wndStatusBar = new QStatusBar(this);
    m_wndStatusBar->setSizeGripEnabled(true);
    m_statusPane = new QLabel(m_wndStatusBar);
    m_wndStatusBar->addWidget(m_statusPane, /*stretch=*/1);
    m_wndStatusBar->show();
}

// Rectangles below are left, top, right, bottom with exclusive right and bottom edges,
// as the client area's are.
void COrvaDesktopDlg::LayoutControls()
{
    m_laidOutSize = size();
    const int clientWidth = width();
    int statusHeight = 0;
    if (m_wndStatusBar != nullptr)
    {
        statusHeight = m_wndStatusBar->sizeHint().height();
        m_wndStatusBar->setGeometry(0, height() - statusHeight, clientWidth, statusHeight);
    }
    const int clientBottom = height() - statusHeight;
    if (clientWidth <= kSmallestClient || clientBottom <= kSmallestClient)
        return;

    const int workLeft = kMargin;
    const int workTop = kMargin;
    const int workRight = clientWidth - kMargin;
    const int workBottom = clientBottom - kMargin;

    m_logo->move(workRight - m_logo->width(), workTop);
    m_logo->update();

    m_flashAds->setGeometry(QRect(QPoint(workLeft, workTop), kBannerSize));
    m_flashAds->update();
    m_flashAds->LoadMovie(0, kBannerMovie);
    m_flashAds->Play();

    const int tabTop = workTop + kTabCtrlOffset;
    m_tabCtrl->setGeometry(workLeft, tabTop, workRight - workLeft, workBottom - tabTop);
    m_tabCtrl->update();

    const int itemHeight = m_tabCtrl->GetItemRect(0).height();
    const QRect client = m_tabCtrl->rect();
    const QRect pageArea(
        QPoint(client.left() + 2, client.top() + itemHeight + 4),
        QPoint(client.left() + client.width() - 4 - 1, client.top() + client.height() - 4 - 1));
    for (QWidget* page : m_pages)
    {
        if (page != nullptr)
            page->setGeometry(pageArea);
    }
}

void COrvaDesktopDlg::ShowSelectedPage()
{
    const int selected = m_tabCtrl->GetCurSel();
    for (int i = 0; i < kPageCount; ++i)
        m_pages[i]->setVisible(i == selected);
}

void COrvaDesktopDlg::OnTcnSelchangeTab()
{
    ShowSelectedPage();
}

void COrvaDesktopDlg::OnSetStatusText(const QString& text)
{
    if (m_statusPane == nullptr)
        return;
    m_statusPane->setText(text);
    m_statusPane->repaint();
}

void COrvaDesktopDlg::OnFSCommandFlashAds(const QString& command, const QString& /*args*/)
{
    AfxMessageBox(ToWide(command), MB_OK);
}

void COrvaDesktopDlg::OnFlashCallFlashAds(const QString& request)
{
    AfxMessageBox(ToWide(request), MB_OK);
}

// A dialog ends on Escape, and with this one the whole program would: a stray key
// must never cost the user the window. Closing stays with the title bar.
void COrvaDesktopDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void COrvaDesktopDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // Qt also reports the size a window is shown at; only a real change is laid out.
    if (m_initialised && size() != m_laidOutSize)
        LayoutControls();
}

void COrvaDesktopDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized())
    {
        QDialog::paintEvent(event);
        return;
    }
    // Where the window system paints minimised windows: the icon in the middle.
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const int icon = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    painter.drawPixmap((width() - icon + 1) / 2, (height() - icon + 1) / 2, m_hIcon.pixmap(icon));
}
