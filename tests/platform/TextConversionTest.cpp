#include "platform/TextConversion.h"

#include "platform/LastError.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace
{
constexpr char kGuard = '\x5C';
constexpr char16_t kWideGuard = 0x5C5C;

struct Utf8Case
{
    const char* label;
    std::string utf8;
    std::u16string utf16;
};

// Well-formed text: both directions, exact.
const Utf8Case kWellFormed[] = {
    {"ascii", "abc.txt", u"abc.txt"},
    {"latin", "Caf\xC3\xA9", u"Caf\u00E9"},
    {"cjk", "\xE4\xB8\xAD\xE6\x96\x87.doc", u"\u4E2D\u6587.doc"},
    {"pair", "x\xF0\x9F\x98\x80y", u"x\U0001F600y"},
    {"last-bmp", "\xEF\xBF\xBF", u"\uFFFF"},
    {"highest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
};

// Ill-formed UTF-8: each maximal ill-formed subpart becomes one U+FFFD.
const Utf8Case kIllFormedUtf8[] = {
    {"truncated-at-end", "a\xE4\xB8", u"a\uFFFD"},
    {"truncated-pair-at-end", "\xF0\x9F\x98", u"\uFFFD"},
    {"truncated-then-ascii", "\xE4\xB8z", u"\uFFFDz"},
    {"overlong-2", "\xC0\xAF", u"\uFFFD\uFFFD"},
    {"overlong-3", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"overlong-4", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"above-10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"lone-continuation", "a\x80" "b", u"a\uFFFDb"},
    {"invalid-byte", "\xFF", u"\uFFFD"},
};

// Ill-formed UTF-16: a lone surrogate becomes U+FFFD.
const Utf8Case kIllFormedUtf16[] = {
    {"lone-high-then-ascii", "\xEF\xBF\xBD" "a", std::u16string{0xD800, u'a'}},
    {"lone-low", "\xEF\xBF\xBD", std::u16string{0xDC00}},
    {"high-at-end", "a\xEF\xBF\xBD", std::u16string{u'a', 0xD83D}},
    {"swapped-pair", "\xEF\xBF\xBD\xEF\xBF\xBD", std::u16string{0xDE00, 0xD83D}},
};

std::string ToBytes(const std::u16string& text, UINT codePage = CP_UTF8)
{
    const int n = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, kGuard);
    out.resize(WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr));
    return out;
}

std::u16string ToUnits(const std::string& text, UINT codePage = CP_UTF8)
{
    const int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::u16string out(n, kWideGuard);
    out.resize(MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out.data(), n));
    return out;
}
// The straightforward reference: pairs stay, every other surrogate becomes U+FFFD.
std::u16string WithLoneSurrogatesReplaced(std::u16string text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        const bool lowNext = i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (high && lowNext)
            ++i;
        else if (text[i] >= 0xD800 && text[i] <= 0xDFFF)
            text[i] = 0xFFFD;
    }
    return text;
}
} // namespace

TEST(TextConversion, CountsConvertsAndRefusesShortBuffersWithoutOverrun)
{
    std::vector<Utf8Case> toWide(std::begin(kWellFormed), std::end(kWellFormed));
    toWide.insert(toWide.end(), std::begin(kIllFormedUtf8), std::end(kIllFormedUtf8));
    for (const auto& c : toWide)
    {
        SCOPED_TRACE(c.label);
        const int n = int(c.utf16.size());
        for (UINT codePage : {CP_ACP, CP_UTF8})
        {
            EXPECT_EQ(MultiByteToWideChar(codePage, 0, c.utf8.data(), int(c.utf8.size()), nullptr, 0), n);
            std::u16string out(n + 1, kWideGuard);
            ASSERT_EQ(MultiByteToWideChar(codePage, 0, c.utf8.data(), int(c.utf8.size()), out.data(), n), n);
            EXPECT_EQ(out.substr(0, n), c.utf16);
            EXPECT_EQ(out[n], kWideGuard);

            if (n == 1)
                continue; // a size of 0 asks for the count
            std::u16string tight(n, kWideGuard);
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(MultiByteToWideChar(codePage, 0, c.utf8.data(), int(c.utf8.size()), tight.data(), n - 1), 0);
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            EXPECT_EQ(tight[n - 1], kWideGuard);
        }
    }

    std::vector<Utf8Case> toBytes(std::begin(kWellFormed), std::end(kWellFormed));
    toBytes.insert(toBytes.end(), std::begin(kIllFormedUtf16), std::end(kIllFormedUtf16));
    for (const auto& c : toBytes)
    {
        SCOPED_TRACE(c.label);
        const int n = int(c.utf8.size());
        const int length = int(c.utf16.size());
        for (UINT codePage : {CP_ACP, CP_UTF8})
        {
            EXPECT_EQ(WideCharToMultiByte(codePage, 0, c.utf16.data(), length, nullptr, 0, nullptr, nullptr), n);
            std::string out(n + 1, kGuard);
            ASSERT_EQ(WideCharToMultiByte(codePage, 0, c.utf16.data(), length, out.data(), n, nullptr, nullptr), n);
            EXPECT_EQ(out.substr(0, n), c.utf8);
            EXPECT_EQ(out[n], kGuard);

            std::string tight(n, kGuard);
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(WideCharToMultiByte(codePage, 0, c.utf16.data(), length, tight.data(), n - 1, nullptr, nullptr),
                      0);
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            EXPECT_EQ(tight[n - 1], kGuard);
        }
    }
}

TEST(TextConversion, StrictFlagsRefuseIllFormedInput)
{
    for (const auto& c : kIllFormedUtf8)
    {
        SCOPED_TRACE(c.label);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.utf8.data(), int(c.utf8.size()), nullptr, 0),
                  0);
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    }
    for (const auto& c : kIllFormedUtf16)
    {
        SCOPED_TRACE(c.label);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, c.utf16.data(), int(c.utf16.size()), nullptr, 0,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    }
}

TEST(TextConversion, MinusOneLengthIncludesTheTerminator)
{
    char bytes[16];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u4E2Dx", -1, nullptr, 0, nullptr, nullptr), 5);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u4E2Dx", -1, bytes, sizeof bytes, nullptr, nullptr), 5);
    EXPECT_STREQ(bytes, "\xE4\xB8\xADx");
    char16_t units[16];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE4\xB8\xADx", -1, nullptr, 0), 3);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE4\xB8\xADx", -1, units, 16), 3);
    EXPECT_EQ(std::u16string(units), u"\u4E2Dx");
}

TEST(TextConversion, OneByteDestinationKeepsTheFirstCharacter)
{
    // Volume registration takes a drive letter this way from "E:\".
    char letter = 0;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"E:\\", 4, &letter, 1, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(letter, 'E');
}

TEST(TextConversion, RefusesInvalidArguments)
{
    char bytes[4];
    char16_t units[4];
    const struct
    {
        const char* label;
        int result;
    } cases[] = {
        {"zero source length", WideCharToMultiByte(CP_ACP, 0, u"a", 0, bytes, 4, nullptr, nullptr)},
        {"null source", WideCharToMultiByte(CP_ACP, 0, nullptr, 1, bytes, 4, nullptr, nullptr)},
        {"null destination with size", MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 4)},
        {"negative size", MultiByteToWideChar(CP_ACP, 0, "a", 1, units, -2)},
        {"unknown code page", MultiByteToWideChar(1252, 0, "a", 1, units, 4)},
        {"default char with CP_UTF8", WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, 0) << c.label;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(TextConversion, AnsiDefaultCharReplacesLoneSurrogatesAndIsReported)
{
    const char16_t text[] = {u'a', 0xD800, u'b'};
    char bytes[8] = {};
    BOOL used = FALSE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 3, bytes, 8, "?", &used), 3);
    EXPECT_EQ(std::string(bytes, 3), "a?b");
    EXPECT_TRUE(used);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab", 2, bytes, 8, "?", &used), 2);
    EXPECT_FALSE(used);
}

TEST(TextConversion, RandomTextRoundTripsAndRandomBytesStayInBounds)
{
    std::mt19937 random(12345);
    // Mostly ASCII, so runs long enough for the block copy of ASCII occur, broken up by
    // other characters at every offset.
    const char16_t pool[] = {u'a', u'Z', u'.', u' ', u'0', u'~', u'q', u'M', u'_', u'-', u'x', u'Y',
                             0x00E9, 0x0416, 0x4E2D, 0xFF21, 0xD83D, 0xDE00, 0xD800};
    for (int round = 0; round < 3000; ++round)
    {
        std::u16string text(1 + random() % 40, u'a');
        for (auto& unit : text)
            unit = pool[random() % 4 ? random() % 12 : random() % std::size(pool)];
        const std::string bytes = ToBytes(text);
        const std::u16string back = ToUnits(bytes);
        EXPECT_EQ(back, WithLoneSurrogatesReplaced(text));
        EXPECT_EQ(ToBytes(back), bytes);

        std::string noise(1 + random() % 40, '\0');
        for (auto& b : noise)
            b = static_cast<char>(random() % 4 ? random() % 0x80 : random());
        const int needed = MultiByteToWideChar(CP_UTF8, 0, noise.data(), int(noise.size()), nullptr, 0);
        std::u16string out(needed + 1, kWideGuard);
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, noise.data(), int(noise.size()), out.data(), needed), needed);
        ASSERT_EQ(out[needed], kWideGuard);
    }
}

TEST(StrStrIW, FindsWithSimpleCaseFolding)
{
    const struct
    {
        const char* label;
        const char16_t* text;
        const char16_t* search;
        int expected; // offset of the match, -1 for none
    } cases[] = {
        {"ascii", u"Hello World.txt", u"WORLD", 6},
        {"ascii miss", u"abc", u"abd", -1},
        {"search longer than text", u"ab", u"abc", -1},
        {"empty search", u"abc", u"", 0},
        {"later start after a false one", u"aab", u"AB", 1},
        {"accented", u"Caf\u00E9 Cr\u00E8me", u"CAF\u00C9 CR\u00C8ME", 0},
        {"cyrillic", u"\u041F\u0440\u0438\u0432\u0435\u0442", u"\u043F\u0420\u0418", 0},
        {"chinese", u"\u4E2D\u6587\u6587\u4EF6\u540D.txt", u"\u6587\u4EF6", 2},
        {"full-width latin", u"x\uFF21\uFF22\uFF23", u"\uFF41\uFF42\uFF43", 1},
        {"kelvin sign to k", u"5\u212Aelvin", u"k", 1},
        {"k to kelvin sign", u"kilo", u"\u212A", 0},
        {"greek final sigma", u"\u039F\u0394\u03A5\u03A3\u03A3\u0395\u03A5\u03A3", u"\u03C3\u03C2", 3},
        {"capital sharp s", u"STRA\u1E9EE", u"stra\u00DFe", 0},
        // U+0130 has only full and Turkic foldings, so it matches itself alone.
        {"dotted capital I vs i", u"\u0130stanbul", u"istanbul", -1},
        {"dotted capital I vs I", u"\u0130stanbul", u"Istanbul", -1},
        {"dotted capital I vs itself", u"\u0130STANBUL", u"\u0130stanbul", 0},
        {"dotless i is not I", u"\u0131", u"I", -1},
    };
    for (const auto& c : cases)
    {
        LPWSTR found = StrStrIW(c.text, c.search);
        EXPECT_EQ(found ? int(found - c.text) : -1, c.expected) << c.label;
    }
    EXPECT_EQ(StrStrIW(nullptr, u"a"), nullptr);
}

// The straightforward reference: fold both texts whole, then an ordinary find.
TEST(StrStrIW, AgreesWithFoldThenFind)
{
    std::mt19937 random(777);
    const char16_t pool[] = {u'k', u'K', 0x212A, u'a', u'A', 0x00C5, 0x00E5, 0x212B, 0x03C3, 0x03A3, 0x03C2, u'.'};
    auto randomText = [&](size_t maxLength) {
        std::u16string text(1 + random() % maxLength, u'a');
        for (auto& unit : text)
            unit = pool[random() % std::size(pool)];
        return text;
    };
    auto fold = [](std::u16string text) {
        for (auto& unit : text)
            unit = FoldCaseSimple(unit);
        return text;
    };
    // Another spelling of the same folded text, to make long matches.
    auto respell = [&](std::u16string text) {
        for (auto& unit : text)
            for (char16_t other = pool[random() % std::size(pool)];; other = pool[random() % std::size(pool)])
                if (FoldCaseSimple(other) == FoldCaseSimple(unit))
                {
                    unit = other;
                    break;
                }
        return text;
    };
    for (int round = 0; round < 5000; ++round)
    {
        const bool longSearch = round % 20 == 0;
        const std::u16string text = longSearch ? randomText(40) + randomText(40) + randomText(40) : randomText(12);
        // Long searches (beyond the keyword's local buffer) that do occur, with a change at
        // the end in every other one.
        std::u16string search = longSearch ? respell(text.substr(text.size() / 4, 3 * text.size() / 4)) : randomText(3);
        if (longSearch && round % 40 == 0)
            search.back() = u'.';
        const size_t expected = fold(text).find(fold(search));
        LPWSTR found = StrStrIW(text.c_str(), search.c_str());
        ASSERT_EQ(found ? size_t(found - text.c_str()) : std::u16string::npos, expected)
            << orva::platform::ToUtf8(text) << " / " << orva::platform::ToUtf8(search);
    }
}

TEST(StrStrIW, FoldingTableSamples)
{
    const struct
    {
        char16_t unit;
        char16_t folded;
    } cases[] = {{u'A', u'a'}, {u'a', u'a'}, {u'@', u'@'}, {0x00C0, 0x00E0}, {0x0178, 0x00FF},
                 {0x212A, u'k'}, {0x2126, 0x03C9}, {0x0130, 0x0130}, {0x03C2, 0x03C3}, {0x0410, 0x0430},
                 {0xFF3A, 0xFF5A}, {0x4E2D, 0x4E2D}, {0xD801, 0xD801}, {0x1E9E, 0x00DF}, {0x00B5, 0x03BC}};
    for (const auto& c : cases)
        EXPECT_EQ(int(FoldCaseSimple(c.unit)), int(c.folded)) << std::hex << int(c.unit);
}

TEST(StrStrIW, CompareIgnoringCase)
{
    EXPECT_EQ(lstrcmpiW(u"ReadMe.TXT", u"readme.txt"), 0);
    EXPECT_EQ(lstrcmpiW(u"stra\u00DFe", u"STRA\u1E9EE"), 0);
    EXPECT_LT(lstrcmpiW(u"abc", u"ABD"), 0);
    EXPECT_GT(lstrcmpiW(u"abcd", u"ABC"), 0);
    EXPECT_LT(lstrcmpiW(nullptr, u""), 0);
    EXPECT_EQ(lstrlenW(u"\u4E2D\u6587"), 2);
    EXPECT_EQ(lstrlenW(nullptr), 0);
}
