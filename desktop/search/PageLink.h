// How worker threads reach the search page: a call that runs on the UI thread while the
// worker waits, the counterpart of a window message sent synchronously.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

class CSearchDialog;

struct CPageLink
{
    // Null from the moment the page starts being destroyed. Guarded by PageLinkLock().
    CSearchDialog* page = nullptr;
};

// One lock for every link. It lives at a fixed address, so the UI side can take it before
// it reads anything a worker handed over: the handover is then ordered by a lock that race
// detectors see, not only by Qt's event queue.
std::mutex& PageLinkLock();

// Runs `work` with the page on the UI thread and returns when it has run: true. When the
// page is gone, or goes before `work` could run, `work` never runs and the call returns
// false at once. Never call it on the UI thread.
bool RunOnPage(const std::shared_ptr<CPageLink>& link, std::function<void(CSearchDialog&)> work);
