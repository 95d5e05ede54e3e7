// The search page's background work: loading the volumes, the build thread and the query
// threads with their handshake (see SearchDialog.h).
#include "PageLink.h"
#include "platform/Exceptions.h"
#include "RowText.h"
#include "SearchDialog.h"
#include "VolumeSettings.h"

#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>

namespace
{
const QString kBuildStartedText = QStringLiteral("首次运行，正在读取磁盘结构，请耐心等待 ...");
const QString kBuildFinishedText = QStringLiteral("初始化完成，可以正常使用");
const QString kLoadOutOfMemoryText = QStringLiteral("内存不足，未能加载磁盘，搜索不到任何项目");
const QString kBuildOutOfMemoryText = QStringLiteral("内存不足，索引未能建立，搜索不到任何项目");

QString CountText(DWORD count)
{
    return QStringLiteral("共有符合的项目 %1 个").arg(count);
}

QString BuildFailedText(const std::string& reason)
{
    return QStringLiteral("索引未能建立（%1），搜索不到任何项目").arg(QString::fromStdString(reason));
}

// Starts `procedure` on a thread of its own and detaches it. The empty id when the thread
// cannot be created.
template <typename Procedure>
std::thread::id StartWorker(Procedure procedure, const std::shared_ptr<CPageLink>& link)
{
    try
    {
        std::thread worker(procedure, link, std::make_unique<CServiceWork>());
        const std::thread::id id = worker.get_id();
        worker.detach();
        return id;
    }
    catch (const std::system_error&)
    {
        return {};
    }
    catch (const std::bad_alloc&)
    {
        return {};
    }
}
} // namespace

std::mutex& PageLinkLock()
{
    static std::mutex lock;
    return lock;
}

bool RunOnPage(const std::shared_ptr<CPageLink>& link, std::function<void(CSearchDialog&)> work)
{
    struct CHandOver
    {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false; // Guarded by lock.
        bool ran = false;  // Guarded by lock.
    };
    auto handOver = std::make_shared<CHandOver>();
    // The worker is released when the last copy of `release` goes: after the call has
    // run, or when the posted call is thrown away unrun because its page is destroyed.
    auto release = std::shared_ptr<void>(nullptr,
                                         [handOver](void*)
                                         {
                                             std::lock_guard lock(handOver->lock);
                                             handOver->done = true;
                                             handOver->finished.notify_one();
                                         });
    {
        std::lock_guard lock(PageLinkLock());
        if (link->page == nullptr)
            return false;
        // The call takes the lock again before it reads anything it carries.
        QMetaObject::invokeMethod(
            link->page,
            [link, work = std::move(work), handOver, release]() mutable
            {
                CSearchDialog* page = nullptr;
                {
                    std::lock_guard pageLock(PageLinkLock());
                    page = link->page;
                }
                if (page != nullptr)
                {
                    work(*page);
                    std::lock_guard handOverLock(handOver->lock);
                    handOver->ran = true;
                }
                release.reset();
            },
            Qt::QueuedConnection);
    }
    release.reset();
    std::unique_lock lock(handOver->lock);
    handOver->finished.wait(lock, [&handOver] { return handOver->done; });
    return handOver->ran;
}

void CSearchDialog::LoadVolumesAndBuild()
{
    WCHAR path[MAX_PATH] = {};
    LONG count = 0;
    if (GetSettingsFilePath(path))
        count = ReadVolumeCount(path);

    try
    {
        COrvaService* service = GetServiceInstance();
        CVolumeSettings settings;
        // Compared as signed numbers, so that a negative count registers nothing.
        for (LONG i = 0; i < count; ++i)
        {
            ReadVolumeSettings(path, static_cast<DWORD>(i), settings);
            // A volume the engine turns down (absent, not NTFS, already registered, not
            // readable) is left out without a message.
            service->AddVolume(settings.SerialNumber, settings.VolumeRootPath,
                               static_cast<ULONGLONG>(settings.UsnMaximumSize),
                               static_cast<ULONGLONG>(settings.UsnAllocationDelta), settings.InitHash,
                               settings.MonitorChanges);
        }
    }
    catch (const CMemoryException&)
    {
        SetStatusText(kLoadOutOfMemoryText);
        return;
    }
    catch (const std::bad_alloc&)
    {
        SetStatusText(kLoadOutOfMemoryText);
        return;
    }
    m_hBuildThread = StartWorker(&CSearchDialog::BuildThreadProc, m_link);
}

void CSearchDialog::BuildThreadProc(std::shared_ptr<CPageLink> link, std::unique_ptr<CServiceWork> /*work*/)
{
    RunOnPage(link, [](CSearchDialog& page) { page.SetStatusText(kBuildStartedText); });
    // Only plain C++ data crosses to the UI thread; the texts are made there.
    std::optional<std::string> fileFailure;
    bool outOfMemory = false;
    try
    {
        GetServiceInstance()->CreateDatabase();
    }
    catch (const CFileException& exception)
    {
        fileFailure = exception.what();
    }
    catch (const CMemoryException&)
    {
        outOfMemory = true;
    }
    catch (const std::bad_alloc&)
    {
        outOfMemory = true;
    }
    // After a failure the index stays not ready and every query answers 0; the failure
    // stays in the status bar until the user types.
    if (fileFailure || outOfMemory)
    {
        RunOnPage(link,
                  [&fileFailure](CSearchDialog& page) {
                      page.SetStatusText(fileFailure ? BuildFailedText(*fileFailure) : kBuildOutOfMemoryText);
                  });
        return;
    }
    RunOnPage(link,
              [](CSearchDialog& page)
              {
                  page.SetStatusText(kBuildFinishedText);
                  page.OnKeywordChange();
              });
}

void CSearchDialog::OnKeywordChange()
{
    if (m_hQueryThread != std::thread::id())
        return;
    m_hQueryThread = StartWorker(&CSearchDialog::QueryThreadProc, m_link);
}

void CSearchDialog::QueryThreadProc(std::shared_ptr<CPageLink> link, std::unique_ptr<CServiceWork> /*work*/)
{
    std::u16string keyword;
    if (!RunOnPage(link, [&keyword](CSearchDialog& page) { keyword = page.ReadKeyword().toStdU16String(); }))
        return;
    const DWORD count = QueryService(keyword);
    RunOnPage(link, [&keyword, count](CSearchDialog& page) { page.FinishQuery(keyword, count); });
}

void CSearchDialog::FinishQuery(const std::u16string& queriedKeyword, DWORD count)
{
    // The rows of the new count are new rows: the cache goes before the view asks.
    m_nCachedItem = -1;
    m_listModel->SetItemCount(count);
    SetStatusText(CountText(count));
    // The marker is cleared before the text is read again: a change from here on starts
    // a thread of its own, a change before here is caught by the comparison.
    m_hQueryThread = {};
    if (KeywordsDiffer(ReadKeyword(), QString::fromStdU16String(queriedKeyword)))
        OnKeywordChange();
}
