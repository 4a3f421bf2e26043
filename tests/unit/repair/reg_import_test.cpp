#include "repair/reg_import.h"
#include "targets/posix/posix_file_io.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text_encoding.h"
#include "repair/reg_export.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/memory/reg_text.h"

namespace quillary {
namespace {

// The host's files, for the set-up and the checks of these tests.
CPosixFileIo hostFiles;

using testing::MakeRegistry;
using testing::ValueBytes;

std::vector<std::uint8_t> Utf16File(std::u16string_view text) {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    std::vector<std::uint8_t> body = ToUtf16LeBytes(text, false);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

std::vector<std::uint8_t> AnsiFile(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

TEST(RegImportTest, ReadsEveryValueForm) {
    RegImportParse parsed =
        ParseRegFile(Utf16File(u"\r\nWindows Registry Editor Version 5.00\r\n"
                               u"\r\n; a comment\r\n"
                               u"[HKEY_CURRENT_USER\\Software\\Demo]\r\n"
                               u"@=\"C:\\\\Tools\\\\demo.exe\"\r\n"
                               u"\"Quote\\\"d\"=\"a\\\"b\"\r\n"
                               u"\"@\"=\"not the default\"\r\n"
                               u"\"Count\" = dword:0000012C ; trailing comment\r\n"
                               u"\"Blob\"=hex:01,02,\\\r\n"
                               u"\r\n"
                               u"  ; between continuation lines\r\n"
                               u"  ff\r\n"
                               u"\"Odd\"=hex(1):41,00,00\r\n"
                               u"\"Big\"=hex(ffff0012):07\r\n"
                               u"\"Empty\"=hex:\r\n"
                               u"\"Gone\"=-\r\n"
                               u"[-HKEY_CURRENT_USER\\Software\\Old]\r\n"));
    ASSERT_FALSE(parsed.error) << parsed.error->message;
    using Kind = RegImportOperation::Kind;
    const std::vector<RegImportOperation>& ops = parsed.operations;
    ASSERT_EQ(ops.size(), 11u);
    EXPECT_EQ(ops[0].kind, Kind::CreateKey);
    EXPECT_EQ(ops[0].root, HKeyCurrentUser);
    EXPECT_EQ(ops[0].subKey, u"Software\\Demo");
    EXPECT_EQ(ops[1].valueName, u"");
    EXPECT_EQ(ops[1].data, ToUtf16LeBytes(u"C:\\Tools\\demo.exe", true));
    EXPECT_EQ(ops[2].valueName, u"Quote\"d");
    EXPECT_EQ(ops[3].valueName, u"@");
    EXPECT_EQ(ops[4].type, RegDword);
    EXPECT_EQ(ops[4].data, Bytes({0x2c, 0x01, 0, 0}));
    EXPECT_EQ(ops[5].data, Bytes({1, 2, 0xff}));
    EXPECT_EQ(ops[5].line, 10u);
    // String types given as hex keep their bytes exactly, a terminator is not added.
    EXPECT_EQ(ops[6].type, RegSz);
    EXPECT_EQ(ops[6].data, Bytes({0x41, 0, 0}));
    EXPECT_EQ(ops[7].type, 0xffff0012u);
    EXPECT_TRUE(ops[8].data.empty());
    EXPECT_EQ(ops[9].kind, Kind::DeleteValue);
    EXPECT_EQ(ops[10].kind, Kind::DeleteKey);
}

TEST(RegImportTest, DamagedFilesNameTheirLineAndChangeNothing) {
    struct {
        std::string_view text;
        std::size_t line;
    } cases[] = {
        {"REGEDIT5\n", 1},
        {"REGEDIT4\n[HKEY_NOWHERE\\x]\n", 2},
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2},
        {"REGEDIT4\n\"v\"=\"before any key\"\n", 2},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x\n", 2},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:0g\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=\"unterminated\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=str(2):\"x\"\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"v\"=hex:01,\\\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\x]\ngarbage\n", 3},
    };
    auto registry = MakeRegistry("");
    RegistryTarget target{registry.get(), false, {}};
    testing::CTempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        RegImportParse parsed = ParseRegFile(AnsiFile(c.text));
        ASSERT_TRUE(parsed.error);
        EXPECT_EQ(parsed.error->line, c.line);
        EXPECT_TRUE(parsed.operations.empty());
        std::filesystem::path file = folder.Write("damaged.reg", std::string(c.text) + "\n");
        std::optional<std::string> failure = ImportRegFile(target, false, hostFiles, file);
        ASSERT_TRUE(failure);
        EXPECT_NE(failure->find("nothing was imported"), std::string::npos);
        EXPECT_FALSE(testing::KeyExists(*registry, HKeyCurrentUser, u"x"));
    }
}

TEST(RegImportTest, AnsiFilesDecodeAsWindows1252) {
    RegImportParse parsed =
        ParseRegFile(AnsiFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Caf\xe9]\n"
                              "\"Price\"=\"5 \x80\"\n"));
    ASSERT_FALSE(parsed.error);
    EXPECT_EQ(parsed.operations[0].subKey, u"Caf\u00e9");
    EXPECT_EQ(parsed.operations[1].data, ToUtf16LeBytes(u"5 \u20ac", true));
}

// What the export writer records, the importer puts back byte for byte.
TEST(RegImportTest, ExportThenImportRestoresTheKey) {
    auto original = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Demo]
        @="C:\\Tools\\demo.exe"
        "@"="a value named @"
        "Quote\"d"="a\\b\"c"
        "Count"=dword:0000012c
        "Odd"=hex(1):41,00,00
        "Embedded"=hex(1):61,00,00,00,62,00,00,00
        "Lines"=str(7):"one\0two\0"
        "Path"=str(2):"%SystemRoot%\\x"
        "Empty"=hex:
        "Q"=qword:0000000100000000
        [HKEY_CURRENT_USER\Software\Demo\Sub\Deeper]
        "v"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e
    )");
    RegistryTarget source{original.get(), false, {}};
    CRegExport writer(source);
    ASSERT_TRUE(writer.ExportKey(HKeyCurrentUser, u"Software\\Demo", false));
    testing::CTempFolder folder;
    ASSERT_EQ(writer.SaveToFile(hostFiles, folder.Path() / "undo.reg"), std::nullopt);

    auto restored = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Demo]
        "Count"=dword:00000001
    )");
    RegistryTarget target{restored.get(), false, {}};
    ASSERT_EQ(ImportRegFile(target, false, hostFiles, folder.Path() / "undo.reg"), std::nullopt);
    for (std::u16string_view name : {u"", u"@", u"Quote\"d", u"Count", u"Odd", u"Embedded",
                                     u"Lines", u"Path", u"Empty", u"Q"}) {
        SCOPED_TRACE(Utf16ToUtf8(name));
        EXPECT_EQ(ValueBytes(*restored, HKeyCurrentUser, u"Software\\Demo", name),
                  ValueBytes(*original, HKeyCurrentUser, u"Software\\Demo", name));
    }
    EXPECT_EQ(ValueBytes(*restored, HKeyCurrentUser, u"Software\\Demo\\Sub\\Deeper", u"v"),
              ValueBytes(*original, HKeyCurrentUser, u"Software\\Demo\\Sub\\Deeper", u"v"));

    // A deletion line removes what a change created; a key deletion removes the tree.
    ASSERT_EQ(ApplyRegOperations(
                  target, false,
                  ParseRegFile(Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                         u"[HKEY_CURRENT_USER\\Software\\Demo]\r\n\"Q\"=-\r\n"
                                         u"[-HKEY_CURRENT_USER\\Software\\Demo\\Sub]\r\n"))
                      .operations),
              std::nullopt);
    EXPECT_FALSE(ValueBytes(*restored, HKeyCurrentUser, u"Software\\Demo", u"Q"));
    EXPECT_FALSE(testing::KeyExists(*restored, HKeyCurrentUser, u"Software\\Demo\\Sub"));
}

// An import records what undoes it: replaced and deleted values and keys as they were,
// deletions for what it creates.
TEST(RegImportTest, RecordedUndoPutsTheRegistryBack) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Environment]
        "TEMP"="C:\\temp"
        [HKEY_CURRENT_USER\Software\Old\Child]
        "v"=dword:00000001
    )");
    const std::string before = FormatRegTree(registry->Tree());
    RegImportParse parsed = ParseRegFile(Utf16File(
        u"Windows Registry Editor Version 5.00\r\n"
        u"[HKEY_CURRENT_USER\\Software\\New\\Deep]\r\n\"v\"=\"1\"\r\n"
        u"[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"D:\\\\x\"\r\n\"Added\"=dword:00000005\r\n"
        u"[-HKEY_CURRENT_USER\\Software\\Old]\r\n"));
    ASSERT_FALSE(parsed.error);
    RegistryTarget target{registry.get(), false, {}};
    CRegExport undo(target);
    RecordUndoOf(target, false, parsed.operations, undo);
    ASSERT_EQ(ApplyRegOperations(target, false, parsed.operations), std::nullopt);
    EXPECT_NE(FormatRegTree(registry->Tree()), before);

    // Undo applies the recorded blocks newest first, as the partial backup does.
    RegImportParse recorded = ParseRegFile(Utf16File(undo.Text()));
    ASSERT_FALSE(recorded.error) << recorded.error->message;
    std::vector<RegImportOperation> newestFirst;
    std::size_t end = recorded.operations.size();
    for (std::size_t i = recorded.operations.size(); i-- > 0;) {
        using Kind = RegImportOperation::Kind;
        const auto kind = recorded.operations[i].kind;
        if (kind == Kind::CreateKey || kind == Kind::DeleteKey) {
            for (std::size_t k = i; k < end; ++k)
                newestFirst.push_back(std::move(recorded.operations[k]));
            end = i;
        }
    }
    ASSERT_EQ(ApplyRegOperations(target, false, newestFirst), std::nullopt);
    EXPECT_EQ(FormatRegTree(registry->Tree()), before);
}

// A file may name a key it creates many times, in any case, across blocks and values: the
// undo deletes it once, and its values go with it.
TEST(RegImportTest, UndoDeletesAKeyCreatedUnderManySpellingsOnce) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kept]
        "v"=dword:00000001
    )");
    const std::string before = FormatRegTree(registry->Tree());
    const std::vector<std::uint8_t> file = Utf16File(
        u"Windows Registry Editor Version 5.00\r\n"
        u"[HKEY_CURRENT_USER\\Software\\New\\Deep]\r\n\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n"
        u"[HKEY_CURRENT_USER\\Software\\NEW\\deep]\r\n\"c\"=hex:01\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Kept]\r\n\"w\"=\"added\"\r\n"
        u"[HKEY_CURRENT_USER\\Software\\new\\DEEP]\r\n\"a\"=-\r\n\"d\"=\"4\"\r\n");
    RegistryTarget target{registry.get(), false, {}};

    struct Case {
        const char* name;
        bool perBlock;  // recorded and applied a block at a time, as the command line does
    } cases[] = {{"whole file at once", false}, {"a block at a time", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRegExport undo(target);
        std::vector<RegImportOperation> all;
        ASSERT_FALSE(ReadRegText(file, [&](std::span<const RegImportOperation> block) {
            all.insert(all.end(), block.begin(), block.end());
            if (!c.perBlock)
                return std::optional<std::string>();
            RecordUndoOf(target, false, block, undo);
            return ApplyRegOperations(target, false, block);
        }));
        if (!c.perBlock) {
            RecordUndoOf(target, false, all, undo);
            ASSERT_EQ(ApplyRegOperations(target, false, all), std::nullopt);
        }
        const std::u16string text = undo.Text();
        std::size_t deletions = 0;
        for (std::size_t at = text.find(u"[-"); at != std::u16string::npos;
             at = text.find(u"[-", at + 1)) {
            ++deletions;
        }
        EXPECT_EQ(deletions, 1u) << Utf16ToUtf8(text);

        // Undone as a partial backup undoes: every operation of the copy, newest first.
        RegImportParse recorded = ParseRegFile(Utf16File(text));
        ASSERT_FALSE(recorded.error) << recorded.error->message;
        std::reverse(recorded.operations.begin(), recorded.operations.end());
        ASSERT_EQ(ApplyRegOperations(target, false, recorded.operations), std::nullopt);
        EXPECT_EQ(FormatRegTree(registry->Tree()), before);
    }
}

}  // namespace
}  // namespace quillary
