// Damaged images: an image made by orva-mkimage, damaged in one way per case (flipped
// bytes in MFT records, a boot sector with impossible geometry, a truncated image, an
// $MFT whose runs point past the end, folders that are their own parents, names and
// attributes that run past the record), goes through attach, AddVolume, CreateDatabase,
// queries and every row fetch. Each step may refuse, but none may crash or hang, the
// image's bytes stay as they were, and every row is one of the intact image's rows, or
// one of its names directly under the drive (a parent that was lost). Flipped bytes
// may change a name into another name, so there only the path's shape is checked.
#include "ReliabilityTestSupport.h"

#include "orva/OrvaService.h"
#include "platform/DriveMap.h"
#include "platform/MessageBox.h"

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <tuple>
#include <unistd.h>

using namespace orva::reliability;
namespace fs = std::filesystem;

namespace
{
constexpr char kLetter = 'K';

struct Row
{
    std::u16string name;
    std::u16string path;
    bool folder = false;
    auto operator<=>(const Row&) const = default;
};

// Where the image's MFT lies, from its (intact) boot sector.
struct Layout
{
    std::size_t clusterSize = 0;
    std::size_t recordSize = 0;
    std::size_t mftOffset = 0;
    std::size_t RecordOffset(std::size_t record) const { return mftOffset + record * recordSize; }
};

template <typename T> T Get(const std::string& bytes, std::size_t at)
{
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}
template <typename T> void Put(std::string& bytes, std::size_t at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

Layout ReadLayout(const std::string& image)
{
    Layout layout;
    layout.clusterSize = std::size_t{Get<std::uint16_t>(image, 0x0B)} * static_cast<unsigned char>(image[0x0D]);
    const auto perRecord = Get<std::int8_t>(image, 0x40);
    layout.recordSize = perRecord > 0 ? perRecord * layout.clusterSize : std::size_t{1} << -perRecord;
    layout.mftOffset = Get<std::uint64_t>(image, 0x30) * layout.clusterSize;
    return layout;
}

// The record with its update sequence applied (the sector ends restored), for reading.
std::string RecordForReading(const std::string& image, const Layout& layout, std::size_t record)
{
    std::string bytes = image.substr(layout.RecordOffset(record), layout.recordSize);
    const auto usaOffset = Get<std::uint16_t>(bytes, 4);
    const auto usaCount = Get<std::uint16_t>(bytes, 6);
    for (std::size_t sector = 1; sector < usaCount && sector * 512 <= bytes.size(); ++sector)
        std::memcpy(bytes.data() + sector * 512 - 2, bytes.data() + usaOffset + 2 * sector, 2);
    return bytes;
}

// Offset inside the record of the first attribute of `type`, or 0.
std::size_t FindAttribute(const std::string& record, std::uint32_t type)
{
    for (std::size_t at = Get<std::uint16_t>(record, 0x14); at + 8 <= record.size();)
    {
        const auto found = Get<std::uint32_t>(record, at);
        const auto length = Get<std::uint32_t>(record, at + 4);
        if (found == 0xFFFFFFFF || length == 0)
            return 0;
        if (found == type)
            return at;
        at += length;
    }
    return 0;
}

// The record number whose $FILE_NAME is `name` (ASCII), or 0.
std::size_t FindRecord(const std::string& image, const Layout& layout, const std::string& name)
{
    for (std::size_t record = 16; record < 256; ++record)
    {
        if (layout.RecordOffset(record + 1) > image.size())
            break;
        const std::string bytes = RecordForReading(image, layout, record);
        if (bytes.compare(0, 4, "FILE") != 0)
            continue;
        const std::size_t attribute = FindAttribute(bytes, 0x30);
        if (attribute == 0)
            continue;
        const std::size_t value = attribute + Get<std::uint16_t>(bytes, attribute + 0x14);
        const auto length = static_cast<unsigned char>(bytes[value + 0x40]);
        std::string found;
        for (std::size_t i = 0; i < length; ++i)
            found += bytes[value + 0x42 + 2 * i];
        if (found == name)
            return record;
    }
    return 0;
}

// Writes `value` at `at` of `record`'s on-disk bytes; `at` must not be a sector end
// (those two bytes hold the update sequence number on disk).
template <typename T> void PutInRecord(std::string& image, const Layout& layout, std::size_t record, std::size_t at, T value)
{
    for (std::size_t i = at; i < at + sizeof value; ++i)
        ASSERT_NE(i % 512, 510u) << "a sector end" ;
    Put(image, layout.RecordOffset(record) + at, value);
}

// The offset of `name`'s $FILE_NAME value inside its record.
std::size_t FileNameValue(const std::string& image, const Layout& layout, std::size_t record)
{
    const std::string bytes = RecordForReading(image, layout, record);
    const std::size_t attribute = FindAttribute(bytes, 0x30);
    return attribute + Get<std::uint16_t>(bytes, attribute + 0x14);
}

void SetParent(std::string& image, const Layout& layout, const std::string& child, const std::string& parent)
{
    const std::size_t record = FindRecord(image, layout, child);
    const std::size_t parentRecord = FindRecord(image, layout, parent);
    ASSERT_NE(record, 0u) << child;
    ASSERT_NE(parentRecord, 0u) << parent;
    const auto sequence = Get<std::uint16_t>(image, layout.RecordOffset(parentRecord) + 0x10);
    PutInRecord(image, layout, record, FileNameValue(image, layout, record),
                std::uint64_t{parentRecord} | std::uint64_t{sequence} << 48);
}

using Damage = std::function<void(std::string& image, const Layout& layout)>;
struct DamageCase
{
    std::string name;
    Damage damage;
};
// Names the case in test names and messages.
void PrintTo(const DamageCase& damage, std::ostream* out)
{
    *out << damage.name;
}

void FlipBytes(std::string& image, const Layout& layout, unsigned seed)
{
    std::mt19937 random(seed);
    const std::size_t span = 128 * layout.recordSize;
    for (int i = 0; i < 24; ++i)
        image[layout.mftOffset + random() % span] ^= static_cast<char>(1 + random() % 255);
}

const std::vector<DamageCase>& Damages()
{
    static const std::vector<DamageCase> damages = [] {
        std::vector<DamageCase> list{
            {"ZeroBytesPerSector", [](std::string& i, const Layout&) { Put<std::uint16_t>(i, 0x0B, 0); }},
            {"OddBytesPerSector", [](std::string& i, const Layout&) { Put<std::uint16_t>(i, 0x0B, 3); }},
            {"ZeroSectorsPerCluster", [](std::string& i, const Layout&) { i[0x0D] = 0; }},
            {"MftBeyondTheVolume", [](std::string& i, const Layout&) { Put<std::uint64_t>(i, 0x30, 1ull << 40); }},
            {"HugeMftRecords", [](std::string& i, const Layout&) { Put<std::int8_t>(i, 0x40, -31); }},
            {"MoreSectorsThanTheImage", [](std::string& i, const Layout&) { Put<std::uint64_t>(i, 0x28, 1ull << 50); }},
            {"TruncatedToTheBootSector", [](std::string& i, const Layout&) { i.resize(4096); }},
            {"TruncatedToHalf", [](std::string& i, const Layout&) { i.resize(i.size() / 2); }},
            {"TruncatedInsideTheMft",
             [](std::string& i, const Layout& l) { i.resize(l.RecordOffset(20) + l.recordSize / 2); }},
            {"MftRunsPastTheEnd",
             [](std::string& i, const Layout& l) {
                 const std::string record = RecordForReading(i, l, 0);
                 const std::size_t data = FindAttribute(record, 0x80);
                 ASSERT_NE(data, 0u);
                 const std::size_t run = data + Get<std::uint16_t>(record, data + 0x20);
                 const auto header = static_cast<unsigned char>(record[run]);
                 const std::size_t lengthBytes = header & 0x0F, offsetBytes = header >> 4;
                 // The first run's cluster number: far past the end, still positive.
                 for (std::size_t b = 0; b < offsetBytes; ++b)
                     PutInRecord<std::uint8_t>(i, l, 0, run + 1 + lengthBytes + b, b + 1 == offsetBytes ? 0x3F : 0xFF);
             }},
            {"NameLengthPastTheRecord",
             [](std::string& i, const Layout& l) {
                 const std::size_t record = FindRecord(i, l, "victim.txt");
                 ASSERT_NE(record, 0u);
                 PutInRecord<std::uint8_t>(i, l, record, FileNameValue(i, l, record) + 0x40, 255);
             }},
            {"AttributeLengthPastTheRecord",
             [](std::string& i, const Layout& l) {
                 const std::size_t record = FindRecord(i, l, "victim.txt");
                 ASSERT_NE(record, 0u);
                 const std::size_t attribute = FindAttribute(RecordForReading(i, l, record), 0x30);
                 PutInRecord<std::uint32_t>(i, l, record, attribute + 4, 0x00FFFFF0);
             }},
        };
        for (unsigned seed = 1; seed <= 12; ++seed)
            list.push_back({"FlippedMftBytes" + std::to_string(seed),
                            [seed](std::string& i, const Layout& l) { FlipBytes(i, l, seed); }});
        return list;
    }();
    return damages;
}

// Regression: a folder on a loop of parents showed under a path that repeated the loop
// up to the longest path ("K:\Loop\Loop\...").
const std::vector<DamageCase>& ParentLoops()
{
    static const std::vector<DamageCase> damages{
        {"FolderIsItsOwnParent", [](std::string& i, const Layout& l) { SetParent(i, l, "Loop", "Loop"); }},
        {"FoldersAreEachOthersParents",
         [](std::string& i, const Layout& l) {
             SetParent(i, l, "Ping", "Pong");
             SetParent(i, l, "Pong", "Ping");
         }},
    };
    return damages;
}

const std::vector<orva::mkimage::ImageEntry> kEntries{
    {"Docs", true, 0, 1600000000, {}},
    {"Docs/Sub", true, 0, 1600000100, {}},
    {"Docs/Sub/report.pdf", false, 123456, 1600000200, {}},
    {"Docs/victim.txt", false, 42, 1600000300, {}},
    {"数据/文件名称.doc", false, 7, 1600000500, {}},
    {"Loop/inside.txt", false, 1, 1600000600, {}},
    {"Loop/Deeper/deep.txt", false, 2, 1600000700, {}},
    {"Ping/Pong/ball.txt", false, 3, 1600000800, {}},
    {"top level.bin", false, 5000000000ull, 1600000900, {}},
    {"Docs/" + std::string(255, 'n'), false, 3, 1600001000, {}},
};

int QuietBox(LPCWSTR, UINT)
{
    return IDOK;
}

// What the engine makes of the image under kLetter: every row of the empty query, after
// queries for a few keywords with all their rows fetched. Empty when a step refuses.
std::vector<Row> IndexImage(const std::string& image)
{
    if (!orva::platform::AttachImage(kLetter, image, 0))
        return {};
    std::vector<Row> rows;
    {
        COrvaService service;
        if (service.AddVolume(SerialOfLetter(kLetter), VolumeNameOfLetter(kLetter).c_str(), 1 << 20, 1 << 16, 0,
                              FALSE))
        {
            const DWORD items = service.CreateDatabase();
            for (const char16_t* keyword : {u"a", u"txt", u"数据", u"LOOP", u""})
            {
                const DWORD count = service.Query(keyword, 0);
                EXPECT_LE(count, items);
                rows.clear();
                for (DWORD row = 0; row < count; ++row)
                {
                    WCHAR name[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
                    FILETIME time{};
                    LARGE_INTEGER size{};
                    int folder = 0;
                    EXPECT_TRUE(service.GetResultItem(row, name, MAX_PATH + 1, path, MAX_PATH + 1, &time, &size, &folder));
                    rows.push_back({std::u16string(name, std::find(name, name + MAX_PATH + 1, u'\0')),
                                    std::u16string(path, std::find(path, path + MAX_PATH + 1, u'\0')), folder != 0});
                }
            }
            EXPECT_EQ(rows.size(), items);
        }
    }
    orva::platform::DetachImage(kLetter);
    return rows;
}

// "K:" or "K:\a\b" with no empty name between separators.
bool PathHasDriveShape(const std::u16string& path)
{
    if (path.size() < 2 || path[0] != kLetter || path[1] != u':')
        return false;
    if (path.size() == 2)
        return true;
    return path[2] == u'\\' && path.back() != u'\\' && path.find(u"\\\\") == std::u16string::npos;
}

// A path of known folder names, none twice (a loop cut anywhere gives such paths).
bool PathOfKnownFolders(const std::u16string& path, const std::set<std::u16string>& folders)
{
    std::set<std::u16string> seen;
    for (std::size_t start = 3; start < path.size();)
    {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        const std::u16string folder = path.substr(start, end - start);
        if (!folders.contains(folder) || !seen.insert(folder).second)
            return false;
        start = end + 1;
    }
    return true;
}

class DamagedImage : public Sandbox, public ::testing::WithParamInterface<DamageCase>
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = fs::temp_directory_path() / ("orva-damaged-" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        s_intactImage = (s_folder / "intact.img").string();
        BuildImageOrFail(s_intactImage, kEntries);
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    void SetUp() override
    {
        Sandbox::SetUp();
        m_previousBox = AfxSetMessageBoxHandler(QuietBox);
    }
    void TearDown() override
    {
        AfxSetMessageBoxHandler(m_previousBox);
        Sandbox::TearDown();
    }

    static fs::path s_folder;
    static std::string s_intactImage;

private:
    MessageBoxHandler m_previousBox = nullptr;
};
fs::path DamagedImage::s_folder;
std::string DamagedImage::s_intactImage;

TEST_P(DamagedImage, IndexesSoundEntriesOrFewerAndLeavesTheImageAsItWas)
{
    const auto& [name, damage] = GetParam();
    ASSERT_FALSE(s_intactImage.empty());
    static const std::vector<Row> intact = IndexImage(s_intactImage);
    ASSERT_GT(intact.size(), kEntries.size()) << "the intact image indexes";
    const std::set<Row> sound(intact.begin(), intact.end());
    std::set<std::u16string> names, folders;
    for (const Row& row : intact)
    {
        names.insert(row.name);
        if (row.folder)
            folders.insert(row.name);
    }

    std::string bytes = ReadWholeFile(s_intactImage);
    ASSERT_NO_FATAL_FAILURE(damage(bytes, ReadLayout(bytes)));
    const fs::path image = Folder() / (name + ".img");
    WriteWholeFile(image, bytes);

    const std::vector<Row> rows = IndexImage(image.string());
    EXPECT_EQ(ReadWholeFile(image), bytes) << "the image was written to";
    const bool namesMayChange = name.starts_with("FlippedMftBytes");
    for (const Row& row : rows)
    {
        EXPECT_TRUE(PathHasDriveShape(row.path)) << Utf8(row.path);
        if (namesMayChange)
            continue;
        // Also sound: a known entry whose parent was lost or cut off a loop.
        const bool underKnownFolders = names.contains(row.name) && PathOfKnownFolders(row.path, folders);
        EXPECT_TRUE(sound.contains(row) || underKnownFolders)
            << "not a row of the intact image: " << Utf8(row.path) << " \\ " << Utf8(row.name);
    }
}

auto CaseName = [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Damages, DamagedImage, ::testing::ValuesIn(Damages()), CaseName);
INSTANTIATE_TEST_SUITE_P(ParentLoops, DamagedImage, ::testing::ValuesIn(ParentLoops()), CaseName);
} // namespace
