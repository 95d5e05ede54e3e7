// orva-drive: its commands, messages and exit codes.
#include "RunCommand.h"
#include "TempFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace
{
class DriveToolTest : public ::testing::Test
{
protected:
    int Drive(const std::string& arguments, std::string* output)
    {
        return RunCommand(std::string(ORVA_DRIVE) + " " + arguments, output);
    }

    std::string MakeImage(const std::string& name, const std::string& options = {})
    {
        const auto list = m_folders.Root() / "entries.txt";
        std::ofstream(list) << "a.txt\t10\n";
        const auto image = m_folders.Root() / name;
        std::string output;
        EXPECT_EQ(RunCommand(std::string(ORVA_MKIMAGE) + " --from-list " + list.string() + " " + options +
                                 " " + image.string(),
                             &output),
                  0)
            << output;
        return image.string();
    }

    TempFolders m_folders;
};

// The block device mounted at "/", as /dev/NAME, or empty when "/" is not on one.
std::string RootDevice()
{
    std::ifstream mounts("/proc/self/mountinfo");
    std::string deviceNumber;
    for (std::string line; std::getline(mounts, line);)
    {
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        fields >> id >> parent >> number >> root >> mountPoint;
        if (mountPoint == "/")
            deviceNumber = number;
    }
    for (const auto& device : std::filesystem::directory_iterator("/sys/class/block"))
    {
        std::ifstream dev(device.path() / "dev");
        std::string number;
        if (std::getline(dev, number) && number == deviceNumber)
            return "/dev/" + device.path().filename().string();
    }
    return {};
}

TEST_F(DriveToolTest, ListShowsTheMachinesRootDisk)
{
    const std::string device = RootDevice();
    if (device.empty())
        GTEST_SKIP() << "/ is not on a block device here";
    std::string output;
    EXPECT_EQ(Drive("list", &output), 0) << output;
    EXPECT_NE(output.find(device), std::string::npos) << output;
}

TEST_F(DriveToolTest, AttachedImageIsListedWithLetterAndNtfsUntilDetached)
{
    const std::string image = MakeImage("plain.img");
    std::string output;
    ASSERT_EQ(Drive("attach e: " + image, &output), 0) << output;
    ASSERT_EQ(Drive("list", &output), 0);
    std::istringstream lines(output);
    std::string found;
    for (std::string line; std::getline(lines, line);)
        if (line.find(image) != std::string::npos)
            found = line;
    EXPECT_EQ(found.rfind("E:  fixed     NTFS", 0), 0u) << output;
    EXPECT_NE(found.find(" yes "), std::string::npos) << found;

    ASSERT_EQ(Drive("detach E:", &output), 0) << output;
    ASSERT_EQ(Drive("list", &output), 0);
    EXPECT_EQ(output.find(image), std::string::npos) << output;
}

TEST_F(DriveToolTest, BadInputGivesAMessageAndExitTwo)
{
    const std::string image = MakeImage("plain.img");
    const std::string disk = MakeImage("disk.img", "--partition mbr");
    const auto zeros = m_folders.Root() / "zeros.img";
    std::ofstream(zeros) << std::string(1 << 16, '\0');
    std::string output;
    ASSERT_EQ(Drive("attach E: " + image, &output), 0) << output;

    struct Case
    {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"attach F: " + (m_folders.Root() / "missing.img").string(), "missing.img: no such file"},
        {"attach F: " + zeros.string(), "zeros.img: not a file system"},
        {"attach E: " + disk + ":1", "E: is taken by " + image},
        {"attach F: " + disk + ":5", "disk.img: no partition 5"},
        {"attach F: " + disk + ":0", "partitions are numbered from 1"},
        {"attach 7: " + image, "7: is not a drive letter"},
        {"detach G:", "G: no image is attached"},
        {"list extra", "bad arguments for list"},
        {"", "give a command"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(Drive(c.arguments, &output), 2);
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }

    EXPECT_EQ(Drive("attach F: " + disk + ":1", &output), 0) << output;
    EXPECT_EQ(Drive("--help", &output), 0);
    EXPECT_NE(output.find("Usage: orva-drive list"), std::string::npos);
}
} // namespace
