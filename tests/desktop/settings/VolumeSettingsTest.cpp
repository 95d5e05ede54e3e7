#include "VolumeSettings.h"

#include "ImageBuilder.h"

#include "platform/DriveMap.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/testing/ScriptedVolume.h"
#include "platform/Volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using orva::platform::ToUtf16;
using orva::platform::ToUtf8;

namespace
{
// A fresh folder per test, also used as the platform's config and state folders so that
// the drive map of the machine is never touched.
class VolumeSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "orva-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
        setenv("XDG_STATE_HOME", m_folder.c_str(), 1);
        m_path = ToUtf16(m_folder.string()) + u"\\OrvaDesktop.ini";
    }
    void TearDown() override
    {
        orva::platform::testing::ClearScriptedVolumes();
        fs::remove_all(m_folder);
    }

    LPCWSTR Path() const { return m_path.c_str(); }
    void Write(LPCWSTR section, LPCWSTR key, const std::u16string& value)
    {
        WritePrivateProfileStringW(section, key, value.c_str(), Path());
    }
    std::vector<std::string> Lines() const
    {
        std::ifstream in(m_folder / "OrvaDesktop.ini");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
        {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                lines.push_back(line);
        }
        return lines;
    }

    fs::path m_folder;
    std::u16string m_path;
};

TEST_F(VolumeSettingsTest, VolumeCountReadsAsSignedDecimal)
{
    EXPECT_EQ(ReadVolumeCount(Path()), 0) << "missing file";
    const struct
    {
        std::u16string value;
        LONG expected;
    } cases[] = {
        {u"0", 0},
        {u"3", 3},
        {u"3abc", 3},
        {u"   7", 7},
        {u"abc", 0},
        {u"0x5", 0},
        {u"-1", -1},
        {u"", 0},
        {u"99999999999", INT_MAX},
        {u"-99999999999", INT_MIN},
    };
    for (const auto& c : cases)
    {
        Write(u"Orva", u"VolumeCount", c.value);
        EXPECT_EQ(ReadVolumeCount(Path()), c.expected) << ToUtf8(c.value);
    }
    Write(u"Orva", u"VolumeCount", u"4");
    WritePrivateProfileStringW(u"Orva", u"VolumeCount", nullptr, Path());
    EXPECT_EQ(ReadVolumeCount(Path()), 0) << "key deleted";
}

TEST_F(VolumeSettingsTest, SerialNumberReadsAsUnsignedHex)
{
    const struct
    {
        std::u16string value;
        DWORD expected;
    } cases[] = {
        {u"0x1F", 31},
        {u"1F", 31},
        {u"0xZZ", 0},
        {u"-1", 0xFFFFFFFFu},
        {u"0x1A2B3C4D", 0x1A2B3C4Du},
        {u"123456789", 0xFFFFFFFFu},
    };
    for (const auto& c : cases)
    {
        Write(u"volume_1", u"serialnumber", c.value);
        CVolumeSettings settings;
        ReadVolumeSettings(Path(), 0, settings);
        EXPECT_EQ(settings.SerialNumber, c.expected) << ToUtf8(c.value);
    }
}

TEST_F(VolumeSettingsTest, AppendedSectionsReadBackAndLayOutAsDocumented)
{
    AppendVolumeSection(Path(), 0x1A2B3C4D, u"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\");
    AppendVolumeSection(Path(), 0x00C0FFEE, u"\\\\?\\Volume{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}\\");

    EXPECT_EQ(ReadVolumeCount(Path()), 2);
    const std::vector<std::string> expected = {
        "[Orva]",
        "VolumeCount=2",
        "[VOLUME_1]",
        "VolumeRootPath=\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\",
        "SerialNumber=0x1A2B3C4D",
        "UsnMaximumSize=8388608",
        "UsnAllocationDelta=1048576",
        "InitHash=0x000186A0",
        "MonitorChanges=1",
        "[VOLUME_2]",
        "VolumeRootPath=\\\\?\\Volume{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}\\",
        "SerialNumber=0x00C0FFEE",
        "UsnMaximumSize=8388608",
        "UsnAllocationDelta=1048576",
        "InitHash=0x000186A0",
        "MonitorChanges=1",
    };
    EXPECT_EQ(Lines(), expected);

    CVolumeSettings settings;
    ReadVolumeSettings(Path(), 0, settings);
    EXPECT_EQ(std::u16string(settings.VolumeRootPath),
              u"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\");
    EXPECT_EQ(settings.SerialNumber, 0x1A2B3C4Du);
    EXPECT_EQ(settings.UsnMaximumSize, 8388608);
    EXPECT_EQ(settings.UsnAllocationDelta, 1048576);
    EXPECT_EQ(settings.InitHash, 100000u);
    EXPECT_EQ(settings.MonitorChanges, 1);

    ReadVolumeSettings(Path(), 1, settings);
    EXPECT_EQ(std::u16string(settings.VolumeRootPath),
              u"\\\\?\\Volume{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}\\");
    EXPECT_EQ(settings.SerialNumber, 0x00C0FFEEu);
}

TEST_F(VolumeSettingsTest, AppendContinuesAnExistingCount)
{
    Write(u"Orva", u"VolumeCount", u"2");
    AppendVolumeSection(Path(), 7, u"X");
    EXPECT_EQ(ReadVolumeCount(Path()), 3);
    CVolumeSettings settings;
    ReadVolumeSettings(Path(), 2, settings);
    EXPECT_EQ(std::u16string(settings.VolumeRootPath), u"X");
    EXPECT_EQ(settings.SerialNumber, 7u);
}

TEST_F(VolumeSettingsTest, MissingSectionOverwritesEveryFieldWithDefaults)
{
    AppendVolumeSection(Path(), 0x1234, u"\\\\?\\Volume{1}\\");
    CVolumeSettings settings;
    ReadVolumeSettings(Path(), 0, settings);
    ASSERT_EQ(settings.MonitorChanges, 1);

    ReadVolumeSettings(Path(), 5, settings);
    EXPECT_EQ(std::u16string(settings.VolumeRootPath), u"");
    EXPECT_EQ(settings.SerialNumber, 0u);
    EXPECT_EQ(settings.UsnMaximumSize, 0);
    EXPECT_EQ(settings.UsnAllocationDelta, 0);
    EXPECT_EQ(settings.InitHash, 0u);
    EXPECT_EQ(settings.MonitorChanges, 0);
}

TEST_F(VolumeSettingsTest, RootPathKeepsAllOf260Units)
{
    const std::u16string longest(MAX_PATH, u'r');
    Write(u"VOLUME_1", u"VolumeRootPath", longest + u"-cut");
    CVolumeSettings settings;
    ReadVolumeSettings(Path(), 0, settings);
    EXPECT_EQ(std::u16string(settings.VolumeRootPath), longest);
}

// The current directory followed by "\OrvaDesktop.ini": at the root the separator is
// doubled and the file is still found there.
TEST_F(VolumeSettingsTest, SettingsFilePathFollowsTheCurrentDirectory)
{
    const fs::path previous = fs::current_path();
    WCHAR path[MAX_PATH];

    fs::current_path(m_folder);
    EXPECT_TRUE(GetSettingsFilePath(path));
    EXPECT_EQ(std::u16string(path), m_path);

    fs::current_path("/");
    EXPECT_TRUE(GetSettingsFilePath(path));
    EXPECT_EQ(std::u16string(path), u"/\\OrvaDesktop.ini");
    fs::current_path(previous);

    const std::u16string doubled = ToUtf16(m_folder.string()) + u"/\\OrvaDesktop.ini";
    WritePrivateProfileStringW(u"Orva", u"VolumeCount", u"5", doubled.c_str());
    EXPECT_EQ(ReadVolumeCount(Path()), 5);
    EXPECT_EQ(ReadVolumeCount(doubled.c_str()), 5);
}

TEST_F(VolumeSettingsTest, OverlongSettingsFilePathIsRefusedNotTruncated)
{
    const fs::path previous = fs::current_path();
    fs::path deep = m_folder;
    while (deep.string().size() < MAX_PATH)
        deep /= std::string(40, 'd');
    fs::create_directories(deep);
    fs::current_path(deep);
    WCHAR path[MAX_PATH];
    path[0] = u'x';
    EXPECT_FALSE(GetSettingsFilePath(path));
    EXPECT_EQ(path[0], u'\0');
    fs::current_path(previous);
}

// Discovery over scripted volumes: a fixed NTFS, a fixed FAT32 and an NTFS CD-ROM. The
// machine's own volumes are enumerated too, so only sections naming scripted volumes are
// looked at, and every section must name a fixed NTFS volume.
class DiscoveryTest : public VolumeSettingsTest
{
protected:
    void SetUp() override
    {
        VolumeSettingsTest::SetUp();
        using orva::platform::testing::ScriptedVolume;
        ScriptedVolume ntfs;
        ntfs.letter = 'S';
        ntfs.volumeName = u"\\\\?\\Volume{5c1a7ed0-0000-0000-0000-000000000001}\\";
        ntfs.serialNumber = 0x5C1A7ED0;
        ScriptedVolume fat;
        fat.letter = 'T';
        fat.volumeName = u"\\\\?\\Volume{5c1a7ed0-0000-0000-0000-000000000002}\\";
        fat.fileSystem = u"FAT32";
        ScriptedVolume cdrom;
        cdrom.letter = 'U';
        cdrom.volumeName = u"\\\\?\\Volume{5c1a7ed0-0000-0000-0000-000000000003}\\";
        cdrom.driveType = DRIVE_CDROM;
        for (const auto& volume : {ntfs, fat, cdrom})
            orva::platform::testing::AddScriptedVolume(volume);
    }

    // The root paths of all sections, in section order.
    std::vector<std::u16string> Sections() const
    {
        std::vector<std::u16string> roots;
        for (LONG i = 0; i < ReadVolumeCount(Path()); ++i)
        {
            CVolumeSettings settings;
            ReadVolumeSettings(Path(), static_cast<DWORD>(i), settings);
            roots.emplace_back(settings.VolumeRootPath);
        }
        return roots;
    }

    static bool IsFixedNtfs(const std::u16string& volumeName)
    {
        WCHAR label[MAX_PATH] = {};
        WCHAR fileSystem[MAX_PATH] = {};
        DWORD serial = 0;
        DWORD componentLength = 0;
        DWORD flags = 0;
        return GetDriveTypeW(volumeName.c_str()) == DRIVE_FIXED &&
               GetVolumeInformationW(volumeName.c_str(), label, MAX_PATH, &serial, &componentLength, &flags,
                                     fileSystem, MAX_PATH) &&
               std::u16string(fileSystem) == u"NTFS";
    }

    static long CountOf(const std::vector<std::u16string>& roots, char16_t guidTail)
    {
        return std::count_if(roots.begin(), roots.end(),
                             [&](const std::u16string& root) {
                                 return root.starts_with(u"\\\\?\\Volume{5c1a7ed0") &&
                                        root[root.size() - 3] == guidTail;
                             });
    }
};

TEST_F(DiscoveryTest, WritesOneSectionPerFixedNtfsVolume)
{
    DiscoverVolumes(Path());
    const auto roots = Sections();
    EXPECT_EQ(CountOf(roots, u'1'), 1);
    EXPECT_EQ(CountOf(roots, u'2'), 0) << "FAT32 is not indexed";
    EXPECT_EQ(CountOf(roots, u'3'), 0) << "optical drives are not indexed";
    for (const auto& root : roots)
        EXPECT_TRUE(IsFixedNtfs(root)) << ToUtf8(root);

    for (LONG i = 0; i < static_cast<LONG>(roots.size()); ++i)
    {
        CVolumeSettings settings;
        ReadVolumeSettings(Path(), static_cast<DWORD>(i), settings);
        if (std::u16string(settings.VolumeRootPath).starts_with(u"\\\\?\\Volume{5c1a7ed0"))
            EXPECT_EQ(settings.SerialNumber, 0x5C1A7ED0u);
        EXPECT_EQ(settings.UsnMaximumSize, 8388608);
        EXPECT_EQ(settings.MonitorChanges, 1);
    }
}

TEST_F(DiscoveryTest, AppendsAfterAnExistingCountEvenForListedVolumes)
{
    DiscoverVolumes(Path());
    const LONG first = ReadVolumeCount(Path());
    ASSERT_GE(first, 1);
    DiscoverVolumes(Path());
    EXPECT_EQ(ReadVolumeCount(Path()), 2 * first);
    const auto roots = Sections();
    EXPECT_EQ(CountOf(roots, u'1'), 2);
    EXPECT_EQ(std::vector(roots.begin(), roots.begin() + first),
              std::vector(roots.begin() + first, roots.end()));
}

// An NTFS image attached as a drive is a fixed NTFS volume like a disk partition.
TEST_F(VolumeSettingsTest, DiscoveryListsAnAttachedNtfsImage)
{
    orva::mkimage::ImageOptions options;
    options.output = (m_folder / "volume.img").string();
    options.serialNumber = 0x1122334455667788ull;
    std::string error;
    ASSERT_TRUE(orva::mkimage::BuildImage(options, {}, &error)) << error;
    ASSERT_TRUE(orva::platform::AttachImage('N', options.output, 0));
    std::u16string volumeName;
    for (const auto& volume : orva::platform::ListVolumes())
    {
        if (volume.letter == 'N')
            volumeName = volume.volumeName;
    }
    ASSERT_FALSE(volumeName.empty());

    DiscoverVolumes(Path());
    bool found = false;
    for (LONG i = 0; i < ReadVolumeCount(Path()); ++i)
    {
        CVolumeSettings settings;
        ReadVolumeSettings(Path(), static_cast<DWORD>(i), settings);
        if (std::u16string(settings.VolumeRootPath) != volumeName)
            continue;
        EXPECT_FALSE(found) << "listed twice";
        found = true;
        EXPECT_EQ(settings.SerialNumber, 0x55667788u);
    }
    EXPECT_TRUE(found);
    orva::platform::DetachImage('N');
}
} // namespace
