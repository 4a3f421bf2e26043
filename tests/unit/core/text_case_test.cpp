#include "core/text_case.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "core/text_encoding.h"

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
        SCOPED_TRACE(Utf16ToUtf8(c.text));
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
        SCOPED_TRACE(Utf16ToUtf8(c.a) + " vs " + Utf16ToUtf8(c.b));
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
        SCOPED_TRACE(Utf16ToUtf8(c.text) + " / " + Utf16ToUtf8(c.part));
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
        SCOPED_TRACE(Utf16ToUtf8(c.haystack) + " / " + Utf16ToUtf8(c.needle) + " from " +
                     std::to_string(c.from));
        const ExactBuffer haystack(c.haystack);
        EXPECT_EQ(FindNoCase(haystack.view(), c.needle, c.from), c.expected);
    }
}

}  // namespace
}  // namespace quillary
