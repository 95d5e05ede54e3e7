// Drive-letter path resolution on arbitrary UTF-16 texts, through a resolver that
// mounts every letter at /mnt/<letter>.
//
// Properties: the resolver is asked only for letters A to Z, with the rest of the path
// in '/' form (empty or starting with '/', no '\', no run of separators) that never
// climbs above the volume's root (a ".." there would lead out of the volume, where
// Windows stays at the root); ordinary paths come out with single '/' separators.
#include "FuzzSupport.h"

#include "platform/Paths.h"

#include <string>
#include <string_view>

namespace
{
using orva::fuzz::Require;
using orva::platform::DrivePath;

bool HasSingleSlashes(std::string_view path)
{
    return path.find('\\') == std::string_view::npos && path.find("//") == std::string_view::npos;
}

// False when a ".." component would lead above the first component's parent.
bool StaysBelowRoot(std::string_view rest)
{
    int depth = 0;
    std::size_t start = 0;
    while (start < rest.size())
    {
        std::size_t end = rest.find('/', start);
        if (end == std::string_view::npos)
            end = rest.size();
        const std::string_view component = rest.substr(start, end - start);
        if (component == "..")
        {
            if (--depth < 0)
                return false;
        }
        else if (!component.empty() && component != ".")
        {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

std::optional<DrivePath> MountEverywhere(char letter, std::string_view rest)
{
    Require(letter >= 'A' && letter <= 'Z', "the resolver gets an upper-case letter");
    Require(rest.empty() || rest.front() == '/', "the rest is empty or starts with '/'");
    Require(HasSingleSlashes(rest), "the rest has single '/' separators");
    Require(StaysBelowRoot(rest), "the rest stays inside the volume");
    return DrivePath{DrivePath::Kind::Mounted, "/mnt/" + std::string(1, letter) + std::string(rest), letter, {}};
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    orva::platform::SetDriveResolver(MountEverywhere);
    // Both readings of the bytes: as UTF-16 units, and as bytes (dense in ASCII, where
    // separators, colons and letters are).
    for (const std::u16string& path : {orva::fuzz::UnitsOf(data, size), orva::fuzz::WidenBytes(data, size)})
    {
        const std::optional<DrivePath> resolved = orva::platform::ResolvePath(path);
        if (resolved && resolved->letter == 0)
            Require(HasSingleSlashes(resolved->linuxPath), "an ordinary path has single '/' separators");
        const std::optional<std::string> linuxPath = orva::platform::ToLinuxPath(path);
        Require(linuxPath.has_value() == resolved.has_value(), "ToLinuxPath agrees with ResolvePath");
    }
    return 0;
}
