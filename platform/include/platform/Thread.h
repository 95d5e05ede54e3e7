// Threads, affinity and critical sections.
#pragma once

#include "platform/WinTypes.h"

// A pseudo-handle meaning "the calling thread", as on Windows.
HANDLE GetCurrentThread();
// Binds the thread to the processors of `mask` (bit i = processor i). Returns the
// previous mask, or 0 on failure (ERROR_INVALID_PARAMETER for a mask with no
// processor of this machine). Only the calling thread's pseudo-handle is accepted.
DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask);
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

// A recursive lock, as Windows critical sections are.
struct CRITICAL_SECTION
{
    alignas(std::max_align_t) unsigned char storage[64];
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
