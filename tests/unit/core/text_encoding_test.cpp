#include "core/text_encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {
namespace {

// --- UTF-8 / UTF-16 ---------------------------------------------------------------------------

TEST(Utf8ToUtf16Test, DecodesWellFormedSequencesAtTheRangeBoundaries) {
    const struct {
        std::string_view utf8;
        std::u16string_view expected;
    } cases[] = {
        {"", u""},
        {"plain ASCII\x7F", u"plain ASCII\x7F"},
        {"\xC2\x80\xDF\xBF", u"\x0080\x07FF"},
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\x0800\xD7FF\xE000\xFFFF"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.expected);
    }
}

TEST(Utf8ToUtf16Test, ReplacesEachMaximalIllFormedSubpartWithOneReplacementCharacter) {
    const struct {
        std::string_view utf8;
        std::u16string_view expected;
    } cases[] = {
        {"\x80", u"\xFFFD"},
        {"a\xBF\x80z", u"a\xFFFD\xFFFDz"},                  // stray continuation bytes
        {"\xC0\xAF", u"\xFFFD\xFFFD"},                      // C0 never starts a sequence
        {"\xC1\xBF", u"\xFFFD\xFFFD"},                      // nor does C1
        {"\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},            // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // overlong four-byte form
        {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
        {"\xF5\x80", u"\xFFFD\xFFFD"},                      // F5..FF are never lead bytes
        {"\xFE\xFF", u"\xFFFD\xFFFD"},                      //
        {"\xC2", u"\xFFFD"},                                // truncated at the end
        {"\xE2\x82", u"\xFFFD"},                            //
        {"\xF0\x9F\x98", u"\xFFFD"},                        //
        {"\xE2\x82"
         "A",
         u"\xFFFD"
         "A"},                                          // cut short by a valid byte
        {"\xF0\x9F\x98\xE2\x82\xAC", u"\xFFFD\x20AC"},  // cut short by a valid sequence
        {"\xC2\xC2\xA9", u"\xFFFD\x00A9"},              //
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\xFFFD\xFFFD\xFFFD"
         "b\xFFFD"
         "c\xFFFD\xFFFD"
         "d"},  // mixed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.utf8));
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.expected);
    }
}

// Whatever the bytes, the decoded text encodes and decodes again to itself.
TEST(Utf8ToUtf16Test, AnyTwoOrThreeByteInputDecodesToStableText) {
    std::string bytes(3, '\0');
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            for (int third : {0x00, 0x41, 0x80, 0x9F, 0xA0, 0xBF, 0xC2, 0xF0}) {
                bytes[0] = static_cast<char>(first);
                bytes[1] = static_cast<char>(second);
                bytes[2] = static_cast<char>(third);
                const std::u16string decoded = Utf8ToUtf16(bytes);
                ASSERT_EQ(Utf8ToUtf16(Utf16ToUtf8(decoded)), decoded)
                    << testing::PrintToString(bytes);
            }
        }
    }
}

TEST(Utf16ToUtf8Test, EncodesEveryScalarValueAndDecodesItBack) {
    std::u16string all;
    for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
        if (code_point >= 0xD800 && code_point <= 0xDFFF)
            continue;
        if (code_point < 0x10000) {
            all.push_back(static_cast<char16_t>(code_point));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF)));
        }
    }
    const std::string utf8 = Utf16ToUtf8(all);
    // 128 one-byte, 1920 two-byte, 61440 three-byte and 1048576 four-byte characters.
    EXPECT_EQ(utf8.size(), 128u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
    EXPECT_EQ(Utf8ToUtf16(utf8), all);
}

TEST(Utf16ToUtf8Test, EncodesKnownCharactersAndReplacesLoneSurrogates) {
    const struct {
        std::u16string_view utf16;
        std::string_view expected;
    } cases[] = {
        {u"A\x00E9\x20AC", "A\xC3\xA9\xE2\x82\xAC"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {u"\xD800", "\xEF\xBF\xBD"},
        {u"a\xDC00z", "a\xEF\xBF\xBDz"},
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // pair in the wrong order
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {u"x\xDBFF", "x\xEF\xBF\xBD"},          // high surrogate at the end
        {u"_\xD800.exe", "_\xEF\xBF\xBD.exe"},  // the character after a lone high one stays
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.expected));
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.expected);
    }
}

// --- UTF-16LE bytes and Windows-1252 ------------------------------------------------------------

TEST(Utf16LeBytesTest, StoresUnitsLowByteFirstAndReadsThemBack) {
    const std::vector<std::uint8_t> bytes = ToUtf16LeBytes(u"A\x20AC\xFFFF", true);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x41, 0x00, 0xAC, 0x20, 0xFF, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(ToUtf16LeBytes(u"", false), std::vector<std::uint8_t>{});
    EXPECT_EQ(FromUtf16LeBytes(bytes), std::u16string(u"A\x20AC\xFFFF\0", 4));
    // An odd last byte is no unit.
    EXPECT_EQ(FromUtf16LeBytes(std::vector<std::uint8_t>{0x41, 0x00, 0x42}), u"A");
}

TEST(Windows1252Test, MapsTheHighControlRangeAndKeepsLatin1) {
    EXPECT_EQ(Windows1252ToUtf16(0x41), u'A');
    EXPECT_EQ(Windows1252ToUtf16(0x80), u'\x20AC');
    EXPECT_EQ(Windows1252ToUtf16(0x81), u'\x0081');
    EXPECT_EQ(Windows1252ToUtf16(0x9F), u'\x0178');
    EXPECT_EQ(Windows1252ToUtf16(0xA0), u'\x00A0');
    EXPECT_EQ(Windows1252ToUtf16(0xFF), u'\x00FF');
}

}  // namespace
}  // namespace quillary
