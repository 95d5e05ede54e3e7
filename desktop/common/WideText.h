// QString and the platform's UTF-16 texts (WCHAR is char16_t, the unit QString holds).
#pragma once

#include "platform/WinTypes.h"

#include <QString>

// Valid while `text` lives and is not changed.
inline LPCWSTR ToWide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

inline QString FromWide(LPCWSTR text)
{
    return QString::fromUtf16(text);
}
