#include "VolumeSettings.h"

#include "SettingsNumber.h"

#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TextConversion.h"
#include "platform/Volume.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace
{
constexpr std::u16string_view kFileName = u"\\OrvaDesktop.ini";
constexpr LPCWSTR kMainSection = u"Orva";
constexpr LPCWSTR kVolumeCountKey = u"VolumeCount";

// What the discovery writes for every volume: 8 MiB journals growing by 1 MiB.
constexpr unsigned long long kUsnMaximumSize = 8388608;
constexpr unsigned long long kUsnAllocationDelta = 1048576;
constexpr DWORD kInitHash = 100000;
constexpr DWORD kMonitorChanges = 1;

// printf-style formatting of one number into a UTF-16 text.
template <typename Number> std::u16string Format(const char* format, Number value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return orva::platform::ToUtf16(text);
}

std::u16string VolumeSectionName(DWORD number)
{
    return u"VOLUME_" + Format("%u", number);
}

// Reads one number's text (at most MAX_PATH - 1 units), "0" when absent.
std::u16string ReadNumberText(LPCWSTR section, LPCWSTR key, LPCWSTR path)
{
    WCHAR value[MAX_PATH];
    GetPrivateProfileStringW(section, key, u"0", value, MAX_PATH, path);
    return value;
}

// Closes a volume search on every way out, an exception included.
class VolumeSearch
{
public:
    explicit VolumeSearch(LPWSTR name) : m_handle(FindFirstVolumeW(name, MAX_PATH)) {}
    ~VolumeSearch()
    {
        if (IsOpen())
            FindVolumeClose(m_handle);
    }
    VolumeSearch(const VolumeSearch&) = delete;
    VolumeSearch& operator=(const VolumeSearch&) = delete;

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Next(LPWSTR name) { return FindNextVolumeW(m_handle, name, MAX_PATH) != FALSE; }

private:
    HANDLE m_handle;
};
} // namespace

BOOL GetSettingsFilePath(LPWSTR path)
{
    const std::u16string full = orva::platform::CurrentDirectory() + std::u16string(kFileName);
    if (full.size() >= MAX_PATH)
    {
        path[0] = u'\0';
        return FALSE;
    }
    full.copy(path, full.size());
    path[full.size()] = u'\0';
    return TRUE;
}

LONG ReadVolumeCount(LPCWSTR path)
{
    return ParseInt32(ReadNumberText(kMainSection, kVolumeCountKey, path).c_str());
}

void DiscoverVolumes(LPCWSTR path)
{
    WCHAR volumeName[MAX_PATH];
    VolumeSearch search(volumeName);
    if (!search.IsOpen())
        return;
    do
    {
        if (GetDriveTypeW(volumeName) != DRIVE_FIXED)
            continue;
        WCHAR label[MAX_PATH];
        WCHAR fileSystem[MAX_PATH];
        DWORD serialNumber = 0;
        DWORD maximumComponentLength = 0;
        DWORD fileSystemFlags = 0;
        if (!GetVolumeInformationW(volumeName, label, MAX_PATH, &serialNumber, &maximumComponentLength,
                                   &fileSystemFlags, fileSystem, MAX_PATH))
            return;
        if (lstrcmpiW(fileSystem, u"NTFS") == 0)
            AppendVolumeSection(path, serialNumber, volumeName);
    } while (search.Next(volumeName));
}

void AppendVolumeSection(LPCWSTR path, DWORD serialNumber, LPCWSTR volumeName)
{
    const auto number = static_cast<DWORD>(ReadVolumeCount(path)) + 1;
    WritePrivateProfileStringW(kMainSection, kVolumeCountKey, Format("%u", number).c_str(), path);

    const std::u16string section = VolumeSectionName(number);
    const auto write = [&](LPCWSTR key, const std::u16string& value)
    { WritePrivateProfileStringW(section.c_str(), key, value.c_str(), path); };
    write(u"VolumeRootPath", volumeName);
    write(u"SerialNumber", Format("0x%08X", serialNumber));
    write(u"UsnMaximumSize", Format("%llu", kUsnMaximumSize));
    write(u"UsnAllocationDelta", Format("%llu", kUsnAllocationDelta));
    write(u"InitHash", Format("0x%08X", kInitHash));
    write(u"MonitorChanges", Format("%u", kMonitorChanges));
}

void ReadVolumeSettings(LPCWSTR path, DWORD index, CVolumeSettings& settings)
{
    const std::u16string section = VolumeSectionName(index + 1);
    const auto read = [&](LPCWSTR key) { return ReadNumberText(section.c_str(), key, path); };

    GetPrivateProfileStringW(section.c_str(), u"VolumeRootPath", u"", settings.VolumeRootPath, MAX_PATH + 1,
                             path);
    settings.SerialNumber = ParseUInt32Hex(read(u"SerialNumber").c_str());
    settings.UsnMaximumSize = ParseInt64(read(u"UsnMaximumSize").c_str());
    settings.UsnAllocationDelta = ParseInt64(read(u"UsnAllocationDelta").c_str());
    settings.InitHash = ParseUInt32Hex(read(u"InitHash").c_str());
    settings.MonitorChanges = ParseInt32(read(u"MonitorChanges").c_str());
}
