// The settings file's numbers: OrvaDesktop.ini of arbitrary contents read as the desktop
// program reads it, and the number readers on the input as text, checked against the C
// library's conversions.
//
// Properties: reading the count and three volume sections leaves a zero-terminated root
// path; on ASCII text, ParseInt32 is strtoll clamped to 32 bits, ParseInt64 is strtoll,
// and ParseUInt32Hex is strtoull's magnitude saturated at 32 bits with the sign applied
// in 32-bit unsigned arithmetic.
#include "FuzzSupport.h"

#include "SettingsNumber.h"
#include "VolumeSettings.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace
{
using orva::fuzz::Require;

void ReadSettingsFile(const std::uint8_t* data, std::size_t size)
{
    const std::string path = orva::fuzz::ScratchFolder() + "/OrvaDesktop.ini";
    orva::fuzz::WriteWholeFile(path, data, size);
    const std::u16string file = orva::platform::ToUtf16(path);
    ReadVolumeCount(file.c_str());
    for (DWORD index = 0; index < 3; ++index)
    {
        CVolumeSettings settings;
        ReadVolumeSettings(file.c_str(), index, settings);
        const WCHAR* end = std::find(settings.VolumeRootPath, settings.VolumeRootPath + MAX_PATH + 1, u'\0');
        Require(end != settings.VolumeRootPath + MAX_PATH + 1, "the root path is zero-terminated");
    }
}

bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c > 0 && c < 0x80; });
}

void CompareWithCLibrary(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    if (!IsAscii(text))
        return;
    const std::u16string wide(text.begin(), text.end());

    errno = 0;
    const long long signedValue = std::strtoll(text.c_str(), nullptr, 10);
    Require(ParseInt64(wide.c_str()) == signedValue, "ParseInt64 reads as strtoll");
    Require(ParseInt32(wide.c_str()) == std::clamp<long long>(signedValue, INT_MIN, INT_MAX),
            "ParseInt32 reads as strtoll clamped to 32 bits");

    errno = 0;
    const unsigned long long unsignedValue = std::strtoull(text.c_str(), nullptr, 16);
    const bool overflow = errno == ERANGE;
    const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
    const bool negative = first != std::string::npos && text[first] == '-';
    const unsigned long long magnitude = negative ? 0ull - unsignedValue : unsignedValue;
    DWORD expected = 0xFFFFFFFFu;
    if (!overflow && magnitude <= 0xFFFFFFFFull)
        expected = negative ? 0u - static_cast<DWORD>(magnitude) : static_cast<DWORD>(magnitude);
    Require(ParseUInt32Hex(wide.c_str()) == expected, "ParseUInt32Hex reads as strtoull, saturated at 32 bits");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ReadSettingsFile(data, size);
    CompareWithCLibrary(data, size);
    return 0;
}
