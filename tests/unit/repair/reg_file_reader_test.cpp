// Reading registry export text a key block at a time.

#include "repair/reg_file_reader.h"
#include "targets/posix/posix_file_io.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "core/text_encoding.h"
#include "support/shared_testdata.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

// The host's files, for the set-up and the checks of these tests.
CPosixFileIo hostFiles;

using Kind = RegImportOperation::Kind;

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> Utf16File(std::u16string_view text) {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    const std::vector<std::uint8_t> body = ToUtf16LeBytes(text, false);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

std::string Utf16Text(std::u16string_view text) {
    const std::vector<std::uint8_t> bytes = Utf16File(text);
    return std::string(bytes.begin(), bytes.end());
}

std::string KeyLineAtDepth(std::size_t depth) {
    std::string line = "[HKEY_CURRENT_USER";
    for (std::size_t i = 0; i < depth; ++i) {
        line += "\\k";
    }
    return line + "]\n";
}

// What a reader leaves behind when it cannot trust the text, and the line it names.
TEST(RegFileReaderTest, DamagedTextsAreRefusedAtTheirLine) {
    const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n";
    const std::string utf8Head = "\xEF\xBB\xBF" + head;
    struct {
        const char* why;
        std::string text;
        std::size_t line;
    } cases[] = {
        // A hex value cut short: its last line lost its backslash, its last digit or the
        // rest of the file.
        {"ends in a comma", head + "\"v\"=hex:01,02,\n", 3},
        {"a line that ends in a comma", head + "\"v\"=hex:01,02,\n\"w\"=\"x\"\n", 3},
        {"a one-digit byte", head + "\"v\"=hex:01,2\n", 3},
        {"cut in a continued byte", head + "\"v\"=hex:01,\\\n  02,0", 4},
        {"cut after a continued byte", head + "\"v\"=hex:01,\\\n  02", 3},
        {"cut after a continuation's comma", head + "\"v\"=hex:01,\\\n  02,", 4},
        // Deeper keys than a registry holds.
        {"a key 513 deep", "REGEDIT4\n" + KeyLineAtDepth(513), 2},
        {"a key 15000 deep", "REGEDIT4\n" + KeyLineAtDepth(15000), 2},
        // Text that is not in the encoding it claims.
        {"invalid UTF-8", utf8Head + "\"v\"=\"\xC3\x28\"\n", 3},
        {"an overlong UTF-8 form", utf8Head + "\"v\"=\"\xC0\xAF\"\n", 3},
        {"cut in a UTF-8 character", utf8Head + "; caf\xC3", 3},
        {"cut in a UTF-16 unit", Utf16Text(u"REGEDIT4\n; comment") + "H", 2},
        // No header: an empty text, and a first line far too long to be one.
        {"empty", "", 0},
        {"a megabyte of NULs", std::string(1 << 20, '\0'), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        int blocks = 0;
        const std::optional<RegImportError> error =
            ReadRegText(Bytes(c.text), [&blocks](std::span<const RegImportOperation>) {
                ++blocks;
                return std::optional<std::string>();
            });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->line, c.line) << error->message;
        // The damage lies in the first block: it is never handed on.
        EXPECT_EQ(blocks, 0);
    }
    // What the damaged texts miss is read well.
    for (const std::string& text : {head + "\"v\"=hex:01,\\\n  02\n", head + "\"v\"=hex:01,02",
                                    "REGEDIT4\n" + KeyLineAtDepth(512)}) {
        SCOPED_TRACE(text.substr(0, 60));
        EXPECT_FALSE(ParseRegFile(Bytes(text)).error.has_value());
    }
}

// UTF-8 after its byte-order mark is read as UTF-8, not as 8-bit text.
TEST(RegFileReaderTest, Utf8WithItsMarkIsReadAsUtf8) {
    const RegImportParse parsed =
        ParseRegFile(Bytes("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9]\r\n"
                           "\"Caf\xC3\xA9\"=\"na\xC3\xAFve \xE2\x82\xAC \xF0\x9F\x98\x80\"\r\n"));
    ASSERT_FALSE(parsed.error.has_value()) << parsed.error->message;
    ASSERT_EQ(parsed.operations.size(), 2u);
    EXPECT_EQ(parsed.operations[0].subKey, u"Software\\Caf\u00e9");
    EXPECT_EQ(parsed.operations[1].valueName, u"Caf\u00e9");
    EXPECT_EQ(parsed.operations[1].data, ToUtf16LeBytes(u"na\u00efve \u20ac \U0001F600", true));
}

// Each key block goes to the handler as soon as it is complete: blocks before damage are
// handled, and a handler's message stops the reading at its block's key line.
TEST(RegFileReaderTest, HandsOnBlocksOneAtATime) {
    const std::string text =
        "REGEDIT4\n\n"
        "[HKEY_CURRENT_USER\\a]\n"
        "\"v\"=\"1\"\n"
        "[-HKEY_CURRENT_USER\\b]\n"
        "\n"
        "[HKEY_CURRENT_USER\\c]\n"
        "\"w\"=dword:1\n"
        "\"x\"=hex:01,\\\n"
        "  02\n";
    struct Block {
        Kind kind;
        std::u16string key;
        std::size_t operations;
        bool operator==(const Block&) const = default;
    };
    std::vector<Block> handed;
    std::optional<std::size_t> stopAt;
    const auto handler = [&](std::span<const RegImportOperation> block) {
        handed.push_back({block.front().kind, block.front().subKey, block.size()});
        if (stopAt && handed.size() == *stopAt) {
            return std::optional<std::string>("refused here");
        }
        return std::optional<std::string>();
    };

    EXPECT_FALSE(ReadRegText(Bytes(text), handler).has_value());
    EXPECT_EQ(handed, (std::vector<Block>{{Kind::CreateKey, u"a", 2},
                                          {Kind::DeleteKey, u"b", 1},
                                          {Kind::CreateKey, u"c", 3}}));

    handed.clear();
    stopAt = 2;
    const std::optional<RegImportError> stopped = ReadRegText(Bytes(text), handler);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(stopped->line, 5u);
    EXPECT_EQ(stopped->message, "refused here");
    EXPECT_EQ(handed.size(), 2u);

    handed.clear();
    stopAt.reset();
    const std::optional<RegImportError> damaged =
        ReadRegText(Bytes(text + "garbage\n[HKEY_CURRENT_USER\\d]\n"), handler);
    ASSERT_TRUE(damaged.has_value());
    EXPECT_EQ(damaged->line, 11u);
    EXPECT_EQ(handed.size(), 2u);
}

// A file is read a megabyte at a time: a character or a line break split between two pieces
// is read as if it were whole.
TEST(RegFileReaderTest, ReadsFilesAcrossTheirPieces) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    testing::CTempFolder folder;
    // "é" is C3 A9: its first byte ends the first piece.
    std::string utf8 = "\xEF\xBB\xBFREGEDIT4\n;";
    const std::string key = "\n[HKEY_CURRENT_USER\\Caf";
    utf8 += std::string(kPiece - 1 - utf8.size() - key.size(), 'x') + key;
    ASSERT_EQ(utf8.size(), kPiece - 1);
    utf8 += "\xC3\xA9]\n\"v\"=\"1\"\n";
    // The CR of a line break ends the first piece, its LF starts the second.
    std::u16string utf16 = u"Windows Registry Editor Version 5.00\r\n;";
    utf16 += std::u16string((kPiece - 2) / 2 - 1 - utf16.size(), u'x');
    utf16 += u"\r\n[HKEY_CURRENT_USER\\Caf\u00e9]\r\n\"v\"=\"1\"\r\n";
    const std::vector<std::uint8_t> utf16Bytes = Utf16File(utf16);
    ASSERT_EQ(utf16Bytes[kPiece - 2], '\r');

    for (const auto& [name, bytes] :
         {std::pair{"utf8.reg", Bytes(utf8)}, std::pair{"utf16.reg", utf16Bytes}}) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = folder.Write(
            name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        std::vector<RegImportOperation> operations;
        const std::optional<RegImportError> error =
            ReadRegFile(hostFiles, path, [&operations](std::span<const RegImportOperation> block) {
                operations.insert(operations.end(), block.begin(), block.end());
                return std::optional<std::string>();
            });
        ASSERT_FALSE(error.has_value()) << error->line << ": " << error->message;
        ASSERT_EQ(operations.size(), 2u);
        EXPECT_EQ(operations[0].subKey, u"Caf\u00e9");
        EXPECT_EQ(operations[0].line, 3u);
        EXPECT_EQ(operations[1].data, ToUtf16LeBytes(u"1", true));
    }
}

TEST(RegFileReaderTest, ReadsOnlyRegularFiles) {
    testing::CTempFolder folder;
    const std::filesystem::path pipe = folder.Path() / "pipe.reg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::filesystem::path& path : {pipe, folder.Path()}) {
        SCOPED_TRACE(path.string());
        const std::optional<RegImportError> error =
            ReadRegFile(hostFiles, path, [](auto) { return std::optional<std::string>(); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->line, 0u);
        EXPECT_EQ(error->message, path.string() + " is not a regular file");
    }
}

// Exports written by Windows' Registry Editor are read whole; one cut short anywhere in a
// wrapped hex value is refused.
TEST(RegFileReaderTest, RealExportsAndCutCopiesOfThem) {
    const std::optional<std::filesystem::path> exports = testing::SharedTestData("reg");
    if (!exports) {
        GTEST_SKIP() << "the shared test data (shared/testdata/reg) is not here";
    }
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*exports)) {
        if (entry.path().extension() != ".reg") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        ++files;
        std::size_t keys = 0;
        const std::optional<RegImportError> error =
            ReadRegFile(hostFiles, entry.path(), [&keys](std::span<const RegImportOperation>) {
                ++keys;
                return std::optional<std::string>();
            });
        EXPECT_FALSE(error.has_value()) << error->line << ": " << error->message;
        EXPECT_GT(keys, 0u);
    }
    EXPECT_GT(files, 0);

    std::ifstream stream(*exports / "LANCommander-RegParser" / "frogger.reg", std::ios::binary);
    const std::vector<std::uint8_t> frogger((std::istreambuf_iterator<char>(stream)),
                                            std::istreambuf_iterator<char>());
    ASSERT_GT(frogger.size(), 1000u);
    // Its middle falls in a wrapped value: "...,00,0f," then "27,00,...".
    for (const std::size_t cut : {frogger.size() / 2 - 4, frogger.size() / 2 - 2,
                                  frogger.size() / 2, frogger.size() / 2 + 1}) {
        SCOPED_TRACE(cut);
        EXPECT_TRUE(ParseRegFile(std::span(frogger).first(cut)).error.has_value());
    }
}

}  // namespace
}  // namespace quillary
