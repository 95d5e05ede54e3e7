// The scripted-volume test seam: volumes whose answers a test gives.
#include "ScriptedState.h"

#include "platform/LastError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orva::platform::volume
{
namespace
{
struct ScriptedRegistry
{
    std::mutex lock;
    std::vector<std::shared_ptr<ScriptedState>> volumes; // Guarded by lock.
};

ScriptedRegistry& Registry()
{
    static ScriptedRegistry registry;
    return registry;
}

std::u16string DefaultVolumeName(char letter)
{
    char text[64];
    std::snprintf(text, sizeof text, "\\\\?\\Volume{5c51a7ed-0000-0000-0000-0000000000%02x}\\",
                  static_cast<unsigned char>(letter));
    return std::u16string(text, text + std::strlen(text));
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL Enumerate(ScriptedState& state, const MFT_ENUM_DATA_V0& request, LPVOID outBuffer, DWORD outBufferSize,
               LPDWORD bytesReturned)
{
    state.log.enumRequests.push_back(request);
    testing::EnumAnswer answer;
    if (state.script.enumerate)
        answer = state.script.enumerate(request, outBufferSize);
    else if (state.nextAnswer < state.script.enumAnswers.size())
        answer = state.script.enumAnswers[state.nextAnswer++];
    else
        return Fail(ERROR_HANDLE_EOF);
    if (!answer.succeeds)
        return Fail(answer.error);
    const DWORD count = static_cast<DWORD>(std::min<size_t>(answer.bytes.size(), outBufferSize));
    // An empty answer has no bytes to copy (and its data() may be null).
    if (count != 0)
        std::memcpy(outBuffer, answer.bytes.data(), count);
    *bytesReturned = count;
    return TRUE;
}
} // namespace

std::vector<VolumeEntry> ScriptedVolumes()
{
    ScriptedRegistry& registry = Registry();
    std::lock_guard guard(registry.lock);
    std::vector<VolumeEntry> entries;
    for (const std::shared_ptr<ScriptedState>& state : registry.volumes)
    {
        std::lock_guard scriptGuard(state->lock);
        const testing::ScriptedVolume& script = state->script;
        VolumeEntry entry;
        VolumeDescription& description = entry.description;
        description.volumeName =
            script.volumeName.empty() ? DefaultVolumeName(script.letter) : script.volumeName;
        description.letter = script.letter;
        description.driveType = script.driveType;
        description.fileSystem = script.fileSystem;
        description.label = u"Scripted";
        description.serialNumber = script.serialNumber;
        description.mountPoints = script.mountPoints;
        description.readable = script.deviceOpens;
        entry.scripted = state;
        entries.push_back(std::move(entry));
    }
    return entries;
}

BOOL ScriptedControl(ScriptedState& state, DWORD code, LPVOID inBuffer, DWORD, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned)
{
    std::lock_guard guard(state.lock);
    testing::ScriptedVolume& script = state.script;
    switch (code)
    {
    case FSCTL_QUERY_USN_JOURNAL:
        ++state.log.queries;
        if (!script.journalQuerySucceeds)
            return Fail(ERROR_JOURNAL_NOT_ACTIVE);
        std::memcpy(outBuffer, &script.journal, sizeof script.journal);
        *bytesReturned = sizeof script.journal;
        return TRUE;
    case FSCTL_CREATE_USN_JOURNAL:
    {
        CREATE_USN_JOURNAL_DATA request;
        std::memcpy(&request, inBuffer, sizeof request);
        state.log.creates.push_back(request);
        if (!script.journalCreateSucceeds)
            return Fail(ERROR_ACCESS_DENIED);
        script.journalQuerySucceeds = true;
        script.journal.MaximumSize = request.MaximumSize;
        script.journal.AllocationDelta = request.AllocationDelta;
        return TRUE;
    }
    case FSCTL_DELETE_USN_JOURNAL:
    {
        DELETE_USN_JOURNAL_DATA request;
        std::memcpy(&request, inBuffer, sizeof request);
        state.log.deletes.push_back(request);
        if (!script.journalQuerySucceeds)
            return Fail(ERROR_JOURNAL_NOT_ACTIVE);
        if (request.UsnJournalID != script.journal.UsnJournalID)
            return Fail(ERROR_INVALID_PARAMETER);
        script.journalQuerySucceeds = false;
        return TRUE;
    }
    case FSCTL_ENUM_USN_DATA:
    {
        MFT_ENUM_DATA_V0 request;
        std::memcpy(&request, inBuffer, sizeof request);
        return Enumerate(state, request, outBuffer, outBufferSize, bytesReturned);
    }
    default:
        return Fail(ERROR_INVALID_FUNCTION);
    }
}

BOOL ScriptedAttributes(ScriptedState& state, std::u16string_view insidePath, WIN32_FILE_ATTRIBUTE_DATA* data)
{
    std::lock_guard guard(state.lock);
    auto found = state.script.attributes.find(std::u16string(insidePath));
    if (found == state.script.attributes.end())
        return Fail(ERROR_FILE_NOT_FOUND);
    *data = found->second;
    return TRUE;
}

void ScriptedHandleOpened(ScriptedState& state, int delta)
{
    std::lock_guard guard(state.lock);
    state.log.openHandles += delta;
}
} // namespace orva::platform::volume

namespace orva::platform::testing
{
ScriptedVolume::Log& AddScriptedVolume(ScriptedVolume volume)
{
    volume::ScriptedRegistry& registry = volume::Registry();
    std::lock_guard guard(registry.lock);
    auto state = std::make_shared<volume::ScriptedState>();
    state->script = std::move(volume);
    auto same =
        std::find_if(registry.volumes.begin(), registry.volumes.end(),
                     [&](const auto& other)
                     { return other->script.letter != 0 && other->script.letter == state->script.letter; });
    if (same != registry.volumes.end())
        *same = state;
    else
        registry.volumes.push_back(state);
    return state->log;
}

void ClearScriptedVolumes()
{
    volume::ScriptedRegistry& registry = volume::Registry();
    std::lock_guard guard(registry.lock);
    registry.volumes.clear();
}

void AppendUsnRecord(std::vector<BYTE>& bytes, ULONGLONG frn, ULONGLONG parentFrn, DWORD attributes,
                     std::u16string_view name, USN usn)
{
    const size_t nameBytes = name.size() * sizeof(WCHAR);
    const size_t length = (offsetof(USN_RECORD_V2, FileName) + nameBytes + 7) & ~size_t{7};
    USN_RECORD_V2 record{};
    record.RecordLength = static_cast<DWORD>(length);
    record.MajorVersion = 2;
    record.FileReferenceNumber = frn;
    record.ParentFileReferenceNumber = parentFrn;
    record.Usn = usn;
    record.FileAttributes = attributes;
    record.FileNameLength = static_cast<WORD>(nameBytes);
    record.FileNameOffset = offsetof(USN_RECORD_V2, FileName);
    const size_t start = bytes.size();
    bytes.resize(start + length, 0);
    std::memcpy(bytes.data() + start, &record, offsetof(USN_RECORD_V2, FileName));
    std::memcpy(bytes.data() + start + offsetof(USN_RECORD_V2, FileName), name.data(), nameBytes);
}

std::vector<BYTE> EnumHeader(ULONGLONG nextFrn)
{
    std::vector<BYTE> bytes(sizeof nextFrn);
    std::memcpy(bytes.data(), &nextFrn, sizeof nextFrn);
    return bytes;
}
} // namespace orva::platform::testing
