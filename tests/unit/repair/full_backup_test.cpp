#include "repair/full_backup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "backup_fixture.h"
#include "core/text_encoding.h"
#include "repair/full_registry_export.h"
#include "repair/reg_import.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/memory/reg_text.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::MakeRegistry;
using testing::ValueBytes;

// 1 January 2010, 00:00:00 UTC.
constexpr std::int64_t kNewYear2010 = 1262304000;

// Records each request and answers with the next sequence number, or fails every begin.
class FakeRestorePoints final : public IRestorePoints {
public:
    bool SRSetRestorePointW(const RestorePointInfo& request, StateMgrStatus* status) override {
        requests.push_back(request);
        if (request.eventType == BeginSystemChange && failBegin) {
            status->status = ErrorServiceDisabled;
            return false;
        }
        status->status = ErrorSuccess;
        status->sequenceNumber =
            request.eventType == BeginSystemChange ? ++lastNumber : request.sequenceNumber;
        return true;
    }

    std::vector<RestorePointInfo> requests;
    std::int64_t lastNumber = 40;
    bool failBegin = false;
};

// A registry of every kind of entry a full backup must keep: values of each type (strings of
// several lines and unusual shapes among them), both views, a key name with the characters
// an export line gives meaning to, the users' keys, and a link of the 32-bit view to a
// 64-bit key.
constexpr std::string_view kRegistry = R"(
    [HKEY_LOCAL_MACHINE\Software\Vendor]
    @="default"
    "Text"="line one\nline \"two\"\r\nC:\\dir"
    "Expand"=str(2):"%SystemRoot%\\x.dll"
    "Lines"=str(7):"one\0two\0"
    "Number"=dword:0000002a
    "Big"=qword:0000000100000000
    "Bytes"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e
    "Odd"=hex(1):41,00,42
    "Empty"=hex:
    "None"=hex(0):07
    "@"="not the default"
    [HKEY_LOCAL_MACHINE\Software\Vendor\Odd [1] "quoted" é€]]
    "n\"ame"="v"
    [HKEY_LOCAL_MACHINE\Software\Shared]
    "Shared"="by both views"
    [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor32]
    "Bits"=dword:00000020
    [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Shared]
    #link=\Registry\Machine\Software\Shared
    [HKEY_USERS\.Default\Software\Defaults]
    "d"="1"
    [HKEY_CURRENT_USER\Software\Mine]
    "m"=dword:00000001
)";

struct Probe {
    HKey root;
    std::u16string_view path;
    std::u16string_view name;
};

// Values that must come back byte for byte.
constexpr Probe kProbes[] = {
    {HKeyLocalMachine, u"Software\\Vendor", u""},
    {HKeyLocalMachine, u"Software\\Vendor", u"Text"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Expand"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Lines"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Number"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Big"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Bytes"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Odd"},
    {HKeyLocalMachine, u"Software\\Vendor", u"Empty"},
    {HKeyLocalMachine, u"Software\\Vendor", u"None"},
    {HKeyLocalMachine, u"Software\\Vendor", u"@"},
    {HKeyLocalMachine, u"Software\\Vendor\\Odd [1] \"quoted\" \u00e9\u20ac]", u"n\"ame"},
    {HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor32", u"Bits"},
    {HKeyLocalMachine, u"Software\\Wow6432Node\\Shared", u"Shared"},
    {HKeyUsers, u".Default\\Software\\Defaults", u"d"},
    {HKeyCurrentUser, u"Software\\Mine", u"m"},
};

RegType TypeOf(IRegistry& registry, const Probe& probe) {
    HKey key = HKey::None;
    RegType type = RegNone;
    if (registry.RegOpenKeyExW(probe.root, probe.path, 0, kMaskReadOnly | KeyWow64_64Key, &key) ==
        ErrorSuccess) {
        registry.RegQueryValueExW(key, probe.name, &type, nullptr, nullptr);
        registry.RegCloseKey(key);
    }
    return type;
}

std::string ReadText(const fs::path& file) {
    std::vector<std::uint8_t> bytes;
    testing::CFailingFileIo files;
    EXPECT_EQ(files.ReadWholeFile(file, 64 << 20, bytes), std::nullopt);
    EXPECT_GE(bytes.size(), 2u);
    return Utf16ToUtf8(FromUtf16LeBytes(std::span(bytes).subspan(2)));
}

class FullBackupTest : public ::testing::Test {
protected:
    FullBackupTest()
        : registry_(MakeRegistry(kRegistry)),
          target_{registry_.get(), true, {}},
          clock_(std::chrono::system_clock::time_point(std::chrono::seconds(kNewYear2010))) {
        // The date texts show local time: make local time UTC.
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }

    CFullBackups Backups() {
        return CFullBackups({target_, files_, clock_, settings_, Data(),
                             [](std::u16string_view id) {
                                 return id == u"IDS_STR_FULLBACKUP"
                                            ? u"(full registry backup)"
                                            : u"text of " + std::u16string(id);
                             },
                             &restorePoints_});
    }
    fs::path Data() const { return folder_.Path() / "data"; }
    std::string RegistryText() { return FormatRegTree(registry_->Tree()); }
    void SetValue(std::u16string_view path, std::u16string_view name, std::u16string_view text) {
        HKey key = HKey::None;
        ASSERT_EQ(registry_->RegCreateKeyExW(HKeyLocalMachine, path, u"", 0,
                                             KeyAllAccess | KeyWow64_64Key, &key, nullptr),
                  ErrorSuccess);
        const std::vector<std::uint8_t> data = ToUtf16LeBytes(text, true);
        ASSERT_EQ(registry_->RegSetValueExW(key, name, RegSz, data.data(),
                                            static_cast<std::uint32_t>(data.size())),
                  ErrorSuccess);
        registry_->RegCloseKey(key);
    }

    testing::CTempFolder folder_;
    testing::CFailingFileIo files_;
    std::unique_ptr<CMemoryRegistry> registry_;
    RegistryTarget target_;
    CManualClock clock_;
    SettingsValues settings_;
    FakeRestorePoints restorePoints_;
};

TEST_F(FullBackupTest, NamesAreTheLow32BitsOfTheSecondsAsASignedNumber) {
    struct {
        std::int64_t seconds;
        std::string_view name;
    } cases[] = {
        {kNewYear2010, "1262304000.reg"}, {0, "0.reg"},
        {0x80000000, "-2147483648.reg"},  // early 2038
        {0x100000005, "5.reg"},           {-1, "-1.reg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(FullBackupFileName(c.seconds), c.name);
    }
}

TEST_F(FullBackupTest, ListsTheBackupFilesOldestFirstWithTheirLocalTime) {
    for (std::string_view name : {"backup.reg", "1262304000.reg", "abc.reg.old", "123.reg",
                                  "reg.reg", "99.reg", "notes.txt", "12x.reg", "aaa.reg"}) {
        folder_.Write("data/" + std::string(name), "x");
    }
    folder_.MakeFolder("data/5.reg");
    struct {
        std::string_view name;
        std::u16string_view dateText;
    } expected[] = {
        {"99.reg", u"Thu. Jan 01, 1970. 12:01 AM"},
        {"123.reg", u"Thu. Jan 01, 1970. 12:02 AM"},
        {"1262304000.reg", u"Fri. Jan 01, 2010. 12:00 AM"},
        // Names that are no number: no date, after the others.
        {"12x.reg", u""},
        {"aaa.reg", u""},
        {"backup.reg", u""},
    };
    const std::vector<FullBackupRow> rows = Backups().RefreshFullBackups();
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(rows[i].name, expected[i].name);
        EXPECT_EQ(rows[i].dateText, expected[i].dateText);
        EXPECT_EQ(rows[i].size, 1u);
    }
}

// Imported into a registry that holds none of it, the backup gives the same registry back.
TEST_F(FullBackupTest, TakenBackupReadsBackIntoAnEmptyRegistry) {
    std::uint64_t lastCount = 0;
    fs::path file;
    ASSERT_EQ(Backups().Take([&](std::uint64_t keys) { lastCount = keys; }, &file), std::nullopt);
    EXPECT_EQ(file, Data() / "1262304000.reg");
    EXPECT_EQ(settings_.StrLatestRestorePoint,
              u"Fri. January 01, 2010. 12:00 AM (full registry backup)");

    const std::string text = ReadText(file);
    EXPECT_TRUE(
        text.starts_with("Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE]\r\n"))
        << text.substr(0, 200);
    EXPECT_NE(text.find("\r\n[HKEY_USERS]\r\n"), std::string::npos);
    std::size_t blocks = 0;
    for (std::size_t at = text.find("\r\n["); at != std::string::npos;
         at = text.find("\r\n[", at + 1)) {
        ++blocks;
    }
    EXPECT_EQ(lastCount, blocks);

    auto empty = MakeRegistry("");
    RegistryTarget emptyTarget{empty.get(), true, {}};
    ASSERT_EQ(ImportRegFile(emptyTarget, true, files_, file), std::nullopt);
    for (const Probe& probe : kProbes) {
        SCOPED_TRACE(Utf16ToUtf8(probe.path) + " " + Utf16ToUtf8(probe.name));
        const auto original = ValueBytes(*registry_, probe.root, probe.path, probe.name);
        ASSERT_TRUE(original.has_value());
        EXPECT_EQ(ValueBytes(*empty, probe.root, probe.path, probe.name), original);
        EXPECT_EQ(TypeOf(*empty, probe), TypeOf(*registry_, probe));
    }
    // And nothing else: the read-back registry exports to the same text.
    const fs::path again = folder_.Path() / "again.reg";
    ASSERT_EQ(ExportWholeRegistry(emptyTarget, files_, again), std::nullopt);
    EXPECT_EQ(ReadText(again), text);
}

// A link that leads back to a key on its own path is not followed: the walk ends, and the
// file can be read back.
TEST_F(FullBackupTest, LinkBackToAnAncestorIsNotFollowed) {
    testing::LoadRegistryText(*registry_, R"(
        [HKEY_LOCAL_MACHINE\Software\Loop]
        "in"="loop"
        [HKEY_LOCAL_MACHINE\Software\Loop\Back]
        #link=\Registry\Machine\Software\Loop
        [HKEY_LOCAL_MACHINE\Software\Other\ToLoop]
        #link=\REGISTRY\MACHINE\SOFTWARE\LOOP\
    )");
    const fs::path file = folder_.Path() / "whole.reg";
    ASSERT_EQ(ExportWholeRegistry(target_, files_, file), std::nullopt);
    const std::string text = ReadText(file);
    EXPECT_EQ(text.find("Loop\\Back]"), std::string::npos);
    // A link elsewhere that leads to the loop shows it once.
    const std::string toLoop = "[HKEY_LOCAL_MACHINE\\Software\\Other\\ToLoop]\r\n\"in\"=\"loop\"";
    EXPECT_NE(text.find(toLoop), std::string::npos);
    EXPECT_EQ(text.find("ToLoop\\Back]"), std::string::npos);
    EXPECT_EQ(CheckRegFile(target_, files_, file), std::nullopt);
}

TEST_F(FullBackupTest, SecondBackupOfTheSameSecondIsRefused) {
    CFullBackups backups = Backups();
    ASSERT_EQ(backups.Take({}, nullptr), std::nullopt);
    const std::string first = ReadText(Data() / "1262304000.reg");
    SetValue(u"Software\\Vendor", u"Text", u"changed");
    settings_.StrLatestRestorePoint.clear();
    const FileError error = backups.Take({}, nullptr);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("a full backup of this second exists"), std::string::npos) << *error;
    EXPECT_EQ(ReadText(Data() / "1262304000.reg"), first);
    EXPECT_EQ(settings_.StrLatestRestorePoint, u"");

    clock_.Advance(std::chrono::seconds(1));
    EXPECT_EQ(backups.Take({}, nullptr), std::nullopt);
    EXPECT_EQ(backups.RefreshFullBackups().size(), 2u);
}

TEST_F(FullBackupTest, FailedWriteLeavesNoFile) {
    files_.failWritesEndingIn = ".reg";
    EXPECT_TRUE(Backups().Take({}, nullptr).has_value());
    EXPECT_TRUE(Backups().RefreshFullBackups().empty());
    EXPECT_TRUE(fs::is_empty(Data()));
    EXPECT_EQ(settings_.StrLatestRestorePoint, u"");
}

TEST_F(FullBackupTest, RestorePutsBackWhatChangedAndKeepsWhatWasAdded) {
    CFullBackups backups = Backups();
    ASSERT_EQ(backups.Take({}, nullptr), std::nullopt);
    const std::string before = RegistryText();
    SetValue(u"Software\\Vendor", u"Text", u"changed");
    ASSERT_EQ(DeleteKeyTree(target_, HKeyLocalMachine,
                            u"Software\\Vendor\\Odd [1] \"quoted\" \u00e9\u20ac]",
                            KeyWow64_64Key | kMaskFullAccess),
              ErrorSuccess);
    SetValue(u"Software\\Added", u"new", u"stays");

    int saves = 0;
    const FullBackupRestore result = backups.Restore("1262304000.reg", [&] {
        ++saves;
        return FileError();
    });
    ASSERT_EQ(result.outcome, FullBackupRestore::Outcome::Restored) << result.error;
    EXPECT_EQ(result.restorePoint, 41);
    EXPECT_EQ(saves, 1);
    ASSERT_EQ(restorePoints_.requests.size(), 2u);
    EXPECT_EQ(restorePoints_.requests[0].eventType, BeginSystemChange);
    EXPECT_EQ(restorePoints_.requests[1].eventType, EndSystemChange);
    EXPECT_EQ(restorePoints_.requests[1].restorePointType, ModifySettings);
    EXPECT_EQ(restorePoints_.requests[1].sequenceNumber, 41);

    EXPECT_TRUE(testing::KeyExists(*registry_, HKeyLocalMachine, u"Software\\Added"));
    ASSERT_EQ(DeleteKeyTree(target_, HKeyLocalMachine, u"Software\\Added",
                            KeyWow64_64Key | kMaskFullAccess),
              ErrorSuccess);
    EXPECT_EQ(RegistryText(), before);
}

TEST_F(FullBackupTest, RestoreThatCannotBeUndoneOrSavedSaysSo) {
    CFullBackups backups = Backups();
    ASSERT_EQ(backups.Take({}, nullptr), std::nullopt);
    SetValue(u"Software\\Vendor", u"Text", u"changed");
    const std::string changed = RegistryText();
    bool saved = false;
    const auto save = [&] {
        saved = true;
        return FileError();
    };

    // Without a restore point nothing is changed.
    restorePoints_.failBegin = true;
    FullBackupRestore refused = backups.Restore("1262304000.reg", save);
    EXPECT_EQ(refused.outcome, FullBackupRestore::Outcome::Refused);
    EXPECT_EQ(refused.restorePoint, 0);
    EXPECT_EQ(RegistryText(), changed);
    EXPECT_FALSE(saved);

    // A save that fails keeps the restore point that undoes the part that was saved.
    restorePoints_.failBegin = false;
    restorePoints_.requests.clear();
    FullBackupRestore unsaved =
        backups.Restore("1262304000.reg", [] { return FileError("disk full"); });
    EXPECT_EQ(unsaved.outcome, FullBackupRestore::Outcome::Failed);
    EXPECT_EQ(unsaved.restorePoint, 41);
    EXPECT_NE(unsaved.error.find("disk full"), std::string::npos);
    ASSERT_EQ(restorePoints_.requests.size(), 1u);
    EXPECT_EQ(restorePoints_.requests[0].eventType, BeginSystemChange);
}

TEST_F(FullBackupTest, DamagedBackupChangesNothing) {
    // The first block would change a value; the damage comes after it.
    folder_.Write("data/7.reg",
                  "REGEDIT4\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
                  "\"Text\"=\"from the file\"\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
                  "\"Number\"=dword:zz\r\n");
    const std::string before = RegistryText();
    bool saved = false;
    const FullBackupRestore result = Backups().Restore("7.reg", [&] {
        saved = true;
        return FileError();
    });
    EXPECT_EQ(result.outcome, FullBackupRestore::Outcome::Refused);
    EXPECT_NE(result.error.find("line 7"), std::string::npos) << result.error;
    EXPECT_EQ(RegistryText(), before);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(restorePoints_.requests.empty());
}

TEST_F(FullBackupTest, OnlyTheListedBackupsCanBeRestoredOrDeleted) {
    folder_.Write("outside.reg", "REGEDIT4\r\n");
    folder_.Write("data/sub/1.reg", "REGEDIT4\r\n");
    folder_.Write("data/x.reg.old", "REGEDIT4\r\n");
    folder_.MakeFolder("data/5.reg");
    const std::string outside = (folder_.Path() / "outside.reg").string();
    for (std::string_view name :
         {std::string_view("../outside.reg"), std::string_view(outside),
          std::string_view("sub/1.reg"), std::string_view("x.reg.old"), std::string_view(""),
          std::string_view(".."), std::string_view("5.reg")}) {
        SCOPED_TRACE(name);
        CFullBackups backups = Backups();
        EXPECT_TRUE(backups.Delete(name).has_value());
        const FullBackupRestore restore = backups.Restore(name, [] { return FileError(); });
        EXPECT_EQ(restore.outcome, FullBackupRestore::Outcome::UnknownBackup);
        EXPECT_FALSE(restore.error.empty());
    }
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(Data() / "sub/1.reg"));
    EXPECT_TRUE(fs::exists(Data() / "x.reg.old"));
    EXPECT_TRUE(fs::is_directory(Data() / "5.reg"));
    EXPECT_TRUE(restorePoints_.requests.empty());

    // A backup that went missing says so in the user's language.
    EXPECT_EQ(Backups().Restore("9.reg", {}).error, "text of IDC_STR_BACKUP_FILE_MISSING");

    folder_.Write("data/9.reg", "REGEDIT4\r\n");
    EXPECT_EQ(Backups().Delete("9.reg"), std::nullopt);
    EXPECT_FALSE(fs::exists(Data() / "9.reg"));
}

TEST_F(FullBackupTest, FirstRunBackupIsRequestedOnce) {
    auto config = MakeRegistry("");
    CFullBackups first = Backups();
    EXPECT_TRUE(first.RequestFirstRunBackup(*config));
    EXPECT_TRUE(first.FirstRunRequested());
    HKey key = HKey::None;
    ASSERT_EQ(config->RegOpenKeyExW(HKeyCurrentUser, kSettingsKeyPath, 0, kMaskReadOnly, &key),
              ErrorSuccess);
    RegType type = RegNone;
    std::uint32_t value = 0;
    std::uint32_t size = sizeof value;
    ASSERT_EQ(config->RegQueryValueExW(key, u"FirstRunBackup", &type,
                                       reinterpret_cast<std::uint8_t*>(&value), &size),
              ErrorSuccess);
    config->RegCloseKey(key);
    EXPECT_EQ(type, RegDword);
    EXPECT_EQ(value, 1u);

    // The next start of the program.
    CFullBackups second = Backups();
    EXPECT_FALSE(second.RequestFirstRunBackup(*config));
    EXPECT_FALSE(second.FirstRunRequested());
    EXPECT_TRUE(first.FirstRunRequested());
}

}  // namespace
}  // namespace quillary
