#include "SettingsNumber.h"

#include <limits>

namespace
{
// The sign and the magnitude of the leading number of a text; a magnitude beyond `limit`
// reads as limit + 1, so that overflow is seen without wrapping.
struct LeadingNumber
{
    bool negative = false;
    ULONGLONG magnitude = 0;
};

bool IsBlank(WCHAR c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int DigitValue(WCHAR c, unsigned base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'a' && c <= u'z')
        value = c - u'a' + 10;
    else if (c >= u'A' && c <= u'Z')
        value = c - u'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

LeadingNumber ReadLeadingNumber(LPCWSTR text, unsigned base, ULONGLONG limit)
{
    LeadingNumber number;
    const WCHAR* p = text;
    while (IsBlank(*p))
        ++p;
    if (*p == u'+' || *p == u'-')
        number.negative = *p++ == u'-';
    // "0x" counts as a prefix only when a hexadecimal digit follows; otherwise the "0" is
    // the number and the "x" ends it, which gives the same 0.
    if (base == 16 && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && DigitValue(p[2], 16) >= 0)
        p += 2;
    for (int digit = DigitValue(*p, base); digit >= 0; digit = DigitValue(*++p, base))
    {
        // Checked before the multiplication, which could otherwise wrap 64 bits.
        if (number.magnitude > (limit - static_cast<unsigned>(digit)) / base)
        {
            number.magnitude = limit + 1;
            break;
        }
        number.magnitude = number.magnitude * base + static_cast<unsigned>(digit);
    }
    return number;
}

template <typename Signed> Signed ParseSigned(LPCWSTR text)
{
    using Limits = std::numeric_limits<Signed>;
    const auto largest = static_cast<ULONGLONG>(Limits::max());
    const LeadingNumber number = ReadLeadingNumber(text, 10, largest + 1);
    if (number.negative)
        return number.magnitude > largest ? Limits::min() : -static_cast<Signed>(number.magnitude);
    return number.magnitude > largest ? Limits::max() : static_cast<Signed>(number.magnitude);
}
} // namespace

LONG ParseInt32(LPCWSTR text)
{
    return ParseSigned<LONG>(text);
}

LONGLONG ParseInt64(LPCWSTR text)
{
    return ParseSigned<LONGLONG>(text);
}

DWORD ParseUInt32Hex(LPCWSTR text)
{
    constexpr ULONGLONG largest = std::numeric_limits<DWORD>::max();
    const LeadingNumber number = ReadLeadingNumber(text, 16, largest);
    if (number.magnitude > largest)
        return static_cast<DWORD>(largest);
    const auto value = static_cast<DWORD>(number.magnitude);
    return number.negative ? static_cast<DWORD>(0u - value) : value;
}
