#include "platform/MessageBox.h"

#include "platform/Paths.h"

#include <atomic>
#include <cstdio>

namespace
{
std::atomic<MessageBoxHandler> g_handler{nullptr};

// No one to ask: write the text where a person running the program sees it, and answer
// so that nothing is agreed to.
int StandardErrorBox(LPCWSTR text, UINT type)
{
    std::fprintf(stderr, "%s\n", orva::platform::ToUtf8(text ? text : u"").c_str());
    switch (type & 0xF)
    {
    case MB_YESNO:
        return IDNO;
    case MB_OKCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}
} // namespace

MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler)
{
    return g_handler.exchange(handler, std::memory_order_acq_rel);
}

int AfxMessageBox(LPCWSTR text, UINT type)
{
    const MessageBoxHandler handler = g_handler.load(std::memory_order_acquire);
    return handler ? handler(text, type) : StandardErrorBox(text, type);
}
