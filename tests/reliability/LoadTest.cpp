// Load: 10,000 queries with random keywords (ASCII, Chinese, empty, 259 characters,
// control characters) against an image of 200,000 entries, rows fetched after each as
// the result view does. Every count is checked against the straightforward algorithm
// (each name as UTF-16, StrStrIW), and the fetched rows against the keyword; the heap
// does not grow with the queries (and LeakSanitizer, in the sanitizer build, finds no
// leak at exit).
#include "ReliabilityTestSupport.h"

#include "orva/OrvaService.h"
#include "platform/DriveMap.h"
#include "platform/TextConversion.h"

#include <cstdlib>
#include <malloc.h>
#include <random>
#include <unordered_map>
#include <unistd.h>

using namespace orva::reliability;
namespace fs = std::filesystem;

// Bytes the sanitizer's allocator holds, where the program runs under one; the C
// library's count does not see that allocator.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace
{
constexpr std::size_t kFolders = 2000;
constexpr std::size_t kEntries = 200000;
// ORVA_LOAD_QUERIES lowers the count where each query costs more (the sanitizer build
// runs 2,000); below 2,000 the caches' warm-up blurs the heap check.
int QueryCount()
{
    const char* count = std::getenv("ORVA_LOAD_QUERIES");
    return count != nullptr && std::atoi(count) > 0 ? std::atoi(count) : 10000;
}
constexpr DWORD kRowsPerQuery = 8;

const std::vector<std::string> kSyllables{"ka", "to", "ri", "mon", "ex", "Data", "log", "img", "Café", "ΣΊΣ",
                                          "数据", "文件", "名称", "报告", "Report", "read", "me", "_", " ", "ß"};

std::vector<orva::mkimage::ImageEntry> Entries()
{
    std::mt19937 random(20261211);
    std::vector<orva::mkimage::ImageEntry> entries;
    entries.reserve(kEntries);
    for (std::size_t folder = 0; folder < kFolders; ++folder)
        entries.push_back({"Folder" + std::to_string(folder), true, 0, {}, {}});
    while (entries.size() < kEntries)
    {
        std::string name;
        for (int part = 1 + random() % 4; part > 0; --part)
            name += kSyllables[random() % kSyllables.size()];
        name += std::to_string(entries.size()) + ".txt";
        entries.push_back({"Folder" + std::to_string(random() % kFolders) + "/" + name, false, entries.size(), {}, {}});
    }
    return entries;
}

std::u16string RandomKeyword(std::mt19937& random, const std::vector<std::u16string>& names)
{
    switch (random() % 8)
    {
    case 0:
        return u"";
    case 1: // 259 characters, the longest keyword the program passes
        return std::u16string(259, static_cast<char16_t>(u'a' + random() % 26));
    case 2: // control characters among letters
        return std::u16string{static_cast<char16_t>(1 + random() % 31), u'a', static_cast<char16_t>(1 + random() % 31)};
    case 3: // Chinese
        return std::u16string{u"数据文件名称报告"[random() % 8]};
    default: // a piece of a stored name, its letters in random case
    {
        const std::u16string& name = names[random() % names.size()];
        const std::size_t start = random() % (name.size() + 1);
        std::u16string piece = name.substr(start, 1 + random() % 4);
        for (char16_t& unit : piece)
            if (random() % 2 && unit < 0x80)
                unit = static_cast<char16_t>(std::toupper(unit));
        return piece;
    }
    }
}

std::size_t HeapInUse()
{
    if (__sanitizer_get_current_allocated_bytes)
        return __sanitizer_get_current_allocated_bytes();
    return mallinfo2().uordblks;
}

struct Fetched
{
    std::u16string name;
    bool folder = false;
};

Fetched Fetch(COrvaService& service, DWORD row)
{
    WCHAR name[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
    FILETIME time{};
    LARGE_INTEGER size{};
    int folder = 0;
    EXPECT_TRUE(service.GetResultItem(row, name, MAX_PATH + 1, path, MAX_PATH + 1, &time, &size, &folder));
    return {std::u16string(name, std::find(name, name + MAX_PATH + 1, u'\0')), folder != 0};
}

class Load : public Sandbox
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = fs::temp_directory_path() / ("orva-load-" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        BuildImageOrFail((s_folder / "large.img").string(), Entries());
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }
    static std::string Image() { return (s_folder / "large.img").string(); }

private:
    static fs::path s_folder;
};
fs::path Load::s_folder;

// Fetches rows as the view does: the first ones and a few anywhere. Each must hold the
// keyword, and folders come before files.
void FetchSomeRows(COrvaService& service, DWORD count, const std::u16string& keyword, std::mt19937& random)
{
    for (DWORD i = 0; i < std::min(count, kRowsPerQuery); ++i)
    {
        const DWORD row = i < kRowsPerQuery / 2 ? i : random() % count;
        const Fetched fetched = Fetch(service, row);
        ASSERT_NE(StrStrIW(fetched.name.c_str(), keyword.c_str()), nullptr) << Utf8(fetched.name);
        if (row > 0 && fetched.folder)
            ASSERT_TRUE(Fetch(service, row - 1).folder) << "a file before folder row " << row;
    }
}

TEST_F(Load, TenThousandRandomQueriesAgreeWithTheReferenceAndLeakNothing)
{
    const char letter = Attach(Image());
    ASSERT_NE(letter, 0);
    COrvaService service;
    ASSERT_TRUE(service.AddVolume(SerialOfLetter(letter), VolumeNameOfLetter(letter).c_str(), 1 << 20, 1 << 16, 0,
                                  FALSE));
    const DWORD items = service.CreateDatabase();
    ASSERT_GE(items, kEntries);

    // Every name the index holds, as the rows give them; the image's own names among them.
    ASSERT_EQ(service.Query(u"", 0), items);
    std::vector<std::u16string> names;
    names.reserve(items);
    for (DWORD row = 0; row < items; ++row)
        names.push_back(Fetch(service, row).name);
    std::unordered_map<std::u16string, int> present;
    for (const std::u16string& name : names)
        ++present[name];
    for (const orva::mkimage::ImageEntry& entry : Entries())
        ASSERT_GT(present[Utf16(entry.path.substr(entry.path.rfind('/') + 1))]--, 0) << entry.path;

    // The heap is measured after the same query and fetches each time. The first
    // thousand queries warm what the layers below cache (volume look-ups of the rows);
    // after them, one leaked allocation per query or fetch would add over 16 bytes a
    // query (144,000 bytes over 9,000 queries), where caches move by a few hundred.
    const int queries = QueryCount();
    const int warmUp = std::min(1000, queries / 2);
    const std::size_t leakBound = 16 * (queries - warmUp) / 2;
    const std::u16string probe = u"ri";
    auto heapAfterProbe = [&] {
        std::mt19937 rows(7);
        FetchSomeRows(service, service.Query(probe.c_str(), 0), probe, rows);
        return HeapInUse();
    };
    std::size_t heapAfterWarmUp = 0;
    std::mt19937 random(7);
    for (int query = 0; query < queries; ++query)
    {
        if (query == warmUp)
            heapAfterWarmUp = heapAfterProbe();
        const std::u16string keyword = RandomKeyword(random, names);
        DWORD expected = 0;
        for (const std::u16string& name : names)
            expected += StrStrIW(name.c_str(), keyword.c_str()) != nullptr ? 1 : 0;
        const DWORD count = service.Query(keyword.c_str(), 0);
        ASSERT_EQ(count, expected) << "query " << query << ": \"" << Utf8(keyword) << "\"";
        ASSERT_NO_FATAL_FAILURE(FetchSomeRows(service, count, keyword, random));
    }
    const std::size_t heapAfterRun = heapAfterProbe();
    EXPECT_LT(heapAfterRun, heapAfterWarmUp + leakBound) << "the heap grows with the queries";
}
} // namespace
