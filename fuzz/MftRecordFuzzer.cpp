// The MFT record parser of the NTFS reader on arbitrary record bytes (as they come from
// libntfs-3g after its fixups): attribute offsets and lengths that lie, names that run
// past their attribute or the record, any flags and sequence numbers.
//
// Properties: nothing outside the record is read (ASan watches a buffer of exactly the
// record's size); a name that is reported lies inside the record and has at most 255
// units; a $FILE_NAME value that parses holds the name it claims.
#include "FuzzSupport.h"

#include "platform/ntfs/MftRecord.h"

namespace
{
using orva::fuzz::Require;

void CheckRecord(const std::uint8_t* record, std::size_t size)
{
    orva::ntfs::MftRecordInfo info;
    const orva::ntfs::MftRecordKind kind = orva::ntfs::ParseMftRecord(record, size, &info);
    if (kind != orva::ntfs::MftRecordKind::Base || !info.hasName)
        return;
    Require(info.nameLength <= 255, "a name has at most 255 units");
    Require(info.nameOffset <= size && info.nameLength * 2 <= size - info.nameOffset, "the name lies in the record");
    unsigned sum = 0;
    for (std::size_t i = 0; i < info.nameLength * 2; ++i)
        sum += record[info.nameOffset + i];
    (void)sum;
}

void CheckFileName(const std::uint8_t* value, std::size_t size)
{
    orva::ntfs::FileNameValue fileName;
    if (!orva::ntfs::ParseFileNameValue(value, size, &fileName))
        return;
    Require(fileName.name >= value && fileName.name + fileName.nameLength * 2 <= value + size,
            "a $FILE_NAME's name lies in its value");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // libFuzzer hands over a heap copy of exactly `size` bytes, so a read past the end
    // is a heap overflow.
    CheckRecord(data, size);
    CheckFileName(data, size);
    return 0;
}
