// The texts of the result view's size and date columns, and the keyword comparison of
// the query handshake.
#pragma once

#include "platform/WinTypes.h"

#include <QString>

// Size column: empty for a folder; "1 KB" up to 1024 bytes (a negative size included);
// above that the whole kilobytes, the remainder dropped: 2047 bytes is "1 KB", 2048
// bytes "2 KB".
QString FormatSizeText(LONGLONG size, bool isFolder);

// Date column: `lastWriteTime` (UTC) in the machine's local time zone,
// "%d-%02d-%02d %02d:%02d:%02d" (the year unpadded). Empty when the time cannot be
// converted.
QString FormatDateText(const FILETIME& lastWriteTime);

// Whether two keywords differ other than in the case of the ASCII letters A to Z (the
// only difference that cannot change a query's answer: the engine ignores case).
bool KeywordsDiffer(const QString& left, const QString& right);
