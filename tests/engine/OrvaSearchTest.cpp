// orva-search as a user runs it: on an image made by orva-mkimage, against sleuthkit's
// fls as a reference listing, with the settings file, and its exit statuses.
#include "EngineTestSupport.h"

#include "ImageBuilder.h"
#include "platform/DriveMap.h"
#include "platform/Paths.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using orva::enginetest::EngineTest;
namespace mk = orva::mkimage;

namespace
{
struct ToolRun
{
    int status;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const std::vector<mk::ImageEntry> kSample{
    {"Docs", true, 0, 1600000000, {}},          {"Docs/Sub", true, 0, 1600000000, {}},
    {"Docs/Sub/report.pdf", false, 99, {}, {}}, {"Docs/a b.txt", false, 12, 1600000000, {}},
    {"数据/文件名称.doc", false, 5, {}, {}},     {"Café.txt", false, 0, {}, {}},
    {"README", false, 1, {}, {}},
};

class OrvaSearchTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        const std::string here = std::filesystem::current_path();
        ::setenv("XDG_CONFIG_HOME", (here + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (here + "/state").c_str(), 1);
        mk::ImageOptions options;
        options.output = "sample.img";
        std::string error;
        ASSERT_TRUE(mk::BuildImage(options, kSample, &error)) << error;
    }
    void TearDown() override
    {
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_STATE_HOME");
        EngineTest::TearDown();
    }

    static ToolRun Search(const std::string& arguments)
    {
        const std::string command = std::string(ORVA_SEARCH_PATH) + " " + arguments + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp("out.txt"), Slurp("err.txt")};
    }
};
} // namespace

// The same entries as fls lists, apart from the root's own entry and what fls adds that
// is no file record (streams "name:stream" stand for their file; $OrphanFiles).
TEST_F(OrvaSearchTest, ListsWhatFlsLists)
{
    if (std::system("command -v fls >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sleuthkit's fls is not installed";
    const ToolRun run = Search("--quiet --volume sample.img");
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> orva;
    for (const std::string& line : Lines(run.out))
    {
        ASSERT_GT(line.size(), 3u);
        std::string path = line.substr(3); // after "X:\"
        std::replace(path.begin(), path.end(), '\\', '/');
        if (path != ".")
            EXPECT_TRUE(orva.insert(path).second) << path;
    }
    ASSERT_EQ(std::system("fls -r -p -u sample.img >fls.txt"), 0);
    std::set<std::string> fls;
    for (const std::string& line : Lines(Slurp("fls.txt")))
    {
        std::string path = line.substr(line.find('\t') + 1);
        path = path.substr(0, path.find(':'));
        if (path != "$OrphanFiles")
            fls.insert(path);
    }
    EXPECT_EQ(orva, fls);
    EXPECT_TRUE(orva.count("数据/文件名称.doc"));
    EXPECT_FALSE(std::filesystem::exists("config/orva/drives.ini") &&
                 Slurp("config/orva/drives.ini").find("sample.img") != std::string::npos)
        << "the image stays attached";
    EXPECT_EQ(PerfLogLabels().size(), 6u);
}

TEST_F(OrvaSearchTest, OutputFormatsAndLimit)
{
    ToolRun run = Search("--quiet --volume sample.img --count 'A B'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1\n");
    run = Search("--quiet --volume sample.img --json 'a b'");
    ASSERT_EQ(Lines(run.out).size(), 1u);
    const std::string letter = run.out.substr(9, 1);
    EXPECT_EQ(run.out, "{\"path\":\"" + letter +
                           ":\\\\Docs\\\\a b.txt\",\"name\":\"a b.txt\",\"folder\":false,\"size\":12,"
                           "\"modified\":\"2020-09-13T12:26:40Z\"}\n");
    run = Search("--quiet --volume sample.img --long --limit 2 doc");
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("<DIR>"), std::string::npos) << "the folder Docs comes first";
    EXPECT_NE(lines[1].find("\\数据\\文件名称.doc"), std::string::npos);
    EXPECT_NE(lines[1].find("              5  "), std::string::npos) << lines[1];
    run = Search("--volume sample.img zzz");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("entries indexed"), std::string::npos) << run.err;
}

TEST_F(OrvaSearchTest, ReadsTheSettingsFile)
{
    char letter = 0;
    for (char candidate = 'C'; candidate <= 'Z' && letter == 0; ++candidate)
        letter = orva::platform::AttachImage(candidate, std::filesystem::absolute("sample.img"), 0) ? candidate : 0;
    ASSERT_NE(letter, 0);
    std::string volumeName;
    for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
        volumeName = volume.letter == letter ? orva::platform::ToUtf8(volume.volumeName) : volumeName;
    std::ofstream("OrvaDesktop.ini") << "[Orva]\nVolumeCount=1\n[VOLUME_1]\nVolumeRootPath=" << volumeName
                                     << "\nSerialNumber=0x12345678\nUsnMaximumSize=8388608\n"
                                        "UsnAllocationDelta=1048576\nInitHash=0x000186A0\nMonitorChanges=1\n";
    const ToolRun run = Search("--quiet README");
    orva::platform::DetachImage(letter);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string(1, letter) + ":\\README\n");
}

TEST_F(OrvaSearchTest, ExitStatusesAndMessages)
{
    std::ofstream("junk.img") << std::string(100000, 'x');
    struct Case
    {
        const char* arguments;
        int status;
        const char* message; // in standard error, or standard output for --help/--version
    };
    const Case cases[] = {
        {"--help", 0, "Usage: orva-search"},
        {"--version", 0, "orva-search 0."},
        {"--frobnicate", 2, "unknown option --frobnicate"},
        {"--limit x", 2, "--limit x: not a number"},
        {"README", 2, "settings file missing: OrvaDesktop.ini"},
        {"--settings none.ini README", 2, "settings file missing: none.ini"},
        {"--volume Q: README", 2, "unknown volume Q:"},
        {"--volume nothing.img README", 2, "unknown volume nothing.img"},
        {"--volume junk.img README", 2, "cannot read the image junk.img"},
        {"--volume junk.img --volume sample.img README", 0, "cannot read the image junk.img"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.arguments);
        const ToolRun run = Search(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
    }

    const int holder = ::open("Perf.log", O_RDWR | O_CREAT, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const ToolRun locked = Search("--volume sample.img README");
    ::close(holder);
    EXPECT_EQ(locked.status, 2);
    EXPECT_NE(locked.err.find("cannot write the timing log: Perf.log"), std::string::npos) << locked.err;
}
