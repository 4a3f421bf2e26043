#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace quillary {
namespace {

using namespace std::string_view_literals;

constexpr auto npos = std::u16string_view::npos;

// Sets the process-wide case locale for one test and restores the previous setting, since
// every test of the binary shares it.
class ScopedCaseLocale {
public:
    explicit ScopedCaseLocale(CaseLocale locale) : previous_(GetCaseLocale()) {
        SetCaseLocale(locale);
    }
    ~ScopedCaseLocale() { SetCaseLocale(previous_); }
    ScopedCaseLocale(const ScopedCaseLocale&) = delete;
    ScopedCaseLocale& operator=(const ScopedCaseLocale&) = delete;

private:
    CaseLocale previous_;
};

// A copy of text in a heap block of exactly its size, so that the address sanitizer reports
// any read past the end of the view.
class ExactBuffer {
public:
    explicit ExactBuffer(std::u16string_view text)
        : size_(text.size()), data_(std::make_unique<char16_t[]>(text.size())) {
        text.copy(data_.get(), size_);
    }
    std::u16string_view view() const { return {data_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<char16_t[]> data_;
};

std::string Trace(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

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

// --- White space -------------------------------------------------------------------------------

TEST(WhiteSpaceTest, AcceptsControlsAndUnicodeSpaceSeparatorsOnly) {
    const std::u16string_view spaces =
        u"\t\n\v\f\r \x0085\x00A0\x1680\x2000\x2005\x200A\x2028\x2029\x202F\x205F\x3000";
    for (char16_t ch : spaces) {
        EXPECT_TRUE(IsWhiteSpace(ch)) << std::hex << static_cast<int>(ch);
    }
    const std::u16string_view others =
        u"\x0000\x0008\x000E\x001F!a\x0084\x00A1\x180E\x1FFF"
        u"\x200B\x2027\x202A\x2060\x3001\xFEFF\xFFFF"sv;
    for (char16_t ch : others) {
        EXPECT_FALSE(IsWhiteSpace(ch)) << std::hex << static_cast<int>(ch);
    }
}

TEST(TrimTest, RemovesWhiteSpaceFromTheRequestedEnds) {
    const struct {
        std::u16string_view text;
        std::u16string_view left;
        std::u16string_view right;
        std::u16string_view both;
    } cases[] = {
        {u"", u"", u"", u""},
        {u" \t\r\n\x3000", u"", u"", u""},
        {u"value", u"value", u"value", u"value"},
        {u"  a b  ", u"a b  ", u"  a b", u"a b"},
        {u"\x00A0x\x2028", u"x\x2028", u"\x00A0x", u"x"},
        {u"\x200Bx\x200B", u"\x200Bx\x200B", u"\x200Bx\x200B", u"\x200Bx\x200B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c.text));
        EXPECT_EQ(TrimLeftView(c.text), c.left);
        EXPECT_EQ(TrimRightView(c.text), c.right);
        EXPECT_EQ(TrimView(c.text), c.both);
        EXPECT_EQ(Trim(c.text), c.both);
    }
}

// --- Case --------------------------------------------------------------------------------------

struct CaseMapping {
    char16_t ch;
    char16_t lower;
    char16_t upper;
};

// The full table's mapping of units from the script blocks the table covers, with neighbours
// that have no mapping and characters whose only mappings are several characters long.
constexpr CaseMapping kCaseMappings[] = {
    {u'A', u'a', u'A'},       {u'z', u'z', u'Z'},       {u'@', u'@', u'@'},
    {u'[', u'[', u'['},       {u'`', u'`', u'`'},       {u'{', u'{', u'{'},
    {u'5', u'5', u'5'},       {0x0000, 0x0000, 0x0000}, {0x00C0, 0x00E0, 0x00C0},
    {0x00E0, 0x00E0, 0x00C0}, {0x00D7, 0x00D7, 0x00D7}, {0x00F7, 0x00F7, 0x00F7},
    {0x00FF, 0x00FF, 0x0178}, {0x0178, 0x00FF, 0x0178}, {0x00DF, 0x00DF, 0x00DF},
    {0x00B5, 0x00B5, 0x039C}, {0x0100, 0x0101, 0x0100}, {0x0101, 0x0101, 0x0100},
    {0x012E, 0x012F, 0x012E}, {0x0141, 0x0142, 0x0141}, {0x0142, 0x0142, 0x0141},
    {0x0130, 0x0130, 0x0130}, {0x0131, 0x0131, u'I'},   {0x01C4, 0x01C6, 0x01C4},
    {0x01C5, 0x01C6, 0x01C4}, {0x03A3, 0x03C3, 0x03A3}, {0x03C3, 0x03C3, 0x03A3},
    {0x03C2, 0x03C2, 0x03A3}, {0x0391, 0x03B1, 0x0391}, {0x0416, 0x0436, 0x0416},
    {0x0436, 0x0436, 0x0416}, {0x0401, 0x0451, 0x0401}, {0x0451, 0x0451, 0x0401},
    {0x0531, 0x0561, 0x0531}, {0x10A0, 0x2D00, 0x10A0}, {0x1E00, 0x1E01, 0x1E00},
    {0x1F08, 0x1F00, 0x1F08}, {0x212A, u'k', 0x212A},   {0xFF21, 0xFF41, 0xFF21},
    {0xFF41, 0xFF41, 0xFF21}, {0xFFFF, 0xFFFF, 0xFFFF},
};

TEST(CaseTest, ProcessStartsInTheClassicLocale) {
    EXPECT_EQ(GetCaseLocale(), CaseLocale::Classic);
}

TEST(CaseTest, InvariantMappingUsesTheFullTableUnderEitherLocale) {
    for (CaseLocale locale : {CaseLocale::Classic, CaseLocale::Language}) {
        ScopedCaseLocale scoped(locale);
        for (const auto& c : kCaseMappings) {
            SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(c.ch));
            EXPECT_EQ(ToLowerInvariant(c.ch), c.lower);
            EXPECT_EQ(ToUpperInvariant(c.ch), c.upper);
        }
    }
}

TEST(CaseTest, LanguageLocaleMapsEveryLetterOfTheTable) {
    ScopedCaseLocale scoped(CaseLocale::Language);
    for (const auto& c : kCaseMappings) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(c.ch));
        EXPECT_EQ(ToLowerChar(c.ch), c.lower);
        EXPECT_EQ(ToUpperChar(c.ch), c.upper);
    }
}

TEST(CaseTest, ClassicLocaleMapsOnlyAsciiLetters) {
    ScopedCaseLocale scoped(CaseLocale::Classic);
    for (const auto& c : kCaseMappings) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(c.ch));
        const bool ascii = c.ch < 0x80;
        EXPECT_EQ(ToLowerChar(c.ch), ascii ? c.lower : c.ch);
        EXPECT_EQ(ToUpperChar(c.ch), ascii ? c.upper : c.ch);
    }
}

TEST(CaseTest, TextMappingFollowsTheLocale) {
    const std::u16string_view text = u"Straße Łódź Ёлка ΣΟΦΊΑ";
    {
        ScopedCaseLocale scoped(CaseLocale::Classic);
        EXPECT_EQ(ToUpper(text), u"STRAßE ŁóDź Ёлка ΣΟΦΊΑ");
        EXPECT_EQ(ToLower(text), u"straße Łódź Ёлка ΣΟΦΊΑ");
    }
    {
        ScopedCaseLocale scoped(CaseLocale::Language);
        EXPECT_EQ(ToUpper(text), u"STRAßE ŁÓDŹ ЁЛКА ΣΟΦΊΑ");
        EXPECT_EQ(ToLower(text), u"straße łódź ёлка σοφία");
    }
}

// --- Case-insensitive comparison -------------------------------------------------------------

TEST(CompareNoCaseTest, OrdersByLowerCasedUnitsThenLength) {
    ScopedCaseLocale scoped(CaseLocale::Classic);
    const struct {
        std::u16string_view a;
        std::u16string_view b;
        int sign;
    } cases[] = {
        {u"", u"", 0},        {u"Software", u"SOFTWARE", 0},
        {u"a", u"B", -1},     {u"Zeta", u"alpha", 1},  // 'z' > 'a', although 'Z' < 'a'
        {u"_", u"A", -1},                              // '_' < 'a', although '_' > 'A'
        {u"ab", u"ABC", -1},  {u"abc", u"AB", 1},
        {u"\xFFFF", u"a", 1}, {u"Ж", u"ж", -1},  // no non-ASCII mapping in the C locale
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c.a) + " vs " + Trace(c.b));
        const int result = CompareNoCase(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
        EXPECT_EQ(EqualsNoCase(c.a, c.b), c.sign == 0);
    }
}

TEST(CompareNoCaseTest, LanguageLocaleFoldsEveryScript) {
    ScopedCaseLocale scoped(CaseLocale::Language);
    EXPECT_EQ(CompareNoCase(u"ЖЁЛТЫЙ", u"жёлтый"), 0);
    EXPECT_TRUE(EqualsNoCase(u"ΣΟΦΊΑ", u"σοφία"));
    EXPECT_TRUE(StartsWithNoCase(u"Ёлка", u"ё"));
    EXPECT_TRUE(EndsWithNoCase(u"Łódź", u"ÓDŹ"));
    EXPECT_EQ(FindNoCase(u"Straße ŁÓDŹ", u"łódź"), 7u);
}

TEST(CompareNoCaseTest, PrefixAndSuffixMatchIgnoringAsciiCase) {
    ScopedCaseLocale scoped(CaseLocale::Classic);
    const struct {
        std::u16string_view text;
        std::u16string_view part;
        bool starts;
        bool ends;
    } cases[] = {
        {u"Software\\Classes", u"SOFTWARE", true, false},
        {u"file.TXT", u".txt", false, true},
        {u"abc", u"", true, true},
        {u"", u"", true, true},
        {u"abc", u"ABC", true, true},
        {u"bc", u"abc", false, false},
        {u"Ёлка", u"ё", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c.text) + " / " + Trace(c.part));
        const ExactBuffer text(c.text);
        EXPECT_EQ(StartsWithNoCase(text.view(), c.part), c.starts);
        EXPECT_EQ(EndsWithNoCase(text.view(), c.part), c.ends);
    }
}

TEST(FindNoCaseTest, FindsTheFirstMatchAtOrAfterFromWithoutReadingPastTheEnd) {
    ScopedCaseLocale scoped(CaseLocale::Classic);
    const struct {
        std::u16string_view haystack;
        std::u16string_view needle;
        std::size_t from;
        std::size_t expected;
    } cases[] = {
        {u"Hello World", u"WORLD", 0, 6},
        {u"abcABC", u"abc", 1, 3},
        {u"aaa", u"AA", 1, 1},
        {u"abcab", u"abx", 0, npos},  // partial match running into the end
        {u"abc", u"abcd", 0, npos},
        {u"ab", u"b", 2, npos},
        {u"abc", u"", 0, 0},
        {u"abc", u"", 3, 3},
        {u"abc", u"", 4, npos},
        {u"", u"", 0, 0},
        {u"abc", u"c", 5, npos},
        {u"abc", u"c", npos, npos},
        {u"Ж", u"ж", 0, npos},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c.haystack) + " / " + Trace(c.needle) + " from " +
                     std::to_string(c.from));
        const ExactBuffer haystack(c.haystack);
        EXPECT_EQ(FindNoCase(haystack.view(), c.needle, c.from), c.expected);
    }
}

// --- Formatting ----------------------------------------------------------------------------------

struct FormatCase {
    std::u16string actual;
    std::u16string_view expected;
};

void ExpectFormats(std::initializer_list<FormatCase> cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c.expected));
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST(FormatTest, FormatsIntegersWithFlagsWidthAndPrecision) {
    constexpr auto kInt64Min = std::numeric_limits<std::int64_t>::min();
    constexpr auto kUint64Max = std::numeric_limits<std::uint64_t>::max();
    ExpectFormats({
        {Format(u"%d|%i|%d", 42, -7, 0), u"42|-7|0"},
        {Format(u"[%5d|%-5d|%05d|%+d|% d]", 42, 42, 42, 42, 42), u"[   42|42   |00042|+42| 42]"},
        {Format(u"%05d|%+05d|%-+5d|", -42, 42, 42), u"-0042|+0042|+42  |"},
        {Format(u"%.3d|%5.3d|%05.3d|%.0d|", 7, -7, 7, 0), u"007| -007|  007||"},
        {Format(u"%d|%d", kInt64Min, kUint64Max), u"-9223372036854775808|18446744073709551615"},
        {Format(u"%u|%u", 3000000000u, -1), u"3000000000|4294967295"},
        {Format(u"%u", -3000000000LL), u"18446744070709551616"},
        {Format(u"%x|%X|%#x|%#X|%#x", 255, 255, 255, 255, 0), u"ff|FF|0xff|0XFF|0"},
        {Format(u"%08x|%#08x|%-#6x|", 0xBEEF, 255, 255), u"0000beef|0x0000ff|0xff  |"},
        {Format(u"%x|%x", -1, kInt64Min), u"ffffffff|8000000000000000"},
        {Format(u"%d", u'A'), u"65"},
        {Format(u"%ld %lld %hd %hhd %I64d %I32d %wd %Lf", 1, 2, 3, 4, 5, 6, 7, 8.0),
         u"1 2 3 4 5 6 7 8.000000"},
    });
}

TEST(FormatTest, FormatsFixedPointNumbers) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    ExpectFormats({
        {Format(u"%f|%.2f|%.0f|%.0f", 3.14159, 2.675, 2.5, 3.5), u"3.141590|2.67|2|4"},
        {Format(u"[%8.3f|%-8.1f|%08.2f|%+.1f]", 3.14159, 2.5, -1.5, 1.0),
         u"[   3.142|2.5     |-0001.50|+1.0]"},
        {Format(u"%#.0f|%f", 3.0, -0.0), u"3.|-0.000000"},
        {Format(u"%f|%.1f", 42, -3), u"42.000000|-3.0"},
        {Format(u"%f|%f|%f|%+f", nan, inf, -inf, inf), u"nan|inf|-inf|+inf"},
        {Format(u"%f|%+f|%s|%s", -nan, -nan, -nan, -inf), u"nan|nan|nan|-inf"},
        {Format(u"[%5f|%05f|%-5f]", inf, -inf, nan), u"[  inf| -inf|nan  ]"},
    });
}

TEST(FormatTest, FormatsTextsAndCharacters) {
    ExpectFormats({
        {Format(u"%s and %s", u"one", std::u16string(u"two")), u"one and two"},
        {Format(u"[%10s|%-6s|%.2s|%.9s]", u"abc", u"abc", u"abc", u"abc"),
         u"[       abc|abc   |ab|abc]"},
        {Format(u"%s|%s|%s|%s", 42, -5, 18446744073709551615ull, u'x'),
         u"42|-5|18446744073709551615|x"},
        {Format(u"%s|%s|%s|%.2s", 1.5, 0.1, 1e300, 12345), u"1.5|0.1|1e+300|12"},
        {Format(u"%c%c%c", u'A', 66, 0x20AC), u"AB€"},
        {Format(u"[%3c|%-3c]", u'x', u'y'), u"[  x|y  ]"},
        {Format(u"%%|100%%|%5%|%d", 1), u"%|100%|%|1"},
    });
}

TEST(FormatTest, TakesWidthAndPrecisionFromStarArguments) {
    ExpectFormats({
        {Format(u"[%*d|%-*d|%*d]", 5, 42, 5, 42, -5, 42), u"[   42|42   |42   ]"},
        {Format(u"%.*f|%.*s", 2, 3.14159, 2, u"abcdef"), u"3.14|ab"},
        // A negative precision counts as none given.
        {Format(u"%.*f|%.*d|%.*s", -1, 1.5, -1, 0, -1, u"abc"), u"1.500000|0|abc"},
        {Format(u"[%*d]", u"wide", 42), u"[42]"},  // a text as width counts as 0
        {Format(u"%.*f", 1.5, 2.0), u"2.000000"},  // a double as precision counts as none
        {Format(u"%*d"), u""},
        {Format(u"%*d", 42), u""},  // the star takes the only argument
    });
}

TEST(FormatTest, HostileFormatsPrintNothingWhereTheyMakeNoSense) {
    ExpectFormats({
        {Format(u"%n%d", 7), u"7"},  // %n takes no argument
        {Format(u"%s%s%s", u"a"), u"a"},
        {Format(u"[%d]"), u"[]"},
        {Format(u"a%qb%d", 3), u"ab3"},  // unknown conversions take no argument
        {Format(u"%e|%g|%p|%I5d", 1.0), u"|||5d"},
        {Format(u"%", 1), u""},
        {Format(u"abc%", 1), u"abc"},
        {Format(u"abc%-05.3l", 1), u"abc"},
        {Format(u"%d|%x|%f|%c|%d", u"text", u"text", u"text", u"text", 5), u"||||5"},
        {Format(u"%d|%u|%x|%c", 1.5, 1.5, 1.5, 1.5), u"|||"},
        {Format(u"%c|%c|%c", 0, -1, 0x10000), u"||"},
        {Format(u"%s|%c", u'\0', u'\0'), u"|"},
    });
}

TEST(FormatTest, CapsWidthsAndPrecisionsWithoutOverflow) {
    constexpr std::size_t kCap = 1024;
    const std::u16string wide = Format(u"%999999999d", 1);
    EXPECT_EQ(wide.size(), kCap);
    EXPECT_EQ(wide.back(), u'1');

    const std::u16string digits = Format(u"%.99999999999999999999d", 5);
    EXPECT_EQ(digits, std::u16string(kCap - 1, u'0') + u"5");
    EXPECT_EQ(Format(u"%99999999999999999999d", 5).size(), kCap);

    EXPECT_EQ(Format(u"%.999999999f", 1.0), u"1." + std::u16string(kCap, u'0'));
    EXPECT_EQ(Format(u"%.999999999s", u"abc"), u"abc");

    EXPECT_EQ(Format(u"%*d", std::numeric_limits<int>::max(), 1).size(), kCap);
    const std::u16string left = Format(u"%*d", std::numeric_limits<long long>::min(), 1);
    EXPECT_EQ(left, u"1" + std::u16string(kCap - 1, u' '));
}

TEST(FormatTest, PrintsHugeDoublesInFull) {
    const std::u16string huge = Format(u"%f", 1e300);
    EXPECT_EQ(huge.size(), 301u + 7u);
    EXPECT_TRUE(huge.starts_with(u"100000000000000005"));
    EXPECT_TRUE(huge.ends_with(u".000000"));

    // The longest possible fixed text: 309 integer digits, a sign and the capped precision.
    const double largest = std::numeric_limits<double>::max();
    const std::u16string longest = Format(u"%+.9999f", -largest);
    EXPECT_EQ(longest.size(), 1u + 309u + 1u + 1024u);
    EXPECT_TRUE(longest.starts_with(u"-17976931348623157"));
}

}  // namespace
}  // namespace quillary
