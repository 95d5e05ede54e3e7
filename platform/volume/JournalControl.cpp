// DeviceIoControl with the change-journal control codes.
//
// Requests are checked first (handle, buffer sizes, file system), then answered by the
// script of a scripted volume or by the NTFS reader. Journals this layer creates live in
// journals.ini of the state folder, one section per volume name, and never on the volume:
//
//   [\\?\Volume{...}\]
//   UsnJournalID=0x01DC6A3F5E2B9C00
//   NextUsn=4096
//   MaximumSize=8388608
//   AllocationDelta=1048576
//
// The journal reported for a volume is the one on the volume ($Extend\$UsnJrnl) when
// there is one, else the recorded one. Its NextUsn lies above every USN of the volume
// when it was created; since nothing is written to the volume, it stays so.
#include "Handles.h"
#include "ScriptedState.h"

#include "platform/ChangeJournalControl.h"
#include "platform/LastError.h"
#include "platform/ntfs/NtfsVolume.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TextConversion.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace orva::platform::volume
{
namespace
{
constexpr USN kMaxUsn = 0x7FFFFFFFFFFF0000ll;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

std::u16string JournalFile()
{
    return ToUtf16(StateFolder() + "/journals.ini");
}

std::optional<USN_JOURNAL_DATA_V0> ReadRecordedJournal(const std::u16string& volumeName)
{
    const std::u16string file = JournalFile();
    auto read = [&](const char16_t* key)
    {
        WCHAR value[64];
        DWORD length = GetPrivateProfileStringW(volumeName.c_str(), key, u"", value, 64, file.c_str());
        return std::strtoull(ToUtf8(std::u16string_view(value, length)).c_str(), nullptr, 0);
    };
    USN_JOURNAL_DATA_V0 journal{};
    journal.UsnJournalID = read(u"UsnJournalID");
    if (journal.UsnJournalID == 0)
        return std::nullopt;
    journal.NextUsn = static_cast<USN>(read(u"NextUsn"));
    journal.MaxUsn = kMaxUsn;
    journal.MaximumSize = read(u"MaximumSize");
    journal.AllocationDelta = read(u"AllocationDelta");
    return journal;
}

bool WriteRecordedJournal(const std::u16string& volumeName, const USN_JOURNAL_DATA_V0& journal)
{
    const std::u16string file = JournalFile();
    auto write = [&](const char16_t* key, const std::string& value)
    {
        return WritePrivateProfileStringW(volumeName.c_str(), key, ToUtf16(value).c_str(), file.c_str()) !=
               FALSE;
    };
    char id[24];
    std::snprintf(id, sizeof id, "0x%016llX", static_cast<unsigned long long>(journal.UsnJournalID));
    return write(u"UsnJournalID", id) && write(u"NextUsn", std::to_string(journal.NextUsn)) &&
           write(u"MaximumSize", std::to_string(journal.MaximumSize)) &&
           write(u"AllocationDelta", std::to_string(journal.AllocationDelta));
}

// A new journal identifier: the time of creation in 100 ns units, as Windows makes them.
DWORDLONG NewJournalId()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return static_cast<DWORDLONG>(ticks) + 116444736000000000ull;
}

BOOL QueryJournal(VolumeDevice& device, LPVOID outBuffer, LPDWORD bytesReturned)
{
    USN_JOURNAL_DATA_V0 journal{};
    if (!device.ntfs->QueryOnDiskJournal(&journal))
    {
        std::optional<USN_JOURNAL_DATA_V0> recorded =
            ReadRecordedJournal(device.volume.description.volumeName);
        if (!recorded)
            return Fail(ERROR_JOURNAL_NOT_ACTIVE);
        journal = *recorded;
    }
    std::memcpy(outBuffer, &journal, sizeof journal);
    *bytesReturned = sizeof journal;
    return TRUE;
}

BOOL CreateJournal(VolumeDevice& device, const CREATE_USN_JOURNAL_DATA& request)
{
    USN_JOURNAL_DATA_V0 journal{};
    // A journal on the volume stays as it is: changing it would mean writing.
    if (device.ntfs->QueryOnDiskJournal(&journal))
        return TRUE;
    const std::u16string& volumeName = device.volume.description.volumeName;
    if (std::optional<USN_JOURNAL_DATA_V0> recorded = ReadRecordedJournal(volumeName))
        journal = *recorded;
    else
    {
        journal.UsnJournalID = NewJournalId();
        // USNs are offsets of 8-byte aligned records: the next one lies past the highest.
        journal.NextUsn = (device.ntfs->HighestUsn() + 8) & ~USN{7};
    }
    journal.MaximumSize = request.MaximumSize;
    journal.AllocationDelta = request.AllocationDelta;
    if (!WriteRecordedJournal(volumeName, journal))
        return Fail(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ACCESS_DENIED);
    return TRUE;
}

BOOL DeleteJournal(VolumeDevice& device, const DELETE_USN_JOURNAL_DATA& request)
{
    USN_JOURNAL_DATA_V0 journal{};
    if (device.ntfs->QueryOnDiskJournal(&journal))
        return Fail(journal.UsnJournalID == request.UsnJournalID ? ERROR_ACCESS_DENIED
                                                                 : ERROR_INVALID_PARAMETER);
    const std::u16string& volumeName = device.volume.description.volumeName;
    std::optional<USN_JOURNAL_DATA_V0> recorded = ReadRecordedJournal(volumeName);
    if (!recorded)
        return Fail(ERROR_JOURNAL_NOT_ACTIVE);
    if (recorded->UsnJournalID != request.UsnJournalID)
        return Fail(ERROR_INVALID_PARAMETER);
    WritePrivateProfileStringW(volumeName.c_str(), /*key=*/nullptr, /*value=*/nullptr, JournalFile().c_str());
    return TRUE;
}

BOOL NtfsControl(VolumeDevice& device, DWORD code, LPVOID inBuffer, LPVOID outBuffer, DWORD outBufferSize,
                 LPDWORD bytesReturned)
{
    std::lock_guard guard(device.lock);
    if (!device.ntfs)
    {
        DWORD error = ERROR_UNRECOGNIZED_VOLUME;
        device.ntfs = ntfs::NtfsVolume::Open(device.volume.description.source, device.volume.offset,
                                             device.volume.length, &error);
        if (!device.ntfs)
            return Fail(error);
    }
    switch (code)
    {
    case FSCTL_QUERY_USN_JOURNAL:
        return QueryJournal(device, outBuffer, bytesReturned);
    case FSCTL_CREATE_USN_JOURNAL:
    {
        CREATE_USN_JOURNAL_DATA request;
        std::memcpy(&request, inBuffer, sizeof request);
        return CreateJournal(device, request);
    }
    case FSCTL_DELETE_USN_JOURNAL:
    {
        DELETE_USN_JOURNAL_DATA request;
        std::memcpy(&request, inBuffer, sizeof request);
        return DeleteJournal(device, request);
    }
    default:
    {
        MFT_ENUM_DATA_V0 request;
        std::memcpy(&request, inBuffer, sizeof request);
        return device.ntfs->EnumUsnData(request, outBuffer, outBufferSize, bytesReturned);
    }
    }
}

// The size checks Windows makes before a request reaches the file system.
DWORD CheckBuffers(DWORD code, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize)
{
    switch (code)
    {
    case FSCTL_QUERY_USN_JOURNAL:
        return outBuffer == nullptr || outBufferSize < sizeof(USN_JOURNAL_DATA_V0) ? ERROR_INSUFFICIENT_BUFFER
                                                                                   : ERROR_SUCCESS;
    case FSCTL_CREATE_USN_JOURNAL:
        return inBuffer == nullptr || inBufferSize < sizeof(CREATE_USN_JOURNAL_DATA) ? ERROR_INVALID_PARAMETER
                                                                                     : ERROR_SUCCESS;
    case FSCTL_DELETE_USN_JOURNAL:
    {
        if (inBuffer == nullptr || inBufferSize < sizeof(DELETE_USN_JOURNAL_DATA))
            return ERROR_INVALID_PARAMETER;
        DELETE_USN_JOURNAL_DATA request;
        std::memcpy(&request, inBuffer, sizeof request);
        const DWORD known = USN_DELETE_FLAG_DELETE | USN_DELETE_FLAG_NOTIFY;
        return request.DeleteFlags == 0 || (request.DeleteFlags & ~known) != 0 ? ERROR_INVALID_PARAMETER
                                                                               : ERROR_SUCCESS;
    }
    case FSCTL_ENUM_USN_DATA:
        if (inBuffer == nullptr || inBufferSize < sizeof(MFT_ENUM_DATA_V0) || outBuffer == nullptr)
            return ERROR_INVALID_PARAMETER;
        return outBufferSize < sizeof(USN) ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}
} // namespace
} // namespace orva::platform::volume

using namespace orva::platform::volume;

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned, OVERLAPPED*)
{
    std::shared_ptr<HandleObject> object = FindHandle(device);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    auto* volumeDevice = dynamic_cast<VolumeDevice*>(object.get());
    if (volumeDevice == nullptr)
        return Fail(ERROR_INVALID_FUNCTION);
    // Requests run to completion before the call returns, so a byte count is required.
    if (bytesReturned == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *bytesReturned = 0;
    if (DWORD error = CheckBuffers(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize))
        return Fail(error);
    // The file system's name as reported, in any letter case (a script may spell it so).
    if (lstrcmpiW(volumeDevice->volume.description.fileSystem.c_str(), u"NTFS") != 0)
        return Fail(ERROR_INVALID_FUNCTION);
    if (volumeDevice->volume.scripted)
        return ScriptedControl(*volumeDevice->volume.scripted, ioControlCode, inBuffer, inBufferSize,
                               outBuffer, outBufferSize, bytesReturned);
    return NtfsControl(*volumeDevice, ioControlCode, inBuffer, outBuffer, outBufferSize, bytesReturned);
}
