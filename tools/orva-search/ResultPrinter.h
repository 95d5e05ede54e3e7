// Prints result rows: one full path a line, with size and local time columns (--long),
// or one JSON object a line (--json). Writing stops quietly when standard output is a
// closed pipe.
#pragma once

#include "platform/WinTypes.h"

#include <cstdio>
#include <string>

namespace orva::search
{
struct ResultRow
{
    std::u16string name;
    std::u16string folderPath; // "E:" or "E:\Docs"
    bool folder = false;
    ULONGLONG size = 0;
    FILETIME lastWrite{};
};

enum class OutputFormat
{
    Paths,
    Long,
    Json,
};

// "E:\Docs\a.txt"
std::string FullPath(const ResultRow& row);
// The row as printed, without the line end.
std::string FormatRow(const ResultRow& row, OutputFormat format);
// Writes one line; false when standard output no longer takes it (closed pipe).
bool PrintLine(const std::string& line);
} // namespace orva::search
