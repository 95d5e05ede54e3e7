// Shared pieces of the reliability tests: a sandbox (a fresh current directory with its
// own drive map and journal store), files of bad contents, and images made with
// orva-mkimage's library and attached under a drive letter.
#pragma once

#include "ImageBuilder.h"
#include "platform/WinTypes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orva::reliability
{
// Each test runs in a fresh empty current directory (Perf.log and OrvaDesktop.ini go
// there); XDG_CONFIG_HOME and XDG_STATE_HOME point to "config" and "state" inside it.
// Images attached with Attach are detached afterwards.
class Sandbox : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path DriveMapFile() const { return m_folder / "config/orva/drives.ini"; }
    std::filesystem::path JournalFile() const { return m_folder / "state/orva/journals.ini"; }

    // Attaches `image` under the first free letter from `from`; 0 (with a failure) when
    // none is free or the image is refused.
    char Attach(const std::string& image, char from = 'K');

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_folder;
    std::vector<char> m_attached;
};

// Builds an NTFS image or fails the calling test (call with ASSERT_NO_FATAL_FAILURE).
void BuildImageOrFail(const std::string& path, const std::vector<mkimage::ImageEntry>& entries,
                      bool usnJournal = false);

// The volume name and the serial number of the volume under `letter`.
std::u16string VolumeNameOfLetter(char letter);
DWORD SerialOfLetter(char letter);

std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

std::u16string Utf16(const std::string& text);
std::string Utf8(std::u16string_view text);

// `size` bytes of every value 0-255, the same on every run.
std::string BinaryNoise(std::size_t size, unsigned seed);

bool RunningAsRoot();
} // namespace orva::reliability
