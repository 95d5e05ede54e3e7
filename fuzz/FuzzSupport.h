// Shared pieces of the fuzz targets: a scratch folder for the files they write, the
// input seen as UTF-16, and a check that stops the run (libFuzzer then keeps the input
// as a crash) when a property fails.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace orva::fuzz
{
// A folder of its own under /tmp, made on first use and removed at exit; the process's
// current directory is not changed.
const std::string& ScratchFolder();

// Replaces `path` with `size` bytes of `data`.
void WriteWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// The input as UTF-16 units, two bytes each (little-endian, an odd last byte dropped),
// cut at the first zero unit as a zero-terminated caller would see it.
std::u16string UnitsOf(const std::uint8_t* data, std::size_t size);

// The input's bytes widened to units one by one, cut at the first zero byte.
std::u16string WidenBytes(const std::uint8_t* data, std::size_t size);

// Prints `what` and aborts when `condition` is false.
void Require(bool condition, const char* what);
} // namespace orva::fuzz
