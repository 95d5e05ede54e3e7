// How worker threads reach the search page: a call that runs on the UI thread while the
// worker waits, the counterpart of a window message sent synchronously.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

class CSearchDialog;

struct CPageLink
{
    std::mutex lock;
    // Null from the moment the page starts being destroyed. Guarded by lock.
    CSearchDialog* page = nullptr;
};

// Runs `work` with the page on the UI thread and returns when it has run: true. When the
// page is gone, or goes before `work` could run, `work` never runs and the call returns
// false at once. Never call it on the UI thread.
bool RunOnPage(const std::shared_ptr<CPageLink>& link, std::function<void(CSearchDialog&)> work);
