// Conversion between UTF-16 and the multibyte code pages, and wide-text helpers.
//
// CP_ACP (and CP_OEMCP), the ANSI code page, is UTF-8 on this platform, so every name
// round-trips; any other code page than these and CP_UTF8 fails with
// ERROR_INVALID_PARAMETER. Both conversions follow the Windows contract: a source length
// of -1 means "up to and including the terminating zero", a source length of 0 is an
// error (ERROR_INVALID_PARAMETER); a destination size of 0 asks only for the count;
// when the output does not fit the call returns 0 with ERROR_INSUFFICIENT_BUFFER, and the
// whole characters converted before that point have been written (a one-byte
// destination receives the first character when it is ASCII). A character is never
// split. Invalid input (a lone surrogate; a malformed, overlong, truncated or
// surrogate-encoding UTF-8 sequence) becomes U+FFFD, one for each maximal ill-formed
// subpart as Unicode recommends, or, with MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS,
// fails with ERROR_NO_UNICODE_TRANSLATION. Other flags are accepted and have no effect.
// For CP_ACP, `defaultChar` (its first byte) replaces a lone surrogate instead of
// U+FFFD, and `usedDefaultChar` tells whether any replacement was made; for CP_UTF8 both
// must be null, as on Windows.
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
// matches at the start; a null argument matches nothing. Folding is per unit: U+212A
// KELVIN SIGN matches k, final sigma matches sigma, but U+0130 (capital I with dot),
// which has no single-unit folding, matches only itself, and characters outside the
// Basic Multilingual Plane match only themselves.
LPWSTR StrStrIW(LPCWSTR text, LPCWSTR search);

int lstrlenW(LPCWSTR text);
// Compares the folded units in order (no linguistic ordering); <0, 0, >0. A null text
// sorts before every other text.
int lstrcmpiW(LPCWSTR left, LPCWSTR right);

// The simple case folding of one UTF-16 unit (the mapping StrStrIW compares with).
WCHAR FoldCaseSimple(WCHAR unit);
