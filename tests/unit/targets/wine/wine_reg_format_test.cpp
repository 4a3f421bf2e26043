// Reading and writing Wine's registry files.

#include "targets/wine/wine_reg_reader.h"
#include "targets/wine/wine_reg_writer.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "platform/clock.h"

namespace quillary {
namespace {

// A file as Wine writes it: implicit keys, a link, a class, Unicode and control characters in
// names, every value form and a wrapped hex run.
constexpr std::string_view kSystemReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\A\\B] 1796861392
#time=1dd883ac71e8de0
"Name"="value"

[Software\\Classes\\Wow6432Node\\AppId] 1796861387
#time=1dd883ac4a6195c
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\
  74,00,77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,\
  00,5c,00,41,00,70,00,70,00,49,00,64,00

[Software\\RegTest\\Sub\[1\]\\\xdcn\xef] 1796861391
#time=1dd883ac6f474a6
#class="cls \"q\" \\"
@=""
"bin"=hex:
"ctl"="\a\0015\1x\x1234x\x00e9a\xe9\xd83d\xde00\e"
"dw"=dword:0000012c
"e"=str(2):"%SystemRoot%\\system32"
"m"=str(7):"line1\0line2\0"
"odd"=hex(1):41,00,00,00,00
"q"=hex(b):01,00,00,00,00,00,00,00
"short"=hex(4):01,02
"unterminated"=hex(7):61,00

[System\\Empty] 1796861391
#time=1dd883ac6f474a6
)";

struct Loaded {
    CRegistryNode root{u"", KeyOrder::LowerCase, true};
    WineRegHeader header;
    std::vector<WineRegDiagnostic> diagnostics;
    bool understood = false;
};

std::unique_ptr<Loaded> Load(std::string_view text) {
    auto loaded = std::make_unique<Loaded>();
    loaded->understood = ReadWineRegFile(text, "system.reg", loaded->root, 0x1d000000000000,
                                         &loaded->header, &loaded->diagnostics);
    return loaded;
}

TEST(WineRegFormatTest, WritesBackExactlyWhatItRead) {
    const auto loaded = Load(kSystemReg);
    ASSERT_TRUE(loaded->understood) << DescribeDiagnostic(loaded->diagnostics.front());
    EXPECT_EQ(loaded->header.arch, "win64");
    EXPECT_EQ(FormatWineRegFile(loaded->root, loaded->header), kSystemReg);
}

TEST(WineRegFormatTest, DecodesNamesEscapesAndValues) {
    const auto loaded = Load(kSystemReg);
    const CRegistryNode* key = loaded->root.FindChild(u"software")
                                   ->FindChild(u"regtest")
                                   ->FindChild(u"sub[1]")
                                   ->FindChild(u"\u00dcn\u00ef");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->className, u"cls \"q\" \\");
    const RegValue* control = key->FindValue(u"ctl");
    ASSERT_NE(control, nullptr);
    const std::u16string expected =
        u"\a\x01"
        u"5\x01x\u1234x\u00e9a\u00e9\U0001F600\x1b";
    std::u16string text;
    for (std::size_t i = 0; i + 2 < control->data.size(); i += 2) {
        text += static_cast<char16_t>(control->data[i] | (control->data[i + 1] << 8));
    }
    EXPECT_EQ(text, expected);
    EXPECT_EQ(key->FindValue(u"dw")->data, std::vector<std::uint8_t>({0x2c, 1, 0, 0}));
    EXPECT_EQ(key->FindValue(u"m")->data.size(), 26u);
    EXPECT_EQ(key->lastWriteTime, 0x1dd883ac6f474a6u);
    const CRegistryNode* link =
        loaded->root.FindChild(u"Software")->FindChild(u"Classes")->FindChild(u"Wow6432Node");
    EXPECT_TRUE(link->FindChild(u"AppId")->isLink);
    // Implicit keys get the load time.
    EXPECT_EQ(loaded->root.FindChild(u"Software")->lastWriteTime, 0x1d000000000000u);
}

TEST(WineRegFormatTest, AcceptsWhatWineAcceptsAndWritesItCanonically) {
    const auto loaded = Load(
        "WINE REGISTRY Version 2\r\n"
        ";; All keys relative to REGISTRY\\\\Machine\r\n"
        "#arch=win64\r\n"
        "#unknown-option\r\n"
        "[Software\\\\Key] 1700000000\r\n"
        "\"a\" = str:\"x\"\r\n"
        "\"b\"=dword:ABCDEF01\r\n"
        "\"a\"=\"replaced\"\r\n"
        "\"raw\"=\"caf\xc3\xa9 \\q\"\r\n"
        "[software\\\\KEY] 1700000000\r\n"
        "\"c\"=hex:1,2\r\n");
    ASSERT_TRUE(loaded->understood) << DescribeDiagnostic(loaded->diagnostics.front());
    const CRegistryNode* key = loaded->root.FindChild(u"Software")->FindChild(u"Key");
    ASSERT_EQ(key->Values().size(), 4u);
    EXPECT_EQ(key->FindValue(u"a")->data.size(), 18u);
    EXPECT_EQ(key->FindValue(u"b")->data, std::vector<std::uint8_t>({1, 0xef, 0xcd, 0xab}));
    EXPECT_EQ(key->FindValue(u"c")->data, std::vector<std::uint8_t>({1, 2}));
    EXPECT_EQ(key->FindValue(u"raw")->data[6], 0xe9);
    EXPECT_EQ(key->lastWriteTime,
              ToFileTime(std::chrono::system_clock::time_point(std::chrono::seconds(1700000000))));
    const std::string written = FormatWineRegFile(loaded->root, loaded->header);
    EXPECT_NE(
        written.find("\n[Software\\\\Key] 1700000000\n#time=1da1747c66d0000\n\"a\"=\"replaced\"\n"
                     "\"b\"=dword:abcdef01\n\"c\"=hex:01,02\n\"raw\"=\"caf\\xe9 q\"\n"),
        std::string::npos)
        << written;
}

// Files are read expecting each key line to share most of its path with the line before;
// lines out of order, in another case or shorter than the last must still land on the keys
// their names mean.
TEST(WineRegFormatTest, KeyLinesInAnyOrderAndCaseFindTheirKeys) {
    const auto loaded = Load(
        "WINE REGISTRY Version 2\n"
        "[B\\\\Caf\\xe9] 1\n\"v\"=\"1\"\n"
        "[b\\\\CAF\\xc9\\\\Deeper] 2\n\"v\"=\"2\"\n"
        "[B] 3\n\"v\"=\"3\"\n"
        "[A\\\\X\\\\Same] 4\n"
        "[B\\\\Another\\\\Same] 5\n"
        "[B\\\\Caf\\xe9\\\\Deeper] 6\n\"w\"=\"6\"\n");
    ASSERT_TRUE(loaded->understood) << DescribeDiagnostic(loaded->diagnostics.front());
    const CRegistryNode& root = loaded->root;
    const auto at = [](std::int64_t seconds) {
        return ToFileTime(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
    };
    ASSERT_EQ(root.ChildCount(), 2u);
    EXPECT_EQ(root.ChildAt(0)->FindChild(u"X")->FindChild(u"Same")->lastWriteTime, at(4));
    const CRegistryNode* b = root.ChildAt(1);
    EXPECT_EQ(b->Name(), u"B");
    ASSERT_EQ(b->ChildCount(), 2u);
    ASSERT_EQ(b->ChildAt(0)->ChildCount(), 1u);
    EXPECT_EQ(b->ChildAt(0)->ChildAt(0)->lastWriteTime, at(5));
    const CRegistryNode* cafe = b->ChildAt(1);
    EXPECT_EQ(cafe->Name(), u"Caf\u00e9");
    ASSERT_EQ(cafe->ChildCount(), 1u);
    const CRegistryNode* deeper = cafe->ChildAt(0);
    EXPECT_EQ(deeper->Values().size(), 2u);
    EXPECT_EQ(deeper->lastWriteTime, at(6));
    EXPECT_EQ(b->FindValue(u"v")->data, ToUtf16LeBytes(u"3", true));
}

TEST(WineRegFormatTest, ReportsWhatItDoesNotUnderstand) {
    struct Case {
        std::string_view name;
        std::string text;
        std::size_t line;
    } cases[] = {
        {"wrong header", "WINE REGISTRY Version 3\n[A] 1\n", 1},
        {"unknown line", "WINE REGISTRY Version 2\n[A] 1\nnonsense\n", 3},
        {"truncated hex", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:01,\\\n", 3},
        {"bad hex", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:01,zz\n", 3},
        {"unknown type", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=blob:01\n", 3},
        {"bad type number", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex(q):01\n", 3},
        {"long dword", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=dword:123456789\n", 3},
        {"NUL byte", std::string("WINE REGISTRY Version 2\n[A] 1\n\"v\"=\"a\0b\"\n", 36), 3},
        {"invalid UTF-8", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=\"\xff\"\n", 3},
        {"unclosed key", "WINE REGISTRY Version 2\n[A\n", 2},
        {"unclosed string", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=\"abc\n", 3},
        {"value before key", "WINE REGISTRY Version 2\n\"v\"=\"abc\"\n", 2},
        {"bad time", "WINE REGISTRY Version 2\n[A] 1x\n", 2},
        // Wine ends every line with a line break: a file without one at its end was cut, and
        // the cut line may still look whole.
        {"cut after a value", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=\"x\"", 3},
        {"cut in a hex byte", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:f5,ff,f", 3},
        {"cut after a hex comma", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:f5,ff,", 3},
        {"cut in a continuation", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:f5,\\\n  ff", 4},
        {"cut in a dword", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=dword:000", 3},
        {"cut in a key's time", "WINE REGISTRY Version 2\n[Control Panel\\\\Colors] 1796", 2},
        {"cut in #time", "WINE REGISTRY Version 2\n[A] 1\n#time=1dd8", 3},
        {"hex line ending in a comma", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=hex:f5,ff,\n[B] 1\n",
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto loaded = Load(c.text);
        EXPECT_FALSE(loaded->understood);
        ASSERT_FALSE(loaded->diagnostics.empty());
        EXPECT_EQ(loaded->diagnostics.front().line, c.line);
        EXPECT_EQ(loaded->diagnostics.front().file, "system.reg");
    }
}

// Keys lie at most 512 deep below the key a file is relative to. A deeper one is reported and
// left out, and a far deeper one does not exhaust the stack when the tree is freed.
TEST(WineRegFormatTest, KeysDeeperThanTheLimitAreRefused) {
    const auto fileWithKeyAt = [](std::size_t depth) {
        std::string text = "WINE REGISTRY Version 2\n[k";
        for (std::size_t i = 1; i < depth; ++i) {
            text += "\\\\k";
        }
        return text + "] 1\n\"v\"=\"x\"\n";
    };
    EXPECT_TRUE(Load(fileWithKeyAt(512))->understood);
    for (const std::size_t depth : {513, 15000}) {
        SCOPED_TRACE(depth);
        const auto loaded = Load(fileWithKeyAt(depth));
        EXPECT_FALSE(loaded->understood);
        ASSERT_FALSE(loaded->diagnostics.empty());
        EXPECT_EQ(loaded->diagnostics.front().line, 2u);
        EXPECT_NE(loaded->diagnostics.front().message.find("512 levels"), std::string::npos);
        EXPECT_EQ(loaded->root.ChildCount(), 0u);
    }
}

TEST(WineRegFormatTest, GoesOnAfterABadLineAndCopesWithAHugeLine) {
    std::string text = "WINE REGISTRY Version 2\n[A] 1\n\"bad\"=hex:zz,\\\n  01\n\"good\"=\"";
    text += std::string(10 * 1024 * 1024, 'x');
    text += "\"\n";
    const auto loaded = Load(text);
    EXPECT_FALSE(loaded->understood);
    ASSERT_EQ(loaded->diagnostics.size(), 1u);
    const CRegistryNode* key = loaded->root.FindChild(u"A");
    EXPECT_EQ(key->FindValue(u"bad"), nullptr);
    ASSERT_NE(key->FindValue(u"good"), nullptr);
    EXPECT_EQ(key->FindValue(u"good")->data.size(), 2u * (10 * 1024 * 1024 + 1));
}

}  // namespace
}  // namespace quillary
