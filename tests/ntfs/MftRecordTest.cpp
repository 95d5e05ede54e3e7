#include "MftRecord.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orva::ntfs
{
namespace
{
constexpr std::size_t kRecordSize = 1024;
constexpr std::uint8_t kPosix = 0, kWin32 = 1, kDos = 2, kWin32AndDos = 3;

template <typename T> void Put(std::vector<std::uint8_t>& bytes, std::size_t at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// A FILE record as NTFS 3.1 lays it out, attributes appended one after another.
class RecordBuilder
{
public:
    RecordBuilder() : m_bytes(kRecordSize, 0)
    {
        std::memcpy(m_bytes.data(), "FILE", 4);
        Put<std::uint16_t>(m_bytes, 0x04, 0x30); // update sequence array offset
        Put<std::uint16_t>(m_bytes, 0x06, 3);    // 1 + 2 sectors
        Put<std::uint16_t>(m_bytes, 0x10, 7);    // sequence number
        Put<std::uint16_t>(m_bytes, 0x14, 0x38); // first attribute
        Put<std::uint16_t>(m_bytes, 0x16, 0x01); // in use
        Put<std::uint32_t>(m_bytes, 0x1C, kRecordSize);
    }

    RecordBuilder& StandardInformation(std::uint32_t attributes, std::int64_t usn, std::size_t size = 72)
    {
        std::vector<std::uint8_t> value(size, 0);
        Put(value, 0x20, attributes);
        if (size >= 72)
            Put(value, 0x40, usn);
        return Resident(0x10, value);
    }

    RecordBuilder& FileName(std::uint64_t parent, std::uint8_t nameSpace, const std::u16string& name)
    {
        std::vector<std::uint8_t> value(0x42 + name.size() * 2, 0);
        Put(value, 0x00, parent);
        value[0x40] = static_cast<std::uint8_t>(name.size());
        value[0x41] = nameSpace;
        std::memcpy(value.data() + 0x42, name.data(), name.size() * 2);
        return Resident(0x30, value);
    }

    RecordBuilder& AttributeList() { return Resident(0x20, std::vector<std::uint8_t>(32, 0)); }

    RecordBuilder& Flags(std::uint16_t flags)
    {
        Put<std::uint16_t>(m_bytes, 0x16, flags);
        return *this;
    }

    // The record with its end marker and bytes-in-use.
    std::vector<std::uint8_t> Build() const
    {
        std::vector<std::uint8_t> bytes = m_bytes;
        Put<std::uint32_t>(bytes, m_end, 0xFFFFFFFF);
        Put<std::uint32_t>(bytes, 0x18, static_cast<std::uint32_t>(m_end + 8));
        return bytes;
    }

    // Offset of the n-th attribute added.
    std::size_t AttributeAt(std::size_t n) const { return m_starts.at(n); }

private:
    RecordBuilder& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value)
    {
        const std::size_t length = (0x18 + value.size() + 7) & ~std::size_t{7};
        Put(m_bytes, m_end, type);
        Put<std::uint32_t>(m_bytes, m_end + 4, static_cast<std::uint32_t>(length));
        Put<std::uint32_t>(m_bytes, m_end + 0x10, static_cast<std::uint32_t>(value.size()));
        Put<std::uint16_t>(m_bytes, m_end + 0x14, 0x18);
        std::memcpy(m_bytes.data() + m_end + 0x18, value.data(), value.size());
        m_starts.push_back(m_end);
        m_end += length;
        return *this;
    }

    std::vector<std::uint8_t> m_bytes;
    std::size_t m_end = 0x38;
    std::vector<std::size_t> m_starts;
};

std::u16string NameOf(const std::vector<std::uint8_t>& record, const MftRecordInfo& info)
{
    std::u16string name(info.nameLength, u'\0');
    std::memcpy(name.data(), record.data() + info.nameOffset, info.nameLength * 2);
    return name;
}

TEST(MftRecordTest, BaseRecordGivesItsFields)
{
    const std::vector<std::uint8_t> record = RecordBuilder()
                                                 .Flags(0x03)
                                                 .StandardInformation(0x26, 0x1F0)
                                                 .FileName(0x0005000000000005, kWin32, u"Report.txt")
                                                 .Build();
    MftRecordInfo info;
    ASSERT_EQ(ParseMftRecord(record.data(), record.size(), &info), MftRecordKind::Base);
    EXPECT_EQ(info.sequence, 7);
    EXPECT_TRUE(info.directory);
    EXPECT_EQ(info.fileAttributes, 0x26u);
    EXPECT_EQ(info.usn, 0x1F0);
    EXPECT_EQ(info.parentFrn, 0x0005000000000005u);
    EXPECT_EQ(NameOf(record, info), u"Report.txt");
    EXPECT_FALSE(info.hasAttributeList);
}

TEST(MftRecordTest, ShortStandardInformationHasUsnZero)
{
    const std::vector<std::uint8_t> record =
        RecordBuilder().StandardInformation(0x20, 0x1F0, 48).FileName(5, kPosix, u"a").Build();
    MftRecordInfo info;
    ASSERT_EQ(ParseMftRecord(record.data(), record.size(), &info), MftRecordKind::Base);
    EXPECT_EQ(info.usn, 0);
    EXPECT_EQ(info.fileAttributes, 0x20u);
}

TEST(MftRecordTest, LongNameIsPreferredToTheDosName)
{
    struct Case
    {
        std::vector<std::pair<std::uint8_t, std::u16string>> names;
        std::u16string chosen;
        bool dosOnly;
    };
    const Case cases[] = {
        {{{kDos, u"LONGNA~1.TXT"}, {kWin32, u"long name.txt"}}, u"long name.txt", false},
        {{{kWin32, u"long name.txt"}, {kDos, u"LONGNA~1.TXT"}}, u"long name.txt", false},
        {{{kDos, u"LONGNA~1.TXT"}, {kPosix, u"posix:name"}}, u"posix:name", false},
        {{{kWin32AndDos, u"SHORT.TXT"}}, u"SHORT.TXT", false},
        {{{kPosix, u"first"}, {kWin32, u"second"}}, u"first", false}, // hard links: the first
        {{{kDos, u"ONLYDOS.TXT"}}, u"ONLYDOS.TXT", true},
    };
    for (const Case& c : cases)
    {
        RecordBuilder builder;
        builder.StandardInformation(0x20, 0);
        for (const auto& [nameSpace, name] : c.names)
            builder.FileName(5, nameSpace, name);
        const std::vector<std::uint8_t> record = builder.Build();
        MftRecordInfo info;
        ASSERT_EQ(ParseMftRecord(record.data(), record.size(), &info), MftRecordKind::Base);
        EXPECT_EQ(NameOf(record, info), c.chosen);
        EXPECT_EQ(info.nameIsDosOnly, c.dosOnly);
    }
}

TEST(MftRecordTest, KindFollowsTheHeader)
{
    MftRecordInfo info;
    const std::vector<std::uint8_t> unused = RecordBuilder().Flags(0).StandardInformation(0, 0).Build();
    EXPECT_EQ(ParseMftRecord(unused.data(), unused.size(), &info), MftRecordKind::Unused);

    std::vector<std::uint8_t> extension = RecordBuilder().FileName(5, kWin32, u"x").Build();
    Put<std::uint64_t>(extension, 0x20, 0x0001000000000040); // base record 64
    EXPECT_EQ(ParseMftRecord(extension.data(), extension.size(), &info), MftRecordKind::Extension);

    const std::vector<std::uint8_t> listed =
        RecordBuilder().StandardInformation(0, 0).AttributeList().Build();
    ASSERT_EQ(ParseMftRecord(listed.data(), listed.size(), &info), MftRecordKind::Base);
    EXPECT_TRUE(info.hasAttributeList);
    EXPECT_FALSE(info.hasName);
}

TEST(MftRecordTest, RecordsThatDoNotHoldTogetherAreDamaged)
{
    RecordBuilder builder;
    builder.StandardInformation(0x20, 0).FileName(5, kWin32, u"name.txt");
    const std::size_t si = builder.AttributeAt(0);
    const std::size_t fn = builder.AttributeAt(1);
    const std::vector<std::uint8_t> good = builder.Build();
    using Damage = std::function<void(std::vector<std::uint8_t>&)>;
    const std::pair<const char*, Damage> cases[] = {
        {"magic BAAD", [](auto& r) { std::memcpy(r.data(), "BAAD", 4); }},
        {"odd update sequence offset", [](auto& r) { Put<std::uint16_t>(r, 0x04, 0x31); }},
        {"update sequence count not for 1024 bytes", [](auto& r) { Put<std::uint16_t>(r, 0x06, 9); }},
        {"update sequence array past the first sector", [](auto& r) { Put<std::uint16_t>(r, 0x04, 0x1FE); }},
        {"first attribute inside the header", [](auto& r) { Put<std::uint16_t>(r, 0x14, 0x10); }},
        {"bytes in use past the record", [](auto& r) { Put<std::uint32_t>(r, 0x18, 4096); }},
        {"bytes in use before the end marker",
         [fn](auto& r) { Put<std::uint32_t>(r, 0x18, static_cast<std::uint32_t>(fn + 8)); }},
        {"attribute length 0", [si](auto& r) { Put<std::uint32_t>(r, si + 4, 0); }},
        {"attribute length not a multiple of 8", [si](auto& r) { Put<std::uint32_t>(r, si + 4, 0x61); }},
        {"attribute length past the record", [fn](auto& r) { Put<std::uint32_t>(r, fn + 4, 0x7FFFFFF8); }},
        {"value offset past the attribute", [fn](auto& r) { Put<std::uint16_t>(r, fn + 0x14, 0x200); }},
        {"value length past the attribute", [fn](auto& r) { Put<std::uint32_t>(r, fn + 0x10, 0x1000); }},
        {"name length past the value", [fn](auto& r) { r[fn + 0x18 + 0x40] = 200; }},
        {"value too short for a file name", [fn](auto& r) { Put<std::uint32_t>(r, fn + 0x10, 0x30); }},
        {"non-resident standard information", [si](auto& r) { r[si + 8] = 1; }},
        {"no standard information", [si](auto& r) { Put<std::uint32_t>(r, si, 0x40); }},
    };
    for (const auto& [what, damage] : cases)
    {
        std::vector<std::uint8_t> record = good;
        damage(record);
        MftRecordInfo info;
        EXPECT_EQ(ParseMftRecord(record.data(), record.size(), &info), MftRecordKind::Damaged) << what;
        EXPECT_FALSE(info.hasName) << what;
    }
}

// Whatever one byte of a record says, a name handed out lies inside the record.
TEST(MftRecordTest, NoSingleByteDamageLeadsOutsideTheRecord)
{
    const std::vector<std::uint8_t> good = RecordBuilder()
                                               .StandardInformation(0x20, 9)
                                               .FileName(5, kDos, u"AB~1.TXT")
                                               .FileName(5, kWin32, u"a somewhat longer name.txt")
                                               .Build();
    int stillBase = 0;
    for (std::size_t at = 0; at < 0x200; ++at)
    {
        for (const std::uint8_t value : {0x00, 0x7F, 0xFF})
        {
            std::vector<std::uint8_t> record = good;
            record[at] = value;
            MftRecordInfo info;
            if (ParseMftRecord(record.data(), record.size(), &info) != MftRecordKind::Base)
                continue;
            ++stillBase;
            if (info.hasName)
            {
                ASSERT_LE(info.nameOffset + info.nameLength * 2, record.size()) << "byte " << at;
            }
        }
    }
    EXPECT_GT(stillBase, 0); // damage to names and times alone leaves a usable record
}
} // namespace
} // namespace orva::ntfs
