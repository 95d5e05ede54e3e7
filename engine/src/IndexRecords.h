// The packed records of the name index and the storage constants they live by.
//
// Records are byte sequences inside the 64 KiB blocks of the name pool: every field
// follows the previous one directly, multi-byte fields are little-endian and may start
// at any address, so fields are read and written with memcpy only. Readers address the
// fields by the offsets below and take a name's extent from its length alone: the zero
// byte written after a name is overwritten by the next record placed in the block.
//
// FolderNode, one per directory:
//   0   8  FRN           the folder's own file reference number
//   8   8  parent        the parent's FRN during the build, then the parent FolderNode's
//                        address (0: top-level, or parent not found)
//   16  1  drive letter  'A' to 'Z'
//   17  2  name length   bytes of the name, terminator not counted
//   19  n  name          UTF-8 (the ANSI code page of this platform)
//
// FileNode, one per other entry: the same from the parent field on, without the FRN:
//   0   8  parent
//   8   1  drive letter
//   9   2  name length
//   11  n  name
#pragma once

#include "platform/WinTypes.h"

#include <cstring>

namespace orva::engine
{
// FolderNode
inline constexpr DWORD kFolderFrnOffset = 0;
inline constexpr DWORD kFolderParentOffset = 8;
inline constexpr DWORD kFolderLetterOffset = 16;
inline constexpr DWORD kFolderNameLengthOffset = 17;
inline constexpr DWORD kFolderHeaderSize = 19;

// FileNode
inline constexpr DWORD kFileParentOffset = 0;
inline constexpr DWORD kFileLetterOffset = 8;
inline constexpr DWORD kFileNameLengthOffset = 9;
inline constexpr DWORD kFileHeaderSize = 11;

// From the parent field on, both kinds are read alike: these offsets count from it.
inline constexpr DWORD kCommonLetterOffset = 8;
inline constexpr DWORD kCommonNameLengthOffset = 9;
inline constexpr DWORD kCommonNameOffset = 11;

static_assert(kFolderParentOffset == kFolderFrnOffset + 8);
static_assert(kFolderLetterOffset == kFolderParentOffset + 8);
static_assert(kFolderNameLengthOffset == kFolderLetterOffset + 1);
static_assert(kFolderHeaderSize == kFolderNameLengthOffset + 2);
static_assert(kFileLetterOffset == kFileParentOffset + 8);
static_assert(kFileNameLengthOffset == kFileLetterOffset + 1);
static_assert(kFileHeaderSize == kFileNameLengthOffset + 2);
static_assert(kFolderParentOffset + kCommonNameOffset == kFolderHeaderSize);
static_assert(kFileParentOffset + kCommonNameOffset == kFileHeaderSize);
// The parent field holds a whole address.
static_assert(sizeof(void*) <= 8);

// Name pool blocks and the growth step of the tables and result lists, in bytes.
inline constexpr DWORD kBlockSize = 0x10000;
inline constexpr DWORD kTableGrowth = 0x10000;

// An NTFS name has at most 255 UTF-16 units; each unit takes at most 3 UTF-8 bytes (a
// surrogate pair, 2 units, takes 4). Names are stored whole up to this size.
inline constexpr DWORD kMaxNameBytes = 255 * 3;
// The largest record, with the terminator after it, always fits in a fresh block.
static_assert(kFolderHeaderSize + kMaxNameBytes + 1 <= kBlockSize);

inline ULONGLONG ReadU64(const BYTE* at)
{
    ULONGLONG value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void WriteU64(BYTE* at, ULONGLONG value) { std::memcpy(at, &value, sizeof value); }

inline WORD ReadU16(const BYTE* at)
{
    WORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

inline void WriteU16(BYTE* at, WORD value) { std::memcpy(at, &value, sizeof value); }

// A record seen from its parent field on: how result rows and paths read both kinds.
struct NodeView
{
    const BYTE* at; // the parent field

    static NodeView OfFolder(const BYTE* folder) { return {folder + kFolderParentOffset}; }
    static NodeView OfFile(const BYTE* file) { return {file + kFileParentOffset}; }

    const BYTE* Parent() const { return reinterpret_cast<const BYTE*>(static_cast<DWORD_PTR>(ReadU64(at))); }
    char Letter() const { return static_cast<char>(at[kCommonLetterOffset]); }
    WORD NameLength() const { return ReadU16(at + kCommonNameLengthOffset); }
    const char* Name() const { return reinterpret_cast<const char*>(at + kCommonNameOffset); }
};

inline ULONGLONG FolderFrn(const BYTE* folder) { return ReadU64(folder + kFolderFrnOffset); }
} // namespace orva::engine
