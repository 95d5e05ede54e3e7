#include "SearchDialog.h"

#include "DialogUnits.h"
#include "ItemIcons.h"
#include "PageLink.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "RowText.h"
#include "StatusText.h"
#include "WideText.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

namespace
{
// The page's template, in dialog units: its size and the places of the keyword box and
// the button.
const QSize kTemplateSize(512, 424);
const QRect kKeywordBoxPlace(7, 7, 280, 14);
const QRect kSearchButtonPlace(291, 7, 50, 14);

// The result view fills the page but for these margins, in pixels.
constexpr int kListMargin = 11;
constexpr int kListTop = 50;

// Widths of the name, folder, size and date columns, in pixels.
constexpr int kColumnWidths[COrvaListModel::ColumnCount] = {200, 500, 80, 130};

// The keyword box is read into 260 units, terminator included.
constexpr qsizetype kKeywordLength = MAX_PATH - 1;

void ShowMessage(const QString& text)
{
    AfxMessageBox(ToWide(text), MB_OK | MB_ICONERROR);
}
} // namespace

CSearchDialog::CSearchDialog(QWidget* owner)
    : QWidget(nullptr), m_owner(owner), m_link(std::make_shared<CPageLink>())
{
    m_link->page = this;
}

CSearchDialog::~CSearchDialog()
{
    {
        std::lock_guard lock(PageLinkLock());
        m_link->page = nullptr;
    }
    OnServiceWindowClosed();
}

bool CSearchDialog::Create(unsigned /*templateId*/, QWidget* parent)
{
    if (m_listResult != nullptr)
        return false;
    setParent(parent);
    hide();
    CreateControls();
    OnInitDialog();
    return true;
}

void CSearchDialog::CreateControls()
{
    setFont(SongDialogFont());
    const QSize baseUnits = DialogBaseUnits(font());
    resize(DialogUnitsToPixels(kTemplateSize, baseUnits));

    m_keywordBox = new QLineEdit(this);
    m_keywordBox->setObjectName(QStringLiteral("keywordBox"));
    m_keywordBox->setGeometry(DialogUnitsToPixels(kKeywordBoxPlace, baseUnits));
    connect(m_keywordBox, &QLineEdit::textChanged, this, &CSearchDialog::OnKeywordChange);

    m_searchButton = new QPushButton(QStringLiteral("搜索(&S)"), this);
    m_searchButton->setObjectName(QStringLiteral("searchButton"));
    m_searchButton->setGeometry(DialogUnitsToPixels(kSearchButtonPlace, baseUnits));
    m_searchButton->setAutoDefault(false);
    connect(m_searchButton, &QPushButton::clicked, this, &CSearchDialog::OnKeywordChange);

    m_listResult = new COrvaList(this);
    m_listResult->setObjectName(QStringLiteral("resultList"));
    m_listModel = new COrvaListModel(this, m_listResult);
    m_listResult->setModel(m_listModel);
    connect(m_listResult, &QAbstractItemView::doubleClicked, this, &CSearchDialog::OnItemDblClk);

    setTabOrder(m_keywordBox, m_searchButton);
    setTabOrder(m_searchButton, m_listResult);
}

void CSearchDialog::OnInitDialog()
{
    m_pStatusWnd = parentWidget() != nullptr ? parentWidget()->window() : m_owner;
    for (int column = 0; column < COrvaListModel::ColumnCount; ++column)
        m_listResult->setColumnWidth(column, kColumnWidths[column]);
    OnSize(width(), height());
}

void CSearchDialog::paintEvent(QPaintEvent* /*event*/)
{
    // The loading runs inside the first paint, so the window shows with its volumes
    // registered; the flag is cleared first so that a paint nested in the loading
    // cannot start it twice.
    if (m_bFirstPaint)
    {
        m_bFirstPaint = false;
        LoadVolumesAndBuild();
    }
    // The window colour rather than the dialog colour; the controls keep their own.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
}

void CSearchDialog::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    OnSize(width(), height());
}

void CSearchDialog::OnSize(int width, int height)
{
    if (m_listResult == nullptr)
        return;
    m_listResult->setGeometry(kListMargin, kListTop, (width - kListMargin) - kListMargin,
                              (height - kListMargin) - kListTop);
}

void CSearchDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter and Esc reach the page from any of its controls that leaves them alone. They
    // must not fall through to the main window, whose dialog handling would close it.
    switch (event->key())
    {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnKeywordChange();
        event->accept();
        return;
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool CSearchDialog::FillRowCache(int item)
{
    if (item == m_nCachedItem)
        return true;
    m_nCachedItem = -1;
    const FetchResult result = TryFetchResultItem(static_cast<DWORD>(item), m_cachedRow);
    if (result == FetchResult::Busy)
        return false;
    m_bCachedRowExists = result == FetchResult::Fetched;
    m_nCachedItem = item;
    return true;
}

QVariant CSearchDialog::OnGetDispInfo(int item, int column, int role)
{
    const bool wantsText = role == Qt::DisplayRole;
    const bool wantsIcon = role == Qt::DecorationRole && column == COrvaListModel::ColumnName;
    if (item < 0 || (!wantsText && !wantsIcon))
        return {};
    // A row the engine does not hold (a repaint racing a new count) shows as empty.
    if (!FillRowCache(item) || !m_bCachedRowExists)
        return {};

    const QString name = FromWide(m_cachedRow.name);
    const QString folder = FromWide(m_cachedRow.path);
    const bool isFolder = m_cachedRow.isFolder != 0;
    if (wantsIcon)
        return GetItemIcon(folder + u'\\' + name, isFolder);
    switch (column)
    {
    case COrvaListModel::ColumnName:
        return name;
    case COrvaListModel::ColumnPath:
        return folder;
    case COrvaListModel::ColumnSize:
        return FormatSizeText(m_cachedRow.size.QuadPart, isFolder);
    case COrvaListModel::ColumnDate:
        return FormatDateText(m_cachedRow.lastWriteTime);
    default:
        return {};
    }
}

void CSearchDialog::OnItemDblClk(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QString name = OnGetDispInfo(index.row(), COrvaListModel::ColumnName, Qt::DisplayRole).toString();
    const QString folder = OnGetDispInfo(index.row(), COrvaListModel::ColumnPath, Qt::DisplayRole).toString();
    // No name: the row is not on offer right now (a query is replacing the results).
    if (name.isEmpty())
        return;
    OpenEntry(folder + u'\\' + name);
}

void CSearchDialog::OpenEntry(const QString& fullPath)
{
    // The opened program runs on its own; the page does not wait for it.
    const std::optional<std::string> linuxPath = orva::platform::ToLinuxPath(fullPath.toStdU16String());
    if (!linuxPath)
    {
        ShowMessage(QStringLiteral("无法打开“%1”：它所在的磁盘没有挂载到本机的文件系统中。").arg(fullPath));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(*linuxPath))))
        ShowMessage(QStringLiteral("无法打开“%1”：没有能打开它的程序。").arg(fullPath));
}

void CSearchDialog::SetStatusText(const QString& text)
{
    SendStatusText(m_pStatusWnd, text);
}

QString CSearchDialog::ReadKeyword() const
{
    return m_keywordBox->text().left(kKeywordLength);
}
