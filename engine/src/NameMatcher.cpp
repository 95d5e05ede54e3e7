#include "NameMatcher.h"

#include "IndexRecords.h"
#include "platform/TextConversion.h"

#include <cstring>

namespace orva::engine
{
namespace
{
inline BYTE AsciiLower(BYTE c) { return (c >= 'A' && c <= 'Z') ? static_cast<BYTE>(c + ('a' - 'A')) : c; }

bool IsAscii(const char* name, WORD length)
{
    BYTE any = 0;
    for (WORD i = 0; i < length; ++i)
        any |= static_cast<BYTE>(name[i]);
    return any < 0x80;
}
} // namespace

NameMatcher::NameMatcher(LPCWSTR keyword) : m_keyword(keyword), m_foldsToAscii(true), m_keywordUnits(0)
{
    for (LPCWSTR unit = keyword; *unit != u'\0'; ++unit, ++m_keywordUnits)
    {
        const WCHAR folded = FoldCaseSimple(*unit);
        if (folded >= 0x80)
            m_foldsToAscii = false;
        else
            m_foldedAscii.push_back(static_cast<char>(AsciiLower(static_cast<BYTE>(folded))));
    }
}

bool NameMatcher::Matches(const char* name, WORD length) const
{
    // A name of n UTF-8 bytes has at most n UTF-16 units.
    if (length < m_keywordUnits)
        return false;
    if (!IsAscii(name, length))
        return MatchesConverted(name, length);
    if (!m_foldsToAscii)
        return false;
    const size_t needle = m_foldedAscii.size();
    if (needle == 0)
        return true;
    const BYTE first = static_cast<BYTE>(m_foldedAscii[0]);
    for (size_t at = 0; at + needle <= length; ++at)
    {
        if (AsciiLower(static_cast<BYTE>(name[at])) != first)
            continue;
        size_t i = 1;
        while (i < needle && AsciiLower(static_cast<BYTE>(name[at + i])) == static_cast<BYTE>(m_foldedAscii[i]))
            ++i;
        if (i == needle)
            return true;
    }
    return false;
}

// The straightforward algorithm: the name in UTF-16, then StrStrIW. A stored name of n
// bytes has at most n units, so the buffer holds every name whole and stays terminated.
bool NameMatcher::MatchesConverted(const char* name, WORD length) const
{
    WCHAR converted[kMaxNameBytes + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, name, length, converted, kMaxNameBytes);
    return StrStrIW(converted, m_keyword) != nullptr;
}
} // namespace orva::engine
