#include "platform/Profile.h"

#include "platform/LastError.h"
#include "platform/Paths.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <vector>

using orva::platform::ToUtf16;

namespace
{
class Profile : public ::testing::Test
{
protected:
    std::u16string File(const std::string& name = "OrvaDesktop.ini") const { return ToUtf16(m_folder / name); }

    std::u16string Get(const char16_t* section, const char16_t* key, const char16_t* fallback = u"<default>",
                       const std::string& name = "OrvaDesktop.ini") const
    {
        char16_t buffer[260];
        const DWORD copied = GetPrivateProfileStringW(section, key, fallback, buffer, 260, File(name).c_str());
        EXPECT_EQ(copied, std::char_traits<char16_t>::length(buffer));
        return buffer;
    }

    BOOL Put(const char16_t* section, const char16_t* key, const char16_t* value) const
    {
        return WritePrivateProfileStringW(section, key, value, File().c_str());
    }

    TempFolder m_folder;
};

const char kHandWritten[] = "; written by hand\n"
                            "stray=before any section\n"
                            "[Orva]\n"
                            "VolumeCount = 2 \n"
                            "Quoted=\"  padded  \"\n"
                            "Single='x'\n"
                            "Empty=\n"
                            "\n"
                            "[ VOLUME_1 ]\n"
                            "VolumeRootPath=\\\\?\\Volume{0c7a5b3e-0000-0000-0000-100000000000}\\\n"
                            "Name=\xE4\xB8\xAD\xE6\x96\x87\n"
                            "; Name=commented out\n"
                            "[orva]\n"
                            "VolumeCount=99\n";
} // namespace

TEST_F(Profile, ReadsHandWrittenFileIgnoringCase)
{
    m_folder.Write("OrvaDesktop.ini", kHandWritten);
    const struct
    {
        const char16_t* section;
        const char16_t* key;
        std::u16string expected;
    } cases[] = {
        {u"Orva", u"VolumeCount", u"2"},            // blanks trimmed; the first [orva] wins
        {u"ORVA", u"volumecount", u"2"},
        {u"Orva", u"Quoted", u"  padded  "},        // one pair of quotes removed
        {u"Orva", u"Single", u"x"},
        {u"Orva", u"Empty", u""},
        {u"volume_1", u"VOLUMEROOTPATH", u"\\\\?\\Volume{0c7a5b3e-0000-0000-0000-100000000000}\\"},
        {u"VOLUME_1", u"Name", u"\u4E2D\u6587"},
        {u"VOLUME_1", u"; Name", u"<default>"},    // a comment is no key
        {u"VOLUME_1", u"VolumeCount", u"<default>"}, // keys belong to their own section
        {u"Orva", u"stray", u"<default>"},
        {u"VOLUME_2", u"VolumeRootPath", u"<default>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Get(c.section, c.key), c.expected)
            << orva::platform::ToUtf8(c.section) << "/" << orva::platform::ToUtf8(c.key);
    EXPECT_EQ(Get(u"Orva", u"Missing", u"0  "), u"0"); // trailing blanks of a default dropped
    EXPECT_EQ(Get(u"Orva", u"Missing", nullptr), u"");
}

TEST_F(Profile, ReadsCrLfAndByteOrderMarks)
{
    m_folder.Write("crlf.ini", "[A]\r\nk=v1\r\n");
    m_folder.Write("utf8bom.ini", "\xEF\xBB\xBF[A]\nk=v2\n");
    m_folder.Write("utf16.ini", std::string("\xFF\xFE[\0A\0]\0\n\0k\0=\0\x2D\x4E\n\0", 18));
    EXPECT_EQ(Get(u"A", u"k", u"", "crlf.ini"), u"v1");
    EXPECT_EQ(Get(u"A", u"k", u"", "utf8bom.ini"), u"v2");
    EXPECT_EQ(Get(u"A", u"k", u"", "utf16.ini"), u"\u4E2D");
}

TEST_F(Profile, TruncatesToTheBufferAndAlwaysTerminates)
{
    m_folder.Write("OrvaDesktop.ini", "[S]\nk=abcdef\n");
    const struct
    {
        DWORD size;
        DWORD copied;
        std::u16string text;
    } cases[] = {{1, 0, u""}, {2, 1, u"a"}, {4, 3, u"abc"}, {6, 5, u"abcde"}, {7, 6, u"abcdef"}, {50, 6, u"abcdef"}};
    for (const auto& c : cases)
    {
        std::u16string buffer(c.size + 1, u'#');
        EXPECT_EQ(GetPrivateProfileStringW(u"S", u"k", u"", buffer.data(), c.size, File().c_str()), c.copied);
        EXPECT_EQ(std::u16string(buffer.c_str()), c.text) << "size " << c.size;
        EXPECT_EQ(buffer[c.size], u'#') << "size " << c.size;
    }
    // The default is truncated the same way.
    char16_t small[3];
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"none", u"xyz", small, 3, File().c_str()), 2u);
    EXPECT_EQ(std::u16string(small), u"xy");
}

TEST_F(Profile, MissingOrUnreadableFileGivesDefaults)
{
    EXPECT_EQ(Get(u"Orva", u"VolumeCount", u"0", "absent.ini"), u"0");
    std::filesystem::create_directory(m_folder / "folder.ini");
    EXPECT_EQ(Get(u"Orva", u"VolumeCount", u"0", "folder.ini"), u"0");
    EXPECT_FALSE(std::filesystem::exists(m_folder / "absent.ini"));
}

TEST_F(Profile, NewFileSectionsAndKeysAreAppendedInOrder)
{
    ASSERT_TRUE(Put(u"Orva", u"VolumeCount", u"1"));
    ASSERT_TRUE(Put(u"VOLUME_1", u"VolumeRootPath", u"\\\\?\\Volume{1}\\"));
    ASSERT_TRUE(Put(u"VOLUME_1", u"SerialNumber", u"0x0000ABCD"));
    ASSERT_TRUE(Put(u"orva", u"VOLUMECOUNT", u"2"));
    ASSERT_TRUE(Put(u"VOLUME_2", u"VolumeRootPath", u"\\\\?\\Volume{2}\\"));
    ASSERT_TRUE(Put(u"Orva", u"Extra", u"\u4E2D"));
    EXPECT_EQ(m_folder.Read("OrvaDesktop.ini"), "[Orva]\n"
                                                "VOLUMECOUNT=2\n"
                                                "Extra=\xE4\xB8\xAD\n"
                                                "[VOLUME_1]\n"
                                                "VolumeRootPath=\\\\?\\Volume{1}\\\n"
                                                "SerialNumber=0x0000ABCD\n"
                                                "[VOLUME_2]\n"
                                                "VolumeRootPath=\\\\?\\Volume{2}\\\n");
    EXPECT_EQ(Get(u"Orva", u"VolumeCount"), u"2");
}

TEST_F(Profile, WritesKeepTheRestOfAHandWrittenFile)
{
    m_folder.Write("OrvaDesktop.ini", "; keep me\r\n[Orva]\r\nVolumeCount=1\r\n\r\n[VOLUME_1]\r\nA=1\r\n");
    ASSERT_TRUE(Put(u"Orva", u"New", u"x"));
    ASSERT_TRUE(Put(u"VOLUME_1", u"a", u"2"));
    EXPECT_EQ(m_folder.Read("OrvaDesktop.ini"),
              "; keep me\r\n[Orva]\r\nVolumeCount=1\r\nNew=x\r\n\r\n[VOLUME_1]\r\na=2\r\n");
}

TEST_F(Profile, NullValueDeletesKeyAndNullKeyDeletesSection)
{
    m_folder.Write("OrvaDesktop.ini", "[A]\nk=1\nj=2\n[B]\nk=3\n[C]\nk=4\n");
    ASSERT_TRUE(Put(u"a", u"K", nullptr));
    ASSERT_TRUE(Put(u"b", nullptr, nullptr));
    ASSERT_TRUE(Put(u"Nowhere", u"k", nullptr));
    EXPECT_EQ(m_folder.Read("OrvaDesktop.ini"), "[A]\nj=2\n[C]\nk=4\n");
}

TEST_F(Profile, PathsWithBackslashesAndDoubledSeparators)
{
    // A current directory of "/" joined with "\OrvaDesktop.ini" doubles the separator.
    const std::u16string doubled = ToUtf16(m_folder.Path()) + u"/\\OrvaDesktop.ini";
    const std::u16string backslashed = ToUtf16(m_folder.Path()) + u"\\OrvaDesktop.ini";
    ASSERT_TRUE(WritePrivateProfileStringW(u"Orva", u"VolumeCount", u"3", doubled.c_str()));
    char16_t buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"Orva", u"VolumeCount", u"0", buffer, 16, backslashed.c_str()), 1u);
    EXPECT_EQ(std::u16string(buffer), u"3");
    EXPECT_EQ(m_folder.Read("OrvaDesktop.ini"), "[Orva]\nVolumeCount=3\n");
}

TEST_F(Profile, ReplacesTheFileWholeKeepingModeAndLinks)
{
    m_folder.Write("real.ini", "[A]\nk=1\n");
    chmod((m_folder / "real.ini").c_str(), 0640);
    std::filesystem::create_symlink(m_folder / "real.ini", m_folder / "OrvaDesktop.ini");
    ASSERT_TRUE(Put(u"A", u"k", u"2"));
    EXPECT_TRUE(std::filesystem::is_symlink(m_folder / "OrvaDesktop.ini"));
    EXPECT_EQ(m_folder.Read("real.ini"), "[A]\nk=2\n");
    struct stat st{};
    stat((m_folder / "real.ini").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // Nothing is left beside the file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.Path()), {}), 2);
}

TEST_F(Profile, RefusesBadWritesAndLeavesTheFile)
{
    m_folder.Write("OrvaDesktop.ini", "[A]\nk=1\n");
    // A line break in a value would add a section of the writer's choosing.
    EXPECT_FALSE(Put(u"A", u"k", u"x\n[Evil]\nk=y"));
    EXPECT_FALSE(Put(u"A\r", u"k", u"x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Put(nullptr, u"k", u"x"));
    EXPECT_EQ(m_folder.Read("OrvaDesktop.ini"), "[A]\nk=1\n");
    const std::u16string inMissingFolder = ToUtf16(m_folder / "no/such/folder.ini");
    EXPECT_FALSE(WritePrivateProfileStringW(u"A", u"k", u"x", inMissingFolder.c_str()));
}

TEST_F(Profile, ConcurrentWritersLoseNoKey)
{
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < 10; ++i)
            {
                const std::u16string key = ToUtf16("k" + std::to_string(t) + "_" + std::to_string(i));
                Put(u"S", key.c_str(), u"v");
            }
        });
    for (auto& w : writers)
        w.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(Get(u"S", ToUtf16("k" + std::to_string(t) + "_" + std::to_string(i)).c_str()), u"v");
}
