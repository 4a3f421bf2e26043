// Full backups against Debian's real Wine: our export of a whole prefix holds what Wine's own
// Registry Editor exports, Wine's Registry Editor and our importer read it back alike, and a
// restore from the command line gives back the registry Wine reads, undoable through the
// restore point it leaves.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "core/text_encoding.h"
#include "repair/full_registry_export.h"
#include "repair/reg_file_reader.h"
#include "repair/reg_import.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"
#include "wine_export.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CWinePrefixCopy;
using testing::ExportedKeys;

// The roots a whole export holds.
const std::vector<std::string> kRoots = {"HKLM", "HKU"};

// Entries a fresh prefix lacks, of the kinds an export line must get right: a text of several
// lines with quotes, a key name with brackets and letters beyond ASCII, the string types as
// hex, a key of the 32-bit view and one of the default user.
constexpr std::string_view kPlanted =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\QuillaryFull]\r\n"
    "\"Lines\"=\"one\\r\\ntwo \\\"quoted\\\" C:\\\\dir\"\r\n"
    "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Big\"=hex(b):00,00,00,00,01,00,00,00\r\n"
    "\"Count\"=dword:0000012c\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\QuillaryFull\\Odd [1] caf\xC3\xA9 \xE2\x82\xAC]\r\n"
    "\"v\"=\"x\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\QuillaryFull32]\r\n"
    "\"Bits\"=dword:00000020\r\n"
    "\r\n"
    "[HKEY_USERS\\.Default\\Software\\QuillaryFull]\r\n"
    "\"d\"=\"default user\"\r\n";

// The keys and values of an export file as our reader reads it, in the form ParseExport gives
// them, so that KeysOfTheFiles can filter them.
ExportedKeys KeysOfFile(IFileIo& files, const fs::path& file) {
    ExportedKeys keys;
    const std::optional<RegImportError> error =
        ReadRegFile(files, file, [&](std::span<const RegImportOperation> block) {
            std::vector<std::string>* values = nullptr;
            for (const RegImportOperation& operation : block) {
                std::u16string path(RootKeyName(operation.root));
                if (!operation.subKey.empty())
                    path += u'\\' + operation.subKey;
                values = &keys["[" + Utf16ToUtf8(path) + "]"];
                if (operation.kind != RegImportOperation::Kind::SetValue)
                    continue;
                std::string line = "\"" + Utf16ToUtf8(operation.valueName) +
                                   "\"=" + std::to_string(operation.type) + ":";
                for (std::uint8_t byte : operation.data) {
                    line += "0123456789abcdef"[byte >> 4u];
                    line += "0123456789abcdef"[byte & 15u];
                }
                values->push_back(line);
            }
            return std::optional<std::string>();
        });
    EXPECT_EQ(error, std::nullopt) << file;
    return keys;
}

// The keys of two exports that differ, each with its value lines on both sides; empty when the
// exports are the same.
std::string Differences(const ExportedKeys& ours, const ExportedKeys& theirs) {
    std::string text;
    const auto describe = [&](const std::string& key) {
        const auto lines = [](const ExportedKeys& keys, const std::string& name) {
            const auto found = keys.find(name);
            if (found == keys.end())
                return std::string(" (missing)");
            std::string joined;
            for (const std::string& line : found->second)
                joined += "\n    " + line;
            return joined;
        };
        text += key + "\n  ours:" + lines(ours, key) + "\n  theirs:" + lines(theirs, key) + "\n";
    };
    for (const auto& [key, lines] : ours) {
        const auto other = theirs.find(key);
        if (other == theirs.end() || other->second != lines)
            describe(key);
    }
    for (const auto& [key, lines] : theirs) {
        if (!ours.contains(key))
            describe(key);
    }
    return text;
}

// The exported keys with each value on one line and string data given as hex without its last
// terminator. Wine's importer ends such data with a terminator when it lacks one; ours keeps
// the bytes as the file gives them (a fresh prefix holds two multi-strings without one).
ExportedKeys WithoutAddedTerminators(ExportedKeys keys) {
    for (auto& [key, lines] : keys) {
        std::vector<std::string> joined;
        bool continues = false;
        for (const std::string& line : lines) {
            if (continues)
                joined.back() += line.substr(line.find_first_not_of(' '));
            else
                joined.push_back(line);
            continues = joined.back().ends_with('\\');
            if (continues)
                joined.back().pop_back();
        }
        for (std::string& line : joined) {
            const bool stringAsHex = line.find("=hex(1):") != std::string::npos ||
                                     line.find("=hex(2):") != std::string::npos ||
                                     line.find("=hex(7):") != std::string::npos;
            if (stringAsHex && line.ends_with(",00,00"))
                line.resize(line.size() - 6);
        }
        lines = std::move(joined);
    }
    return keys;
}

class WineFullBackupTest : public ::testing::Test {
protected:
    CPosixFileIo files_;

    static std::unique_ptr<CWinePrefixCopy> Copy(const std::string& name) {
        return testing::FreshCopy(name);
    }

    // A copy of the fresh prefix with the planted entries, saved by our store.
    std::unique_ptr<CWinePrefixCopy> PlantedCopy(const std::string& name) {
        auto copy = Copy(name);
        const fs::path plant = copy->Path() / "plant.reg";
        std::ofstream(plant, std::ios::binary) << kPlanted;
        std::string error;
        auto store = CWinePrefixRegistry::Open(files_, copy->Path(), &error);
        EXPECT_TRUE(store) << error;
        if (store) {
            RegistryTarget target{store.get(), store->Is64Bit(), {}};
            EXPECT_EQ(ImportRegFile(target, true, files_, plant), std::nullopt);
            EXPECT_EQ(store->Save(), std::nullopt);
        }
        return copy;
    }

    // Our full backup of the prefix's registry files, and the store it was made from.
    std::unique_ptr<CWinePrefixRegistry> ExportOurs(const CWinePrefixCopy& copy,
                                                    const fs::path& file) {
        std::string error;
        auto store = CWinePrefixRegistry::Open(files_, copy.Path(), &error);
        EXPECT_TRUE(store) << error;
        if (store) {
            RegistryTarget target{store.get(), store->Is64Bit(), {}};
            EXPECT_EQ(ExportWholeRegistry(target, files_, file), std::nullopt);
        }
        return store;
    }
};

// Only what Wine makes anew at every start and never saves (the hardware tree and the other
// volatile keys, which are not in the registry files) is missing from ours.
TEST_F(WineFullBackupTest, HoldsWhatTheRegistryEditorExports) {
    auto copy = PlantedCopy("full-compare");
    const testing::CommandResult exported = copy->Wine({"regedit", "/e", "C:\\theirs.reg"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    copy->StopWineServer();

    const fs::path ours = copy->Path() / "ours.reg";
    auto store = ExportOurs(*copy, ours);
    ASSERT_TRUE(store);
    const ExportedKeys theirKeys = KeysOfFile(files_, copy->Path() / "drive_c/theirs.reg");
    const ExportedKeys ourKeys = KeysOfFile(files_, ours);
    EXPECT_EQ(ourKeys.count("[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\QuillaryFull32]"), 1u);
    EXPECT_EQ(ourKeys.count("[HKEY_LOCAL_MACHINE\\Software\\QuillaryFull\\Odd [1] caf\xC3\xA9 "
                            "\xE2\x82\xAC]"),
              1u);
    EXPECT_GT(ourKeys.size(), 10000u);
    EXPECT_EQ(Differences(testing::KeysOfTheFiles(ourKeys, *store),
                          testing::KeysOfTheFiles(theirKeys, *store)),
              "");
}

TEST_F(WineFullBackupTest, RegistryEditorAndOurImporterReadItBackAlike) {
    auto source = PlantedCopy("full-source");
    const fs::path file = source->Path() / "drive_c/full.reg";
    ASSERT_TRUE(ExportOurs(*source, file));

    auto theirs = Copy("full-import-wine");
    auto ours = Copy("full-import-ours");
    fs::copy_file(file, theirs->Path() / "drive_c/full.reg");
    const testing::CommandResult imported = theirs->Wine({"regedit", "/s", "C:\\full.reg"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    theirs->StopWineServer();
    {
        std::string error;
        auto store = CWinePrefixRegistry::Open(files_, ours->Path(), &error);
        ASSERT_TRUE(store) << error;
        RegistryTarget target{store.get(), store->Is64Bit(), {}};
        ASSERT_EQ(ImportRegFile(target, true, files_, file), std::nullopt);
        ASSERT_EQ(store->Save(), std::nullopt);
    }

    const ExportedKeys expected = testing::ExportRoots(*theirs, kRoots);
    const ExportedKeys actual = testing::ExportRoots(*ours, kRoots);
    std::string error;
    auto store = CWinePrefixRegistry::Open(files_, ours->Path(), &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(actual.count("[HKEY_LOCAL_MACHINE\\Software\\QuillaryFull\\Odd [1] caf\xC3\xA9 "
                           "\xE2\x82\xAC]"),
              1u);
    EXPECT_EQ(Differences(WithoutAddedTerminators(testing::KeysOfTheFiles(actual, *store)),
                          WithoutAddedTerminators(testing::KeysOfTheFiles(expected, *store))),
              "");
}

// The command line's backup, a change, the restore, and the undo of the restore.
TEST_F(WineFullBackupTest, RestoreGivesTheRegistryBackAndItsRestorePointUndoesIt) {
    auto copy = Copy("full-restore");
    ASSERT_EQ(copy->Wine({"reg", "add", "HKCU\\Software\\QuillaryFull\\Gone", "/v", "g", "/d",
                          "kept", "/f"})
                  .exitCode,
              0);
    ASSERT_EQ(
        copy->Wine({"reg", "add", "HKLM\\Software\\QuillaryFull", "/v", "v", "/d", "old", "/f"})
            .exitCode,
        0);
    copy->StopWineServer();
    const ExportedKeys before = testing::ExportRoots(*copy, kRoots);

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
    const testing::CommandResult taken = cli({"full-backup"});
    ASSERT_EQ(taken.exitCode, 0) << taken.err;
    std::smatch name;
    ASSERT_TRUE(std::regex_search(taken.out, name, std::regex("/(-?[0-9]+\\.reg)\n"))) << taken.out;
    const testing::CommandResult listed = cli({"full-backup", "--list", "--json"});
    EXPECT_NE(listed.out.find("\"name\": \"" + name[1].str() + "\""), std::string::npos)
        << listed.out;

    ASSERT_EQ(copy->Wine({"reg", "delete", "HKCU\\Software\\QuillaryFull\\Gone", "/f"}).exitCode,
              0);
    ASSERT_EQ(
        copy->Wine({"reg", "add", "HKLM\\Software\\QuillaryFull", "/v", "v", "/d", "new", "/f"})
            .exitCode,
        0);
    copy->StopWineServer();
    const ExportedKeys changed = testing::ExportRoots(*copy, kRoots);

    const testing::CommandResult restored = cli({"full-backup", "--restore", name[1].str()});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    std::smatch id;
    ASSERT_TRUE(std::regex_search(restored.out, id, std::regex("--restore ([0-9]+)`")))
        << restored.out;
    const ExportedKeys after = testing::ExportRoots(*copy, kRoots);
    std::string error;
    auto store = CWinePrefixRegistry::Open(files_, copy->Path(), &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(Differences(testing::KeysOfTheFiles(after, *store),
                          testing::KeysOfTheFiles(before, *store)),
              "");

    const testing::CommandResult undone = cli({"restore-points", "--restore", id[1].str()});
    ASSERT_EQ(undone.exitCode, 0) << undone.err;
    const ExportedKeys again = testing::ExportRoots(*copy, kRoots);
    store = CWinePrefixRegistry::Open(files_, copy->Path(), &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(Differences(testing::KeysOfTheFiles(again, *store),
                          testing::KeysOfTheFiles(changed, *store)),
              "");
    const std::string gone = "[HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\QuillaryFull\\Gone]";
    EXPECT_EQ(after.count(gone), 1u);
    EXPECT_EQ(again.count(gone), 0u);
}

}  // namespace
}  // namespace quillary
