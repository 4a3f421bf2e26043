// quillary-cli attacked as a hostile or unlucky user would: a data folder that cannot hold the
// undo copy, imports that fail part-way or reach for what nothing may delete, hostile partial
// backups, a damaged registry file, and a run killed part-way.

#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "repair/minizip_codec.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CliTest;
using testing::CommandResult;

std::string RegFile(const std::string& body) {
    return "Windows Registry Editor Version 5.00\r\n\r\n" + body;
}

class CliSafetyTest : public CliTest {
protected:
    fs::path WriteFile(const std::string& name, const std::string& bytes) {
        const fs::path path = folder_.Path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Every registry file of the prefix, to tell that nothing was written.
    std::string RegistryFiles() {
        std::string all;
        for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
            all += ReadBytes(Prefix() / name);
        return all;
    }
    fs::path UndoFolder() {
        for (const auto& entry : fs::directory_iterator(DataHome() / "quillary"))
            return UndoFolderOf(entry.path());
        return {};
    }
};

// Without a place for the undo copy, nothing is changed, and the command says why.
TEST_F(CliSafetyTest, NoUndoCopyNoChange) {
    const fs::path notAFolder = WriteFile("not-a-folder", "x");
    const std::string before = RegistryFiles();
    const std::vector<std::string> elsewhere = {"XDG_DATA_HOME=" + notAFolder.string()};

    CommandResult repair = Cli({"repair", "--scan"}, elsewhere);
    EXPECT_EQ(repair.exitCode, 3);
    EXPECT_EQ(repair.out, "57 items selected for repair\nNothing was repaired.\n");
    EXPECT_NE(repair.err.find("the partial backup could not be written"), std::string::npos)
        << repair.err;
    const fs::path import =
        WriteFile("delete.reg", RegFile("[-HKEY_CURRENT_USER\\Software\\Wine\\Demo]\r\n"));
    CommandResult imported = Cli({"import", import.string()}, elsewhere);
    EXPECT_EQ(imported.exitCode, 3);
    EXPECT_NE(imported.err.find("nothing was imported"), std::string::npos) << imported.err;
    EXPECT_EQ(RegistryFiles(), before);
}

// An import is checked whole before anything is applied: a bad line, a name past the
// registry's limits, a deletion of what nothing may delete, a user the prefix does not hold.
TEST_F(CliSafetyTest, ImportIsAllOrNothing) {
    const std::string good = "[HKEY_CURRENT_USER\\Software\\RelOK]\r\n\"a\"=\"b\"\r\n\r\n";
    struct {
        const char* why;
        std::string body;
        std::string message;
    } cases[] = {
        {"empty key name", good + "[HKEY_CURRENT_USER\\Software\\\\RelX]\r\n\"a\"=\"b\"\r\n",
         "line 6: the key path has an empty name"},
        {"key name too long",
         good + "[HKEY_CURRENT_USER\\Software\\" + std::string(300, 'k') + "]\r\n",
         "line 6: a key name is 300 characters long"},
        {"value name too long",
         good + "[HKEY_CURRENT_USER\\Software\\RelY]\r\n\"" + std::string(20000, 'v') +
             "\"=\"x\"\r\n",
         "line 7: the value name is 20000 characters long"},
        {"top-level key", good + "[-HKEY_CURRENT_USER\\Software]\r\n",
         "deleting HKEY_CURRENT_USER\\Software is refused"},
        {"class container", good + "[-HKEY_CLASSES_ROOT\\CLSID]\r\n",
         "deleting HKEY_CLASSES_ROOT\\CLSID is refused"},
        {"machine software", good + "[-HKEY_LOCAL_MACHINE\\Software]\r\n",
         "deleting HKEY_LOCAL_MACHINE\\Software is refused"},
        {"a scanned container",
         good + "[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n",
         "is refused"},
        {"the user's hive", good + "[-HKEY_USERS\\S-1-5-21-0-0-0-1000]\r\n", "is refused"},
        {"another user", good + "[HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\RelX]\r\n",
         "HKEY_USERS holds no user S-1-5-21-1-2-3-1001"},
        {"cut inside a hex value",
         good + "[HKEY_CURRENT_USER\\Software\\RelZ]\r\n\"h\"=hex:01,02,\\\r\n", "line"},
    };
    const std::string before = RegistryFiles();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CommandResult imported = Cli({"import", WriteFile("case.reg", RegFile(c.body)).string()});
        EXPECT_EQ(imported.exitCode, 2);
        EXPECT_NE(imported.err.find(c.message), std::string::npos) << imported.err;
        EXPECT_NE(imported.err.find("nothing was imported"), std::string::npos) << imported.err;
        EXPECT_EQ(RegistryFiles(), before);
    }
    EXPECT_EQ(Cli({"backups"}).out, "There are no backups to show.\n");
}

// Undo follows only what a repair or an import writes: a crafted list that would copy, move
// or write files outside the prefix, or delete a whole branch, is refused before anything is
// done.
TEST_F(CliSafetyTest, UndoRefusesAHostileBackup) {
    ASSERT_EQ(Cli({"repair", "--scan"}).exitCode, 0);
    const fs::path victim = WriteFile("victim.txt", "precious");
    const std::u16string victimPath = u"Z:" + victim.u16string();
    const std::u16string evilPath = u"Z:" + (folder_.Path() / "evil.txt").u16string();
    const struct {
        const char* why;
        COperation record;
    } cases[] = {
        {"copy over a host file", CopyFileRecord{u"C:\\x.txt", victimPath, false}},
        {"restore a file through Z:", ArchiveDeleteFileRecord{evilPath, u"00000001.fil"}},
        {"import that deletes HKCU\\Software",
         ExportTextRecord{u"00000002.reg", RegistryView::Bits32}},
    };
    const fs::path folder = UndoFolder();
    std::unique_ptr<IZipBuilder> archive = CMinizipCodec().NewArchive();
    const std::string evil = "EVIL\n";
    const std::string deletion = RegFile("[-HKEY_CURRENT_USER\\Software]\r\n");
    ASSERT_FALSE(
        archive->Add("00000001.fil", std::vector<std::uint8_t>(evil.begin(), evil.end()), {}));
    ASSERT_FALSE(archive->Add("00000002.reg",
                              std::vector<std::uint8_t>(deletion.begin(), deletion.end()), {}));
    std::vector<std::uint8_t> bytes;
    ASSERT_FALSE(archive->Finish(bytes));
    const std::string before = RegistryFiles();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_FALSE(files_.ReplaceFileAtomically(folder / "00000009.rxb", bytes));
        ASSERT_FALSE(files_.ReplaceFileAtomically(folder / "00000009.rmx",
                                                  EncodeUndoList({}, std::span(&c.record, 1))));
        CommandResult undo = Cli({"undo", "9"});
        EXPECT_EQ(undo.exitCode, 3);
        EXPECT_NE(undo.err.find("is damaged; nothing was undone"), std::string::npos) << undo.err;
        EXPECT_EQ(ReadBytes(victim), "precious");
        EXPECT_FALSE(fs::exists(folder_.Path() / "evil.txt"));
        EXPECT_EQ(RegistryFiles(), before);
    }
}

// A damaged registry file: the scan still sees what it can, and every command that would
// write says it cannot (exit 3), not that Wine is busy (exit 4).
TEST_F(CliSafetyTest, DamagedRegistryCannotBeWritten) {
    ASSERT_EQ(Cli({"repair", "--scan"}).exitCode, 0);
    std::ofstream(Prefix() / "user.reg", std::ios::app) << "hello";
    const std::string before = RegistryFiles();
    EXPECT_EQ(Cli({"repair", "--scan"}).exitCode, 3);
    const fs::path import =
        WriteFile("ok.reg", RegFile("[HKEY_CURRENT_USER\\Software\\RelOK]\r\n"));
    EXPECT_EQ(Cli({"import", import.string()}).exitCode, 3);
    EXPECT_EQ(Cli({"undo", "1"}).exitCode, 3);
    EXPECT_EQ(RegistryFiles(), before);
}

// A run killed after it deleted a file leaves a journal: the backup is completed from it and
// listed, a new run takes the next number, and undo puts everything back.
TEST_F(CliSafetyTest, KilledRunIsListedAndUndone) {
    const std::string before = Export("before.reg");
    const std::string files = RegistryFiles();
    // Killed after ever later writes until one kill comes after a file was deleted.
    nlohmann::json listed = nlohmann::json::array();
    for (int n = 1; n < 40 && listed.empty(); ++n) {
        CommandResult killed =
            Cli({"repair", "--scan"}, {"QUILLARY_EXIT_AFTER_WRITE=" + std::to_string(n)});
        ASSERT_EQ(killed.exitCode, 137) << killed.err;
        EXPECT_EQ(RegistryFiles(), files);
        CommandResult backups = Cli({"backups", "--json"});
        ASSERT_EQ(backups.exitCode, 0) << backups.err;
        listed = nlohmann::json::parse(backups.out);
    }
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["number"], "00000001");
    CommandResult next = Cli({"repair", "--scan", "--json"});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(nlohmann::json::parse(next.out)["backup"], "00000002");
    ASSERT_EQ(Cli({"undo", "2"}).exitCode, 0);
    ASSERT_EQ(Cli({"undo", "1"}).exitCode, 0);
    EXPECT_EQ(Export("after.reg"), before);
    EXPECT_EQ(Cli({"scan", "--json"}).exitCode, 0);
}

}  // namespace
}  // namespace quillary
