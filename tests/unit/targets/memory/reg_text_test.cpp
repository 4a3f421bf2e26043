#include "targets/memory/reg_text.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"

namespace quillary {
namespace {

TEST(RegTextTest, ParsesEveryValueForm) {
    const RegTextDocument document = ParseRegText(
        "\xEF\xBB\xBF; comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\A%005Db]\r\n"
        "#class=\"cls\"\n"
        "@=\"default\"\n"
        "\"s\" = \"a\\\\b\\\"c\\x00e9\"\n"
        "\"e\"=str(2):\"%SystemRoot%\"\n"
        "\"d\"=dword:DEADbeef\n"
        "\"h\"=hex(ffff0012):01,\\\n"
        "   02 , 03\n");
    ASSERT_TRUE(document.errors.empty()) << DescribeRegTextError(document.errors.front());
    ASSERT_EQ(document.keys.size(), 1u);
    const RegTextKey& key = document.keys.front();
    EXPECT_EQ(key.path, u"HKEY_CURRENT_USER\\Software\\A]b");
    EXPECT_EQ(key.className, u"cls");
    ASSERT_EQ(key.values.size(), 5u);
    EXPECT_EQ(key.values[0].name, u"");
    EXPECT_EQ(key.values[1].data,
              std::vector<std::uint8_t>({'a', 0, '\\', 0, 'b', 0, '"', 0, 'c', 0, 0xe9, 0, 0, 0}));
    EXPECT_EQ(key.values[2].type, RegExpandSz);
    EXPECT_EQ(key.values[3].data, std::vector<std::uint8_t>({0xef, 0xbe, 0xad, 0xde}));
    EXPECT_EQ(key.values[4].type, 0xffff0012u);
    EXPECT_EQ(key.values[4].data, std::vector<std::uint8_t>({1, 2, 3}));
}

TEST(RegTextTest, ReportsBadLinesWithTheirNumbers) {
    struct Case {
        const char* text;
        std::size_t line;
    } cases[] = {
        {"\"early\"=\"x\"\n", 1},
        {"[K]\n\"v\"=\"unclosed\n", 2},
        {"[K]\n\n\"v\"=dword:123456789\n", 3},
        {"[K]\n\"v\"=hex:1,zz\n", 2},
        {"[K]\n\"v\"=hex:01,\n", 2},
        {"[K]\n\"v\"=\"a\\q\"\n", 2},
        {"[K]\n\"v\"=blob:00\n", 2},
        {"[K]\n#deny=maybe\n", 2},
        {"[K\n", 1},
        {"[K]\n\"v\"=\"x\\x12\"\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RegTextDocument document = ParseRegText(c.text);
        ASSERT_EQ(document.errors.size(), 1u);
        EXPECT_EQ(document.errors.front().line, c.line);
    }
}

TEST(RegTextTest, WrittenTreeReadsBackExactly) {
    CRegistryNode root(u"", KeyOrder::UpperCase);
    CRegistryNode* odd = root.AddChild(u"Odd [name] 100%0041\x01");
    odd->className = u"class \"quoted\"";
    odd->SetValue(u"", RegSz, {'x', 0, 0, 0});
    odd->SetValue(u"line\nbreak", RegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
    odd->SetValue(u"lone surrogate", RegSz, {0x00, 0xd8, 0, 0});
    odd->SetValue(u"unterminated", RegExpandSz, {'a', 0});
    odd->SetValue(u"long", RegBinary, std::vector<std::uint8_t>(100, 0xab));
    odd->SetValue(u"short dword", RegDword, {1, 2});
    CRegistryNode* hidden = odd->AddChild(u"Volatile");
    hidden->isVolatile = true;

    const RegTextDocument document = ParseRegText(FormatRegTree(root));
    ASSERT_TRUE(document.errors.empty()) << DescribeRegTextError(document.errors.front());
    ASSERT_EQ(document.keys.size(), 2u);  // the volatile key is not written
    EXPECT_EQ(document.keys[1].path, odd->Name());
    EXPECT_EQ(document.keys[1].className, odd->className);
    ASSERT_EQ(document.keys[1].values.size(), odd->Values().size());
    for (std::size_t i = 0; i < odd->Values().size(); ++i) {
        SCOPED_TRACE(Utf16ToUtf8(odd->Values()[i].name));
        EXPECT_EQ(document.keys[1].values[i].name, odd->Values()[i].name);
        EXPECT_EQ(document.keys[1].values[i].type, odd->Values()[i].type);
        EXPECT_EQ(document.keys[1].values[i].data, odd->Values()[i].data);
    }
}

}  // namespace
}  // namespace quillary
