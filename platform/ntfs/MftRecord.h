// Reading one MFT record for the enumeration, without trusting anything in it. The
// record comes from ntfs_mft_records_read, which has applied its update sequence array
// (fixups) or, where a sector did not match, changed its magic to "BAAD".
//
// ParseMftRecord walks the attribute records of one record buffer and takes what an
// FSCTL_ENUM_USN_DATA record needs: the sequence number, the directory flag, the
// $STANDARD_INFORMATION attributes and USN, and a name with its parent from a resident
// $FILE_NAME. Every offset and length read from the record is checked against the
// record's size before it is used; a record that does not hold together (no "FILE"
// magic, an update sequence array that libntfs-3g would not have applied, an attribute
// chain that leaves the record, an attribute value or a
// name that runs past its attribute, no $STANDARD_INFORMATION) is reported Damaged and
// nothing of it is used.
//
// Name choice: the first $FILE_NAME that is not DOS-only (POSIX, Win32, or Win32 and
// DOS) wins; a DOS-only name is kept only as a fallback. A base record whose long name
// lives in an extension record has an $ATTRIBUTE_LIST: `hasAttributeList` tells the
// caller to look there when no long name was found in the record itself.
//
// Example: record 64, sequence 1, in use, $STANDARD_INFORMATION {attributes 0x20,
// usn 0x1F0}, $FILE_NAME {parent 5|5<<48, Win32 "Report.txt"} gives Kind::Base with
// sequence 1, directory false, attributes 0x20, usn 0x1F0, parentFrn 0x0005000000000005
// and the name's 10 units at `nameOffset`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orva::ntfs
{
enum class MftRecordKind
{
    Unused,    // not in use: the record is free
    Extension, // in use, holds attributes of another (base) record
    Base,      // in use, a file or folder of its own
    Damaged,   // does not hold together; skipped
};

struct MftRecordInfo
{
    std::uint16_t sequence = 0;
    bool directory = false;
    std::uint32_t fileAttributes = 0; // from $STANDARD_INFORMATION
    std::int64_t usn = 0;             // 0 where $STANDARD_INFORMATION has no USN (NTFS 1.x layout)
    std::uint32_t securityId = 0;
    bool hasName = false;
    bool nameIsDosOnly = false; // the only name found is a DOS 8.3 name
    bool hasAttributeList = false;
    std::uint64_t parentFrn = 0;
    std::size_t nameOffset = 0; // of the name's UTF-16LE units inside the record buffer
    std::size_t nameLength = 0; // in UTF-16 units, at most 255
};

struct FileNameValue
{
    std::uint64_t parentFrn = 0;
    std::uint8_t nameSpace = 0;         // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    const std::uint8_t* name = nullptr; // UTF-16LE units, unaligned
    std::size_t nameLength = 0;         // in UTF-16 units
};
constexpr std::uint8_t kDosNameSpace = 2;

// One $FILE_NAME attribute value of `length` bytes. False when it is too short for the
// name it claims.
bool ParseFileNameValue(const std::uint8_t* value, std::size_t length, FileNameValue* fileName);

// `record` holds `size` bytes of one MFT record. Reads nothing outside it.
MftRecordKind ParseMftRecord(const std::uint8_t* record, std::size_t size, MftRecordInfo* info);

} // namespace orva::ntfs
