#include "repair/reg_export.h"
#include "targets/posix/posix_file_io.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

// The host's files, for the set-up and the checks of these tests.
CPosixFileIo hostFiles;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

std::vector<std::uint8_t> Utf16(std::u16string_view text) {
    return ToUtf16LeBytes(text, false);
}

TEST(RegExportTest, ValueLinesByType) {
    struct {
        const char* why;
        std::u16string_view name;
        RegType type;
        std::vector<std::uint8_t> data;
        std::u16string_view line;
    } cases[] = {
        {"string with escapes", u"Na\\me\"", RegSz, Utf16(std::u16string(u"C:\\a\"b\0", 7)),
         u"\"Na\\\\me\\\"\"=\"C:\\\\a\\\"b\"\r\n"},
        {"default value", u"", RegSz, Utf16(std::u16string(u"x\0", 2)), u"@=\"x\"\r\n"},
        // A text of several lines stays on its one line.
        {"line breaks", u"L\n", RegSz, Utf16(std::u16string(u"a\r\nb\0", 5)),
         u"\"L\\n\"=\"a\\r\\nb\"\r\n"},
        // A value literally named "@" must not turn into the default value on import.
        {"value named @", u"@", RegSz, Utf16(std::u16string(u"x\0", 2)), u"\"@\"=\"x\"\r\n"},
        {"dword", u"Count", RegDword, Bytes({0x2c, 0x01, 0, 0}), u"\"Count\"=dword:0000012c\r\n"},
        {"dword max", u"M", RegDword, Bytes({0xff, 0xff, 0xff, 0xff}), u"\"M\"=dword:ffffffff\r\n"},
        {"binary", u"Blob", RegBinary, Bytes({1, 2, 255}), u"\"Blob\"=hex:01,02,ff\r\n"},
        {"empty binary", u"E", RegBinary, {}, u"\"E\"=hex:\r\n"},
        {"expandable", u"P", RegExpandSz, Utf16(std::u16string(u"%a%\0", 4)),
         u"\"P\"=hex(2):25,00,61,00,25,00,00,00\r\n"},
        {"qword", u"Q", RegQword, Bytes({1, 0, 0, 0, 0, 0, 0, 0}),
         u"\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"},
        // String data that is not one terminated string keeps its bytes.
        {"odd-sized string", u"S", RegSz, Bytes({0x41, 0, 0}), u"\"S\"=hex(1):41,00,00\r\n"},
        {"embedded NUL", u"S", RegSz, Utf16(std::u16string(u"a\0b\0", 4)),
         u"\"S\"=hex(1):61,00,00,00,62,00,00,00\r\n"},
        {"no terminator", u"S", RegSz, Utf16(u"ab"), u"\"S\"=hex(1):61,00,62,00\r\n"},
        {"short dword", u"D", RegDword, Bytes({1, 2}), u"\"D\"=hex(4):01,02\r\n"},
        {"large type", u"T", 0xffff0012u, Bytes({7}), u"\"T\"=hex(ffff0012):07\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(CRegExport::FormatValue(c.name, c.type, c.data), c.line);
    }
}

TEST(RegExportTest, HexWrapsByTheRunningCount) {
    std::vector<std::uint8_t> thirty(30, 0xab);
    std::u16string text = CRegExport::FormatValue(u"", RegBinary, thirty);
    std::size_t firstBreak = text.find(u"\\\r\n");
    ASSERT_NE(firstBreak, std::u16string::npos);
    // "@=hex:" and 24 bytes, then the 6 left on the next line.
    EXPECT_EQ(firstBreak, 6u + 24 * 3);
    EXPECT_EQ(text.substr(firstBreak + 3), u"  ab,ab,ab,ab,ab,ab\r\n");

    std::u16string named = CRegExport::FormatValue(u"Data", RegBinary, thirty);
    EXPECT_EQ(named.find(u"\\\r\n"), 11u + 22 * 3);
    for (std::u16string_view line : {std::u16string_view(text), std::u16string_view(named)}) {
        std::size_t start = 0;
        while (start < line.size()) {
            std::size_t end = line.find(u"\r\n", start);
            EXPECT_LE(end - start, 80u);
            start = end + 2;
        }
    }
}

TEST(RegExportTest, ExportKeyWalksDepthFirstAndSkipsWow6432Node) {
    auto registry = testing::MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Demo]
        @="C:\\Tools\\demo.exe"
        "Count"=dword:0000012c
        [HKEY_LOCAL_MACHINE\SOFTWARE\Demo\A]
        "v"="1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Demo\A\Deep]
        [HKEY_LOCAL_MACHINE\SOFTWARE\Demo\B]
        [HKEY_LOCAL_MACHINE\SOFTWARE\Demo\Wow6432Node\Hidden]
        [HKEY_CURRENT_CONFIG\Software\X]
    )");
    RegistryTarget target{registry.get(), true, {}};
    CRegExport writer(target);
    EXPECT_TRUE(writer.ExportKey(HKeyLocalMachine, u"SOFTWARE\\Demo", true));
    EXPECT_EQ(writer.Text(),
              u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
              u"@=\"C:\\\\Tools\\\\demo.exe\"\r\n"
              u"\"Count\"=dword:0000012c\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\A]\r\n"
              u"\"v\"=\"1\"\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\A\\Deep]\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\B]\r\n");

    CRegExport refused(target);
    EXPECT_FALSE(refused.ExportKey(HKeyLocalMachine, u"SOFTWARE\\Demo\\WOW6432NODE\\Hidden", true));
    EXPECT_FALSE(refused.ExportKey(HKeyCurrentConfig, u"Software\\X", true));
    EXPECT_FALSE(refused.ExportKey(HKeyLocalMachine, u"SOFTWARE\\Missing", true));
    EXPECT_EQ(refused.Text(), u"Windows Registry Editor Version 5.00\r\n");

    // A missing value leaves its key block and reports false.
    EXPECT_FALSE(refused.ExportValue(HKeyLocalMachine, u"SOFTWARE\\Demo", u"Missing", true));
    EXPECT_TRUE(refused.ExportValue(HKeyLocalMachine, u"SOFTWARE\\Demo", u"Count", true));
    refused.ExportValueDeletion(HKeyLocalMachine, u"SOFTWARE\\Demo", u"New");
    EXPECT_EQ(refused.Text(),
              u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
              u"\"Count\"=dword:0000012c\r\n"
              u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"
              u"\"New\"=-\r\n");
}

TEST(RegExportTest, LargeValuesAreKeptWholeAndFilesStartWithTheMark) {
    auto registry = testing::MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Big]
        "a"="before"
        [HKEY_CURRENT_USER\Software\Big\Child]
    )");
    HKey key = HKey::None;
    ASSERT_EQ(registry->RegOpenKeyExW(HKeyCurrentUser, u"Software\\Big", 0, KeyReadWrite, &key),
              ErrorSuccess);
    std::vector<std::uint8_t> big(5 * 1024 * 1024, 0x5a);
    ASSERT_EQ(registry->RegSetValueExW(key, u"big", RegBinary, big.data(),
                                       static_cast<std::uint32_t>(big.size())),
              ErrorSuccess);
    ASSERT_EQ(
        registry->RegSetValueExW(key, u"z", RegSz, Utf16(std::u16string(u"after\0", 6)).data(), 12),
        ErrorSuccess);
    registry->RegCloseKey(key);

    RegistryTarget target{registry.get(), false, {}};
    CRegExport writer(target);
    ASSERT_TRUE(writer.ExportKey(HKeyCurrentUser, u"Software\\Big", false));
    std::u16string text = writer.Text();
    EXPECT_NE(text.find(u"\"z\"=\"after\""), std::u16string::npos);
    EXPECT_NE(text.find(u"[HKEY_CURRENT_USER\\Software\\Big\\Child]"), std::u16string::npos);
    EXPECT_GT(text.size(), big.size() * 3);

    testing::CTempFolder folder;
    CRegExport empty(target);
    ASSERT_EQ(empty.SaveToFile(hostFiles, folder.Path() / "x.reg"), std::nullopt);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(hostFiles.ReadWholeFile(folder.Path() / "x.reg", 1024, bytes), std::nullopt);
    std::vector<std::uint8_t> expected = {0xFF, 0xFE};
    std::vector<std::uint8_t> header = Utf16(u"Windows Registry Editor Version 5.00\r\n");
    expected.insert(expected.end(), header.begin(), header.end());
    EXPECT_EQ(bytes, expected);
}

}  // namespace
}  // namespace quillary
