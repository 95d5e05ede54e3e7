#include "MftRecord.h"

#include <cstring>

namespace orva::ntfs
{
namespace
{
// FILE record header.
constexpr std::size_t kMagic = 0x00;
constexpr std::size_t kUsaOffset = 0x04;
constexpr std::size_t kUsaCount = 0x06;
constexpr std::size_t kSequence = 0x10;
constexpr std::size_t kAttrsOffset = 0x14;
constexpr std::size_t kFlags = 0x16;
constexpr std::size_t kBytesInUse = 0x18;
constexpr std::size_t kBaseRecord = 0x20;
constexpr std::size_t kHeaderSize = 0x30;
constexpr std::uint32_t kFileMagic = 0x454C4946; // "FILE"
constexpr std::uint16_t kInUse = 0x0001;
constexpr std::uint16_t kIsDirectory = 0x0002;
constexpr std::size_t kUsaSectorSize = 512; // fixups always step in 512-byte blocks

// Attribute record header (resident form).
constexpr std::size_t kAttrType = 0x00;
constexpr std::size_t kAttrLength = 0x04;
constexpr std::size_t kAttrNonResident = 0x08;
constexpr std::size_t kAttrValueLength = 0x10;
constexpr std::size_t kAttrValueOffset = 0x14;
constexpr std::size_t kResidentHeaderSize = 0x18;
constexpr std::size_t kAttrMinimumSize = 0x10; // the part common to every attribute record
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
constexpr std::uint32_t kStandardInformation = 0x10;
constexpr std::uint32_t kAttributeList = 0x20;
constexpr std::uint32_t kFileName = 0x30;

// $STANDARD_INFORMATION value.
constexpr std::size_t kSiAttributes = 0x20;
constexpr std::size_t kSiSizeV1 = 0x30;
constexpr std::size_t kSiSecurityId = 0x34;
constexpr std::size_t kSiUsn = 0x40;
constexpr std::size_t kSiSizeV3 = 0x48;

// $FILE_NAME value.
constexpr std::size_t kFnParent = 0x00;
constexpr std::size_t kFnNameLength = 0x40;
constexpr std::size_t kFnNamespace = 0x41;
constexpr std::size_t kFnName = 0x42;

template <typename T> T Read(const std::uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value); // little-endian host, unaligned fields
    return value;
}

// The same test libntfs-3g makes before it applies the array: where it fails, the
// record was left as it lay on disk, with sector tails unrepaired.
bool UpdateSequenceArrayValid(const std::uint8_t* record, std::size_t size)
{
    const std::size_t offset = Read<std::uint16_t>(record + kUsaOffset);
    const std::size_t count = Read<std::uint16_t>(record + kUsaCount);
    return (offset & 1) == 0 && offset >= 8 && count >= 2 && offset + count * 2 <= kUsaSectorSize &&
           (count - 1) * kUsaSectorSize == size;
}

// One resident attribute's value: [offset, offset + length) of the record, checked.
bool ResidentValue(const std::uint8_t* attr, std::size_t attrLength, std::size_t attrStart,
                   std::size_t* offset, std::size_t* length)
{
    if (attrLength < kResidentHeaderSize || attr[kAttrNonResident] != 0)
        return false;
    const std::size_t valueLength = Read<std::uint32_t>(attr + kAttrValueLength);
    const std::size_t valueOffset = Read<std::uint16_t>(attr + kAttrValueOffset);
    if (valueOffset > attrLength || valueLength > attrLength - valueOffset)
        return false;
    *offset = attrStart + valueOffset;
    *length = valueLength;
    return true;
}

bool TakeStandardInformation(const std::uint8_t* value, std::size_t length, MftRecordInfo* info)
{
    if (length < kSiSizeV1)
        return false;
    info->fileAttributes = Read<std::uint32_t>(value + kSiAttributes);
    if (length >= kSiSizeV3)
    {
        info->securityId = Read<std::uint32_t>(value + kSiSecurityId);
        info->usn = Read<std::int64_t>(value + kSiUsn);
    }
    return true;
}

bool TakeFileName(const std::uint8_t* record, std::size_t offset, std::size_t length, MftRecordInfo* info)
{
    FileNameValue fileName;
    if (!ParseFileNameValue(record + offset, length, &fileName))
        return false;
    const bool dosOnly = fileName.nameSpace == kDosNameSpace;
    if (fileName.nameLength == 0 || (info->hasName && (dosOnly || !info->nameIsDosOnly)))
        return true; // an earlier name stays
    info->hasName = true;
    info->nameIsDosOnly = dosOnly;
    info->parentFrn = fileName.parentFrn;
    info->nameOffset = offset + kFnName;
    info->nameLength = fileName.nameLength;
    return true;
}

bool WalkAttributes(const std::uint8_t* record, std::size_t start, std::size_t limit, MftRecordInfo* info)
{
    bool haveStandardInformation = false;
    std::size_t at = start;
    while (true)
    {
        if (at > limit || limit - at < 4)
            return false;
        const std::uint32_t type = Read<std::uint32_t>(record + at + kAttrType);
        if (type == kEndMarker)
            return haveStandardInformation;
        if (limit - at < kAttrMinimumSize)
            return false;
        const std::size_t length = Read<std::uint32_t>(record + at + kAttrLength);
        if (length < kAttrMinimumSize || length % 8 != 0 || length > limit - at)
            return false;
        std::size_t valueOffset = 0;
        std::size_t valueLength = 0;
        if (type == kStandardInformation)
        {
            if (!ResidentValue(record + at, length, at, &valueOffset, &valueLength) ||
                !TakeStandardInformation(record + valueOffset, valueLength, info))
                return false;
            haveStandardInformation = true;
        }
        else if (type == kFileName)
        {
            if (!ResidentValue(record + at, length, at, &valueOffset, &valueLength) ||
                !TakeFileName(record, valueOffset, valueLength, info))
                return false;
        }
        else if (type == kAttributeList)
        {
            info->hasAttributeList = true;
        }
        at += length;
    }
}
} // namespace

bool ParseFileNameValue(const std::uint8_t* value, std::size_t length, FileNameValue* fileName)
{
    if (length < kFnName)
        return false;
    const std::size_t units = value[kFnNameLength];
    if (kFnName + units * 2 > length)
        return false;
    fileName->parentFrn = Read<std::uint64_t>(value + kFnParent);
    fileName->nameSpace = value[kFnNamespace];
    fileName->name = value + kFnName;
    fileName->nameLength = units;
    return true;
}

MftRecordKind ParseMftRecord(const std::uint8_t* record, std::size_t size, MftRecordInfo* info)
{
    *info = MftRecordInfo{};
    if (size < kHeaderSize + 8 || Read<std::uint32_t>(record + kMagic) != kFileMagic ||
        !UpdateSequenceArrayValid(record, size))
        return MftRecordKind::Damaged;
    const std::uint16_t flags = Read<std::uint16_t>(record + kFlags);
    if ((flags & kInUse) == 0)
        return MftRecordKind::Unused;
    if (Read<std::uint64_t>(record + kBaseRecord) != 0)
        return MftRecordKind::Extension;

    const std::size_t attrsOffset = Read<std::uint16_t>(record + kAttrsOffset);
    const std::size_t bytesInUse = Read<std::uint32_t>(record + kBytesInUse);
    if (attrsOffset < kHeaderSize || bytesInUse > size || attrsOffset >= bytesInUse)
        return MftRecordKind::Damaged;
    info->sequence = Read<std::uint16_t>(record + kSequence);
    info->directory = (flags & kIsDirectory) != 0;
    if (!WalkAttributes(record, attrsOffset, bytesInUse, info))
    {
        *info = MftRecordInfo{};
        return MftRecordKind::Damaged;
    }
    return MftRecordKind::Base;
}
} // namespace orva::ntfs
