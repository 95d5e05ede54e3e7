// Shared pieces of the engine tests: access to the service's storage, a scratch current
// directory (Perf.log goes there), scripted volumes and Perf.log reading.
#pragma once

#include "orva/OrvaService.h"
#include "platform/Heap.h"
#include "platform/MessageBox.h"
#include "platform/testing/ScriptedVolume.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// The friend of COrvaService: reads its storage and calls its private steps.
struct OrvaServiceTestAccess
{
    static const COrvaService::RecordTable& FolderIndex(const COrvaService& s) { return s.m_folderIndex; }
    static const COrvaService::RecordTable& FileIndex(const COrvaService& s) { return s.m_fileIndex; }
    static const COrvaService::RecordTable& FolderResult(const COrvaService& s) { return s.m_folderResult; }
    static const COrvaService::RecordTable& FileResult(const COrvaService& s) { return s.m_fileResult; }
    static COrvaService::NameScan& FolderNames(COrvaService& s) { return s.m_folderNames; }
    static COrvaService::NameScan& FileNames(COrvaService& s) { return s.m_fileNames; }
    // Drops the names laid out for scanning: queries then read the records.
    static void DropNameScans(COrvaService& s)
    {
        COrvaService::ReleaseNameScan(s.m_folderNames);
        COrvaService::ReleaseNameScan(s.m_fileNames);
    }
    static const CHeapManager& Heap(const COrvaService& s) { return s.m_heapManager; }
    static CChangeJournal* Volume(const COrvaService& s, char letter) { return s.m_volumes[letter - 'A']; }
    static DWORD& PoolCursor(COrvaService& s) { return s.m_poolCursor; }
    static DWORD PoolLimit(const COrvaService& s) { return s.m_poolLimit; }
    static BYTE* CurrentBlock(const COrvaService& s) { return s.m_currentBlock; }
    static BOOL Ready(const COrvaService& s) { return s.m_ready.load(); }
    static BYTE* PlaceRecord(COrvaService& s, DWORD header, DWORD name) { return s.PlaceRecord(header, name); }
    static DWORD Append(COrvaService::RecordTable& table, BYTE* record) { return COrvaService::AppendToTable(table, record); }
    static COrvaService::RecordTable& MutableFolderIndex(COrvaService& s) { return s.m_folderIndex; }
    static BOOL RecursivePath(const COrvaService& s, const BYTE* folder, std::string& path)
    {
        return s.GetRecursivePath(reinterpret_cast<DWORD_PTR>(folder), path);
    }
};

namespace orva::enginetest
{
namespace pt = orva::platform::testing;

constexpr DWORD kDirectory = 0x10;
constexpr ULONGLONG kRootFrn = 0x0005000000000005ull;

// Runs each test in a fresh empty current directory, with no scripted volume, no heap
// refusal plan and a message-box handler that records every box.
class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Perf.log as UTF-16 text without the byte order mark; its labels in order.
    std::u16string PerfLogText() const;
    std::vector<std::u16string> PerfLogLabels() const;
    std::vector<BYTE> PerfLogBytes() const;

    static std::vector<std::u16string> boxes; // texts of the boxes shown

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_directory;
    MessageBoxHandler m_previousHandler = nullptr;
};

// A scripted NTFS volume under `letter` (volume name VolumeNameOf(letter), root FRN
// kRootFrn) without enumeration answers, and one whose enumeration delivers `records`
// then ends with ERROR_HANDLE_EOF, the same for every build.
struct Entry
{
    ULONGLONG frn;
    ULONGLONG parent;
    bool folder;
    std::u16string name;
};
pt::ScriptedVolume BareVolume(char letter, DWORD serial);
pt::ScriptedVolume VolumeWith(char letter, DWORD serial, const std::vector<Entry>& records);
std::u16string VolumeNameOf(char letter);

// One row of the last query, as GetResultItem gives it.
struct Row
{
    std::u16string name;
    std::u16string path;
    bool folder;
    ULONGLONG size;
    ULONGLONG time;
};
Row GetRow(COrvaService& service, DWORD row);
std::vector<Row> AllRows(COrvaService& service, DWORD count);

std::string Utf8(std::u16string_view text);
} // namespace orva::enginetest
