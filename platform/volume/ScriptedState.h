// The platform's side of the scripted-volume test seam (platform/testing/ScriptedVolume.h).
#pragma once

#include "VolumeTable.h"

#include "platform/testing/ScriptedVolume.h"

#include <mutex>

namespace orva::platform::volume
{
struct ScriptedState
{
    std::mutex lock;
    testing::ScriptedVolume script;   // Guarded by lock.
    testing::ScriptedVolume::Log log; // Guarded by lock.
    size_t nextAnswer = 0;            // Guarded by lock.
};

// The installed scripted volumes as table entries.
std::vector<VolumeEntry> ScriptedVolumes();

// The control codes, answered from the script.
BOOL ScriptedControl(ScriptedState& state, DWORD code, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned);
// Attributes of "\a\b" (the path inside the volume) from the script.
BOOL ScriptedAttributes(ScriptedState& state, std::u16string_view insidePath,
                        WIN32_FILE_ATTRIBUTE_DATA* data);
// Counts a handle opened on (+1) or closed from (-1) the volume.
void ScriptedHandleOpened(ScriptedState& state, int delta);
} // namespace orva::platform::volume
