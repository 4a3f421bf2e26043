#include "repair/backup.h"

#include <gtest/gtest.h>

#include <functional>

#include "backup_fixture.h"
#include "repair/reg_import.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

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

constexpr std::int32_t kLocalMachine = 2;
constexpr std::int32_t kCurrentUser = 1;

std::vector<std::string> EntriesOf(const std::filesystem::path& archive) {
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadWholeFile(archive, 1 << 24, bytes));
    std::vector<std::string> names;
    EXPECT_FALSE(CMinizipCodec().ListEntries(bytes, names));
    return names;
}

std::string EntryText(const std::filesystem::path& archive, std::string_view name) {
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(ReadWholeFile(archive, 1 << 24, bytes));
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

std::unique_ptr<COperation> Record(std::int32_t kind, std::vector<std::u16string> texts,
                                   std::vector<std::int32_t> numbers = {},
                                   bool in64BitView = false) {
    return std::make_unique<COperation>(
        COperation{std::move(texts), std::move(numbers), {}, in64BitView ? 1 : 0, kind});
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
    EXPECT_TRUE(backup->DeleteKey(kLocalMachine, u"Software\\Vendor\\App", true, false));
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
    ASSERT_FALSE(ReadWholeFile(folder / "00000001.rmx", 1 << 20, bytes));
    DecodedUndoList list = DecodeUndoList(bytes);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.header.description, u"Quillary");
    EXPECT_EQ(list.header.archivedFileCount, 1);
    EXPECT_EQ(list.header.exportCount, 1);
    EXPECT_EQ(list.header.lastChangeTime, 1709647200);  // 2024-03-05 14:00 UTC
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(list.records[0]->kind, kOpArchiveDeleteFile);
    EXPECT_EQ(list.records[0]->texts,
              (std::vector<std::u16string>{u"C:\\old\\old.exe", u"00000001.fil"}));
    EXPECT_EQ(list.records[1]->kind, kOpDeleteKeyTree);
    EXPECT_EQ(list.records[1]->texts, (std::vector<std::u16string>{u"waste", u"00000001.reg"}));
    EXPECT_EQ(list.records[1]->numbers, std::vector<std::int32_t>{1});
    EXPECT_EQ(list.records[1]->viewFlag, 0);

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
    EXPECT_TRUE(backup->SetTextValue(kCurrentUser, u"Software\\Shared", u"V", u"first", false));
    EXPECT_TRUE(backup->SetTextValue(kCurrentUser, u"Software\\Shared", u"V", u"second", true));
    EXPECT_TRUE(EndPartialBackup(*backup));

    const std::filesystem::path folder = fixture.UndoFolder();
    EXPECT_EQ(EntriesOf(folder / "00000001.rxb"),
              (std::vector<std::string>{"00000001.reg", "00000002.reg"}));
    auto undo = fixture.LoadBackup(folder / "00000001.rmx");
    ASSERT_EQ(undo->Operations().size(), 2u);
    EXPECT_EQ(undo->Operations()[0]->viewFlag, 0);
    EXPECT_EQ(undo->Operations()[1]->viewFlag, 1);
    EXPECT_EQ(undo->Operations()[1]->texts[1], u"00000002.reg");
    EXPECT_TRUE(undo->UndoAll());
    EXPECT_EQ(fixture.RegistryText(), before);
}

// Every kind of operation, performed in a repair run's backup and undone from its list file,
// leaves the registry and the drive as they were.
TEST(BackupTest, EveryKindIsUndoneExactly) {
    struct {
        const char* why;
        std::function<std::unique_ptr<COperation>(CBackupFixture&)> prepare;
        std::function<void(CBackupFixture&)> between = [](CBackupFixture&) {};
    } cases[] = {
        {"1 copy file",
         [](CBackupFixture& f) {
             f.WriteFile("src.txt", "source");
             return Record(kOpCopyFile, {u"C:\\src.txt", u"C:\\copy.txt"}, {0});
         }},
        {"2 move file",
         [](CBackupFixture& f) {
             f.WriteFile("from/m.txt", "moved");
             return Record(kOpMoveFile, {u"C:\\from\\m.txt", u"C:\\m.txt"});
         },
         [](CBackupFixture& f) { std::filesystem::remove(f.Root() / "c" / "from"); }},
        {"3 archive and delete file, its folders gone since",
         [](CBackupFixture& f) {
             f.WriteFile("deep/dir/f.bin", std::string("\0\x01\xff bytes", 9));
             return Record(kOpArchiveDeleteFile, {u"C:\\deep\\dir\\f.bin"});
         },
         [](CBackupFixture& f) { std::filesystem::remove_all(f.Root() / "c" / "deep"); }},
        {"4 create key",
         [](CBackupFixture&) {
             return Record(kOpCreateKey, {u"Software\\Vendor\\App\\New"}, {kLocalMachine}, true);
         }},
        {"5 delete key",
         [](CBackupFixture&) {
             return Record(kOpDeleteKey, {u"Software\\Vendor\\App"}, {kLocalMachine}, true);
         }},
        {"6 delete key tree in the 32-bit view",
         [](CBackupFixture&) {
             return Record(kOpDeleteKeyTree, {u"Software\\Vendor32"}, {kLocalMachine}, false);
         }},
        {"7 create key and value",
         [](CBackupFixture&) {
             return Record(kOpCreateKeyAndValue, {u"Software\\Vendor\\App", u"Added", u"text"},
                           {kValueExpandText, kLocalMachine, 0}, true);
         }},
        {"8 set existing value",
         [](CBackupFixture&) {
             return Record(kOpSetValue, {u"Software\\Vendor\\App", u"Path", u"C:\\new.exe"},
                           {kValueText, kLocalMachine}, true);
         }},
        {"8 set a value that did not exist",
         [](CBackupFixture&) {
             return Record(kOpSetValue, {u"Software\\Vendor\\App", u"Fresh", u"v"},
                           {kValueText, kLocalMachine}, true);
         }},
        {"8 set a DWORD",
         [](CBackupFixture&) {
             return Record(kOpSetValue, {u"Software\\Vendor\\App", u"Count", u""},
                           {kValueDword, kLocalMachine, 7}, true);
         }},
        {"9 delete value",
         [](CBackupFixture&) {
             return Record(kOpDeleteValue, {u"Software\\Vendor\\App", u"Count"}, {kLocalMachine},
                           true);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        std::unique_ptr<COperation> record = c.prepare(fixture);
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
    EXPECT_TRUE(backup->DeleteValue(kCurrentUser, u"Software\\Mru", u"c", true));
    EXPECT_TRUE(backup->SetTextValue(kCurrentUser, u"Software\\Mru", u"MRUList", u"ba", true));
    EXPECT_TRUE(backup->DeleteValue(kCurrentUser, u"Software\\Mru", u"a", true));
    EXPECT_TRUE(backup->SetTextValue(kCurrentUser, u"Software\\Mru", u"MRUList", u"b", true));
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
             return b.DeleteKey(kLocalMachine, u"Software\\Wow6432Node\\Vendor32", true, true);
         },
         u"Backup FAILED - KEY NOT DELETED"},
        // Binary values are not a kind a set can write; the copy was taken before that shows.
        {"binary set value",
         [](CBackup& b) {
             bool done =
                 b.AddOperation(Record(kOpSetValue, {u"Software\\Vendor\\App", u"Path", u""},
                                       {kValueBinary, kLocalMachine}, true));
             EXPECT_NE(b.ExportWriter(true)->Text().find(u"\"Path\"="), std::u16string::npos);
             return done;
         },
         u"Key Created"},
        {"missing value",
         [](CBackup& b) {
             return b.DeleteValue(kLocalMachine, u"Software\\Vendor\\App", u"Nope", true);
         },
         u"Value Deleted failed!"},
        {"missing file", [](CBackup& b) { return b.ArchiveDeleteFile(u"C:\\nope.txt"); },
         u"File NOT added to ZIp: it cannot be found"},
        {"whole root", [](CBackup& b) { return b.DeleteKey(kLocalMachine, u"", true, true); },
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
    EXPECT_FALSE(backup.DeleteValue(kLocalMachine, u"Software\\Vendor\\App", u"Count", true));
    EXPECT_TRUE(testing::ValueBytes(fixture.Registry(), HKeyLocalMachine, u"Software\\Vendor\\App",
                                    u"Count"));
}

TEST(BackupTest, DeletingAKeyThatIsGoneSucceedsWithoutDeleting) {
    CBackupFixture fixture(kRegistry);
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->DeleteKey(kLocalMachine, u"Software\\Gone", true, true));
    EXPECT_FALSE(fixture.HasLogLine(u"KEY DELETED"));
    EXPECT_FALSE(fixture.HasLogLine(u"KEY NOT DELETED"));
}

// The archive cannot be written from some point of the run on (a full disk): nothing whose
// copy is not on disk is deleted, and every failure is reported.
TEST(BackupTest, ArchiveThatCannotBeWrittenLosesNothing) {
    for (bool recovers : {true, false}) {
        SCOPED_TRACE(recovers ? "the disk recovers before the end" : "the disk stays full");
        CBackupFixture fixture(kRegistry);
        fixture.WriteFile("a.txt", "first");
        fixture.WriteFile("b.txt", "second");
        const std::string registryBefore = fixture.RegistryText();
        const std::string driveBefore = fixture.DriveText();

        auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
        EXPECT_TRUE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
        fixture.failWritesEndingIn = ".rxb";
        EXPECT_FALSE(backup->ArchiveDeleteFile(u"C:\\b.txt"));
        EXPECT_EQ(backup->ArchivedFileCount(), 1);
        EXPECT_TRUE(backup->DeleteKey(kLocalMachine, u"Software\\Vendor\\App", true, true));
        if (recovers)
            fixture.failWritesEndingIn.clear();
        EXPECT_EQ(EndPartialBackup(*backup), recovers);
        EXPECT_TRUE(std::filesystem::exists(fixture.Root() / "c" / "b.txt"));
        EXPECT_TRUE(std::any_of(fixture.log.begin(), fixture.log.end(), [](const auto& line) {
            return line.starts_with(u"ZIP NOT written: cannot write");
        }));

        const std::filesystem::path folder = fixture.UndoFolder();
        auto undo = fixture.LoadBackup(folder / "00000001.rmx");
        EXPECT_TRUE(undo->UndoAll());
        EXPECT_EQ(fixture.DriveText(), driveBefore);
        if (recovers) {
            EXPECT_EQ(fixture.RegistryText(), registryBefore);
        } else {
            // The export texts stay beside the archive, where the user can import them.
            EXPECT_EQ(FolderNames(folder),
                      (std::vector<std::string>{"00000001-32bit.reg", "00000001-64bit.reg",
                                                "00000001.rmx", "00000001.rxb"}));
            EXPECT_FALSE(
                ImportRegFile(fixture.Environment().target, true, folder / "00000001-64bit.reg"));
            EXPECT_EQ(fixture.RegistryText(), registryBefore);
        }
    }
}

TEST(BackupTest, UndoThatCannotFindItsCopyFails) {
    struct {
        const char* why;
        std::int32_t kind;
        bool archiveExists;
        std::vector<std::u16string> messages;
    } cases[] = {
        {"export entry missing", kOpDeleteKeyTree, true, {u"text of IDS_STR_UNDO_FAILED"}},
        {"file entry missing", kOpArchiveDeleteFile, true, {u"text of IDS_STR_UNDO_FAILED"}},
        {"archive missing, export",
         kOpDeleteKeyTree,
         false,
         {u"text of IDS_UNZIP_ERR", u"text of IDS_STR_UNDO_FAILED"}},
        {"archive missing, file", kOpArchiveDeleteFile, false, {u"text of IDS_STR_UNDO_FAILED"}},
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
            ASSERT_FALSE(ReplaceFileAtomically(folder / "00000005.rxb", archive));
        }
        std::vector<std::unique_ptr<COperation>> records;
        records.push_back(Record(c.kind, {u"C:\\x.txt", u"00000002.fil"}, {1}));
        if (c.kind == kOpDeleteKeyTree)
            records.back()->texts = {u"waste", u"00000002.reg"};
        ASSERT_FALSE(ReplaceFileAtomically(folder / "00000005.rmx", EncodeUndoList({}, records)));

        auto undo = fixture.LoadBackup(folder / "00000005.rmx");
        ASSERT_EQ(undo->Operations().size(), 1u);
        EXPECT_FALSE(undo->UndoAll());
        EXPECT_EQ(fixture.messages, c.messages);
    }
}

TEST(BackupTest, UndoListBackupsNeverWriteTheirFiles) {
    CBackupFixture fixture(kRegistry);
    fixture.WriteFile("a.txt", "first");
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    EXPECT_TRUE(backup->ArchiveDeleteFile(u"C:\\a.txt"));
    EXPECT_TRUE(EndPartialBackup(*backup));
    const int writes = fixture.writes;
    {
        auto undo = fixture.LoadBackup(fixture.UndoFolder() / "00000001.rmx");
        EXPECT_EQ(undo->Description(), u"Quillary");
        EXPECT_FALSE(undo->ArchiveDeleteFile(u"C:\\a.txt"));
    }
    EXPECT_EQ(fixture.writes, writes);
}

}  // namespace
}  // namespace quillary
