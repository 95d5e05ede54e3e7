#include "ReliabilityTestSupport.h"

#include "platform/DriveMap.h"
#include "platform/Paths.h"
#include "platform/Volume.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <unistd.h>

namespace orva::reliability
{
void Sandbox::SetUp()
{
    m_previous = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "orva-reliability-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_folder = pattern;
    std::filesystem::current_path(m_folder);
    ::setenv("XDG_CONFIG_HOME", (m_folder / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (m_folder / "state").c_str(), 1);
}

void Sandbox::TearDown()
{
    for (char letter : m_attached)
        platform::DetachImage(letter);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_STATE_HOME");
    std::filesystem::current_path(m_previous);
    std::error_code ignored;
    std::filesystem::permissions(m_folder, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(m_folder, ignored);
}

char Sandbox::Attach(const std::string& image, char from)
{
    for (char letter = from; letter <= 'Z'; ++letter)
    {
        if (platform::AttachImage(letter, image, 0))
        {
            m_attached.push_back(letter);
            return letter;
        }
    }
    ADD_FAILURE() << "no letter for " << image;
    return 0;
}

void BuildImageOrFail(const std::string& path, const std::vector<mkimage::ImageEntry>& entries, bool usnJournal)
{
    mkimage::ImageOptions options;
    options.output = path;
    options.usnJournal = usnJournal;
    std::string error;
    ASSERT_TRUE(mkimage::BuildImage(options, entries, &error)) << error;
}

std::u16string VolumeNameOfLetter(char letter)
{
    for (const platform::VolumeDescription& volume : platform::ListVolumes())
    {
        if (volume.letter == letter)
            return volume.volumeName;
    }
    return {};
}

DWORD SerialOfLetter(char letter)
{
    const std::u16string root{static_cast<char16_t>(letter), u':', u'\\'};
    DWORD serial = 0;
    GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::u16string Utf16(const std::string& text)
{
    return platform::ToUtf16(text);
}

std::string Utf8(std::u16string_view text)
{
    return platform::ToUtf8(text);
}

std::string BinaryNoise(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

bool RunningAsRoot()
{
    return geteuid() == 0;
}
} // namespace orva::reliability
