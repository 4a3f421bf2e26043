// Repair and undo against Debian's real Wine: the importer applies a .reg file as Wine's own
// Registry Editor does, and a repair followed by its undo leaves the registry Wine reads
// exactly as it was.

#include <gtest/gtest.h>

#include <fstream>

#include "core/text_encoding.h"
#include "repair/reg_import.h"
#include "support/registry_fixture.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"
#include "wine_export.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CWinePrefixCopy;
using testing::ExportedKeys;

// A file of every form the Registry Editor writes. String types given as hex end in their
// terminator: Wine's importer adds one where it is missing, ours keeps the bytes as given.
constexpr std::u16string_view kImport =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\QuillaryImport]\r\n"
    u"@=\"default\"\r\n"
    u"\"Text\"=\"C:\\\\Program Files\\\\A \\\"quoted\\\" name\"\r\n"
    u"\"Unicode\"=\"caf\u00e9 \u20ac\"\r\n"
    u"\"Count\"=dword:0000012c\r\n"
    u"\"Big\"=hex(b):00,00,00,00,01,00,00,00\r\n"
    u"\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
    u"  00,25,00,00,00\r\n"
    u"\"Lines\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    u"  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f\r\n"
    u"\"Empty\"=hex:\r\n"
    u"\"None\"=hex(0):01\r\n"
    u"\"Removed\"=-\r\n"
    u"\r\n"
    u"; a comment between keys\r\n"
    u"[HKEY_CURRENT_USER\\Software\\QuillaryImport\\Sub\\Deeper]\r\n"
    u"\"x\"=\"y\"\r\n"
    u"\r\n"
    u"[-HKEY_CURRENT_USER\\Software\\QuillaryImport\\Old]\r\n";

std::string Utf16File(std::u16string_view text) {
    std::string bytes = "\xff\xfe";
    for (std::uint8_t byte : ToUtf16LeBytes(text, false))
        bytes += static_cast<char>(byte);
    return bytes;
}

class WineRepairTest : public ::testing::Test {
protected:
    CPosixFileIo files_;

    static std::unique_ptr<CWinePrefixCopy> Copy(const std::string& name) {
        return testing::FreshCopy(name);
    }
};

TEST_F(WineRepairTest, ImportsAsWinesRegistryEditorDoes) {
    auto theirs = Copy("import-wine");
    auto ours = Copy("import-ours");
    // Both start with a key the file deletes and a value it removes.
    for (CWinePrefixCopy* copy : {theirs.get(), ours.get()}) {
        ASSERT_EQ(copy->Wine({"reg", "add", "HKCU\\Software\\QuillaryImport\\Old\\Child", "/v", "v",
                              "/d", "old", "/f"})
                      .exitCode,
                  0);
        ASSERT_EQ(copy->Wine({"reg", "add", "HKCU\\Software\\QuillaryImport", "/v", "Removed", "/d",
                              "x", "/f"})
                      .exitCode,
                  0);
        copy->StopWineServer();
        std::ofstream(copy->Path() / "drive_c/import.reg", std::ios::binary) << Utf16File(kImport);
    }
    ASSERT_EQ(theirs->Wine({"regedit", "/s", "C:\\import.reg"}).exitCode, 0);
    theirs->StopWineServer();

    std::string error;
    auto store = CWinePrefixRegistry::Open(files_, ours->Path(), &error);
    ASSERT_TRUE(store) << error;
    RegistryTarget target{store.get(), store->Is64Bit(), {}};
    ASSERT_EQ(ImportRegFile(target, true, files_, ours->Path() / "drive_c/import.reg"),
              std::nullopt);
    ASSERT_EQ(store->Save(), std::nullopt);

    ExportedKeys expected = testing::ExportRoots(*theirs, {"HKCU\\Software\\QuillaryImport"});
    ExportedKeys actual = testing::ExportRoots(*ours, {"HKCU\\Software\\QuillaryImport"});
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(actual, expected);
}

TEST_F(WineRepairTest, RepairThenUndoLeavesTheRegistryAsItWas) {
    auto copy = Copy("repair");
    ASSERT_EQ(copy->Wine({"reg", "add", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          "/v", "QuillaryGone", "/d", "C:\\Gone\\tray.exe", "/f"})
                  .exitCode,
              0);
    copy->StopWineServer();
    const std::vector<std::string> roots = {"HKLM", "HKU"};
    ExportedKeys before = testing::ExportRoots(*copy, roots);

    const fs::path data = copy->Path() / "quillary-data";
    const std::vector<std::string> environment = {"XDG_DATA_HOME=" + data.string(),
                                                  "XDG_CONFIG_HOME=" + data.string() + "/config",
                                                  "XDG_RUNTIME_DIR=" + data.string() + "/run"};
    fs::create_directories(data / "run");
    auto cli = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUILLARY_CLI);
        arguments.push_back("--prefix");
        arguments.push_back(copy->Path().string());
        return testing::RunCommand(arguments, environment);
    };
    testing::CommandResult repair = cli({"repair", "--scan", "--json"});
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
    EXPECT_NE(repair.out.find("\"backup\": \"00000001\""), std::string::npos) << repair.out;

    // The planted entry is gone as far as Wine can tell.
    ExportedKeys repaired =
        testing::ExportRoots(*copy, {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"});
    for (const auto& [key, lines] : repaired) {
        for (const std::string& line : lines)
            EXPECT_EQ(line.find("QuillaryGone"), std::string::npos);
    }

    testing::CommandResult undo = cli({"undo", "00000001"});
    ASSERT_EQ(undo.exitCode, 0) << undo.err;
    ExportedKeys after = testing::ExportRoots(*copy, roots);

    std::string error;
    auto store = CWinePrefixRegistry::Open(files_, copy->Path(), &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(testing::KeysOfTheFiles(after, *store), testing::KeysOfTheFiles(before, *store));
}

}  // namespace
}  // namespace quillary
