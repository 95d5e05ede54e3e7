// The profile (INI) functions, with the Windows semantics callers rely on.
//
// Files are UTF-8 without a byte order mark (a UTF-8 or UTF-16LE BOM is accepted when
// reading; a write stores UTF-8 whatever the file held). Section and key names match without regard to case. A write replaces the
// key's value in place, appends a new key at the end of its section and a new section
// at the end of the file, and creates the file as needed; a null value deletes the key,
// a null key deletes the section. Files are replaced whole (written beside the target
// and renamed over it), so a reader never sees half a file.
//
// GetPrivateProfileStringW copies the value (or `defaultValue` when the file, section or
// key is missing, or the file cannot be read), always zero-terminated, truncated to
// size - 1 units, and returns the number of units copied. Leading and trailing blanks of
// values are removed, as is one pair of enclosing quotes; trailing blanks of the default
// are dropped. Where a section appears twice, the first one counts. Lines starting with
// ';' are comments. Enumeration (a null section or key) is not supported: it copies an
// empty text and sets ERROR_INVALID_PARAMETER.
//
// WritePrivateProfileStringW returns FALSE with the last error set when the file exists
// but cannot be read, cannot be replaced, or a name or value holds a line break (which
// would add lines of the caller's making). Comments, blank lines and the line ends
// (LF or CRLF) of an existing file are kept, as are its permissions; a symbolic link is
// followed and its target replaced. Writes from threads of one process are serialised;
// writers in several processes may lose each other's change.
#pragma once

#include "platform/WinTypes.h"

DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR returned, DWORD size,
                               LPCWSTR fileName);
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName);
