// UTF-16 <-> UTF-8 conversion with the Windows calling contract, and the wide-text
// helpers that compare by simple case folding.
//
// Both converters run one pass that either counts (destination size 0) or writes, and
// check the room before each whole character, so a character is never split at the end
// of the destination. Most names the engine converts are ASCII: each converter copies a
// run of ASCII units in a tight loop before it looks at anything else.
#include "platform/TextConversion.h"

#include "CaseFolding.h"
#include "platform/LastError.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

using orva::platform::detail::FoldUnit;

namespace
{
constexpr char16_t kReplacement = 0xFFFD;

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

bool IsUtf8CodePage(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8;
}

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Copies the ASCII units of source[i, run) to destination[out...], stopping at the first
// unit that is not ASCII; advances i and out. Eight units at a time while it can: one
// test of a 64-bit mask per block, and a widening or narrowing copy the compiler turns
// into vector instructions.
template <typename From, typename To>
void CopyAsciiRun(const From* source, To* destination, size_t& i, size_t& out, size_t run)
{
    constexpr std::uint64_t kHighBits = sizeof(From) == 1 ? 0x8080808080808080ull : 0xFF80FF80FF80FF80ull;
    while (run - i >= 8)
    {
        std::uint64_t words[sizeof(From)];
        std::memcpy(words, source + i, 8 * sizeof(From));
        std::uint64_t any = 0;
        for (std::uint64_t word : words)
            any |= word & kHighBits;
        if (any)
            break;
        for (size_t k = 0; k < 8; ++k)
            destination[out + k] = static_cast<To>(source[i + k]);
        i += 8;
        out += 8;
    }
    for (; i < run && source[i] < 0x80; ++i)
        destination[out++] = static_cast<To>(source[i]);
}

// Encodes the character at source[i] (a pair counts as one) into `bytes`. Returns the
// byte count and advances i, or 0 for a lone surrogate (i then steps over it).
int EncodeUtf8(LPCWSTR source, size_t length, size_t& i, char bytes[4])
{
    const char16_t unit = source[i++];
    if (unit < 0x800)
    {
        bytes[0] = static_cast<char>(0xC0 | unit >> 6);
        bytes[1] = static_cast<char>(0x80 | (unit & 0x3F));
        return 2;
    }
    if (IsHighSurrogate(unit) && i < length && IsLowSurrogate(source[i]))
    {
        const char32_t code = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (source[i++] - 0xDC00);
        bytes[0] = static_cast<char>(0xF0 | code >> 18);
        bytes[1] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
        return 4;
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit))
        return 0;
    bytes[0] = static_cast<char>(0xE0 | unit >> 12);
    bytes[1] = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (unit & 0x3F));
    return 3;
}

// Decodes one non-ASCII UTF-8 character at source[i]. Returns the code point and
// advances i past it; for ill-formed input returns -1 and advances i past the maximal
// ill-formed subpart (the lead byte and the continuation bytes that were still
// valid), as Unicode recommends, so the next character is not swallowed. Overlong forms,
// surrogates and values above U+10FFFF are ill-formed.
long DecodeUtf8(const unsigned char* source, size_t length, size_t& i)
{
    const unsigned char lead = source[i++];
    int continuation = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the first continuation byte
    long code = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        continuation = 1;
        code = lead & 0x1F;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        continuation = 2;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        continuation = 3;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    else
        return -1;
    for (int k = 0; k < continuation; ++k)
    {
        if (i >= length || source[i] < low || source[i] > high)
            return -1;
        code = code << 6 | (source[i++] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return code;
}
} // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR destination,
                        int destinationSize, LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    if (!IsUtf8CodePage(codePage) || !source || sourceLength == 0 || sourceLength < -1 || destinationSize < 0 ||
        (destinationSize > 0 && !destination))
        return Fail(ERROR_INVALID_PARAMETER);
    if (codePage == CP_UTF8 && (defaultChar || usedDefaultChar))
        return Fail(ERROR_INVALID_PARAMETER);

    const size_t length = sourceLength == -1 ? std::char_traits<char16_t>::length(source) + 1 : size_t(sourceLength);
    const bool counting = destinationSize == 0;
    const size_t capacity = counting ? SIZE_MAX : size_t(destinationSize);
    size_t out = 0;
    size_t i = 0;
    bool replaced = false;
    while (i < length)
    {
        if (source[i] < 0x80)
        {
            const size_t run = i + std::min(length - i, capacity - out);
            if (counting)
                for (; i < run && source[i] < 0x80; ++i)
                    ++out;
            else
                CopyAsciiRun(source, destination, i, out, run);
            if (i < length && source[i] < 0x80)
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            continue;
        }
        char bytes[4];
        int count = EncodeUtf8(source, length, i, bytes);
        if (count == 0)
        {
            if (flags & WC_ERR_INVALID_CHARS)
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            replaced = true;
            if (defaultChar)
            {
                bytes[0] = defaultChar[0];
                count = 1;
            }
            else
            {
                std::memcpy(bytes, "\xEF\xBF\xBD", 3);
                count = 3;
            }
        }
        if (capacity - out < size_t(count))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (!counting)
            std::memcpy(destination + out, bytes, count);
        out += count;
    }
    if (out > INT_MAX)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (usedDefaultChar)
        *usedDefaultChar = replaced ? TRUE : FALSE;
    return static_cast<int>(out);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR destination,
                        int destinationSize)
{
    if (!IsUtf8CodePage(codePage) || !source || sourceLength == 0 || sourceLength < -1 || destinationSize < 0 ||
        (destinationSize > 0 && !destination))
        return Fail(ERROR_INVALID_PARAMETER);

    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    const size_t length = sourceLength == -1 ? std::strlen(source) + 1 : size_t(sourceLength);
    const bool counting = destinationSize == 0;
    const size_t capacity = counting ? SIZE_MAX : size_t(destinationSize);
    size_t out = 0;
    size_t i = 0;
    while (i < length)
    {
        if (bytes[i] < 0x80)
        {
            const size_t run = i + std::min(length - i, capacity - out);
            if (counting)
                for (; i < run && bytes[i] < 0x80; ++i)
                    ++out;
            else
                CopyAsciiRun(bytes, destination, i, out, run);
            if (i < length && bytes[i] < 0x80)
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            continue;
        }
        long code = DecodeUtf8(bytes, length, i);
        if (code < 0)
        {
            if (flags & MB_ERR_INVALID_CHARS)
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            code = kReplacement;
        }
        const size_t units = code >= 0x10000 ? 2 : 1;
        if (capacity - out < units)
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (!counting && units == 1)
            destination[out] = static_cast<char16_t>(code);
        else if (!counting)
        {
            destination[out] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            destination[out + 1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        out += units;
    }
    if (out > INT_MAX)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(out);
}

WCHAR FoldCaseSimple(WCHAR unit)
{
    return FoldUnit(unit);
}

LPWSTR StrStrIW(LPCWSTR text, LPCWSTR search)
{
    if (!text || !search)
        return nullptr;
    if (!*search)
        return const_cast<LPWSTR>(text);
    // The search text is folded once per call, not once per start position; a keyword
    // longer than the local buffer is folded as it is compared.
    char16_t folded[64];
    size_t foldedLength = 0;
    while (foldedLength < std::size(folded) && search[foldedLength])
    {
        folded[foldedLength] = FoldUnit(search[foldedLength]);
        ++foldedLength;
    }
    auto searchAt = [&](size_t k) { return k < foldedLength ? folded[k] : FoldUnit(search[k]); };
    // The scan for the first unit runs over every unit of every name. An ASCII unit
    // folds to `first` only as itself or its capital, so only other units need the table.
    const char16_t first = folded[0];
    const char16_t firstCapital = first >= u'a' && first <= u'z' ? static_cast<char16_t>(first - 0x20) : first;
    for (LPCWSTR start = text; *start; ++start)
    {
        const char16_t unit = *start;
        if (unit != first && unit != firstCapital && (unit < 0x80 || FoldUnit(unit) != first))
            continue;
        size_t k = 1;
        while (search[k] && start[k] && FoldUnit(start[k]) == searchAt(k))
            ++k;
        if (!search[k])
            return const_cast<LPWSTR>(start);
        // The text ran out before the search did: no later start can match either.
        if (!start[k])
            return nullptr;
    }
    return nullptr;
}

int lstrlenW(LPCWSTR text)
{
    return text ? static_cast<int>(std::char_traits<char16_t>::length(text)) : 0;
}

int lstrcmpiW(LPCWSTR left, LPCWSTR right)
{
    if (!left || !right)
        return (left ? 1 : 0) - (right ? 1 : 0);
    for (;; ++left, ++right)
    {
        const char16_t a = FoldUnit(*left);
        const char16_t b = FoldUnit(*right);
        if (a != b)
            return a < b ? -1 : 1;
        if (!a)
            return 0;
    }
}
