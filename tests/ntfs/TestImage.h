// Helpers of the NTFS tests: temporary folders, images built with orva-mkimage's
// library, and whole enumerations through NtfsVolume with the output layout checked on
// every call.
#pragma once

#include "ImageBuilder.h"
#include "platform/ntfs/NtfsVolume.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orva::ntfs::testing
{
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

struct EnumeratedRecord
{
    std::uint64_t frn = 0;
    std::uint64_t parentFrn = 0;
    DWORD attributes = 0;
    USN usn = 0;
    std::string name; // UTF-8
};

constexpr USN kAnyUsn = 0x7FFFFFFFFFFFFFFF;

// Every record that FSCTL_ENUM_USN_DATA gives from `startFrn` on, call after call with
// `bufferSize`-byte buffers, until the call fails with ERROR_HANDLE_EOF. Each output is
// checked (size, alignment, record lengths, continuation number) with non-fatal
// failures.
std::vector<EnumeratedRecord> EnumerateAll(NtfsVolume& volume, DWORD bufferSize, std::uint64_t startFrn = 0,
                                           USN lowUsn = 0, USN highUsn = kAnyUsn);

// Records by their full path ("docs/a.txt"), found by following parent numbers up to the
// root; the root itself is left out.
std::map<std::string, EnumeratedRecord> ByPath(const std::vector<EnumeratedRecord>& records);

constexpr std::uint64_t RecordNumber(std::uint64_t frn)
{
    return frn & 0x0000FFFFFFFFFFFFull;
}

std::u16string Utf16(const std::string& text);
std::string Utf8(const std::u16string& text);
std::vector<char> ReadBytes(const std::string& path);

// Builds an image or fails the calling test (call with ASSERT_NO_FATAL_FAILURE).
void BuildOrFail(const mkimage::ImageOptions& options, const std::vector<mkimage::ImageEntry>& entries);
mkimage::ImageEntry Entry(const std::string& listLine);
} // namespace orva::ntfs::testing
