#include "repair/backup.h"
#include "targets/posix/posix_file_io.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "backup_fixture.h"
#include "core/text_encoding.h"
#include "repair/backup_journal.h"
#include "repair/reg_import.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

// The host's files, for the set-up and the checks of these tests.
CPosixFileIo hostFiles;

using testing::CBackupFixture;

constexpr std::string_view kRegistry = R"(
    [HKEY_LOCAL_MACHINE\Software\Vendor\App]
    "Count"=dword:00000003
    "Path"="C:\\app\\app.exe"
    [HKEY_LOCAL_MACHINE\Software\Vendor\App\Sub]
    @="x"
    [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor32\Old]
    "Path"="C:\\old\\old.exe"
    [HKEY_CURRENT_USER\Software\Mru]
    "a"="C:\\a.txt"
    "b"="C:\\b.txt"
    "c"="C:\\c.txt"
    "MRUList"="bca"
)";

constexpr RegistryView k32 = RegistryView::Bits32;
constexpr RegistryView k64 = RegistryView::Bits64;

std::vector<std::string> EntriesOf(const std::filesystem::path& archive) {
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(hostFiles.ReadWholeFile(archive, 1 << 24, bytes));
    std::vector<std::string> names;
    EXPECT_FALSE(CMinizipCodec().ListEntries(bytes, names));
    return names;
}

std::string EntryText(const std::filesystem::path& archive, std::string_view name) {
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(hostFiles.ReadWholeFile(archive, 1 << 24, bytes));
    std::vector<std::uint8_t> content;
    EXPECT_FALSE(CMinizipCodec().ReadEntry(bytes, name, 1 << 24, content));
    if (content.size() >= 2 && content[0] == 0xFF && content[1] == 0xFE)
        return Utf16ToUtf8(FromUtf16LeBytes(std::span(content).subspan(2)));
    return std::string(content.begin(), content.end());
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

COperation ExportText(std::u16string entryName) {
    return ExportTextRecord{std::move(entryName), k32};
}

COperation SetText(std::u16string_view subKey, std::u16string_view name, std::u16string_view text) {
    return SetValueRecord{HKeyLocalMachine,
                          std::u16string(subKey),
                          {std::u16string(name), RecordValueKind::Text, std::u16string(text)},
                          k64};
}

TEST(BackupTest, ThirtyTwoBitRunStoresTheFileAndTheExportAndListsBoth) {
    CBackupFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\Software\Vendor\App]
        "Path"="C:\\app\\app.exe"
    )",
                           false);
    fixture.WriteFile("old/old.exe", "MZ old");
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->ArchiveDeleteFile(u"C:\\old\\old.exe"));
    EXPECT_TRUE(backup->DeleteKey(HKeyLocalMachine, u"Software\\Vendor\\App", KeyScope::Tree, k32));
    EXPECT_TRUE(EndPartialBackup(*backup));

    const std::filesystem::path folder = fixture.UndoFolder();
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"00000001.rmx", "00000001.rxb"}));
    EXPECT_EQ(EntriesOf(folder / "00000001.rxb"),
              (std::vector<std::string>{"00000001.fil", "00000001.reg"}));
    EXPECT_EQ(EntryText(folder / "00000001.rxb", "00000001.fil"), "MZ old");
    EXPECT_EQ(EntryText(folder / "00000001.rxb", "00000001.reg"),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App]\r\n"
              "\"Path\"=\"C:\\\\app\\\\app.exe\"\r\n");

    std::vector<std::uint8_t> bytes;
    ASSERT_FALSE(hostFiles.ReadWholeFile(folder / "00000001.rmx", 1 << 20, bytes));
    DecodedUndoList list = DecodeUndoList(bytes);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.header.description, u"Quillary");
    EXPECT_EQ(list.header.archivedFileCount, 1);
    EXPECT_EQ(list.header.exportCount, 1);
    EXPECT_EQ(list.header.lastChangeTime, 1709647200);  // 2024-03-05 14:00 UTC
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(list.records[0],
              COperation(ArchiveDeleteFileRecord{u"C:\\old\\old.exe", u"00000001.fil"}));
    EXPECT_EQ(list.records[1], ExportText(u"00000001.reg"));

    const std::u16string& restorePoint = fixture.Settings().StrLatestRestorePoint;
    EXPECT_NE(restorePoint.find(u"2024. "), std::u16string::npos);
    EXPECT_TRUE(restorePoint.ends_with(u" text of IDS_STR_PARTIAL_BACKUP"));
}

TEST(BackupTest, SixtyFourBitRunUndoesTheSixtyFourBitViewFirst) {
    // HKEY_CURRENT_USER is the same key in both views: the 32-bit view's change came first, so
    // its copy holds the original and must be imported last.
    CBackupFixture fixture(R"(
        [HKEY_CURRENT_USER\Software\Shared]
        "V"="original"
    )");
    const std::string before = fixture.RegistryText();
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->SetTextValue(HKeyCurrentUser, u"Software\\Shared", u"V", u"first", k32));
    EXPECT_TRUE(backup->SetTextValue(HKeyCurrentUser, u"Software\\Shared", u"V", u"second", k64));
    EXPECT_TRUE(EndPartialBackup(*backup));

    const std::filesystem::path folder = fixture.UndoFolder();
    EXPECT_EQ(EntriesOf(folder / "00000001.rxb"),
              (std::vector<std::string>{"00000001.reg", "00000002.reg"}));
    auto undo = fixture.LoadBackup(folder / "00000001.rmx");
    ASSERT_EQ(undo->Operations().size(), 2u);
    EXPECT_EQ(undo->Operations()[0], ExportText(u"00000001.reg"));
    EXPECT_EQ(undo->Operations()[1], COperation(ExportTextRecord{u"00000002.reg", k64}));
    EXPECT_TRUE(undo->UndoAll());
    EXPECT_EQ(fixture.RegistryText(), before);
}

// Every kind of operation a repair makes, performed in a repair run's backup and undone from
// its list file, leaves the registry and the drive as they were.
TEST(BackupTest, EveryKindIsUndoneExactly) {
    struct {
        const char* why;
        std::function<COperation(CBackupFixture&)> prepare;
        std::function<void(CBackupFixture&)> between = [](CBackupFixture&) {};
    } cases[] = {
        {"3 archive and delete file, its folders gone since",
         [](CBackupFixture& f) {
             f.WriteFile("deep/dir/f.bin", std::string("\0\x01\xff bytes", 9));
             return ArchiveDeleteFileRecord{u"C:\\deep\\dir\\f.bin", std::nullopt};
         },
         [](CBackupFixture& f) { std::filesystem::remove_all(f.Root() / "c" / "deep"); }},
        {"5 delete key",
         [](CBackupFixture&) {
             return DeleteKeyRecord{HKeyLocalMachine, u"Software\\Vendor\\App", KeyScope::Key, k64};
         }},
        {"6 delete key tree in the 32-bit view",
         [](CBackupFixture&) {
             return DeleteKeyRecord{HKeyLocalMachine, u"Software\\Vendor32", KeyScope::Tree, k32};
         }},
        {"8 set existing value",
         [](CBackupFixture&) {
             return SetText(u"Software\\Vendor\\App", u"Path", u"C:\\new.exe");
         }},
        {"8 set a value that did not exist",
         [](CBackupFixture&) { return SetText(u"Software\\Vendor\\App", u"Fresh", u"v"); }},
        {"8 set a value whose keys did not exist",
         [](CBackupFixture&) { return SetText(u"Software\\Vendor\\New\\Deeper", u"v", u"x"); }},
        {"8 set a DWORD",
         [](CBackupFixture&) {
             return SetValueRecord{HKeyLocalMachine,
                                   u"Software\\Vendor\\App",
                                   {u"Count", RecordValueKind::Dword, u"", 7},
                                   k64};
         }},
        {"9 delete value",
         [](CBackupFixture&) {
             return DeleteValueRecord{HKeyLocalMachine, u"Software\\Vendor\\App", u"Count", k64};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        COperation record = c.prepare(fixture);
        const std::string registryBefore = fixture.RegistryText();
        const std::string driveBefore = fixture.DriveText();

        auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
        ASSERT_TRUE(backup->AddOperation(std::move(record)));
        EXPECT_TRUE(fixture.RegistryText() != registryBefore || fixture.DriveText() != driveBefore);
        ASSERT_TRUE(EndPartialBackup(*backup));
        c.between(fixture);

        auto undo = fixture.LoadBackup(fixture.UndoFolder() / "00000001.rmx");
        EXPECT_TRUE(undo->UndoAll());
        EXPECT_EQ(fixture.RegistryText(), registryBefore);
        EXPECT_EQ(fixture.DriveText(), driveBefore);
        EXPECT_EQ(fixture.messages, std::vector<std::u16string>{});
    }
}

TEST(BackupTest, ValueChangedTwiceIsUndoneToItsFirstState) {
    // Two dead entries of one history list: each repair deletes an entry and shortens the
    // list, so the list is saved twice, the second time already shortened.
    CBackupFixture fixture(kRegistry);
    const std::string before = fixture.RegistryText();
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->DeleteValue(HKeyCurrentUser, u"Software\\Mru", u"c", k64));
    EXPECT_TRUE(backup->SetTextValue(HKeyCurrentUser, u"Software\\Mru", u"MRUList", u"ba", k64));
    EXPECT_TRUE(backup->DeleteValue(HKeyCurrentUser, u"Software\\Mru", u"a", k64));
    EXPECT_TRUE(backup->SetTextValue(HKeyCurrentUser, u"Software\\Mru", u"MRUList", u"b", k64));
    EXPECT_TRUE(EndPartialBackup(*backup));

    EXPECT_TRUE(fixture.LoadBackup(fixture.UndoFolder() / "00000001.rmx")->UndoAll());
    EXPECT_EQ(fixture.RegistryText(), before);
}

TEST(BackupTest, ChangesWithoutAnUndoCopyAreNotMade) {
    struct {
        const char* why;
        std::function<bool(CBackup&)> change;
        std::u16string_view logLine;
    } cases[] = {
        // The export never walks into Wow6432Node, so it could not be put back.
        {"key below Wow6432Node",
         [](CBackup& b) {
             return b.DeleteKey(HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor32",
                                KeyScope::Tree, k64);
         },
         u"Backup FAILED - KEY NOT DELETED"},
        // Binary values are not a kind a set can write; the copy was taken before that shows.
        {"binary set value",
         [](CBackup& b) {
             bool done = b.AddOperation(SetValueRecord{HKeyLocalMachine,
                                                       u"Software\\Vendor\\App",
                                                       {u"Path", RecordValueKind::Binary, u""},
                                                       k64});
             EXPECT_NE(b.ExportWriter(RegistryView::Bits64)->Text().find(u"\"Path\"="),
                       std::u16string::npos);
             return done;
         },
         u"Key Created"},
        {"missing value",
         [](CBackup& b) {
             return b.DeleteValue(HKeyLocalMachine, u"Software\\Vendor\\App", u"Nope", k64);
         },
         u"Value Deleted failed!"},
        {"missing file", [](CBackup& b) { return b.ArchiveDeleteFile(u"C:\\nope.txt"); },
         u"File NOT added to ZIp: it cannot be found"},
        {"whole root",
         [](CBackup& b) { return b.DeleteKey(HKeyLocalMachine, u"", KeyScope::Tree, k64); },
         u"Trying to Add operation"},
        // A record names one of the five roots; any other handle is refused.
        {"root that is no root",
         [](CBackup& b) {
             return b.DeleteValue(HKeyPerformanceData, u"Software\\Vendor\\App", u"Count", k64);
         },
         u"Trying to Add operation"},
        // An export text's record belongs to the backup alone; handed in, it is not run.
        {"export text record",
         [](CBackup& b) { return b.AddOperation(ExportText(u"00000001.reg")); },
         u"Trying to Add operation"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        const std::string before = fixture.RegistryText();
        auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
        EXPECT_FALSE(c.change(*backup));
        EXPECT_EQ(fixture.RegistryText(), before);
        EXPECT_TRUE(fixture.HasLogLine(c.logLine));
        EXPECT_TRUE(fixture.HasLogLine(u"Add operation FAILED"));
    }

    // Without export writers no registry change has anywhere to go.
    CBackupFixture fixture(kRegistry);
    CBackup backup(fixture.Environment(), u"Quillary");
    EXPECT_FALSE(backup.DeleteValue(HKeyLocalMachine, u"Software\\Vendor\\App", u"Count", k64));
    EXPECT_TRUE(testing::ValueBytes(fixture.Registry(), HKeyLocalMachine, u"Software\\Vendor\\App",
                                    u"Count"));
}

TEST(BackupTest, DeletingAKeyThatIsGoneSucceedsWithoutDeleting) {
    CBackupFixture fixture(kRegistry);
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->DeleteKey(HKeyLocalMachine, u"Software\\Gone", KeyScope::Tree, k64));
    EXPECT_FALSE(fixture.HasLogLine(u"KEY DELETED"));
    EXPECT_FALSE(fixture.HasLogLine(u"KEY NOT DELETED"));
}

// The journal cannot be written from some point of the run on (a full disk): nothing whose
// copy is not on disk is deleted, later changes are refused, and what was deleted before can
// be undone once the disk has room again.
TEST(BackupTest, JournalThatCannotBeWrittenLosesNothing) {
    CBackupFixture fixture(kRegistry);
    fixture.WriteFile("a.txt", "first");
    fixture.WriteFile("b.txt", "second");
    const std::string driveBefore = fixture.DriveText();

    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
    fixture.failJournalAppends = true;
    EXPECT_FALSE(backup->ArchiveDeleteFile(u"C:\\b.txt"));
    EXPECT_TRUE(std::filesystem::exists(fixture.Root() / "c" / "b.txt"));
    EXPECT_NE(backup->Failure().find("disk full"), std::string::npos) << backup->Failure();
    // Once the backup failed, nothing more is changed, whatever it is.
    fixture.failJournalAppends = false;
    const std::string registryBefore = fixture.RegistryText();
    EXPECT_FALSE(
        backup->DeleteKey(HKeyLocalMachine, u"Software\\Vendor\\App", KeyScope::Tree, k64));
    EXPECT_EQ(fixture.RegistryText(), registryBefore);
    EXPECT_FALSE(EndPartialBackup(*backup));

    // The backup was written all the same, from the journal; it undoes the one deletion.
    auto undo = fixture.LoadBackup(fixture.UndoFolder() / "00000001.rmx");
    EXPECT_TRUE(undo->UndoAll());
    EXPECT_EQ(fixture.DriveText(), driveBefore);
}

// When the journal cannot even be made (the data folder is a file, the disk is full), no
// change is made at all.
TEST(BackupTest, BackupThatCannotStartChangesNothing) {
    CBackupFixture fixture(kRegistry);
    fixture.WriteFile("a.txt", "first");
    std::filesystem::remove_all(fixture.Root() / "data");
    std::ofstream(fixture.Root() / "data") << "not a folder";
    const std::string registryBefore = fixture.RegistryText();
    const std::string driveBefore = fixture.DriveText();

    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_NE(backup->Failure(), "");
    EXPECT_FALSE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
    EXPECT_FALSE(backup->DeleteValue(HKeyCurrentUser, u"Software\\Mru", u"a", k64));
    EXPECT_FALSE(EndPartialBackup(*backup));
    EXPECT_EQ(fixture.RegistryText(), registryBefore);
    EXPECT_EQ(fixture.DriveText(), driveBefore);
}

// A run killed at any moment leaves its journal cut at any byte. Completing it gives a backup
// that puts back every file whose deletion had begun, and the files stay whole.
TEST(BackupTest, JournalCutAtAnyByteCompletesToAnUndoableBackup) {
    CBackupFixture fixture(kRegistry);
    const std::vector<std::string> names = {"a.lnk", "b.lnk", "c.lnk"};
    for (const std::string& name : names)
        fixture.WriteFile("d/" + name, "shortcut " + name);
    const std::string driveBefore = fixture.DriveText();
    const std::filesystem::path folder = fixture.UndoFolder();

    // The whole journal of a run that deletes the three files, taken before the run ends.
    std::vector<std::uint8_t> journal;
    {
        auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
        for (const std::string& name : names)
            ASSERT_TRUE(backup->ArchiveDeleteFile(u"C:\\d\\" + Utf8ToUtf16(name)));
        ASSERT_FALSE(hostFiles.ReadWholeFile(folder / "00000001.rjl", 1 << 20, journal));
        backup->Discard();
    }
    // Where each record ends: its length, its CRC, its body.
    std::vector<std::size_t> recordEnds;
    for (std::size_t at = 0; at + 8 <= journal.size();) {
        at += 8 + (journal[at] | journal[at + 1] << 8 | journal[at + 2] << 16 |
                   static_cast<std::size_t>(journal[at + 3]) << 24);
        recordEnds.push_back(at);
    }
    ASSERT_EQ(recordEnds.size(), 1 + names.size());  // the begin record, then one per file
    ASSERT_EQ(recordEnds.back(), journal.size());

    for (std::size_t cut = 0; cut <= journal.size(); ++cut) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        // The files as the kill left them: a file is deleted only once its record is whole.
        for (std::size_t i = 0; i < names.size(); ++i) {
            fixture.WriteFile("d/" + names[i], "shortcut " + names[i]);
            if (recordEnds[i + 1] <= cut)
                std::filesystem::remove(fixture.Root() / "c" / "d" / names[i]);
        }
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        ASSERT_FALSE(hostFiles.ReplaceFileAtomically(folder / "00000001.rjl",
                                                     std::span(journal).first(cut)));
        EXPECT_EQ(CompleteInterruptedBackups(folder, CMinizipCodec(), hostFiles),
                  std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(folder / "00000001.rjl"));
        if (std::filesystem::exists(folder / "00000001.rmx")) {
            auto undo = fixture.LoadBackup(folder / "00000001.rmx");
            EXPECT_TRUE(undo->UndoAll()) << undo->Failure();
        }
        // Every deleted file is back; none that the journal lost was deleted.
        EXPECT_EQ(fixture.DriveText(), driveBefore);
        // A new run never takes the number of what an interrupted one left.
        auto next = BeginPartialBackup(fixture.Environment(), u"Quillary");
        EXPECT_EQ(next->ListFilePath().filename(), std::filesystem::exists(folder / "00000001.rmx")
                                                       ? "00000002.rmx"
                                                       : "00000001.rmx");
        next->Discard();
    }
}

// A journal that a live run holds is left alone.
TEST(BackupTest, JournalOfARunThatGoesOnIsNotCompleted) {
    CBackupFixture fixture(kRegistry);
    fixture.WriteFile("a.txt", "first");
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    ASSERT_TRUE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
    EXPECT_EQ(CompleteInterruptedBackups(fixture.UndoFolder(), CMinizipCodec(), hostFiles),
              std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::exists(fixture.UndoFolder() / "00000001.rjl"));
    EXPECT_FALSE(std::filesystem::exists(fixture.UndoFolder() / "00000001.rmx"));
    EXPECT_TRUE(EndPartialBackup(*backup));
    EXPECT_FALSE(std::filesystem::exists(fixture.UndoFolder() / "00000001.rjl"));
}

TEST(BackupTest, UndoThatCannotFindItsCopyFails) {
    const COperation kFile = ArchiveDeleteFileRecord{u"C:\\x.txt", u"00000002.fil"};
    struct {
        const char* why;
        COperation record;
        bool archiveExists;
        std::vector<std::u16string> messages;
    } cases[] = {
        {"export entry missing",
         ExportText(u"00000002.reg"),
         true,
         {u"text of IDS_STR_UNDO_FAILED"}},
        {"file entry missing", kFile, true, {u"text of IDS_STR_UNDO_FAILED"}},
        {"archive missing, export",
         ExportText(u"00000002.reg"),
         false,
         {u"text of IDS_UNZIP_ERR", u"text of IDS_STR_UNDO_FAILED"}},
        {"archive missing, file", kFile, false, {u"text of IDS_STR_UNDO_FAILED"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        const std::filesystem::path folder = fixture.UndoFolder();
        std::filesystem::create_directories(folder);
        if (c.archiveExists) {
            std::vector<std::uint8_t> archive;
            ASSERT_FALSE(CMinizipCodec().AddEntry(archive, "00000001.reg",
                                                  std::vector<std::uint8_t>{'x'}, {}));
            ASSERT_FALSE(hostFiles.ReplaceFileAtomically(folder / "00000005.rxb", archive));
        }
        const std::vector<COperation> records = {c.record};
        ASSERT_FALSE(
            hostFiles.ReplaceFileAtomically(folder / "00000005.rmx", EncodeUndoList({}, records)));

        auto undo = fixture.LoadBackup(folder / "00000005.rmx");
        ASSERT_EQ(undo->Operations().size(), 1u);
        EXPECT_FALSE(undo->UndoAll());
        EXPECT_EQ(fixture.messages, c.messages);
    }
}

// A list file may hold only what a repair or an import of this program writes. Anything else
// is refused before anything is changed.
TEST(BackupTest, UndoRefusesWhatNoRepairWrites) {
    const std::string deleteSoftware =
        "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Software]\r\n";
    struct {
        const char* why;
        COperation record;
        std::string exportText = "Windows Registry Editor Version 5.00\r\n";
    } cases[] = {
        {"copy file", CopyFileRecord{u"C:\\x.txt", u"C:\\victim.txt", false}},
        {"move file", MoveFileRecord{u"C:\\a.txt", u"C:\\moved.txt"}},
        {"create key", CreateKeyRecord{HKeyLocalMachine, u"Software\\New", k32}},
        {"create key and value",
         CreateKeyAndValueRecord{HKeyLocalMachine, u"Software\\New", {u"v", {}, u"t"}, k32}},
        {"delete key", DeleteKeyRecord{HKeyCurrentUser, u"Software", KeyScope::Tree, k32}},
        {"delete value record", DeleteValueRecord{HKeyCurrentUser, u"Software\\Mru", u"z", k32}},
        {"set value record", SetText(u"Software\\Vendor\\App", u"Path", u"C:\\evil.exe")},
        {"file that was never stored", ArchiveDeleteFileRecord{u"C:\\a.txt", std::nullopt}},
        {"record of another program",
         ForeignRecord{9, {u"Software\\Mru", u"z", u"t"}, {1, 0}, {}, 0}},
        {"file outside what an undo may write",
         ArchiveDeleteFileRecord{u"C:\\outside\\evil.txt", u"00000001.fil"}},
        {"file entry that is not there", ArchiveDeleteFileRecord{u"C:\\a.txt", u"00000009.fil"}},
        {"export that deletes a top-level key", ExportText(u"00000001.reg"), deleteSoftware},
        {"export that deletes a container in the 32-bit view", ExportText(u"00000001.reg"),
         "Windows Registry Editor Version 5.00\r\n\r\n"
         "[-HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft]\r\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        fixture.WriteFile("a.txt", "kept");
        const std::string registryBefore = fixture.RegistryText();
        const std::string driveBefore = fixture.DriveText();
        const std::filesystem::path folder = fixture.UndoFolder();
        std::filesystem::create_directories(folder);
        std::unique_ptr<IZipBuilder> archive = CMinizipCodec().NewArchive();
        ASSERT_FALSE(archive->Add("00000001.fil", std::vector<std::uint8_t>{'E'}, {}));
        ASSERT_FALSE(
            archive->Add("00000001.reg",
                         std::vector<std::uint8_t>(c.exportText.begin(), c.exportText.end()), {}));
        std::vector<std::uint8_t> bytes;
        ASSERT_FALSE(archive->Finish(bytes));
        ASSERT_FALSE(hostFiles.ReplaceFileAtomically(folder / "00000001.rxb", bytes));
        // A sound record first: the refusal must come before it is undone.
        std::vector<COperation> records;
        if (!std::holds_alternative<ExportTextRecord>(c.record))
            records.push_back(ExportText(u"00000001.reg"));
        records.push_back(c.record);
        ASSERT_FALSE(
            hostFiles.ReplaceFileAtomically(folder / "00000001.rmx", EncodeUndoList({}, records)));

        auto undo = fixture.LoadBackup(folder / "00000001.rmx");
        EXPECT_FALSE(undo->UndoAll());
        EXPECT_NE(undo->Failure(), "");
        EXPECT_EQ(fixture.RegistryText(), registryBefore);
        EXPECT_EQ(fixture.DriveText(), driveBefore);
    }
}

TEST(BackupTest, UndoListBackupsNeverWriteTheirFiles) {
    CBackupFixture fixture(kRegistry);
    fixture.WriteFile("a.txt", "first");
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
    EXPECT_TRUE(EndPartialBackup(*backup));
    const int writes = fixture.FileIo().writes;
    {
        auto undo = fixture.LoadBackup(fixture.UndoFolder() / "00000001.rmx");
        EXPECT_EQ(undo->Description(), u"Quillary");
        EXPECT_FALSE(undo->ArchiveDeleteFile(u"C:\\a.txt"));
    }
    EXPECT_EQ(fixture.FileIo().writes, writes);
}

}  // namespace
}  // namespace quillary
