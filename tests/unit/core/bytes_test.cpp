#include "core/bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quillary {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LittleEndianTest, ReadsAndWritesTheLowestByteFirst) {
    const struct {
        std::uint64_t value;
        std::size_t size;
        Bytes bytes;
    } cases[] = {
        {0, 0, {}},
        {0, 2, {0x00, 0x00}},
        {0x1234, 2, {0x34, 0x12}},
        {0xFFFF, 2, {0xFF, 0xFF}},
        {0x80000001, 4, {0x01, 0x00, 0x00, 0x80}},
        {0xFFFFFFFF, 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x0102030405060708, 8, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {std::numeric_limits<std::uint64_t>::max(), 8, Bytes(8, 0xFF)},
        // Writing keeps only the low bytes; the three-byte form of a 24-bit number.
        {0xAABBCCDD, 2, {0xDD, 0xCC}},
        {0x00ABCDEF, 3, {0xEF, 0xCD, 0xAB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.value << " in " << c.size);
        EXPECT_EQ(LittleEndianBytes(c.value, c.size), c.bytes);
        const std::uint64_t kept =
            c.size == 8 ? c.value : c.value & ((std::uint64_t{1} << (8 * c.size)) - 1);
        EXPECT_EQ(ReadLittleEndian(c.bytes), kept);
    }
}

TEST(LittleEndianTest, ReadsFixedWidthsAtAnOffsetWithoutSignExtension) {
    const Bytes bytes = {0xEE, 0x80, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFE};
    EXPECT_EQ(ReadUInt16Le(bytes), 0x80EE);
    EXPECT_EQ(ReadUInt16Le(bytes, 8), 0xFE06);
    EXPECT_EQ(ReadUInt32Le(bytes, 1), 0x0201FF80u);
    EXPECT_EQ(ReadUInt32Le(bytes, 6), 0xFE060504u);
    EXPECT_EQ(ReadUInt64Le(bytes, 2), 0xFE060504030201FFu);

    Bytes appended = {0xAA};
    AppendLittleEndian(appended, 0xFEDC, 2);
    EXPECT_EQ(appended, (Bytes{0xAA, 0xDC, 0xFE}));
}

TEST(HexDigitTest, AcceptsOnlyTheSixteenDigitsOfEitherCase) {
    const struct {
        char32_t ch;
        std::optional<unsigned> value;
    } cases[] = {
        {U'0', 0},
        {U'9', 9},
        {U'a', 10},
        {U'f', 15},
        {U'A', 10},
        {U'F', 15},
        // The neighbours of each range.
        {U'/', {}},
        {U':', {}},
        {U'`', {}},
        {U'g', {}},
        {U'@', {}},
        {U'G', {}},
        {U' ', {}},
        {U'\0', {}},
        // Digits of other scripts, and units that only look like digits once truncated.
        {U'\xFF10', {}},
        {U'\x0660', {}},
        {U'\xFF21', {}},
        {U'A' + 0x100, {}},
        {U'0' + 0x10000, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << static_cast<std::uint32_t>(c.ch));
        EXPECT_EQ(HexDigitValue(c.ch), c.value);
        EXPECT_EQ(IsHexDigit(c.ch), c.value.has_value());
    }
    // A byte above 0x7F in a signed char is negative; it is no digit.
    EXPECT_FALSE(IsHexDigit(static_cast<char>(0xE1)));
    EXPECT_TRUE(IsHexDigit(u'e'));
}

TEST(HexDigitTest, WritesLowerCaseDigitsOfTheLowFourBits) {
    EXPECT_EQ(HexDigit(0), '0');
    EXPECT_EQ(HexDigit(9), '9');
    EXPECT_EQ(HexDigit(10), 'a');
    EXPECT_EQ(HexDigit(15), 'f');
    EXPECT_EQ(HexDigit(0x1234567B), 'b');
    for (unsigned value = 0; value < 16; ++value) {
        EXPECT_EQ(HexDigitValue(HexDigit(value)), value);
    }
}

}  // namespace
}  // namespace quillary
