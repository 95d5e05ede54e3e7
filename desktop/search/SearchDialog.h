// CSearchDialog: the first tab's page. A keyword box, the button "搜索(&S)" and the
// result view COrvaList; the anchor of the background work.
//
// Order of events: the main window constructs the page and calls Create (the page is then
// a hidden child of the tab control); its first paint loads the configured volumes into
// the engine and starts the build thread (LoadVolumesAndBuild); from then on every change
// of the keyword text starts a query thread unless one runs (OnKeywordChange), and the
// view asks the page for each row it paints (OnGetDispInfo), one engine call per row.
//
// The query handshake: at most one query thread at a time. The running thread installs
// its count, clears the busy marker and compares the keyword box with the text it
// queried, all in one step on the UI thread; if the text changed (other than in the case
// of ASCII letters) it starts the next query itself. So after the last keystroke exactly
// one more query runs, for the final text, and the texts typed in between are skipped.
//
// Worker threads reach the page only through a CPageLink: a call that runs on the UI
// thread while the worker waits, and that never runs once the page is being destroyed.
// So a worker outliving the window (the build cannot be interrupted) touches no window.
#pragma once

#include "OrvaList.h"
#include "ServiceInstance.h"

#include <QWidget>

#include <memory>
#include <thread>

class QLineEdit;
class QPushButton;
struct CPageLink;

class CSearchDialog final : public QWidget
{
    Q_OBJECT

public:
    // `owner` is the main window: it receives the status texts.
    explicit CSearchDialog(QWidget* owner);
    ~CSearchDialog() override;

    // Makes the page a hidden child of `parent` (the tab control). `templateId` is 107.
    bool Create(unsigned templateId, QWidget* parent);

    // What the result view shows in `column` of `item` for `role`: the texts for
    // Qt::DisplayRole, the icon for Qt::DecorationRole in the name column. The row comes
    // from the one-row cache, filled with one GetResultItem when `item` is not the row
    // it holds.
    QVariant OnGetDispInfo(int item, int column, int role);

    // Starts a query thread for the keyword box's text unless one runs.
    void OnKeywordChange();

    // Registers every volume of the settings file with the engine and starts the build
    // thread. Runs once, from the first paint.
    void LoadVolumesAndBuild();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void OnSize(int width, int height);
    void OnItemDblClk(const QModelIndex& index);
    void OpenEntry(const QString& fullPath);
    void SetStatusText(const QString& text);
    QString ReadKeyword() const;
    void FinishQuery(const std::u16string& queriedKeyword, DWORD count);
    bool FillRowCache(int item);

    static void BuildThreadProc(std::shared_ptr<CPageLink> link, std::unique_ptr<CServiceWork> work);
    static void QueryThreadProc(std::shared_ptr<CPageLink> link, std::unique_ptr<CServiceWork> work);

    // Worker threads are detached when they start, so the system reclaims each one as it
    // ends; the ids only mark them. An empty id is the null handle.
    std::thread::id m_hBuildThread;
    // The busy marker: set from the start of a query thread until it has installed its
    // count. Read and written on the UI thread only.
    std::thread::id m_hQueryThread;
    QObject* m_pStatusWnd = nullptr;
    bool m_bFirstPaint = true;

    // The one-row cache: exactly the outputs of the last GetResultItem, for row
    // m_nCachedItem (-1 for none).
    int m_nCachedItem = -1;
    bool m_bCachedRowExists = false;
    CResultRow m_cachedRow{};

    QWidget* m_owner;
    std::shared_ptr<CPageLink> m_link;
    QLineEdit* m_keywordBox = nullptr;
    QPushButton* m_searchButton = nullptr;
    COrvaList* m_listResult = nullptr;
    COrvaListModel* m_listModel = nullptr;
};
