#include "ServiceInstance.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace
{
std::atomic<COrvaService*> g_service{nullptr};
// Guards the creation of the engine object.
std::mutex g_serviceLock;
// Keeps Query and GetResultItem apart.
std::mutex g_resultLock;
std::atomic<int> g_activeWork{0};
// Guarded by g_resultLock.
CServiceObserver* g_observer = nullptr;

void EndProcessIfWorkRemains()
{
    if (g_activeWork.load() == 0)
        return;
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

// Destroys the engine when the process ends normally. Constructed during static
// initialisation, so it runs after every exit routine registered later.
struct CServiceExitRoutine
{
    ~CServiceExitRoutine()
    {
        COrvaService* service = g_service.exchange(nullptr);
        // A worker still inside the engine here means no window ever closed over it (a
        // test, or a program without a window): leave the memory to the system.
        if (service != nullptr && g_activeWork.load() == 0)
            delete service;
    }
} g_exitRoutine;
} // namespace

COrvaService* GetServiceInstance()
{
    COrvaService* service = g_service.load(std::memory_order_acquire);
    if (service != nullptr)
        return service;
    std::lock_guard lock(g_serviceLock);
    service = g_service.load(std::memory_order_relaxed);
    if (service == nullptr)
    {
        service = new COrvaService;
        g_service.store(service, std::memory_order_release);
    }
    return service;
}

DWORD QueryService(const std::u16string& keyword)
{
    COrvaService* service = nullptr;
    try
    {
        service = GetServiceInstance();
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    std::lock_guard lock(g_resultLock);
    if (g_observer != nullptr)
        g_observer->BeforeQuery(keyword);
    return service->Query(keyword.c_str(), 0);
}

FetchResult TryFetchResultItem(DWORD index, CResultRow& row)
{
    std::memset(&row, 0, sizeof row);
    COrvaService* service = g_service.load(std::memory_order_acquire);
    if (service == nullptr)
        return FetchResult::NoSuchRow;
    std::unique_lock lock(g_resultLock, std::try_to_lock);
    if (!lock.owns_lock())
        return FetchResult::Busy;
    if (g_observer != nullptr)
        g_observer->BeforeResultItem(index);
    const BOOL found = service->GetResultItem(index, row.name, MAX_PATH, row.path, MAX_PATH,
                                              &row.lastWriteTime, &row.size, &row.isFolder);
    if (!found)
    {
        std::memset(&row, 0, sizeof row);
        return FetchResult::NoSuchRow;
    }
    return FetchResult::Fetched;
}

CServiceWork::CServiceWork()
{
    g_activeWork.fetch_add(1);
}

CServiceWork::~CServiceWork()
{
    g_activeWork.fetch_sub(1);
}

int ActiveServiceWork()
{
    return g_activeWork.load();
}

void OnServiceWindowClosed()
{
    static std::once_flag registered;
    if (g_activeWork.load() != 0)
        std::call_once(registered, [] { std::atexit(EndProcessIfWorkRemains); });
}

void SetServiceObserver(CServiceObserver* observer)
{
    std::lock_guard lock(g_resultLock);
    g_observer = observer;
}
