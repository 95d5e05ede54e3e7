#include "ResultPrinter.h"

#include "platform/Paths.h"
#include "platform/Time.h"

#include <cinttypes>

namespace orva::search
{
namespace
{
std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text)
    {
        switch (c)
        {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
            {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            }
            else
                quoted += c;
        }
    }
    return quoted + "\"";
}

bool IsZero(const FILETIME& time) { return time.dwLowDateTime == 0 && time.dwHighDateTime == 0; }

// "2020-09-13 14:26" in the local time zone; blanks when the time is not known.
std::string LocalTime(const FILETIME& time)
{
    SYSTEMTIME universal;
    SYSTEMTIME local;
    if (IsZero(time) || !FileTimeToSystemTime(&time, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return std::string(16, ' ');
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                  local.wMinute);
    return text;
}

// "2020-09-13T12:26:40Z", or null when the time is not known.
std::string UtcTime(const FILETIME& time)
{
    SYSTEMTIME universal;
    if (IsZero(time) || !FileTimeToSystemTime(&time, &universal))
        return "null";
    char text[40];
    std::snprintf(text, sizeof text, "\"%04u-%02u-%02uT%02u:%02u:%02uZ\"", universal.wYear, universal.wMonth,
                  universal.wDay, universal.wHour, universal.wMinute, universal.wSecond);
    return text;
}
} // namespace

std::string FullPath(const ResultRow& row)
{
    return platform::ToUtf8(row.folderPath) + "\\" + platform::ToUtf8(row.name);
}

std::string FormatRow(const ResultRow& row, OutputFormat format)
{
    switch (format)
    {
    case OutputFormat::Paths:
        return FullPath(row);
    case OutputFormat::Long:
    {
        char size[32];
        if (row.folder)
            std::snprintf(size, sizeof size, "%15s", "<DIR>");
        else
            std::snprintf(size, sizeof size, "%15" PRIu64, row.size);
        return std::string(size) + "  " + LocalTime(row.lastWrite) + "  " + FullPath(row);
    }
    case OutputFormat::Json:
        return "{\"path\":" + JsonString(FullPath(row)) + ",\"name\":" + JsonString(platform::ToUtf8(row.name)) +
               ",\"folder\":" + (row.folder ? "true" : "false") + ",\"size\":" + std::to_string(row.size) +
               ",\"modified\":" + UtcTime(row.lastWrite) + "}";
    }
    return {};
}

bool PrintLine(const std::string& line)
{
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fputc('\n', stdout) != EOF;
}
} // namespace orva::search
