#include "TestImage.h"

#include "platform/LastError.h"
#include "platform/TextConversion.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>

namespace orva::ntfs::testing
{
TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orva-ntfs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::u16string Utf16(const std::string& text)
{
    std::u16string wide(text.size(), u'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(units));
    return wide;
}

std::string Utf8(const std::u16string& text)
{
    std::string narrow(text.size() * 3, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(bytes));
    return narrow;
}

std::vector<char> ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

namespace
{
// Checks one output and appends its records; returns the continuation number.
std::uint64_t TakeOutput(const std::vector<std::uint8_t>& buffer, DWORD bytes,
                         std::vector<EnumeratedRecord>* out)
{
    EXPECT_GE(bytes, 8u);
    EXPECT_LE(bytes, buffer.size());
    std::uint64_t next = 0;
    std::memcpy(&next, buffer.data(), 8);
    std::size_t at = 8;
    std::uint64_t lastRecord = 0;
    while (at < bytes)
    {
        USN_RECORD_V2 header;
        std::memcpy(&header, buffer.data() + at, offsetof(USN_RECORD_V2, FileName));
        EXPECT_EQ(header.MajorVersion, 2);
        EXPECT_EQ(header.FileNameOffset, 60);
        EXPECT_EQ(header.RecordLength % 8, 0u);
        EXPECT_EQ(header.RecordLength, (60u + header.FileNameLength + 7u) & ~7u);
        if (header.RecordLength == 0 || at + header.RecordLength > bytes)
        {
            ADD_FAILURE() << "record at " << at << " runs past the " << bytes << " bytes returned";
            break;
        }
        std::u16string name(header.FileNameLength / 2, u'\0');
        std::memcpy(name.data(), buffer.data() + at + 60, header.FileNameLength);
        out->push_back({header.FileReferenceNumber, header.ParentFileReferenceNumber, header.FileAttributes,
                        header.Usn, Utf8(name)});
        lastRecord = RecordNumber(header.FileReferenceNumber);
        at += header.RecordLength;
    }
    EXPECT_GT(next, lastRecord) << "the continuation number must lie past the last record returned";
    return next;
}
} // namespace

std::vector<EnumeratedRecord> EnumerateAll(NtfsVolume& volume, DWORD bufferSize, std::uint64_t startFrn,
                                           USN lowUsn, USN highUsn)
{
    std::vector<EnumeratedRecord> records;
    std::vector<std::uint8_t> buffer(bufferSize);
    MFT_ENUM_DATA_V0 request{startFrn, lowUsn, highUsn};
    for (int calls = 0; calls < 1000000; ++calls)
    {
        DWORD bytes = 0;
        if (!volume.EnumUsnData(request, buffer.data(), bufferSize, &bytes))
        {
            EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
            EXPECT_EQ(bytes, 0u);
            return records;
        }
        request.StartFileReferenceNumber = TakeOutput(buffer, bytes, &records);
    }
    ADD_FAILURE() << "the enumeration does not end";
    return records;
}

std::map<std::string, EnumeratedRecord> ByPath(const std::vector<EnumeratedRecord>& records)
{
    constexpr std::uint64_t kRoot = 5;
    std::map<std::uint64_t, const EnumeratedRecord*> byNumber;
    for (const EnumeratedRecord& record : records)
        byNumber[RecordNumber(record.frn)] = &record;
    std::map<std::string, EnumeratedRecord> paths;
    for (const EnumeratedRecord& record : records)
    {
        if (RecordNumber(record.frn) == kRoot)
            continue;
        std::string path = record.name;
        std::uint64_t parent = RecordNumber(record.parentFrn);
        for (int depth = 0; parent != kRoot && depth < 100; ++depth)
        {
            const auto found = byNumber.find(parent);
            if (found == byNumber.end())
            {
                path = "?/" + path;
                break;
            }
            path = found->second->name + "/" + path;
            parent = RecordNumber(found->second->parentFrn);
        }
        paths[path] = record;
    }
    return paths;
}

void BuildOrFail(const mkimage::ImageOptions& options, const std::vector<mkimage::ImageEntry>& entries)
{
    std::string error;
    ASSERT_TRUE(mkimage::BuildImage(options, entries, &error)) << error;
}

mkimage::ImageEntry Entry(const std::string& listLine)
{
    std::vector<mkimage::ImageEntry> entries;
    std::string error;
    std::istringstream line(listLine);
    if (!mkimage::ReadEntryList(line, &entries, &error) || entries.size() != 1)
        throw std::invalid_argument(listLine + ": " + error);
    return entries[0];
}
} // namespace orva::ntfs::testing
