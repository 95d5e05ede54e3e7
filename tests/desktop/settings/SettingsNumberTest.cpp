#include "SettingsNumber.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace
{
template <typename T> struct Case
{
    std::u16string text;
    T expected;
};

TEST(SettingsNumber, Int64FollowsTheConversionRulesAndSaturates)
{
    using Limits = std::numeric_limits<LONGLONG>;
    const Case<LONGLONG> cases[] = {
        {u"8388608", 8388608},
        {u"\t 1048576", 1048576},
        {u"-42kb", -42},
        {u"9223372036854775807", Limits::max()},
        {u"9223372036854775808", Limits::max()},
        {u"99999999999999999999999", Limits::max()},
        {u"-9223372036854775808", Limits::min()},
        {u"-99999999999999999999999", Limits::min()},
        {u"0x10", 0},
        {u"", 0},
        {u"-", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseInt64(c.text.c_str()), c.expected) << std::string(c.text.begin(), c.text.end());
}

TEST(SettingsNumber, Int32SaturatesAtBothEnds)
{
    using Limits = std::numeric_limits<LONG>;
    const Case<LONG> cases[] = {
        {u"2147483647", Limits::max()},
        {u"2147483648", Limits::max()},
        {u"-2147483648", Limits::min()},
        {u"-2147483649", Limits::min()},
        {u"+12", 12},
        {u"- 1", 0},
        {u"\n\r\v\f 5", 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseInt32(c.text.c_str()), c.expected) << std::string(c.text.begin(), c.text.end());
}

TEST(SettingsNumber, UnsignedHexTakesPrefixSignAndSaturates)
{
    const Case<DWORD> cases[] = {
        {u"0x1F", 31},
        {u"1F", 31},
        {u"0X1f", 31},
        {u"0xZZ", 0},
        {u"0x", 0},
        {u"-1", 0xFFFFFFFFu},
        {u"-0x2", 0xFFFFFFFEu},
        {u"FFFFFFFF", 0xFFFFFFFFu},
        {u"100000000", 0xFFFFFFFFu},
        {u"-100000000", 0xFFFFFFFFu},
        {u"  +0x000186A0", 100000},
        {u"12G4", 0x12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseUInt32Hex(c.text.c_str()), c.expected) << std::string(c.text.begin(), c.text.end());
}
} // namespace
