#include "NameMatcher.h"

#include "IndexRecords.h"
#include "platform/TextConversion.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace orva::engine
{
namespace
{
// A-Z to a-z; every other byte as it is.
constexpr auto kLower = [] {
    std::array<BYTE, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<BYTE>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}();

inline BYTE AsciiLower(BYTE c) { return kLower[c]; }

bool HasNonAscii(const BYTE* bytes, size_t length)
{
    BYTE any = 0;
    for (size_t i = 0; i < length; ++i)
        any |= bytes[i];
    return any >= 0x80;
}

// Whether a character that folds to ASCII starts at `at`.
bool FoldsToAsciiAt(const FoldingForms& folding, const BYTE* at, size_t remaining)
{
    if (!folding.lead[*at])
        return false;
    for (const std::string& form : folding.forms)
    {
        if (form.size() <= remaining && std::memcmp(at, form.data(), form.size()) == 0)
            return true;
    }
    return false;
}
} // namespace

// The UTF-8 forms of the characters above ASCII that fold to an ASCII letter (the long s
// and the Kelvin sign), found once from the folding itself, with their first bytes.
const FoldingForms& FoldingForms::Get()
{
    static const FoldingForms folding = [] {
        FoldingForms found{};
        for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit)
        {
            const auto wide = static_cast<WCHAR>(unit);
            char utf8[4];
            const int length = WideCharToMultiByte(CP_UTF8, 0, &wide, 1, utf8, sizeof utf8, nullptr, nullptr);
            if (FoldCaseSimple(wide) < 0x80 && length > 0)
            {
                found.forms.emplace_back(utf8, static_cast<size_t>(length));
                found.lead[static_cast<BYTE>(utf8[0])] = true;
            }
        }
        return found;
    }();
    return folding;
}

NameMatcher::NameMatcher(LPCWSTR keyword)
    : m_keyword(keyword), m_foldsToAscii(true), m_keywordUnits(0), m_folding(FoldingForms::Get())
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

// For a keyword that folds to ASCII, one pass over the bytes. ASCII bytes are UTF-16
// units one for one, and the bytes of other characters never equal a keyword byte, so a
// byte match is a match; only a character that folds to ASCII (the Kelvin sign, the
// long s) can match otherwise, and a name holding one takes the straightforward way.
bool NameMatcher::Matches(const char* name, WORD length) const
{
    // The straightforward algorithm's StrStrIW ends the name at a zero unit (a zero
    // byte in UTF-8), which only a damaged or crafted volume holds.
    if (const void* zero = std::memchr(name, 0, length))
        length = static_cast<WORD>(static_cast<const char*>(zero) - name);
    // A name of n UTF-8 bytes has at most n UTF-16 units.
    if (length < m_keywordUnits)
        return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(name);
    if (!m_foldsToAscii)
        return HasNonAscii(bytes, length) && MatchesConverted(name, length);
    const size_t needle = m_foldedAscii.size();
    if (needle == 0)
        return true;
    const auto* keyword = reinterpret_cast<const BYTE*>(m_foldedAscii.data());
    const size_t last = length - needle;
    for (size_t at = 0; at <= last; ++at)
    {
        const BYTE c = bytes[at];
        if (c >= 0x80 && FoldsToAsciiAt(m_folding, bytes + at, length - at))
            return MatchesConverted(name, length);
        if (AsciiLower(c) != keyword[0])
            continue;
        size_t i = 1;
        while (i < needle && AsciiLower(bytes[at + i]) == keyword[i])
            ++i;
        if (i == needle)
            return true;
    }
    for (size_t at = last + 1; at < length; ++at)
    {
        if (bytes[at] >= 0x80 && FoldsToAsciiAt(m_folding, bytes + at, length - at))
            return MatchesConverted(name, length);
    }
    return false;
}

// Whether the folded keyword, its first byte already compared, continues at `at`.
bool NameMatcher::FoldedKeywordAt(const BYTE* at) const
{
    const auto* keyword = reinterpret_cast<const BYTE*>(m_foldedAscii.data());
    for (size_t i = 1; i < m_foldedAscii.size(); ++i)
    {
        if (AsciiLower(at[i]) != keyword[i])
            return false;
    }
    return true;
}

// The byte search of Matches on 16 bytes at once: the candidates for the keyword's
// first byte and the bytes above ASCII come out as bit masks, restricted to the name.
bool NameMatcher::MatchesPadded(const char* name, WORD length) const
{
#ifdef __SSE2__
    if (!m_foldsToAscii || m_foldedAscii.empty() || length < m_keywordUnits)
        return Matches(name, length);
    const auto* bytes = reinterpret_cast<const BYTE*>(name);
    const size_t starts = length - m_foldedAscii.size() + 1; // positions a match may start at
    const __m128i first = _mm_set1_epi8(m_foldedAscii[0]);
    const __m128i beforeA = _mm_set1_epi8('A' - 1);
    const __m128i afterZ = _mm_set1_epi8('Z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    bool folding = false;
    for (size_t base = 0; base < length; base += 16)
    {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base));
        // Signed compares: bytes above ASCII are negative and never count as A to Z.
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(chunk, beforeA), _mm_cmplt_epi8(chunk, afterZ));
        const __m128i lower = _mm_add_epi8(chunk, _mm_and_si128(upper, caseBit));
        const unsigned inName = length - base >= 16 ? 0xFFFFu : (1u << (length - base)) - 1;
        // A zero byte ends the name for StrStrIW: the rare name holding one takes the
        // byte-at-a-time way, which cuts it there.
        if ((_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())) & inName) != 0)
            return Matches(name, length);
        const unsigned inStarts = starts <= base ? 0 : starts - base >= 16 ? 0xFFFFu : (1u << (starts - base)) - 1;
        for (unsigned candidates = _mm_movemask_epi8(_mm_cmpeq_epi8(lower, first)) & inStarts; candidates != 0;
             candidates &= candidates - 1)
        {
            if (FoldedKeywordAt(bytes + base + std::countr_zero(candidates)))
                return true;
        }
        for (unsigned high = _mm_movemask_epi8(chunk) & inName; high != 0 && !folding; high &= high - 1)
        {
            const size_t at = base + std::countr_zero(high);
            folding = FoldsToAsciiAt(m_folding, bytes + at, length - at);
        }
    }
    return folding && MatchesConverted(name, length);
#else
    return Matches(name, length);
#endif
}

// The straightforward algorithm: the name in UTF-16, then StrStrIW. A stored name of n
// bytes has at most n units, so the buffer holds every name whole and stays terminated.
bool NameMatcher::MatchesConverted(const char* name, WORD length) const
{
    WCHAR converted[kMaxNameBytes + 1];
    const int units = MultiByteToWideChar(CP_ACP, 0, name, length, converted, kMaxNameBytes);
    converted[units > 0 ? units : 0] = u'\0';
    return StrStrIW(converted, m_keyword) != nullptr;
}
} // namespace orva::engine
