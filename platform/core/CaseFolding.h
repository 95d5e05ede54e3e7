// The simple case folding table of UTF-16 units (generated into CaseFolding.cpp by
// GenerateCaseFolding.py). Internal to the platform layer.
#pragma once

#include <cstdint>

namespace orva::platform::detail
{
extern const std::uint8_t kFoldPageOfHigh[256];
extern const std::uint16_t kFoldDelta[][256];

inline char16_t FoldUnit(char16_t unit)
{
    // Most names are ASCII: answer those without touching the table.
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
    return static_cast<char16_t>(unit + kFoldDelta[kFoldPageOfHigh[unit >> 8]][unit & 0xFF]);
}
} // namespace orva::platform::detail
