#include "VolumeTable.h"

#include "ScriptedState.h"

#include "platform/Paths.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>

namespace orva::platform::volume
{
namespace
{
// How long a probed table is trusted. Drive-map changes of this process invalidate
// it at once; other changes (a device plugged in, a mount) show within this time.
constexpr auto kTableLifetime = std::chrono::seconds(2);

struct DriveMapStamp
{
    std::string file;
    long long modified = 0;
    long long size = -1;
    unsigned long long inode = 0;
    bool operator==(const DriveMapStamp&) const = default;
};

DriveMapStamp StampOfDriveMap()
{
    DriveMapStamp stamp;
    stamp.file = ConfigFolder() + "/drives.ini";
    struct stat status = {};
    if (::stat(stamp.file.c_str(), &status) == 0)
    {
        stamp.modified = status.st_mtim.tv_sec * 1000000000ll + status.st_mtim.tv_nsec;
        stamp.size = status.st_size;
        stamp.inode = status.st_ino;
    }
    return stamp;
}

struct KeptTable
{
    std::mutex lock;
    bool valid = false;                          // Guarded by lock.
    std::chrono::steady_clock::time_point taken; // Guarded by lock.
    DriveMapStamp stamp;                         // Guarded by lock.
    std::vector<VolumeEntry> volumes;            // Guarded by lock.
};

// Test seam: ShowOnlyScriptedVolumes.
std::atomic<bool> g_onlyScripted{false};

KeptTable& Kept()
{
    static KeptTable table;
    return table;
}

std::vector<VolumeEntry> MachineVolumes()
{
    KeptTable& table = Kept();
    std::lock_guard guard(table.lock);
    const auto now = std::chrono::steady_clock::now();
    if (!table.valid || now - table.taken > kTableLifetime || !(StampOfDriveMap() == table.stamp))
    {
        table.volumes = ProbeMachineVolumes();
        // Letters first seen during the probe were written to the map: stamp after it.
        table.stamp = StampOfDriveMap();
        table.taken = now;
        table.valid = true;
    }
    return table.volumes;
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualIgnoringCase(std::u16string_view left, std::u16string_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char16_t a, char16_t b) { return Lower(a) == Lower(b); });
}

// 64-bit FNV-1a, seeded, for names derived from a volume's identity.
std::uint64_t Fnv1a(std::string_view text, std::uint64_t seed)
{
    std::uint64_t hash = seed;
    for (unsigned char c : text)
    {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}
} // namespace

std::vector<VolumeEntry> AllVolumes()
{
    std::vector<VolumeEntry> volumes = ScriptedVolumes();
    if (g_onlyScripted.load(std::memory_order_relaxed))
        return volumes;
    std::vector<VolumeEntry> machine = MachineVolumes();
    volumes.insert(volumes.end(), std::make_move_iterator(machine.begin()),
                   std::make_move_iterator(machine.end()));
    return volumes;
}

void InvalidateVolumes()
{
    KeptTable& table = Kept();
    std::lock_guard guard(table.lock);
    table.valid = false;
}

bool IsVolumeName(std::u16string_view text)
{
    constexpr std::u16string_view prefix = u"\\\\?\\Volume{";
    constexpr std::u16string_view pattern = u"xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    if (text.size() != prefix.size() + pattern.size() + 2 ||
        !EqualIgnoringCase(text.substr(0, prefix.size()), prefix))
        return false;
    for (size_t i = 0; i < pattern.size(); ++i)
    {
        char16_t c = text[prefix.size() + i];
        bool hex = (c >= u'0' && c <= u'9') || (Lower(c) >= u'a' && Lower(c) <= u'f');
        if (pattern[i] == u'-' ? c != u'-' : !hex)
            return false;
    }
    return text.substr(prefix.size() + pattern.size()) == u"}\\";
}

bool VolumeNamesEqual(std::u16string_view left, std::u16string_view right)
{
    return !left.empty() && EqualIgnoringCase(left, right);
}

char DriveRootLetter(std::u16string_view text)
{
    if ((text.size() != 2 && text.size() != 3) || text[1] != u':' ||
        (text.size() == 3 && text[2] != u'\\' && text[2] != u'/'))
        return 0;
    char16_t letter = text[0];
    if (letter >= u'a' && letter <= u'z')
        letter = static_cast<char16_t>(letter - u'a' + u'A');
    return letter > 0 && letter < 0x80 ? static_cast<char>(letter) : 0;
}

std::optional<VolumeEntry> FindVolumeByName(std::u16string_view volumeName)
{
    for (VolumeEntry& volume : AllVolumes())
        if (VolumeNamesEqual(volume.description.volumeName, volumeName))
            return std::move(volume);
    return std::nullopt;
}

std::optional<VolumeEntry> FindVolumeByLetter(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    for (VolumeEntry& volume : AllVolumes())
        if (letter != 0 && volume.description.letter == letter)
            return std::move(volume);
    return std::nullopt;
}

std::optional<VolumeEntry> FindVolumeByRoot(std::u16string_view root)
{
    if (IsVolumeName(root))
        return FindVolumeByName(root);
    if (char letter = DriveRootLetter(root))
        return FindVolumeByLetter(letter);
    return std::nullopt;
}

std::u16string MakeVolumeName(const std::string& partitionGuid, const std::string& fileSystemUuid,
                              const std::string& place)
{
    std::string guid = partitionGuid;
    if (guid.size() != 36)
    {
        const std::string identity = fileSystemUuid + "|" + place;
        const std::uint64_t high = Fnv1a(identity, 0xcbf29ce484222325ull);
        const std::uint64_t low = Fnv1a(identity, 0x84222325cbf29ce4ull);
        char text[40];
        std::snprintf(
            text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx",
            static_cast<unsigned long long>(high >> 32), static_cast<unsigned long long>(high >> 16 & 0xFFFF),
            static_cast<unsigned long long>(high & 0xFFFF), static_cast<unsigned long long>(low >> 48),
            static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
        guid = text;
    }
    std::transform(guid.begin(), guid.end(), guid.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    return u"\\\\?\\Volume{" + ToUtf16(guid) + u"}\\";
}
} // namespace orva::platform::volume

void orva::platform::testing::ShowOnlyScriptedVolumes(bool only)
{
    orva::platform::volume::g_onlyScripted.store(only, std::memory_order_relaxed);
}
