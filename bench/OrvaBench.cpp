// orva-bench: times OrvaCore on one attached volume, and the floor any index build
// stands on, for bench/run.sh.
//
//   orva-bench enum X RUNS     reads every MFT record with FSCTL_ENUM_USN_DATA and
//                              converts each name to UTF-8, storing nothing
//   orva-bench engine X RUNS [--no-check]
//                              per run a fresh COrvaService: AddVolume, CreateDatabase
//                              (the first run's service also gives the resident memory);
//                              then on the last service the benchmark keywords, each
//                              checked against StrStrIW over every name (unless
//                              --no-check: for profiles of the engine alone), and rows
//   orva-bench keywords        the benchmark keywords: LABEL<tab>TEXT a line
//
// Output, one measurement a line, tab-separated: SECTION, LABEL, NOTE (a count or
// empty), the value of every run separated by spaces (wall-clock seconds, or bytes for
// the memory section), and for timings the processor time of every run (seconds, all
// threads of the process). Perf.log is written to and read back from the current
// directory.
// Exit 0 when every measurement was taken, 2 otherwise.
#include "NameGenerator.h"
#include "orva/OrvaService.h"
#include "platform/ChangeJournalControl.h"
#include "platform/Counter.h"
#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/TextConversion.h"
#include "platform/Thread.h"
#include "platform/Volume.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The engine's storage, read for the accounted-memory figures.
struct OrvaServiceTestAccess
{
    static ULONGLONG StorageBytes(const COrvaService& s)
    {
        return static_cast<ULONGLONG>(s.m_heapManager.GetBlockCount()) * 0x10000 + s.m_folderIndex.capacity +
               s.m_fileIndex.capacity + s.m_folderResult.capacity + s.m_fileResult.capacity;
    }
};

namespace
{
constexpr DWORD kEnumBufferSize = 0x10000;
constexpr int kSampledRows = 200;

double Seconds()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Processor time of the whole process: on a shared machine the wall clock also counts
// the time other programs held the processors.
double ProcessorSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall-clock and processor time of runs.
struct Timings
{
    std::vector<double> wall;
    std::vector<double> processor;
};

class Stopwatch
{
public:
    Stopwatch() : m_wall(Seconds()), m_processor(ProcessorSeconds()) {}
    void Stop(Timings& into) const
    {
        into.wall.push_back(Seconds() - m_wall);
        into.processor.push_back(ProcessorSeconds() - m_processor);
    }

private:
    double m_wall;
    double m_processor;
};

long long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long total = 0;
    long long resident = 0;
    statm >> total >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

void PrintValues(const std::vector<double>& values)
{
    for (std::size_t i = 0; i < values.size(); ++i)
        std::printf(i == 0 ? "%.9g" : " %.9g", values[i]);
}

void Emit(const std::string& section, const std::string& label, const std::string& note,
          const std::vector<double>& values, const std::vector<double>& processor = {})
{
    std::printf("%s\t%s\t%s\t", section.c_str(), label.c_str(), note.c_str());
    PrintValues(values);
    std::printf("\t");
    PrintValues(processor);
    std::printf("\n");
    std::fflush(stdout);
}

void Emit(const std::string& section, const std::string& label, const std::string& note,
          const Timings& timings)
{
    Emit(section, label, note, timings.wall, timings.processor);
}

std::u16string Utf16(const std::string& text)
{
    std::u16string wide(text.size() + 1, u'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    return wide;
}

std::string Utf8(std::u16string_view text)
{
    std::string narrow(text.size() * 3 + 1, '\0');
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return narrow;
}

// ---- the enumeration floor ----

// Calls `visit` with every record of the volume's enumeration; returns the number of
// records, or -1 when the volume cannot be opened.
template <typename Visit> long long ForEachRecord(char letter, std::vector<BYTE>& buffer, Visit visit)
{
    const std::u16string device = std::u16string(u"\\\\.\\") + static_cast<char16_t>(letter) + u':';
    HANDLE volume = CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE)
        return -1;
    USN_JOURNAL_DATA_V0 journal{};
    DWORD returned = 0;
    const USN highUsn = DeviceIoControl(volume, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal,
                                        &returned, nullptr)
                            ? journal.NextUsn
                            : std::numeric_limits<USN>::max();
    long long records = 0;
    MFT_ENUM_DATA_V0 request{0, 0, highUsn};
    while (DeviceIoControl(volume, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer.data(),
                           kEnumBufferSize, &returned, nullptr) &&
           returned >= sizeof(ULONGLONG))
    {
        for (DWORD offset = sizeof(ULONGLONG); offset < returned; ++records)
        {
            const auto* record = reinterpret_cast<const USN_RECORD_V2*>(buffer.data() + offset);
            visit(*record);
            offset += record->RecordLength;
        }
        std::memcpy(&request.StartFileReferenceNumber, buffer.data(), sizeof(ULONGLONG));
    }
    CloseHandle(volume);
    return records;
}

bool MeasureEnumeration(char letter, int runs)
{
    std::vector<BYTE> buffer(kEnumBufferSize);
    Timings times;
    long long records = 0;
    std::size_t nameBytes = 0;
    char name[1024];
    for (int run = 0; run < runs; ++run)
    {
        const Stopwatch watch;
        // Each name converted as the engine converts it, and dropped.
        records = ForEachRecord(letter, buffer,
                                [&](const USN_RECORD_V2& record)
                                {
                                    nameBytes += static_cast<std::size_t>(WideCharToMultiByte(
                                        CP_ACP, 0, record.FileName, record.FileNameLength / sizeof(WCHAR),
                                        name, sizeof name, nullptr, nullptr));
                                });
        watch.Stop(times);
        if (records < 0)
        {
            std::fprintf(stderr, "orva-bench: cannot open volume %c:\n", letter);
            return false;
        }
    }
    Emit("enum", "read and decode every MFT record", std::to_string(records), times);
    return true;
}

// ---- the engine ----

BOOL Register(COrvaService& service, char letter)
{
    const std::u16string root{static_cast<char16_t>(letter), u':', u'\\'};
    WCHAR fileSystem[MAX_PATH];
    DWORD serial = 0;
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, fileSystem, MAX_PATH))
        return FALSE;
    for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
    {
        if (volume.letter == letter)
            return service.AddVolume(serial, volume.volumeName.c_str(), 1 << 25, 1 << 23, 0, FALSE);
    }
    return FALSE;
}

// Perf.log's entries by label, in the order of the file.
std::vector<std::pair<std::string, std::vector<double>>> ReadPerfLog()
{
    std::ifstream file("Perf.log", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::vector<std::pair<std::string, std::vector<double>>> phases;
    for (std::size_t open = text.find(u'['); open != std::u16string::npos; open = text.find(u'[', open + 1))
    {
        const std::size_t close = text.find(u"]\r\n", open);
        const std::size_t colon = text.find(u": ", close);
        if (close == std::u16string::npos || colon == std::u16string::npos)
            break;
        const std::string label = Utf8(std::u16string_view(text).substr(open + 1, close - open - 1));
        const std::string number = Utf8(std::u16string_view(text).substr(colon + 2, 16));
        double value = 0;
        std::from_chars(number.data(), number.data() + number.size(), value);
        auto found =
            std::find_if(phases.begin(), phases.end(), [&](const auto& p) { return p.first == label; });
        if (found == phases.end())
            found = phases.insert(phases.end(), {label, {}});
        found->second.push_back(value);
        open = close;
    }
    return phases;
}

// The name of every record of the volume, terminated, for the reference matching.
std::vector<std::u16string> VolumeNames(char letter)
{
    std::vector<BYTE> buffer(kEnumBufferSize);
    std::vector<std::u16string> names;
    ForEachRecord(letter, buffer,
                  [&](const USN_RECORD_V2& record)
                  { names.emplace_back(record.FileName, record.FileNameLength / sizeof(WCHAR)); });
    return names;
}

// Times each benchmark keyword, and checks its count against the straightforward
// algorithm (StrStrIW over every name of the volume): "check" says "same" or both counts.
void MeasureQueries(COrvaService& service, int runs, const std::vector<std::u16string>* names)
{
    for (const orva::bench::BenchKeyword& keyword : orva::bench::BenchKeywords())
    {
        const std::u16string text = Utf16(keyword.text);
        Timings times;
        DWORD matches = 0;
        for (int run = 0; run < runs; ++run)
        {
            const Stopwatch watch;
            matches = service.Query(text.c_str(), 0);
            watch.Stop(times);
        }
        const std::string label = std::string(keyword.label) + ": \"" + keyword.text + "\"";
        Emit("query", label, std::to_string(matches), times);
        if (names == nullptr)
            continue;
        const auto reference =
            std::count_if(names->begin(), names->end(),
                          [&](const std::u16string& name)
                          { return text.empty() || StrStrIW(name.c_str(), text.c_str()) != nullptr; });
        Emit("check", label,
             static_cast<DWORD>(reference) == matches
                 ? "same"
                 : std::to_string(matches) + " found, " + std::to_string(reference) + " by StrStrIW",
             std::vector<double>{});
    }
}

// Rows spread evenly over the all-entries result, each timed alone.
void MeasureRows(COrvaService& service, DWORD count)
{
    WCHAR name[MAX_PATH + 1];
    WCHAR path[MAX_PATH + 1];
    FILETIME time;
    LARGE_INTEGER size;
    int folder = 0;
    Timings times;
    for (int i = 0; i < kSampledRows && count != 0; ++i)
    {
        const DWORD row = static_cast<DWORD>(static_cast<ULONGLONG>(count) * i / kSampledRows);
        const Stopwatch watch;
        service.GetResultItem(row, name, MAX_PATH + 1, path, MAX_PATH + 1, &time, &size, &folder);
        watch.Stop(times);
    }
    Emit("row", "GetResultItem, one row", std::to_string(times.wall.size()) + " rows", times);
}

bool MeasureEngine(char letter, int runs, bool check)
{
    Timings addTimes;
    Timings buildTimes;
    std::unique_ptr<COrvaService> service;
    DWORD count = 0;
    for (int run = 0; run < runs; ++run)
    {
        // The first run's service stays alive for the memory figures; later ones replace it.
        service.reset();
        const long long before = ResidentBytes();
        service = std::make_unique<COrvaService>();
        const Stopwatch adding;
        if (!Register(*service, letter))
        {
            std::fprintf(stderr, "orva-bench: AddVolume failed for %c:\n", letter);
            return false;
        }
        adding.Stop(addTimes);
        const long long registered = ResidentBytes();
        const Stopwatch building;
        count = service->CreateDatabase();
        building.Stop(buildTimes);
        if (run == 0)
        {
            const long long built = ResidentBytes();
            const ULONGLONG storage = OrvaServiceTestAccess::StorageBytes(*service);
            SetThreadAffinityMask(GetCurrentThread(), ~DWORD_PTR{0});
            service->Query(u"", 0);
            const long long all = ResidentBytes();
            const std::string items = std::to_string(count);
            Emit("memory", "resident before the service", items, {static_cast<double>(before)});
            Emit("memory", "resident growth, AddVolume", items, {static_cast<double>(registered - before)});
            Emit("memory", "resident growth, build", items, {static_cast<double>(built - registered)});
            Emit("memory", "resident growth, build + all-entries query", items,
                 {static_cast<double>(all - registered)});
            Emit("memory", "name pool, index tables and result lists after the build", items,
                 {static_cast<double>(storage)});
            Emit("memory", "name pool, index tables and result lists after the all-entries query", items,
                 {static_cast<double>(OrvaServiceTestAccess::StorageBytes(*service))});
        }
    }
    Emit("build", "AddVolume", "", addTimes);
    Emit("build", "CreateDatabase", std::to_string(count), buildTimes);
    for (const auto& [label, values] : ReadPerfLog())
        Emit("phase", label, "", values);
    if (count == 0)
    {
        std::fprintf(stderr, "orva-bench: the build of %c: indexed nothing\n", letter);
        return false;
    }
    // Queries run on a thread of their own in the desktop program, not bound to one CPU.
    SetThreadAffinityMask(GetCurrentThread(), ~DWORD_PTR{0});
    if (check)
    {
        const std::vector<std::u16string> names = VolumeNames(letter);
        MeasureQueries(*service, runs, &names);
    }
    else
        MeasureQueries(*service, runs, nullptr);
    MeasureRows(*service, service->Query(u"", 0));
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "keywords")
    {
        for (const orva::bench::BenchKeyword& keyword : orva::bench::BenchKeywords())
            std::printf("%s\t%s\n", keyword.label, keyword.text);
        return 0;
    }
    const std::string mode = argc >= 4 ? argv[1] : "";
    const std::string letterText = argc >= 4 ? argv[2] : "";
    int runs = 0;
    if (argc >= 4)
        std::from_chars(argv[3], argv[3] + std::char_traits<char>::length(argv[3]), runs);
    const bool check = argc != 5 || std::string(argv[4]) != "--no-check";
    const char letter = letterText.size() == 1 ? static_cast<char>(std::toupper(letterText[0])) : 0;
    if ((mode != "enum" && mode != "engine") || letter < 'A' || letter > 'Z' || runs < 1 || argc > 5 ||
        (argc == 5 && (check || mode != "engine")))
    {
        std::fprintf(stderr, "Usage: orva-bench enum DRIVE-LETTER RUNS\n"
                             "       orva-bench engine DRIVE-LETTER RUNS [--no-check]\n"
                             "       orva-bench keywords\n");
        return 2;
    }
    const bool measured =
        mode == "enum" ? MeasureEnumeration(letter, runs) : MeasureEngine(letter, runs, check);
    return measured ? 0 : 2;
}
