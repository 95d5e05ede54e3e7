// The profile (INI) reader on arbitrary file contents, and one write into them.
//
// Properties: every read gives a zero-terminated value no longer than the buffer allows;
// a write of one key reads back as written and changes no other value that a read of
// the probed sections and keys gives.
#include "FuzzSupport.h"

#include "platform/Paths.h"
#include "platform/Profile.h"

#include <array>
#include <string>

namespace
{
// Few probes: every read parses the whole file again.
constexpr std::array<const char16_t*, 3> kSections{u"Orva", u"volume_1", u"\\\\?\\Volume{0}\\"};
constexpr std::array<const char16_t*, 3> kKeys{u"VolumeCount", u"serialnumber", u"k"};
constexpr DWORD kValueSize = 8192;

std::u16string Read(const char16_t* section, const char16_t* key, const std::u16string& file, DWORD size)
{
    std::u16string value(size, u'\x7F7F');
    const DWORD length = GetPrivateProfileStringW(section, key, u"-", value.data(), size, file.c_str());
    orva::fuzz::Require(length < size, "the value fits the buffer with its terminator");
    orva::fuzz::Require(value[length] == 0, "the value is zero-terminated");
    value.resize(length);
    return value;
}

using Probes = std::array<std::u16string, kSections.size() * kKeys.size()>;

Probes ReadAll(const std::u16string& file)
{
    Probes values;
    for (std::size_t s = 0; s < kSections.size(); ++s)
        for (std::size_t k = 0; k < kKeys.size(); ++k)
            values[s * kKeys.size() + k] = Read(kSections[s], kKeys[k], file, kValueSize);
    return values;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using orva::fuzz::Require;
    const std::string path = orva::fuzz::ScratchFolder() + "/profile.ini";
    orva::fuzz::WriteWholeFile(path, data, size);
    const std::u16string file = orva::platform::ToUtf16(path);

    for (DWORD small : {1u, 2u, 5u})
        Read(kSections[0], kKeys[0], file, small);
    const Probes before = ReadAll(file);

    const std::size_t target = size == 0 ? 0 : data[0] % before.size();
    const char16_t* section = kSections[target / kKeys.size()];
    const char16_t* key = kKeys[target % kKeys.size()];
    Require(WritePrivateProfileStringW(section, key, u"v=1;x", file.c_str()) != FALSE, "the write succeeds");

    const Probes after = ReadAll(file);
    Require(after[target] == u"v=1;x", "the written value reads back");
    for (std::size_t i = 0; i < before.size(); ++i)
        Require(i == target || after[i] == before[i], "a write changes no other value");
    return 0;
}
