#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orva::fuzz
{
namespace
{
void RemoveScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(ScratchFolder(), ignored);
}
} // namespace

const std::string& ScratchFolder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "orva-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
        {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const bool registered = std::atexit(RemoveScratchFolder) == 0;
    (void)registered;
    return folder;
}

void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Require(out.good(), "the scratch file can be written");
}

std::u16string UnitsOf(const std::uint8_t* data, std::size_t size)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
    {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0)
            break;
        units.push_back(unit);
    }
    return units;
}

std::u16string WidenBytes(const std::uint8_t* data, std::size_t size)
{
    std::u16string units;
    for (std::size_t i = 0; i < size && data[i] != 0; ++i)
        units.push_back(data[i]);
    return units;
}

void Require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}
} // namespace orva::fuzz
