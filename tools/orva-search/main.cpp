// orva-search: the command-line face of the engine. It registers the volumes of the
// settings file (or those named with --volume), builds the index, and prints the
// entries whose names contain the keyword, folders first, as the engine orders them.
//
// Exit status: 0 when something was found, 1 when nothing was, 2 on an error (bad
// command line, no volume that can be indexed, Perf.log that cannot be written).
#include "ResultPrinter.h"
#include "SearchOptions.h"
#include "SearchVolumes.h"

#include "orva/OrvaService.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

using namespace orva::search;

namespace
{
constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

int Fail(const std::string& message)
{
    std::fprintf(stderr, "orva-search: %s\n", message.c_str());
    return kExitError;
}

void Progress(const SearchOptions& options, const std::string& message)
{
    if (!options.quiet)
        std::fprintf(stderr, "orva-search: %s\n", message.c_str());
}

// Registers every volume it can and returns how many; a volume that cannot be had is
// reported, not fatal. -1 when there is nothing to register (reported).
int RegisterVolumes(const SearchOptions& options, COrvaService& service, AttachedImages& images)
{
    std::vector<VolumeToIndex> volumes;
    std::string error;
    if (options.volumes.empty() && !VolumesFromSettings(options.settings, &volumes, &error))
    {
        Fail(error);
        return -1;
    }
    for (const std::string& argument : options.volumes)
    {
        VolumeToIndex volume;
        if (VolumeFromArgument(argument, images, &volume, &error))
            volumes.push_back(std::move(volume));
        else
            Fail(error);
    }
    int registered = 0;
    for (const VolumeToIndex& volume : volumes)
    {
        if (service.AddVolume(volume.serialNumber, volume.volumeName.c_str(), volume.maximumSize,
                              volume.allocationDelta, volume.initHash, volume.monitorChanges))
            ++registered;
        else
            Fail("cannot index " + volume.shown +
                 ": not an NTFS volume with a drive letter, not readable, or registered twice");
    }
    return registered;
}

ResultRow FetchRow(COrvaService& service, DWORD index)
{
    WCHAR name[MAX_PATH + 1] = {};
    WCHAR path[MAX_PATH + 1] = {};
    FILETIME time{};
    LARGE_INTEGER size{};
    int folder = 0;
    service.GetResultItem(index, name, MAX_PATH, path, MAX_PATH, &time, &size, &folder);
    return {name, path, folder != 0, static_cast<ULONGLONG>(size.QuadPart), time};
}

void PrintRows(const SearchOptions& options, COrvaService& service, DWORD count)
{
    const OutputFormat format = options.json         ? OutputFormat::Json
                                : options.longFormat ? OutputFormat::Long
                                                     : OutputFormat::Paths;
    const std::uint64_t shown = options.limit ? std::min<std::uint64_t>(*options.limit, count) : count;
    for (DWORD row = 0; row < shown; ++row)
    {
        if (!PrintLine(FormatRow(FetchRow(service, row), format)))
            return; // a closed pipe: the reader has what it wants
    }
}

// Builds the index on a thread of its own: the build binds its thread to the first
// processor, as the desktop program's build thread is, and this thread (with the
// query's helper thread) stays free. False, reported, when the timing log fails.
bool BuildIndex(const SearchOptions& options, COrvaService& service)
{
    const auto start = std::chrono::steady_clock::now();
    DWORD items = 0;
    std::string failure;
    std::thread builder([&] {
        try
        {
            items = service.CreateDatabase();
        }
        catch (const CFileException& error)
        {
            failure = std::string("cannot write the timing log: ") + error.what();
        }
    });
    builder.join();
    if (!failure.empty())
    {
        Fail(failure);
        return false;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    char summary[96];
    std::snprintf(summary, sizeof summary, "%u entries indexed in %.2f s", items, took.count());
    Progress(options, summary);
    return true;
}

int Search(const SearchOptions& options)
{
    auto service = std::make_unique<COrvaService>();
    AttachedImages images;
    const int registered = RegisterVolumes(options, *service, images);
    if (registered <= 0)
        return registered < 0 ? kExitError : Fail("no volume to index");
    Progress(options, "indexing " + std::to_string(registered) + (registered == 1 ? " volume" : " volumes"));
    if (!BuildIndex(options, *service))
        return kExitError;

    const std::u16string keyword = orva::platform::ToUtf16(options.keyword);
    const DWORD count = service->Query(keyword.c_str(), 0);
    if (options.count)
        std::printf("%u\n", count);
    else
        PrintRows(options, *service, count);
    std::fflush(stdout);
    return count > 0 ? kExitFound : kExitNothing;
}
} // namespace

int main(int argc, char** argv)
{
    // Output to a closed pipe ends the listing quietly instead of killing the process
    // before attached images are detached.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    const std::optional<SearchOptions> options = ParseOptions(argc, argv, &error);
    if (!options)
        return Fail(error);
    if (options->help)
    {
        std::fputs(HelpText().c_str(), stdout);
        return kExitFound;
    }
    if (options->version)
    {
        std::printf("orva-search %s\n", ORVA_VERSION);
        return kExitFound;
    }
    return Search(*options);
}
