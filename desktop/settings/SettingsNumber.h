// How the settings file's numbers read: the usual string-to-integer rules, on UTF-16.
//
// Leading white space is skipped, one optional sign is accepted, and conversion stops at
// the first character that is not a digit of the base; text without any digit gives 0.
// Base 16 also accepts an optional "0x" or "0X" prefix. A value beyond the target type
// saturates at its largest (or, for the signed types, smallest) value. The unsigned
// base-16 reader negates a value with a leading minus sign in 32-bit unsigned arithmetic,
// so "-1" gives 0xFFFFFFFF.
//
//     ParseInt32(u"  3abc") == 3        ParseInt32(u"0x5") == 0
//     ParseUInt32Hex(u"1F") == 31       ParseUInt32Hex(u"0xZZ") == 0
#pragma once

#include "platform/WinTypes.h"

// `text` is zero-terminated.
LONG ParseInt32(LPCWSTR text);
LONGLONG ParseInt64(LPCWSTR text);
DWORD ParseUInt32Hex(LPCWSTR text);
