// Conversion between UTF-16 and the multibyte code pages, and wide-text helpers.
//
// CP_ACP, the ANSI code page, is UTF-8 on this platform, so every name round-trips.
// Both conversions follow the Windows contract: a source length of -1 means "up to and
// including the terminating zero"; a destination size of 0 asks only for the count;
// when the output does not fit the call returns 0 with ERROR_INSUFFICIENT_BUFFER
// (whatever was converted before that point may have been written). Invalid input
// (a lone surrogate, a malformed UTF-8 sequence) becomes U+FFFD, or, with
// MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS, fails with ERROR_NO_UNICODE_TRANSLATION.
// Nothing is read beyond the given source length nor written beyond the destination size.
#pragma once

#include "platform/WinTypes.h"

#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_UTF8 65001u

#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR destination,
                        int destinationSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR destination,
                        int destinationSize);

// Finds `search` in `text` ignoring case (Unicode simple case folding of each UTF-16
// unit), returns the address of the first match in `text` or null. An empty `search`
// matches at the start.
LPWSTR StrStrIW(LPCWSTR text, LPCWSTR search);

int lstrlenW(LPCWSTR text);
// Compares ignoring case as StrStrIW does; <0, 0, >0.
int lstrcmpiW(LPCWSTR left, LPCWSTR right);

// The simple case folding of one UTF-16 unit (the mapping StrStrIW compares with).
WCHAR FoldCaseSimple(WCHAR unit);
