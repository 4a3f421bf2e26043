// The Wine prefix store against Debian's real Wine: a prefix made by `wineboot -i`, changed
// through the store, and read back by Wine's own tools.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "support/registry_fixture.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wineserver_lock.h"
#include "wine_export.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CWinePrefixCopy;
using testing::ExportedKeys;
using testing::KeysOfTheFiles;
using testing::ParseExport;
using testing::ValueBytes;

std::vector<std::string> SplitLines(std::string_view text, std::string_view separator = "\n") {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    return lines;
}

// Whether `after` is `before` with `line` added once somewhere.
::testing::AssertionResult AddsOneLine(const std::vector<std::string>& before,
                                       std::vector<std::string> after, const std::string& line) {
    const auto added = std::find(after.begin(), after.end(), line);
    if (added == after.end()) {
        return ::testing::AssertionFailure() << "the line " << line << " is missing";
    }
    after.erase(added);
    if (after != before) {
        return ::testing::AssertionFailure() << "more than the line " << line << " changed";
    }
    return ::testing::AssertionSuccess();
}

// The blocks of a registry file as Wine writes it: the header, then one block per key, each
// after an empty line.
std::vector<std::string> FileBlocks(const std::string& text) {
    return SplitLines(text, "\n\n");
}

// The key of a file block: its first line up to the time.
std::string BlockKey(const std::string& block) {
    return block.substr(0, block.find("] ") + 1);
}

// The keys of `blocks` in their order, of those that `others` has too.
std::vector<std::string> KeyOrder(const std::vector<std::string>& blocks,
                                  const std::vector<std::string>& others) {
    std::vector<std::string> otherKeys;
    for (const std::string& block : others) {
        otherKeys.push_back(BlockKey(block));
    }
    std::vector<std::string> keys;
    for (const std::string& block : blocks) {
        const std::string key = BlockKey(block);
        if (key.starts_with("[") &&
            std::find(otherKeys.begin(), otherKeys.end(), key) != otherKeys.end()) {
            keys.push_back(key);
        }
    }
    return keys;
}

class WinePrefixStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        copy_ = std::make_unique<CWinePrefixCopy>(testing::FreshWinePrefix(),
                                                  testing::WinePrefixCopies() / name);
        ASSERT_EQ(copy_->Error(), "");
    }

    std::unique_ptr<CWinePrefixRegistry> OpenStore() {
        std::string error;
        auto store = CWinePrefixRegistry::Open(files_, copy_->Path(), &error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }

    // HKEY_LOCAL_MACHINE and HKEY_USERS (which holds both users' files) as Wine sees them.
    ExportedKeys ExportRegistry() {
        // One server for both exports, so that Wine starts up once.
        copy_->WineServer({"-p"});
        ExportedKeys keys;
        for (const char* root : {"HKLM", "HKU"}) {
            std::string error;
            const std::string text = copy_->ExportKey(root, &error);
            EXPECT_EQ(error, "");
            keys = ParseExport(text, std::move(keys));
        }
        copy_->StopWineServer();
        return keys;
    }

    std::unique_ptr<CWinePrefixCopy> copy_;
    CPosixFileIo files_;
};

LStatus SetValue(IRegistry& store, HKey root, std::u16string_view path, std::u16string_view name,
                 RegType type, const std::vector<std::uint8_t>& data) {
    HKey key = HKey::None;
    LStatus status = store.RegCreateKeyExW(root, path, {}, 0, KeyAllAccess, &key, nullptr);
    if (status != ErrorSuccess) {
        return status;
    }
    status =
        store.RegSetValueExW(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
    store.RegCloseKey(key);
    return status;
}

std::vector<std::uint8_t> Text(std::u16string_view text) {
    return ToUtf16LeBytes(text, true);
}

// A value added to a key that the fresh prefix already has, in each of the three files.
struct AddedValue {
    const char* file;
    HKey root;
    std::u16string_view path;
    std::string fileKey;    // the key's line in the file, without the time
    std::string exportKey;  // the key's line in `reg export`
    std::u16string_view name;
    std::u16string_view text;
    std::string line;  // the value's line, the same in the file and the export
};

const AddedValue kAddedValues[] = {
    {"system.reg", HKeyLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
     "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion]",
     "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]", u"QuillaryMachine",
     u"machine", "\"QuillaryMachine\"=\"machine\""},
    {"user.reg", HKeyCurrentUser, u"Environment", "[Environment]",
     "[HKEY_USERS\\S-1-5-21-0-0-0-1000\\Environment]", u"QuillaryUser", u"user",
     "\"QuillaryUser\"=\"user\""},
    {"userdef.reg", HKeyUsers,
     u".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
     "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders]",
     "[HKEY_USERS\\.Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
     "Folders]",
     u"QuillaryDefault", u"default user", "\"QuillaryDefault\"=\"default user\""},
};

TEST_F(WinePrefixStoreTest, AFreshPrefixRoundTripsThroughTheStore) {
    const auto setUpStamp = fs::last_write_time(copy_->Path() / ".update-timestamp");
    const ExportedKeys wineBefore = ExportRegistry();
    // Wine took the copy as set up: it did not run its set-up again, which rewrites the stamp.
    EXPECT_EQ(fs::last_write_time(copy_->Path() / ".update-timestamp"), setUpStamp);

    // Every line of the files that Wine just wrote is understood, and nothing is rewritten
    // when nothing changed.
    std::map<std::string, std::string> wineFiles;
    for (const AddedValue& added : kAddedValues) {
        wineFiles[added.file] = copy_->ReadFile(added.file);
    }
    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    for (const WineRegDiagnostic& diagnostic : store->Diagnostics()) {
        ADD_FAILURE() << DescribeDiagnostic(diagnostic);
    }
    ASSERT_EQ(store->WriteRefusal(), std::nullopt);
    const ExportedKeys before = KeysOfTheFiles(wineBefore, *store);
    ASSERT_GT(before.size(), 9000u);
    ASSERT_EQ(store->Save(), std::nullopt);
    for (const auto& [file, bytes] : wineFiles) {
        EXPECT_EQ(copy_->ReadFile(file), bytes) << file;
    }

    // A change in each file rewrites the whole file; every key but the changed one comes out
    // byte for byte as Wine wrote it.
    for (const AddedValue& added : kAddedValues) {
        ASSERT_EQ(SetValue(*store, added.root, added.path, added.name, RegSz, Text(added.text)),
                  ErrorSuccess);
    }
    ASSERT_EQ(store->Save(), std::nullopt);
    for (const AddedValue& added : kAddedValues) {
        SCOPED_TRACE(added.file);
        const std::vector<std::string> wineBlocks = FileBlocks(wineFiles[added.file]);
        const std::vector<std::string> ourBlocks = FileBlocks(copy_->ReadFile(added.file));
        ASSERT_EQ(ourBlocks.size(), wineBlocks.size());
        int changed = 0;
        for (std::size_t i = 0; i < ourBlocks.size(); ++i) {
            if (ourBlocks[i] == wineBlocks[i]) {
                continue;
            }
            ++changed;
            ASSERT_TRUE(ourBlocks[i].starts_with(added.fileKey + " ")) << ourBlocks[i];
            // The key line and #time carry the time of the change.
            std::vector<std::string> wineLines = SplitLines(wineBlocks[i]);
            std::vector<std::string> ourLines = SplitLines(ourBlocks[i]);
            ASSERT_GE(wineLines.size(), 2u);
            ASSERT_GE(ourLines.size(), 2u);
            wineLines.erase(wineLines.begin(), wineLines.begin() + 2);
            ourLines.erase(ourLines.begin(), ourLines.begin() + 2);
            EXPECT_TRUE(AddsOneLine(wineLines, ourLines, added.line));
        }
        EXPECT_EQ(changed, 1);
    }

    // Wine reads the files back to the registry it had, plus the three values.
    const ExportedKeys after = KeysOfTheFiles(ExportRegistry(), *store);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [key, lines] : before) {
        const auto found = after.find(key);
        ASSERT_NE(found, after.end()) << key;
        const auto added =
            std::find_if(std::begin(kAddedValues), std::end(kAddedValues),
                         [&](const AddedValue& value) { return value.exportKey == key; });
        if (added == std::end(kAddedValues)) {
            EXPECT_EQ(found->second, lines) << key;
        } else {
            EXPECT_TRUE(AddsOneLine(lines, found->second, added->line)) << key;
        }
    }
}

// One value written through the store, and how Wine's tools show it. `reg query` prints a
// value's data as text in the OEM code page (so only ASCII survives) and cannot print a
// REG_QWORD; `reg export` gives the exact bytes of everything except strings that are empty,
// of odd length or hold a NUL. Each value is checked by at least one of them, and all by
// the registry file that Wine itself writes.
struct ValueCase {
    std::u16string_view name;
    RegType type;
    std::vector<std::uint8_t> data;
    std::optional<std::string> query;  // "TYPE    text" as `reg query` prints it
    bool exportIsExact;
};

std::vector<std::uint8_t> Bytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    return bytes;
}

std::string UpperHex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

const std::vector<ValueCase>& ValueCases() {
    static const std::vector<ValueCase> cases = {
        // Strings
        {u"", RegSz, Text(u"the default"), "REG_SZ    the default", true},
        {u"plain", RegSz, Text(u"text"), "REG_SZ    text", true},
        {u"escapes", RegSz, Text(u"back\\slash \"quoted\"\nline\ttab\x1b"),
         "REG_SZ    back\\slash \"quoted\"\nline\ttab\x1b", true},
        {u"non-ascii", RegSz, Text(u"caf\u00e9 \u20ac \U0001F600"), std::nullopt, true},
        {u"n\u00e4me \u20ac", RegSz, Text(u"non-ASCII name"), std::nullopt, true},
        {u"expand", RegExpandSz, Text(u"%SystemRoot%\\system32"),
         "REG_EXPAND_SZ    %SystemRoot%\\system32", true},
        {u"multi", RegMultiSz, Text(std::u16string(u"one\0two\0", 8)), "REG_MULTI_SZ    one\\0two",
         true},
        // Wine 8's `reg query` crashes on a REG_SZ without data.
        {u"empty string", RegSz, {}, std::nullopt, false},
        {u"odd string", RegSz, {'A', 0, 'B', 0, 'C'}, std::nullopt, false},
        // Numbers
        {u"dword", RegDword, {0x78, 0x56, 0x34, 0x12}, "REG_DWORD    0x12345678", true},
        {u"qword", RegQword, {0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01}, std::nullopt, true},
        // Bytes
        {u"binary", RegBinary, Bytes(100), "REG_BINARY    " + UpperHex(Bytes(100)), true},
        {u"empty binary", RegBinary, {}, "REG_BINARY    ", true},
        {u"none", RegNone, {0xde, 0xad}, "REG_NONE    DEAD", true},
    };
    return cases;
}

constexpr std::u16string_view kValuesKey = u"Software\\Quillary Values";
// Where the values go that `reg query` does not show: it would stop at the first of them.
constexpr std::u16string_view kUnqueriedValuesKey =
    u"Software\\Quillary Values\\Not shown by reg query";
constexpr std::u16string_view kUnicodeKey = u"Software\\Quillary \u00dcn\u00ef\u20ac\U0001F600";

std::u16string_view KeyOf(const ValueCase& value) {
    return value.query ? kValuesKey : kUnqueriedValuesKey;
}

// `reg query` prints "    name    TYPE    data" per value, CRLF after each; a name is found by
// the type that follows it.
std::map<std::string, std::string> ParseQuery(const std::string& output) {
    std::map<std::string, std::string> values;
    for (const std::string& line : SplitLines(output, "\r\n")) {
        const std::size_t type = line.find("    REG_", 4);
        if (line.starts_with("    ") && type != std::string::npos) {
            values[line.substr(4, type - 4)] = line.substr(type + 4);
        }
    }
    return values;
}

TEST_F(WinePrefixStoreTest, ValuesOfEveryTypeReadBackThroughWine) {
    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    for (const ValueCase& value : ValueCases()) {
        ASSERT_EQ(
            SetValue(*store, HKeyCurrentUser, KeyOf(value), value.name, value.type, value.data),
            ErrorSuccess);
    }
    ASSERT_EQ(SetValue(*store, HKeyCurrentUser, kUnicodeKey, u"inside", RegSz, Text(u"yes")),
              ErrorSuccess);
    // Siblings whose order depends on how names are compared: case, punctuation sorting
    // before letters, a prefix before its extensions, non-ASCII after ASCII.
    for (const std::u16string_view name : {u"zz", u"Sub[1]", u"a_b", u"\u00dcn\u00ef\u20ac", u"AB",
                                           u"Key/with/slash", u"a b", u"ab1", u"Zed"}) {
        ASSERT_EQ(SetValue(*store, HKeyCurrentUser,
                           std::u16string(u"Software\\Quillary Order\\") + std::u16string(name),
                           u"v", RegDword, {1, 0, 0, 0}),
                  ErrorSuccess);
    }
    ASSERT_EQ(store->Save(), std::nullopt);
    const std::string ourFile = copy_->ReadFile("user.reg");

    copy_->WineServer({"-p"});
    const std::string valuesKey = "HKCU\\" + Utf16ToUtf8(kValuesKey);
    const testing::CommandResult query = copy_->Wine({"reg", "query", valuesKey});
    ASSERT_EQ(query.exitCode, 0) << query.out << query.err;
    const std::map<std::string, std::string> queried = ParseQuery(query.out);
    std::string error;
    std::string exported = copy_->ExportKey(valuesKey, &error);
    ASSERT_EQ(error, "");
    const testing::CommandResult unicodeKey =
        copy_->Wine({"reg", "query", "HKCU\\" + Utf16ToUtf8(kUnicodeKey), "/v", "inside"});
    copy_->StopWineServer();

    // The export's first line names its format; the rest is registry text.
    exported.erase(0, exported.find('\n') + 1);
    auto exportedRegistry = testing::MakeRegistry(exported);
    for (const ValueCase& value : ValueCases()) {
        SCOPED_TRACE(Utf16ToUtf8(value.name));
        if (value.query) {
            const std::string name = value.name.empty() ? "(Default)" : Utf16ToUtf8(value.name);
            const auto found = queried.find(name);
            ASSERT_NE(found, queried.end()) << query.out;
            EXPECT_EQ(found->second, *value.query);
        }
        const auto bytes = ValueBytes(*exportedRegistry, HKeyCurrentUser, KeyOf(value), value.name);
        ASSERT_TRUE(bytes.has_value()) << exported;
        if (value.exportIsExact) {
            EXPECT_EQ(*bytes, value.data);
        }
    }
    EXPECT_EQ(unicodeKey.exitCode, 0) << unicodeKey.out << unicodeKey.err;
    EXPECT_NE(unicodeKey.out.find("    inside    REG_SZ    yes\r\n"), std::string::npos)
        << unicodeKey.out;

    // Wine saved the registry it read from our file as a file of its own; the keys we wrote
    // come out of it exactly as we wrote them.
    const std::string wineFile = copy_->ReadFile("user.reg");
    ASSERT_NE(wineFile, ourFile) << "Wine did not save user.reg";
    const std::vector<std::string> wineBlocks = FileBlocks(wineFile);
    int ourKeys = 0;
    for (const std::string& block : FileBlocks(ourFile)) {
        if (block.starts_with("[Software\\\\Quillary ")) {
            ++ourKeys;
            EXPECT_NE(std::find(wineBlocks.begin(), wineBlocks.end(), block), wineBlocks.end())
                << block;
        }
    }
    EXPECT_EQ(ourKeys, 12);

    // Wine orders keys as we do: the keys that both files hold come in the same order.
    const std::vector<std::string> ourOrder = KeyOrder(FileBlocks(ourFile), wineBlocks);
    EXPECT_EQ(ourOrder, KeyOrder(wineBlocks, FileBlocks(ourFile)));
    EXPECT_GT(ourOrder.size(), 50u);
}

// Polls the store until it allows changes (or refuses them), for at most a few seconds: it
// looks for a running server at most once a second, and a server takes a moment to start.
bool AwaitWriteRefusal(CWinePrefixRegistry& store, bool refused) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (store.WriteRefusal().has_value() != refused) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

TEST_F(WinePrefixStoreTest, RefusesChangesWhileTheWineserverRuns) {
    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    // A handle that may change the key, opened while no Wine runs.
    HKey key = HKey::None;
    ASSERT_EQ(store->RegOpenKeyExW(HKeyCurrentUser, u"Environment", 0, KeyAllAccess, &key),
              ErrorSuccess);
    const std::vector<std::uint8_t> data = Text(u"while running");

    ASSERT_EQ(copy_->WineServer({"-p"}).exitCode, 0);
    ASSERT_TRUE(AwaitWriteRefusal(*store, true));
    const auto server = FindRunningWineServer(copy_->Path());
    ASSERT_TRUE(server.has_value());
    EXPECT_GT(server->pid, 0);
    // Debian's Wine keeps the server folder in a folder that the prefix's file names.
    EXPECT_EQ(server->lockFile.parent_path().parent_path().filename(),
              copy_->ReadFile("wineserver"));
    EXPECT_EQ(store->WriteRefusal(), std::string(kWineRunningMessage));
    EXPECT_TRUE(store->ReadWarning().has_value());
    EXPECT_EQ(store->RegSetValueExW(key, u"Quillary", RegSz, data.data(),
                                    static_cast<std::uint32_t>(data.size())),
              ErrorAccessDenied);
    EXPECT_FALSE(store->HasUnsavedChanges());

    copy_->StopWineServer();
    ASSERT_TRUE(AwaitWriteRefusal(*store, false));
    EXPECT_FALSE(FindRunningWineServer(copy_->Path()).has_value());
    EXPECT_EQ(store->ReadWarning(), std::nullopt);
    ASSERT_EQ(store->RegSetValueExW(key, u"Quillary", RegSz, data.data(),
                                    static_cast<std::uint32_t>(data.size())),
              ErrorSuccess);
    store->RegCloseKey(key);
    ASSERT_EQ(store->Save(), std::nullopt);

    const testing::CommandResult query =
        copy_->Wine({"reg", "query", "HKCU\\Environment", "/v", "Quillary"});
    EXPECT_NE(query.out.find("    Quillary    REG_SZ    while running\r\n"), std::string::npos)
        << query.out << query.err;
}

TEST_F(WinePrefixStoreTest, KeepsWhatAWineProgramSavedSinceTheFilesWereRead) {
    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(SetValue(*store, HKeyCurrentUser, u"Environment", u"Quillary", RegSz, Text(u"ours")),
              ErrorSuccess);

    const testing::CommandResult added =
        copy_->Wine({"reg", "add", "HKCU\\Software\\ByWine", "/v", "v", "/d", "theirs", "/f"});
    ASSERT_EQ(added.exitCode, 0) << added.out << added.err;
    copy_->WineServer({"-w"});
    const std::string wineFile = copy_->ReadFile("user.reg");
    ASSERT_NE(wineFile.find("[Software\\\\ByWine]"), std::string::npos);

    EXPECT_EQ(store->WriteRefusal(), std::string(kRegistryChangedMessage));
    EXPECT_EQ(store->Save(), std::string(kRegistryChangedMessage));
    EXPECT_EQ(copy_->ReadFile("user.reg"), wineFile);
}

}  // namespace
}  // namespace quillary
