// The one engine object of the process and the rules for reaching it.
//
// GetServiceInstance creates the engine on first use, under a lock, and publishes the
// pointer so that a thread which sees it set also sees the finished object. The engine
// lives until the process ends: an exit routine destroys it after the main window has
// closed.
//
// Query replaces the engine's result lists while GetResultItem reads them, so the two
// must never run at once. Every caller goes through QueryService and TryFetchResultItem,
// which share one lock. Only the query thread waits for that lock; the UI thread merely
// tries it, so painting never waits for a scan of every name: a row it cannot fetch now
// is painted again when the running query installs its item count.
//
// Worker threads hold a CServiceWork for as long as they may use the engine. The build
// cannot be interrupted, so when the window has closed and a worker still holds one,
// the process ends at exit without destroying the engine under it (and without running
// the remaining exit routines, which could pull the platform layer away from it).
#pragma once

#include "orva/OrvaService.h"

#include <string>

// The engine object; created on the first call. Throws std::bad_alloc when it cannot be
// created (the next call tries again).
COrvaService* GetServiceInstance();

// Query(keyword, 0) under the result lock; 0 when the engine cannot be had.
DWORD QueryService(const std::u16string& keyword);

// One result row, as GetResultItem delivers it.
struct CResultRow
{
    WCHAR name[MAX_PATH + 1];
    WCHAR path[MAX_PATH + 1];
    FILETIME lastWriteTime;
    LARGE_INTEGER size;
    int isFolder;
};

enum class FetchResult
{
    Fetched,   // `row` holds the engine's row
    NoSuchRow, // the engine holds no such row; `row` is all zero
    Busy       // a query is replacing the result lists: try again after its count arrives
};

// GetResultItem(index, ...) into a zero-filled `row`, unless a query holds the result
// lock. The texts always end in a zero.
FetchResult TryFetchResultItem(DWORD index, CResultRow& row);

// Marks one worker thread that may use the engine. Created on the thread that starts the
// worker (so that no moment exists where a started worker is not counted), destroyed
// by the worker when it is done with the engine and the windows.
class CServiceWork final
{
public:
    CServiceWork();
    ~CServiceWork();
    CServiceWork(const CServiceWork&) = delete;
    CServiceWork& operator=(const CServiceWork&) = delete;
};

// The number of CServiceWork alive.
int ActiveServiceWork();

// Called when the window that started the workers is gone. If a worker is still at work
// then, the process ends at exit without waiting for it.
void OnServiceWindowClosed();

// Test seam: the observer is called on the calling thread, inside the result lock,
// before every Query and every GetResultItem. Null removes it.
class CServiceObserver
{
public:
    virtual void BeforeQuery(const std::u16string& keyword) = 0;
    virtual void BeforeResultItem(DWORD index) = 0;

protected:
    ~CServiceObserver() = default;
};
void SetServiceObserver(CServiceObserver* observer);
