// Drive-letter paths never lead out of their volume: "." and ".." are resolved as
// Windows resolves them before the rest of the path reaches the volume.
#include "platform/Paths.h"
#include "platform/testing/ScriptedVolume.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
namespace pt = orva::platform::testing;

// Regression: "E:\..\etc\passwd" reached the volume as "/../etc/passwd", which joined
// to a mount point leads to the folder above it.
TEST(PathTraversal, DotDotStopsAtTheVolumeRoot)
{
    pt::ScriptedVolume volume;
    volume.letter = 'E';
    pt::AddScriptedVolume(volume);
    const struct
    {
        std::u16string path;
        std::string inside;
    } cases[] = {
        {u"E:\\..\\etc\\passwd", "/etc/passwd"},
        {u"E:\\a\\..\\..\\..\\b", "/b"},
        {u"E:\\a\\.\\b\\..\\c", "/a/c"},
        {u"\\\\?\\E:\\..\\x", "/x"},
        {u"E:/..", "/"},
        {u"E:\\a\\", "/a/"},
        {u"E:\\a..b\\...\\c", "/a..b/.../c"},
    };
    for (const auto& c : cases)
    {
        const std::optional<orva::platform::DrivePath> resolved = orva::platform::ResolvePath(c.path);
        ASSERT_TRUE(resolved.has_value()) << c.inside;
        EXPECT_EQ(resolved->insidePath, c.inside);
    }
    pt::ClearScriptedVolumes();
}
} // namespace
