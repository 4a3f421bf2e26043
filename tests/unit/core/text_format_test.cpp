#include "core/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/text_encoding.h"

namespace quillary {
namespace {

// --- Formatting ----------------------------------------------------------------------------------

struct FormatCase {
    std::u16string actual;
    std::u16string_view expected;
};

void ExpectFormats(std::initializer_list<FormatCase> cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.expected));
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
