// The profile (INI) functions, with the Windows semantics callers rely on.
//
// Files are UTF-8 without a byte order mark (a UTF-8 or UTF-16LE BOM is accepted when
// reading). Section and key names match without regard to case. A write replaces the
// key's value in place, appends a new key at the end of its section and a new section
// at the end of the file, and creates the file as needed; a null value deletes the key,
// a null key deletes the section. Files are replaced whole (written beside the target
// and renamed over it), so a reader never sees half a file.
//
// GetPrivateProfileStringW copies the value (or `defaultValue` when the file, section or
// key is missing), always zero-terminated, truncated to size - 1 units, and returns the
// number of units copied. Leading and trailing blanks of values are removed, as is one
// pair of enclosing quotes.
#pragma once

#include "platform/WinTypes.h"

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR returned, DWORD size,
                               LPCWSTR fileName);
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName);
