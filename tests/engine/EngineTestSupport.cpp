#include "EngineTestSupport.h"

#include "platform/LastError.h"
#include "platform/Paths.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace orva::enginetest
{
std::vector<std::u16string> EngineTest::boxes;

void EngineTest::SetUp()
{
    m_previous = std::filesystem::current_path();
    char pattern[] = "/tmp/orva-engine-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_directory = pattern;
    std::filesystem::current_path(m_directory);
    pt::ClearScriptedVolumes();
    pt::HeapFailNone();
    boxes.clear();
    m_previousHandler = AfxSetMessageBoxHandler([](LPCWSTR text, UINT) {
        boxes.emplace_back(text);
        return IDOK;
    });
}

void EngineTest::TearDown()
{
    pt::HeapFailNone();
    pt::ClearScriptedVolumes();
    AfxSetMessageBoxHandler(m_previousHandler);
    std::filesystem::current_path(m_previous);
    std::filesystem::remove_all(m_directory);
}

std::vector<BYTE> EngineTest::PerfLogBytes() const
{
    std::ifstream file(m_directory / "Perf.log", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::u16string EngineTest::PerfLogText() const
{
    const std::vector<BYTE> bytes = PerfLogBytes();
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return text;
}

std::vector<std::u16string> EngineTest::PerfLogLabels() const
{
    const std::u16string text = PerfLogText();
    std::vector<std::u16string> labels;
    for (size_t at = text.find(u'['); at != std::u16string::npos; at = text.find(u'[', at + 1))
    {
        if (at != 0 && text.compare(at - 2, 2, u"\r\n") != 0)
            continue;
        const size_t end = text.find(u"]\r\n", at);
        labels.push_back(text.substr(at + 1, end - at - 1));
    }
    return labels;
}

std::u16string VolumeNameOf(char letter)
{
    static const char16_t hex[] = u"0123456789abcdef";
    std::u16string name = u"\\\\?\\Volume{0e9a1e57-0000-0000-0000-0000000000";
    name += hex[(letter >> 4) & 0xF];
    name += hex[letter & 0xF];
    name += u"}\\";
    return name;
}

pt::ScriptedVolume BareVolume(char letter, DWORD serial)
{
    pt::ScriptedVolume volume;
    volume.letter = letter;
    volume.volumeName = VolumeNameOf(letter);
    volume.serialNumber = serial;
    volume.rootFrn = kRootFrn;
    return volume;
}

pt::ScriptedVolume VolumeWith(char letter, DWORD serial, const std::vector<Entry>& records)
{
    // Answers fill at most 64 KiB, as the engine's buffer; each continues at the FRN
    // after its last record. Answers are chosen by the start FRN, so every build of the
    // volume sees the same enumeration.
    std::map<ULONGLONG, pt::EnumAnswer> answers;
    ULONGLONG start = 0;
    std::vector<BYTE> bytes = pt::EnumHeader(0);
    for (const Entry& record : records)
    {
        std::vector<BYTE> one;
        pt::AppendUsnRecord(one, record.frn, record.parent, record.folder ? kDirectory : 0x20, record.name);
        if (bytes.size() + one.size() > 0x10000)
        {
            ULONGLONG next;
            std::memcpy(&next, bytes.data(), sizeof next);
            answers[start] = {std::move(bytes)};
            start = next;
            bytes = pt::EnumHeader(0);
        }
        bytes.insert(bytes.end(), one.begin(), one.end());
        const ULONGLONG next = (record.frn & 0xFFFFFFFFFFFFull) + 1;
        std::memcpy(bytes.data(), &next, sizeof next);
    }
    answers[start] = {std::move(bytes)};
    pt::ScriptedVolume volume = BareVolume(letter, serial);
    volume.enumerate = [answers](const MFT_ENUM_DATA_V0& request, DWORD) {
        const auto found = answers.find(request.StartFileReferenceNumber);
        return found != answers.end() ? found->second : pt::EnumAnswer{{}, false, ERROR_HANDLE_EOF};
    };
    return volume;
}

Row GetRow(COrvaService& service, DWORD row)
{
    WCHAR name[MAX_PATH + 1] = {};
    WCHAR path[MAX_PATH + 1] = {};
    FILETIME time{};
    LARGE_INTEGER size{};
    int folder = -1;
    EXPECT_TRUE(service.GetResultItem(row, name, MAX_PATH, path, MAX_PATH, &time, &size, &folder));
    return {name, path, folder == 1, static_cast<ULONGLONG>(size.QuadPart),
            (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime};
}

std::vector<Row> AllRows(COrvaService& service, DWORD count)
{
    std::vector<Row> rows;
    for (DWORD row = 0; row < count; ++row)
        rows.push_back(GetRow(service, row));
    return rows;
}

std::string Utf8(std::u16string_view text) { return orva::platform::ToUtf8(text); }
} // namespace orva::enginetest
