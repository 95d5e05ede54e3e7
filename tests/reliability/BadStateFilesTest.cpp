// Bad settings and state files: OrvaDesktop.ini, drives.ini and journals.ini that are
// empty, binary, huge, with over-long lines or duplicate sections, a folder in place of
// the file, or unreadable. The readers survive and give their defaults; a write keeps
// every setting the file held; files are replaced whole.
#include "ReliabilityTestSupport.h"

#include "VolumeSettings.h"
#include "orva/OrvaService.h"
#include "platform/DriveMap.h"
#include "platform/Profile.h"
#include "platform/Volume.h"

#include <atomic>
#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace orva::reliability;
namespace fs = std::filesystem;

namespace
{
enum class Damage
{
    Empty,
    Binary,
    OverLongLines,
    DuplicateSections,
    Huge,
    Folder,
    Unreadable,
};

std::string NameOf(Damage damage)
{
    switch (damage)
    {
    case Damage::Empty: return "Empty";
    case Damage::Binary: return "Binary";
    case Damage::OverLongLines: return "OverLongLines";
    case Damage::DuplicateSections: return "DuplicateSections";
    case Damage::Huge: return "Huge";
    case Damage::Folder: return "Folder";
    case Damage::Unreadable: return "Unreadable";
    }
    return "?";
}

// Names the case in test names and messages.
void PrintTo(Damage damage, std::ostream* out)
{
    *out << NameOf(damage);
}

constexpr std::size_t kHugeBytes = 100u << 20;
constexpr std::size_t kLongValueBytes = 1u << 20;
// A guard against a reader that goes on for ever, not a speed check: the file is read
// whole, as on Windows, and under the sanitizers four journal writes of 100 MB take over a
// minute on a loaded machine.
constexpr auto kReadBudget = std::chrono::seconds(300);

// The file's settings inside damage: noise around them, an over-long line before them
// and an over-long value among them, a second copy of each section with other values
// after them (the first copy counts), or 100 MB of junk lines after them. `settings`
// ends with a line break and its last section takes the long value.
std::string Damaged(Damage damage, const std::string& settings, const std::string& duplicate)
{
    switch (damage)
    {
    case Damage::Empty:
        return settings;
    case Damage::Binary:
        return BinaryNoise(64 << 10, 1) + "\n" + settings + BinaryNoise(64 << 10, 2);
    case Damage::OverLongLines:
        return std::string(8u << 20, 'x') + "\n" + settings + "Long=" + std::string(kLongValueBytes, 'y') + "\n";
    case Damage::DuplicateSections:
        return settings + duplicate;
    case Damage::Huge:
    {
        std::string bytes = settings;
        const std::string junk = "junk line without a key, as a damaged file may hold it ......\n";
        bytes.reserve(settings.size() + kHugeBytes + junk.size());
        while (bytes.size() < kHugeBytes)
            bytes += junk;
        return bytes;
    }
    case Damage::Folder:
    case Damage::Unreadable:
        return settings;
    }
    return settings;
}

// Puts the damaged file at `path`: a folder in its place, or a file without permissions.
// False when the case cannot be made here (root reads every file).
bool PlaceDamaged(Damage damage, const fs::path& path, const std::string& settings, const std::string& duplicate)
{
    fs::create_directories(path.parent_path());
    if (damage == Damage::Folder)
    {
        fs::create_directory(path);
        return true;
    }
    WriteWholeFile(path, Damaged(damage, settings, duplicate));
    if (damage == Damage::Unreadable)
    {
        if (RunningAsRoot())
            return false;
        fs::permissions(path, fs::perms::none);
    }
    return true;
}

bool SettingsSurvive(Damage damage)
{
    return damage != Damage::Folder && damage != Damage::Unreadable;
}

std::u16string ReadValue(const fs::path& file, const std::u16string& section, const char16_t* key,
                         DWORD size = MAX_PATH)
{
    std::u16string value(size, u'\0');
    const std::u16string name = Utf16(file.string());
    value.resize(GetPrivateProfileStringW(section.c_str(), key, u"", value.data(), size, name.c_str()));
    return value;
}

// Nothing but the file itself is left in its folder (no temporary file of a write).
void ExpectOnlyFileIn(const fs::path& file)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path()))
        EXPECT_EQ(entry.path(), file) << "left behind by a write";
}

// A folder in place of the file is still a folder; a file without permissions still
// holds what it held.
void ExpectUntouched(Damage damage, const fs::path& path, const std::string& settings)
{
    if (damage == Damage::Folder)
    {
        EXPECT_TRUE(fs::is_directory(path));
        return;
    }
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::none);
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(ReadWholeFile(path), settings);
}

template <typename Body> auto Timed(Body body)
{
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::steady_clock::now() - start;
}

class BadStateFiles : public Sandbox, public ::testing::WithParamInterface<Damage>
{
protected:
    void SetUp() override
    {
        Sandbox::SetUp();
        if (GetParam() == Damage::Unreadable && RunningAsRoot())
            GTEST_SKIP() << "root reads a file without permissions";
    }
};

// ---- OrvaDesktop.ini

const std::string kSettings = "[Orva]\nVolumeCount=1\n[VOLUME_1]\n"
                              "VolumeRootPath=\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\\n"
                              "SerialNumber=0x1A2B3C4D\nUsnMaximumSize=8388608\nUsnAllocationDelta=1048576\n"
                              "InitHash=0x000186A0\nMonitorChanges=1\n";
const std::string kSettingsDuplicate = "[Orva]\nVolumeCount=7\n[VOLUME_1]\nSerialNumber=0x99\n";

TEST_P(BadStateFiles, SettingsFileReadsAsItsSettingsOrDefaultsAndAWriteKeepsThem)
{
    const Damage damage = GetParam();
    const fs::path file = Folder() / "OrvaDesktop.ini";
    ASSERT_TRUE(PlaceDamaged(damage, file, kSettings, kSettingsDuplicate));
    const std::u16string path = Utf16(file.string());

    CVolumeSettings before;
    LONG count = -1;
    const auto took = Timed([&] {
        count = ReadVolumeCount(path.c_str());
        ReadVolumeSettings(path.c_str(), 0, before);
    });
    EXPECT_LT(took, kReadBudget);
    const bool survives = SettingsSurvive(damage);
    EXPECT_EQ(count, survives ? 1 : 0);
    EXPECT_EQ(before.SerialNumber, survives ? 0x1A2B3C4Du : 0u);
    EXPECT_EQ(before.UsnMaximumSize, survives ? 8388608 : 0);
    EXPECT_EQ(before.MonitorChanges, survives ? TRUE : FALSE);
    EXPECT_EQ(std::u16string(before.VolumeRootPath),
              survives ? u"\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\" : u"");

    AppendVolumeSection(path.c_str(), 0xCAFE, u"\\\\?\\Volume{new}\\");
    if (!survives)
    {
        ExpectUntouched(damage, file, kSettings);
        return;
    }
    EXPECT_EQ(ReadVolumeCount(path.c_str()), 2);
    CVolumeSettings kept, added;
    ReadVolumeSettings(path.c_str(), 0, kept);
    ReadVolumeSettings(path.c_str(), 1, added);
    EXPECT_EQ(kept.SerialNumber, before.SerialNumber);
    EXPECT_EQ(std::u16string(kept.VolumeRootPath), std::u16string(before.VolumeRootPath));
    EXPECT_EQ(kept.UsnAllocationDelta, before.UsnAllocationDelta);
    EXPECT_EQ(kept.InitHash, before.InitHash);
    EXPECT_EQ(added.SerialNumber, 0xCAFEu);
    EXPECT_EQ(std::u16string(added.VolumeRootPath), u"\\\\?\\Volume{new}\\");
    if (damage == Damage::OverLongLines)
        EXPECT_EQ(ReadValue(file, u"VOLUME_1", u"Long", kLongValueBytes + 2),
                  std::u16string(kLongValueBytes, u'y'));
    if (damage == Damage::DuplicateSections)
        EXPECT_NE(ReadWholeFile(file).find(kSettingsDuplicate), std::string::npos);
    ExpectOnlyFileIn(file);
}

// ---- drives.ini

const std::string kDriveMap = "[Y:]\nImage=/nonexistent/old.img\nPartition=0\n"
                              "VolumeName=\\\\?\\Volume{0ld0ld00-0000-0000-0000-000000000000}\\\nFileSystem=NTFS\n";
const std::string kDriveMapDuplicate = "[Y:]\nImage=/nonexistent/other.img\n";

class BadStateFilesWithImage : public BadStateFiles
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = fs::temp_directory_path() / ("orva-reliability-image-" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        BuildImageOrFail((s_folder / "volume.img").string(),
                         {{"Docs", true, 0, {}, {}}, {"Docs/readme.txt", false, 42, {}, {}}, {"top.bin", false, 7, {}, {}}});
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }
    static std::string Image() { return (s_folder / "volume.img").string(); }

private:
    static fs::path s_folder;
};
fs::path BadStateFilesWithImage::s_folder;

class BadDriveMap : public BadStateFilesWithImage
{
};

TEST_P(BadDriveMap, ListsAndAttachesAndKeepsOtherLetters)
{
    const Damage damage = GetParam();
    ASSERT_TRUE(PlaceDamaged(damage, DriveMapFile(), kDriveMap, kDriveMapDuplicate));

    const auto took = Timed([] { orva::platform::ListVolumes(); });
    EXPECT_LT(took, kReadBudget);
    const BOOL attached = orva::platform::AttachImage('K', Image(), 0);
    if (!SettingsSurvive(damage))
    {
        ExpectUntouched(damage, DriveMapFile(), kDriveMap);
        if (attached)
            orva::platform::DetachImage('K');
        return;
    }
    ASSERT_TRUE(attached);
    bool listed = false;
    for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
        listed = listed || (volume.letter == 'K' && volume.fileSystem == u"NTFS");
    EXPECT_TRUE(listed);
    EXPECT_EQ(ReadValue(DriveMapFile(), u"Y:", u"Image"), u"/nonexistent/old.img");
    EXPECT_EQ(ReadValue(DriveMapFile(), u"Y:", u"FileSystem"), u"NTFS");
    EXPECT_EQ(ReadValue(DriveMapFile(), u"K:", u"Image"), Utf16(Image()));
    ExpectOnlyFileIn(DriveMapFile());
    orva::platform::DetachImage('K');
}

// ---- journals.ini

const std::string kJournals = "[\\\\?\\Volume{07be0000-0000-0000-0000-000000000000}\\]\nUsnJournalID=0x0000000000000077\n"
                              "NextUsn=4096\nMaximumSize=1024\nAllocationDelta=512\n";
const std::string kJournalsDuplicate = "[\\\\?\\Volume{07be0000-0000-0000-0000-000000000000}\\]\nUsnJournalID=0x5\n";

TEST_P(BadStateFilesWithImage, JournalStoreGivesTheVolumeAJournalAndKeepsOtherVolumes)
{
    const Damage damage = GetParam();
    const char letter = Attach(Image());
    ASSERT_NE(letter, 0);
    ASSERT_TRUE(PlaceDamaged(damage, JournalFile(), kJournals, kJournalsDuplicate));
    const std::u16string volumeName = VolumeNameOfLetter(letter);

    COrvaService service;
    BOOL added = FALSE;
    const auto took = Timed([&] { added = service.AddVolume(SerialOfLetter(letter), volumeName.c_str(), 1 << 20, 1 << 16, 0, FALSE); });
    EXPECT_LT(took, kReadBudget);
    if (!SettingsSurvive(damage))
    {
        EXPECT_FALSE(added) << "no journal can be recorded";
        ExpectUntouched(damage, JournalFile(), kJournals);
        return;
    }
    ASSERT_TRUE(added);
    EXPECT_GT(service.CreateDatabase(), 3u);
    EXPECT_EQ(service.Query(u"readme", 0), 1u);
    const std::u16string other = u"\\\\?\\Volume{07be0000-0000-0000-0000-000000000000}\\";
    EXPECT_EQ(ReadValue(JournalFile(), other, u"UsnJournalID"), u"0x0000000000000077");
    EXPECT_EQ(ReadValue(JournalFile(), other, u"NextUsn"), u"4096");
    EXPECT_NE(ReadValue(JournalFile(), volumeName, u"UsnJournalID"), u"");
    ExpectOnlyFileIn(JournalFile());
}

const auto kAllDamage = ::testing::Values(Damage::Empty, Damage::Binary, Damage::OverLongLines,
                                          Damage::DuplicateSections, Damage::Huge, Damage::Folder, Damage::Unreadable);
auto DamageName = [](const ::testing::TestParamInfo<Damage>& info) { return NameOf(info.param); };
INSTANTIATE_TEST_SUITE_P(Damage, BadStateFiles, kAllDamage, DamageName);
INSTANTIATE_TEST_SUITE_P(Damage, BadStateFilesWithImage, kAllDamage, DamageName);
// Regression (Huge): the drive map reads each key of each letter with a profile read of
// the whole file, so a 100 MB drives.ini made every volume listing take minutes.
INSTANTIATE_TEST_SUITE_P(Damage, BadDriveMap, kAllDamage, DamageName);

// A reader running while the file is rewritten over and over sees the old file or the
// new one, never a part of either: every read finds the last key of the file.
TEST_F(Sandbox, ReadersOnOtherThreadsNeverSeeAHalfWrittenFile)
{
    const fs::path file = Folder() / "OrvaDesktop.ini";
    std::string settings = "[Orva]\nVolumeCount=1\n";
    for (int i = 0; i < 2000; ++i)
        settings += "Key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    settings += "Last=here\n";
    WriteWholeFile(file, settings);
    const std::u16string path = Utf16(file.string());

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i)
            WritePrivateProfileStringW(u"Orva", u"VolumeCount", Utf16(std::to_string(i)).c_str(), path.c_str());
        done = true;
    });
    int reads = 0;
    while (!done)
    {
        ASSERT_EQ(ReadValue(file, u"Orva", u"Last"), u"here") << "after " << reads << " reads";
        ++reads;
    }
    writer.join();
    EXPECT_EQ(ReadValue(file, u"Orva", u"VolumeCount"), u"99");
}
} // namespace
