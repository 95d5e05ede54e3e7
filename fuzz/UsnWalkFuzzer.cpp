// The engine's walk of enumeration answers: arbitrary answers from a scripted volume go
// through AddVolume and CreateDatabase, then queries and every row.
//
// Input: the bytes of successive FSCTL_ENUM_USN_DATA answers (continuation FRN, then
// records), separated by "NEXT"; after the last one the enumeration ends. Each answer
// is served as given, so its valid length is whatever the fuzzer chose.
//
// Properties: the empty keyword lists every entry; a keyword's count is the number of
// listed names that contain it (StrStrIW over each name, the straightforward
// algorithm); every row below the count is given, the row at the count is not; every
// folder path starts at the drive ("S:" or "S:\...").
#include "FuzzSupport.h"

#include "orva/OrvaService.h"
#include "platform/MessageBox.h"
#include "platform/TextConversion.h"
#include "platform/testing/ScriptedVolume.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace
{
namespace pt = orva::platform::testing;
using orva::fuzz::Require;

constexpr char kLetter = 'S';
const char16_t kVolumeName[] = u"\\\\?\\Volume{5c51a7ed-f022-0000-0000-000000000053}\\";

std::vector<pt::EnumAnswer> SplitAnswers(const std::uint8_t* data, std::size_t size)
{
    std::vector<pt::EnumAnswer> answers;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (true)
    {
        const std::size_t end = input.find("NEXT", start);
        const std::string_view part = input.substr(start, end == std::string_view::npos ? end : end - start);
        answers.push_back(pt::EnumAnswer{std::vector<BYTE>(part.begin(), part.end())});
        if (end == std::string_view::npos)
            return answers;
        start = end + 4;
    }
}

int QuietBox(LPCWSTR, UINT)
{
    return IDOK;
}

// Runs once: the timing log goes to the scratch folder, duplicate-FRN boxes are
// answered silently.
void Prepare()
{
    static const bool prepared = [] {
        Require(chdir(orva::fuzz::ScratchFolder().c_str()) == 0, "the scratch folder is the current directory");
        AfxSetMessageBoxHandler(QuietBox);
        return true;
    }();
    (void)prepared;
    std::remove("Perf.log");
}

struct Row
{
    std::u16string name;
    std::u16string path;
};

// Texts come back without terminator into zeroed buffers: a text ends at its first zero.
Row FetchRow(COrvaService& service, DWORD row)
{
    WCHAR name[MAX_PATH + 1] = {};
    WCHAR path[MAX_PATH + 1] = {};
    FILETIME time{};
    LARGE_INTEGER size{};
    int isFolder = -1;
    Require(service.GetResultItem(row, name, MAX_PATH + 1, path, MAX_PATH + 1, &time, &size, &isFolder) != FALSE,
            "a row below the count is given");
    Require(isFolder == 0 || isFolder == 1, "the folder flag is set");
    const std::u16string_view folder(path, std::find(path, path + MAX_PATH + 1, u'\0') - path);
    Require(folder.size() >= 2 && folder[0] == kLetter && folder[1] == u':', "the folder path starts at the drive");
    Require(folder.size() == 2 || folder[2] == u'\\', "the drive is followed by a separator");
    const std::size_t nameLength = std::find(name, name + MAX_PATH + 1, u'\0') - name;
    return Row{std::u16string(name, nameLength), std::u16string(folder)};
}

DWORD CountContaining(const std::vector<Row>& rows, const std::u16string& keyword)
{
    DWORD count = 0;
    for (const Row& row : rows)
        count += StrStrIW(row.name.c_str(), keyword.c_str()) != nullptr ? 1 : 0;
    return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Prepare();
    pt::ClearScriptedVolumes();
    pt::ScriptedVolume volume;
    volume.letter = kLetter;
    volume.volumeName = kVolumeName;
    volume.enumAnswers = SplitAnswers(data, size);
    pt::AddScriptedVolume(std::move(volume));

    COrvaService service;
    Require(service.AddVolume(0x5C1A7ED0, kVolumeName, 1 << 20, 1 << 16, 0, FALSE) != FALSE,
            "the scripted volume registers");
    const DWORD items = service.CreateDatabase();

    const DWORD all = service.Query(u"", 0);
    Require(all == items, "the empty keyword lists every entry");
    std::vector<Row> rows;
    for (DWORD row = 0; row < all; ++row)
        rows.push_back(FetchRow(service, row));
    WCHAR unused[4] = {};
    FILETIME time{};
    LARGE_INTEGER length{};
    int isFolder = 0;
    Require(service.GetResultItem(all, unused, 4, unused, 4, &time, &length, &isFolder) == FALSE,
            "the row at the count is not given");

    for (const std::u16string keyword : {u"a", u"A.", u"\u00E9", u"\u6570", u"\uFFFD"})
        Require(service.Query(keyword.c_str(), 0) == CountContaining(rows, keyword),
                "a keyword's count is the number of names that contain it");
    // Short buffers: names and paths are cut, never overrun (ASan watches the ends).
    service.Query(u"", 0);
    for (DWORD row = 0; row < all; ++row)
    {
        std::vector<WCHAR> name(3), path(1);
        service.GetResultItem(row, name.data(), 3, path.data(), 1, &time, &length, &isFolder);
    }
    pt::ClearScriptedVolumes();
    return 0;
}
