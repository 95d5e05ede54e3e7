// Volume registration and the change journal on scripted volumes.
#include "EngineTestSupport.h"

using orva::enginetest::EngineTest;
using orva::enginetest::VolumeNameOf;
using orva::enginetest::VolumeWith;
namespace pt = orva::platform::testing;
using Access = OrvaServiceTestAccess;

namespace
{
BOOL Add(COrvaService& service, DWORD serial, char letter)
{
    return service.AddVolume(serial, VolumeNameOf(letter).c_str(), 0x800000, 0x100000, 0, FALSE);
}
} // namespace

TEST_F(EngineTest, AddVolumeDecidesByVolumeProperties)
{
    struct Case
    {
        const char* what;
        void (*script)(pt::ScriptedVolume&);
        bool accepted;
    };
    const Case cases[] = {
        {"plain NTFS", [](pt::ScriptedVolume&) {}, true},
        {"ntfs in lower case", [](pt::ScriptedVolume& v) { v.fileSystem = u"ntfs"; }, true},
        {"FAT32", [](pt::ScriptedVolume& v) { v.fileSystem = u"FAT32"; }, false},
        {"exFAT", [](pt::ScriptedVolume& v) { v.fileSystem = u"exFAT"; }, false},
        {"device cannot be opened", [](pt::ScriptedVolume& v) { v.deviceOpens = false; }, false},
        {"root directory cannot be opened", [](pt::ScriptedVolume& v) { v.rootOpens = false; }, false},
        {"journal ID 0", [](pt::ScriptedVolume& v) { v.journal.UsnJournalID = 0; }, false},
        {"no journal, creation refused",
         [](pt::ScriptedVolume& v) {
             v.journalQuerySucceeds = false;
             v.journalCreateSucceeds = false;
         },
         false},
        {"no drive letter, mounted in a folder",
         [](pt::ScriptedVolume& v) {
             v.letter = 0;
             v.mountPoints = {"/mnt/data"};
         },
         false},
        {"letter outside A to Z", [](pt::ScriptedVolume& v) { v.letter = '['; }, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        pt::ClearScriptedVolumes();
        pt::ScriptedVolume volume = VolumeWith('S', 0x1234, {});
        c.script(volume);
        pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
        COrvaService service;
        EXPECT_EQ(service.AddVolume(0x1234, VolumeNameOf('S').c_str(), 0x800000, 0x100000, 0, FALSE),
                  c.accepted ? TRUE : FALSE);
        EXPECT_EQ(service.VolumeExists(0x1234), c.accepted ? TRUE : FALSE);
        EXPECT_EQ(log.openHandles, 0);
    }
}

TEST_F(EngineTest, ExistingJournalIsKeptAsItIs)
{
    pt::ScriptedVolume volume = VolumeWith('S', 0x1234, {});
    volume.journal = {77, 0, 5000, 0, 0x7FFF0000, 12345, 678};
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
    COrvaService service;
    ASSERT_TRUE(Add(service, 0x1234, 'S'));
    EXPECT_TRUE(log.creates.empty());
    const USN_JOURNAL_DATA_V0& data = Access::Volume(service, 'S')->GetJournalData();
    EXPECT_EQ(data.UsnJournalID, 77u);
    EXPECT_EQ(data.NextUsn, 5000);
    EXPECT_EQ(data.MaximumSize, 12345u);
}

TEST_F(EngineTest, MissingJournalIsCreatedAndQueriedAgain)
{
    pt::ScriptedVolume volume = VolumeWith('S', 0x1234, {});
    volume.journalQuerySucceeds = false;
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
    COrvaService service;
    ASSERT_TRUE(Add(service, 0x1234, 'S'));
    ASSERT_EQ(log.creates.size(), 1u);
    EXPECT_EQ(log.creates[0].MaximumSize, 0x800000u);
    EXPECT_EQ(log.creates[0].AllocationDelta, 0x100000u);
    EXPECT_EQ(log.queries, 2);
    EXPECT_EQ(Access::Volume(service, 'S')->GetJournalData().MaximumSize, 0x800000u);
}

TEST_F(EngineTest, SlotsFollowDriveLettersAndSerialsAreUnique)
{
    pt::AddScriptedVolume(VolumeWith('D', 0xD, {}));
    pt::AddScriptedVolume(VolumeWith('C', 0xC, {}));
    COrvaService service;
    ASSERT_TRUE(Add(service, 0xD, 'D'));
    ASSERT_TRUE(Add(service, 0xC, 'C'));
    EXPECT_EQ(Access::Volume(service, 'C')->GetSerialNumber(), 0xCu);
    EXPECT_EQ(Access::Volume(service, 'D')->GetSerialNumber(), 0xDu);
    EXPECT_EQ(Access::Volume(service, 'D')->GetRootFrn(), orva::enginetest::kRootFrn);

    // The same serial under another volume name is refused; slot C keeps its volume.
    CChangeJournal* before = Access::Volume(service, 'C');
    EXPECT_FALSE(Add(service, 0xC, 'D'));
    EXPECT_EQ(Access::Volume(service, 'C'), before);
    // A drive root is no volume name: the mount paths of "C:\" cannot be looked up.
    EXPECT_FALSE(service.AddVolume(0xCC, u"C:\\", 0x800000, 0x100000, 0, FALSE));
}

// Drive letter D now belongs to another volume: the new one takes the slot and the
// earlier object is deleted with it.
TEST_F(EngineTest, NewVolumeUnderATakenLetterReplacesTheEarlierOne)
{
    pt::AddScriptedVolume(VolumeWith('D', 0xD1, {}));
    COrvaService service;
    ASSERT_TRUE(Add(service, 0xD1, 'D'));
    pt::AddScriptedVolume(VolumeWith('D', 0xD2, {}));
    ASSERT_TRUE(Add(service, 0xD2, 'D'));
    EXPECT_FALSE(service.VolumeExists(0xD1));
    EXPECT_TRUE(service.VolumeExists(0xD2));
    EXPECT_EQ(Access::Volume(service, 'D')->GetSerialNumber(), 0xD2u);
}

TEST_F(EngineTest, JournalOperationsSendWhatTheyShould)
{
    pt::ScriptedVolume volume = orva::enginetest::BareVolume('S', 0x1234);
    volume.enumAnswers = {{pt::EnumHeader(0x78)}};
    volume.journal.UsnJournalID = 99;
    volume.journal.NextUsn = 4242;
    pt::ScriptedVolume::Log& log = pt::AddScriptedVolume(volume);
    CChangeJournal* journal = nullptr;
    ASSERT_TRUE(CChangeJournal::Create(VolumeNameOf('S').c_str(), 0x1234, 0, 0, 0, FALSE, journal));
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->GetDriverLetter(), 'S');
    EXPECT_EQ(journal->GetJournalData().UsnJournalID, 0u);

    // DisableUsn on zero journal data queries first, then deletes what it found.
    journal->DisableUsn();
    EXPECT_EQ(log.queries, 1);
    ASSERT_EQ(log.deletes.size(), 1u);
    EXPECT_EQ(log.deletes[0].UsnJournalID, 99u);
    EXPECT_EQ(log.deletes[0].DeleteFlags, USN_DELETE_FLAG_DELETE);
    EXPECT_EQ(journal->GetJournalData().UsnJournalID, 0u);

    ASSERT_TRUE(journal->EnableUsn(1 << 20, 1 << 16)); // creates a journal again
    ASSERT_TRUE(journal->Open());
    BYTE buffer[4096];
    EXPECT_GT(journal->EnumUsnData(0x77, buffer, sizeof buffer), 0u);
    EXPECT_EQ(journal->EnumUsnData(0x78, buffer, sizeof buffer), 0u); // end of the script
    journal->Close();
    ASSERT_EQ(log.enumRequests.size(), 2u);
    EXPECT_EQ(log.enumRequests[0].StartFileReferenceNumber, 0x77u);
    EXPECT_EQ(log.enumRequests[0].LowUsn, 0);
    EXPECT_EQ(log.enumRequests[0].HighUsn, 4242);
    EXPECT_EQ(log.openHandles, 0);
    delete journal;
}
