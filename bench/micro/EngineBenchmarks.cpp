// Micro-benchmarks of OrvaCore's hot paths on one NTFS image of the benchmark tree:
//   Enumerate      FSCTL_ENUM_USN_DATA over the whole volume, names not decoded
//   PlaceRecords   the records of captured enumeration answers into a fresh service
//   BuildPhase     each timed phase of CreateDatabase, as Perf.log reports it (the
//                  sorts and the linking are internal steps; the engine times them)
//   Query          the name scan per keyword kind
//   GetResultItem  one row of the all-entries result
//
// The image: ORVA_BENCH_IMAGE when set, else one of ORVA_BENCH_ENTRIES (default 100,000)
// entries built in a scratch folder under /tmp on first use. The drive map, journal
// store and Perf.log live in that scratch folder, never in the user's own, and the
// folder is removed when the program ends.
#include "ImageBuilder.h"
#include "NameGenerator.h"
#include "orva/OrvaService.h"
#include "platform/ChangeJournalControl.h"
#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/TextConversion.h"
#include "platform/Thread.h"
#include "platform/Volume.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct OrvaServiceTestAccess
{
    static CChangeJournal* Volume(const COrvaService& s, char letter) { return s.m_volumes[letter - 'A']; }
    static DWORD Place(COrvaService& s, std::vector<BYTE>& answer, CChangeJournal* journal)
    {
        return s.ParseRecordFromUsn(answer.data(), static_cast<DWORD>(answer.size()), journal);
    }
};

namespace
{
namespace fs = std::filesystem;
constexpr DWORD kEnumBufferSize = 0x10000;

// The attached benchmark volume, made once per process.
class BenchVolume
{
public:
    static const BenchVolume& Get()
    {
        static const BenchVolume volume;
        return volume;
    }
    char Letter() const { return m_letter; }

    // The scratch folder goes with the process: a built image is large.
    ~BenchVolume()
    {
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(m_scratch, ignored);
    }

    std::unique_ptr<COrvaService> Register() const
    {
        auto service = std::make_unique<COrvaService>();
        if (!service->AddVolume(m_serial, m_volumeName.c_str(), 1 << 25, 1 << 23, 0, FALSE))
            throw std::runtime_error("AddVolume failed");
        return service;
    }

private:
    BenchVolume()
    {
        m_scratch = fs::temp_directory_path() / ("orva-micro-" + std::to_string(::getpid()));
        const fs::path& scratch = m_scratch;
        fs::create_directories(scratch);
        fs::current_path(scratch);
        ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (scratch / "state").c_str(), 1);
        std::string image = std::getenv("ORVA_BENCH_IMAGE") ? std::getenv("ORVA_BENCH_IMAGE") : "";
        if (image.empty())
            image = BuildImage(scratch);
        for (m_letter = 'C'; m_letter <= 'Z' && !orva::platform::AttachImage(m_letter, image, 0); ++m_letter)
        {
        }
        if (m_letter > 'Z')
            throw std::runtime_error("cannot attach " + image);
        for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
        {
            if (volume.letter == m_letter)
            {
                m_volumeName = volume.volumeName;
                m_serial = volume.serialNumber;
            }
        }
    }

    static std::string BuildImage(const fs::path& scratch)
    {
        const char* entries = std::getenv("ORVA_BENCH_ENTRIES");
        const std::size_t count = entries ? std::strtoull(entries, nullptr, 10) : 100000;
        std::vector<orva::mkimage::ImageEntry> image;
        for (const orva::bench::GeneratedEntry& entry : orva::bench::GenerateTree(count))
            image.push_back({entry.path, entry.folder, entry.size, entry.mtime, {}});
        orva::mkimage::ImageOptions options;
        options.output = scratch / "bench.img";
        std::string error;
        if (!orva::mkimage::BuildImage(options, image, &error))
            throw std::runtime_error(error);
        return options.output;
    }

    fs::path m_scratch;
    char m_letter = 0;
    std::u16string m_volumeName;
    DWORD m_serial = 0;
};

HANDLE OpenDevice(char letter)
{
    const std::u16string device = std::u16string(u"\\\\.\\") + static_cast<char16_t>(letter) + u':';
    return CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Every answer of one enumeration, each cut to its valid bytes.
std::vector<std::vector<BYTE>> EnumerationAnswers(char letter)
{
    HANDLE volume = OpenDevice(letter);
    std::vector<std::vector<BYTE>> answers;
    std::vector<BYTE> buffer(kEnumBufferSize);
    MFT_ENUM_DATA_V0 request{0, 0, std::numeric_limits<USN>::max()};
    DWORD returned = 0;
    while (DeviceIoControl(volume, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer.data(),
                           kEnumBufferSize, &returned, nullptr) &&
           returned >= sizeof(ULONGLONG))
    {
        answers.emplace_back(buffer.begin(), buffer.begin() + returned);
        std::memcpy(&request.StartFileReferenceNumber, buffer.data(), sizeof(ULONGLONG));
    }
    CloseHandle(volume);
    return answers;
}

void Enumerate(benchmark::State& state)
{
    const char letter = BenchVolume::Get().Letter();
    std::vector<BYTE> buffer(kEnumBufferSize);
    long long records = 0;
    for (auto _ : state)
    {
        HANDLE volume = OpenDevice(letter);
        MFT_ENUM_DATA_V0 request{0, 0, std::numeric_limits<USN>::max()};
        DWORD returned = 0;
        records = 0;
        while (DeviceIoControl(volume, FSCTL_ENUM_USN_DATA, &request, sizeof request, buffer.data(),
                               kEnumBufferSize, &returned, nullptr) &&
               returned >= sizeof(ULONGLONG))
        {
            for (DWORD offset = sizeof(ULONGLONG); offset < returned; ++records)
                offset += reinterpret_cast<const USN_RECORD_V2*>(buffer.data() + offset)->RecordLength;
            std::memcpy(&request.StartFileReferenceNumber, buffer.data(), sizeof(ULONGLONG));
        }
        CloseHandle(volume);
    }
    state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(Enumerate)->Unit(benchmark::kMillisecond);

void PlaceRecords(benchmark::State& state)
{
    const BenchVolume& volume = BenchVolume::Get();
    std::vector<std::vector<BYTE>> answers = EnumerationAnswers(volume.Letter());
    long long records = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        std::unique_ptr<COrvaService> service = volume.Register();
        CChangeJournal* journal = OrvaServiceTestAccess::Volume(*service, volume.Letter());
        records = 0;
        state.ResumeTiming();
        for (std::vector<BYTE>& answer : answers)
            records += OrvaServiceTestAccess::Place(*service, answer, journal);
        state.PauseTiming();
        service.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(PlaceRecords)->Unit(benchmark::kMillisecond);

// Perf.log's durations in order of the entries, read and then removed.
std::vector<std::pair<std::u16string, double>> TakePerfLog()
{
    std::vector<std::pair<std::u16string, double>> entries;
    {
        std::ifstream file("Perf.log", std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
        for (std::size_t open = text.find(u'['); open != std::u16string::npos;
             open = text.find(u'[', open + 1))
        {
            const std::size_t close = text.find(u"]\r\n", open);
            const std::size_t colon = text.find(u": ", close);
            if (close == std::u16string::npos || colon == std::u16string::npos)
                break;
            std::string number;
            for (std::size_t i = colon + 2;
                 i < text.size() && (text[i] == u'.' || (text[i] >= u'0' && text[i] <= u'9')); ++i)
                number += static_cast<char>(text[i]);
            entries.emplace_back(text.substr(open + 1, close - open - 1),
                                 std::strtod(number.c_str(), nullptr));
            open = close;
        }
    }
    fs::remove("Perf.log");
    return entries;
}

// Phase `state.range(0)` of the build (0 to 4 as the engine logs them, 5 the whole
// build), in the engine's own timing.
void BuildPhase(benchmark::State& state)
{
    const BenchVolume& volume = BenchVolume::Get();
    const std::size_t phase = static_cast<std::size_t>(state.range(0));
    std::u16string label;
    for (auto _ : state)
    {
        std::unique_ptr<COrvaService> service = volume.Register();
        TakePerfLog();
        service->CreateDatabase();
        const std::vector<std::pair<std::u16string, double>> entries = TakePerfLog();
        if (phase >= entries.size())
        {
            state.SkipWithError("Perf.log has fewer entries than expected");
            break;
        }
        label = entries[phase].first;
        state.SetIterationTime(entries[phase].second);
    }
    std::string name(label.size() * 3, '\0');
    name.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_ACP, 0, label.data(), static_cast<int>(label.size()), name.data(),
                            static_cast<int>(name.size()), nullptr, nullptr)));
    state.SetLabel(name);
}
BENCHMARK(BuildPhase)->DenseRange(0, 5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The built service that the query and row benchmarks share.
COrvaService& BuiltService()
{
    static std::unique_ptr<COrvaService> service = []
    {
        std::unique_ptr<COrvaService> built = BenchVolume::Get().Register();
        built->CreateDatabase();
        SetThreadAffinityMask(GetCurrentThread(), ~DWORD_PTR{0});
        return built;
    }();
    return *service;
}

void Query(benchmark::State& state)
{
    COrvaService& service = BuiltService();
    const orva::bench::BenchKeyword& keyword =
        orva::bench::BenchKeywords()[static_cast<std::size_t>(state.range(0))];
    std::u16string text(std::strlen(keyword.text) + 1, u'\0');
    text.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, keyword.text,
                                                             static_cast<int>(std::strlen(keyword.text)),
                                                             text.data(), static_cast<int>(text.size()))));
    DWORD matches = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matches = service.Query(text.c_str(), 0));
    state.SetItemsProcessed(state.iterations() * service.GetItemCount());
    state.SetLabel(std::string(keyword.label) + ", " + std::to_string(matches) + " matches");
}
// The scan may run on several threads: processor time of the whole process, rates by
// the wall clock.
BENCHMARK(Query)
    ->DenseRange(0, static_cast<int>(orva::bench::BenchKeywords().size()) - 1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void GetResultItem(benchmark::State& state)
{
    COrvaService& service = BuiltService();
    const DWORD count = service.Query(u"", 0);
    WCHAR name[MAX_PATH + 1];
    WCHAR path[MAX_PATH + 1];
    FILETIME time;
    LARGE_INTEGER size;
    int folder = 0;
    DWORD row = 0;
    for (auto _ : state)
    {
        // A large odd stride visits rows all over the index, as scrolling does.
        row = (row + 7919) % count;
        benchmark::DoNotOptimize(
            service.GetResultItem(row, name, MAX_PATH + 1, path, MAX_PATH + 1, &time, &size, &folder));
    }
}
BENCHMARK(GetResultItem)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
