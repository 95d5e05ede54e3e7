#include "platform/Paths.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace orva::platform;

namespace
{
// A fake volume layer: E is mounted at /mnt/e, F is an unmounted image, others unknown.
std::optional<DrivePath> FakeResolver(char letter, std::string_view rest)
{
    if (letter == 'E')
        return DrivePath{DrivePath::Kind::Mounted, "/mnt/e" + std::string(rest), 'E', {}};
    if (letter == 'F')
        return DrivePath{DrivePath::Kind::VolumeInternal, {}, 'F', std::string(rest.empty() ? "/" : rest)};
    return std::nullopt;
}

class Paths : public ::testing::Test
{
protected:
    void SetUp() override { SetDriveResolver(FakeResolver); }
    void TearDown() override { SetDriveResolver(nullptr); }
};

// Sets an environment variable for one scope, restoring the old value.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};
} // namespace

TEST_F(Paths, LinuxPathsOfWindowsShapedPaths)
{
    const struct
    {
        const char16_t* path;
        std::optional<std::string> expected;
    } cases[] = {
        {u"/home/me\\OrvaDesktop.ini", "/home/me/OrvaDesktop.ini"},
        {u"/\\OrvaDesktop.ini", "/OrvaDesktop.ini"},
        {u"/tmp//a\\\\b", "/tmp/a/b"},
        {u"Perf.log", "Perf.log"},
        {u"dir\\\u4E2D\u6587.txt", "dir/\xE4\xB8\xAD\xE6\x96\x87.txt"},
        {u"E:\\Users\\x", "/mnt/e/Users/x"},
        {u"e:/Users\\\\x", "/mnt/e/Users/x"},
        {u"E:\\", "/mnt/e/"},
        {u"E:", "/mnt/e"},
        {u"F:\\a", std::nullopt}, // not mounted: no Linux path
        {u"Q:\\a", std::nullopt}, // no volume has the letter
        {u"E:foo", "E:foo"},      // no separator after the colon: an ordinary name
        {u"\\\\?\\E:\\a", "/mnt/e/a"},
        {u"\\\\.\\e:", "/mnt/e"},
        {u"\\\\?\\Volume{0c7a5b3e-0000-0000-0000-100000000000}\\", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToLinuxPath(c.path), c.expected) << ToUtf8(c.path);
}

TEST_F(Paths, UnmountedVolumePathsCarryTheirInsidePath)
{
    const std::optional<DrivePath> resolved = ResolvePath(u"f:\\Windows\\System32");
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->kind, DrivePath::Kind::VolumeInternal);
    EXPECT_EQ(resolved->letter, 'F');
    EXPECT_EQ(resolved->insidePath, "/Windows/System32");

    SetDriveResolver(nullptr);
    EXPECT_FALSE(ResolvePath(u"E:\\x"));
    EXPECT_EQ(ToLinuxPath(u"/x\\y"), "/x/y");
}

TEST_F(Paths, Utf8AndUtf16RoundTrip)
{
    EXPECT_EQ(ToUtf8(u"a\u00E9\u4E2D\U0001F600"), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf16("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"), u"a\u00E9\u4E2D\U0001F600");
    EXPECT_EQ(ToUtf8(std::u16string{u'a', 0xD800}), "a\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf16("a\xFF"), u"a\uFFFD");
    EXPECT_EQ(ToUtf8(u""), "");
}

TEST_F(Paths, XdgFoldersAreCreatedAndRelativeValuesIgnored)
{
    TempFolder home;
    ScopedEnv homeEnv("HOME", home.Path().c_str());
    {
        ScopedEnv config("XDG_CONFIG_HOME", (home / "cfg").c_str());
        ScopedEnv state("XDG_STATE_HOME", nullptr);
        EXPECT_EQ(ConfigFolder(), home / "cfg/orva");
        EXPECT_EQ(StateFolder(), home / ".local/state/orva");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "relative/dir");
        EXPECT_EQ(ConfigFolder(), home / ".config/orva");
    }
    for (const char* folder : {"cfg/orva", ".local/state/orva", ".config/orva"})
        EXPECT_TRUE(std::filesystem::is_directory(home / folder)) << folder;
    EXPECT_EQ(std::filesystem::status(home / ".local/state/orva").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(Paths, CurrentDirectoryHasNoTrailingSeparator)
{
    const std::filesystem::path before = std::filesystem::current_path();
    TempFolder folder;
    ASSERT_EQ(chdir(folder.Path().c_str()), 0);
    EXPECT_EQ(CurrentDirectory(), ToUtf16(folder.Path()));
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(CurrentDirectory(), u"/");
    std::filesystem::current_path(before);
}
