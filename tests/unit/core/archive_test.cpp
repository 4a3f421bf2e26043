#include "core/archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillary {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Head(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

// --- Writer --------------------------------------------------------------------------------

TEST(ArchiveWriterTest, WritesIntegersAndCountsLittleEndian) {
    CArchiveWriter writer;
    writer.WriteInt32(-2);
    writer.WriteInt64(0x0102030405060708);
    writer.WriteCount(3);
    writer.WriteCount(0xFFFE);
    writer.WriteCount(0xFFFF);
    const Bytes expected = {0xFE, 0xFF, 0xFF, 0xFF,                          // -2
                            0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // 64 bits
                            0x03, 0x00,                                      // 3
                            0xFE, 0xFF,                                      // 0xFFFE
                            0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};             // escaped 0xFFFF
    EXPECT_EQ(writer.Bytes(), expected);
}

TEST(ArchiveWriterTest, WritesStringRecordsWithTheShortestLengthForm) {
    struct {
        std::size_t length;
        Bytes head;  // marker and length
    } cases[] = {
        {0, {0xFF, 0xFE, 0xFF, 0x00}},
        {254, {0xFF, 0xFE, 0xFF, 0xFE}},
        {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const std::u16string text(c.length, u'\x20AC');
        CArchiveWriter writer;
        writer.WriteString(text);
        const Bytes& bytes = writer.Bytes();
        ASSERT_EQ(bytes.size(), c.head.size() + 2 * c.length);
        EXPECT_EQ(Head(bytes, c.head.size()), c.head);
        if (c.length > 0) {
            EXPECT_EQ(bytes[c.head.size()], 0xAC);
            EXPECT_EQ(bytes.back(), 0x20);
        }

        CArchiveReader reader(bytes);
        EXPECT_EQ(reader.ReadString(), text);
        EXPECT_TRUE(reader.AtEnd());
    }
}

TEST(ArchiveWriterTest, ShortStringIsMarkerLengthAndUnitsWithoutTerminator) {
    CArchiveWriter writer;
    writer.WriteString(u"AB");
    EXPECT_EQ(writer.Bytes(), (Bytes{0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42, 0x00}));
}

// --- Reader --------------------------------------------------------------------------------

TEST(ArchiveReaderTest, ReadsBackEveryField) {
    CArchiveWriter writer;
    writer.WriteInt32(-7);
    writer.WriteInt64(-0x100000000);
    writer.WriteCount(2);
    writer.WriteString(u"HKEY_CURRENT_USER\\Software");
    writer.WriteString(u"");
    const Bytes data = {0, 1, 255};
    writer.WriteBytes(data);

    CArchiveReader reader(writer.Bytes());
    EXPECT_EQ(reader.ReadInt32(), -7);
    EXPECT_EQ(reader.ReadInt64(), -0x100000000);
    EXPECT_EQ(reader.ReadCount(kMinStringRecordBytes), 2u);
    EXPECT_EQ(reader.ReadString(), u"HKEY_CURRENT_USER\\Software");
    EXPECT_EQ(reader.ReadString(), u"");
    EXPECT_EQ(reader.ReadBytes(3), data);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Failed());
}

TEST(ArchiveReaderTest, ReadsAnEscapedCountWhenTheDataCanHoldIt) {
    CArchiveWriter writer;
    writer.WriteCount(70000);
    Bytes bytes = writer.Bytes();
    bytes.resize(bytes.size() + 70000);
    CArchiveReader reader(bytes);
    EXPECT_EQ(reader.ReadCount(1), 70000u);

    // The same count is not believed when each element takes at least two bytes.
    CArchiveReader strict(bytes);
    EXPECT_EQ(strict.ReadCount(2), std::nullopt);
    EXPECT_NE(strict.Error().find("count at offset 0"), std::string::npos) << strict.Error();
}

TEST(ArchiveReaderTest, DecodesOlderRecords) {
    struct {
        const char* name;
        Bytes bytes;
        std::u16string expected;
    } cases[] = {
        // 8-bit records hold Windows-1252 text, which differs from Latin-1 in 0x80-0x9F.
        {"8-bit, one-byte length", {0x04, 'a', 0x80, 0x9F, 0xE9}, u"a\x20AC\x0178\x00E9"},
        {"8-bit, undefined code keeps its value", {0x01, 0x81}, u"\x0081"},
        {"8-bit, empty", {0x00}, u""},
        // A lone surrogate is kept: registry names may hold one.
        {"UTF-16, lone surrogate",
         {0xFF, 0xFE, 0xFF, 0x02, 0x00, 0xD8, 0x41, 0x00},
         u"\xD800"
         u"A"},
        // After the marker, a 16-bit length of 0xFFFE also escapes to 32 bits.
        {"UTF-16, 32-bit length",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x5A, 0x00},
         u"Z"},
        {"UTF-16, 64-bit length",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0x01, 0,    0,    0,    0,    0,    0,    0,    0x5A, 0x00},
         u"Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CArchiveReader reader(c.bytes);
        EXPECT_EQ(reader.ReadString(), c.expected) << reader.Error();
        EXPECT_TRUE(reader.AtEnd());
    }

    Bytes longAnsi = {0xFF, 0x00, 0x01};  // 8-bit record with a 16-bit length of 256
    longAnsi.resize(3 + 256, 'x');
    CArchiveReader reader(longAnsi);
    EXPECT_EQ(reader.ReadString(), std::u16string(256, u'x'));
}

// Damaged and hostile data: every read fails cleanly with the field and its offset named, and
// nothing is allocated for a length or count the data cannot hold.
TEST(ArchiveReaderTest, RefusesDamagedData) {
    enum class Field { Int32, Int64, Count, String, ThreeBytes };
    struct {
        const char* name;
        Bytes bytes;
        Field field;
        std::string error;  // part of the message
    } cases[] = {
        {"empty data, integer", {}, Field::Int32, "32-bit integer at offset 0"},
        {"empty data, string", {}, Field::String, "string record at offset 0"},
        {"empty data, count", {}, Field::Count, "array count at offset 0"},
        {"truncated integer", {1, 2, 3}, Field::Int32, "32-bit integer at offset 0"},
        {"truncated 64-bit integer", {1, 2, 3, 4, 5, 6, 7}, Field::Int64, "64-bit integer"},
        {"truncated marker", {0xFF, 0xFE}, Field::String, "string record at offset 0"},
        {"marker without length", {0xFF, 0xFE, 0xFF}, Field::String, "ends early"},
        {"truncated 16-bit length", {0xFF, 0xFE, 0xFF, 0xFF, 0x00}, Field::String, "ends early"},
        {"truncated 32-bit length",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
         Field::String,
         "ends early"},
        {"truncated 64-bit length",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
         Field::String,
         "ends early"},
        {"length past the end",
         {0xFF, 0xFE, 0xFF, 0x05, 0x41, 0x00},
         Field::String,
         "length of 5 characters runs past the end"},
        {"odd byte of a UTF-16 unit",
         {0xFF, 0xFE, 0xFF, 0x01, 0x41},
         Field::String,
         "runs past the end"},
        {"8-bit length past the end", {0x09, 'a'}, Field::String, "runs past the end"},
        {"length of two billion",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x94, 0x35, 0x77, 0x41, 0x00},
         Field::String,
         "2000000000 characters"},
        {"64-bit length of 2^64-1",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF, 0xFF, 0xFF},
         Field::String,
         "runs past the end"},
        {"truncated escaped count", {0xFF, 0xFF, 0x00}, Field::Count, "array count at offset 0"},
        {"count of two billion",
         {0xFF, 0xFF, 0x00, 0x94, 0x35, 0x77, 0x41},
         Field::Count,
         "2000000000 elements cannot fit in the 1 bytes left"},
        {"byte block past the end", {1, 2}, Field::ThreeBytes, "byte block at offset 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CArchiveReader reader(c.bytes);
        bool read = false;
        switch (c.field) {
            case Field::Int32:
                read = reader.ReadInt32().has_value();
                break;
            case Field::Int64:
                read = reader.ReadInt64().has_value();
                break;
            case Field::Count:
                read = reader.ReadCount(kMinStringRecordBytes).has_value();
                break;
            case Field::String:
                read = reader.ReadString().has_value();
                break;
            case Field::ThreeBytes:
                read = reader.ReadBytes(3).has_value();
                break;
        }
        EXPECT_FALSE(read);
        EXPECT_TRUE(reader.Failed());
        EXPECT_NE(reader.Error().find(c.error), std::string::npos) << reader.Error();
    }
}

TEST(ArchiveReaderTest, NamesTheOffsetOfTheDamagedFieldAndStaysFailed) {
    CArchiveWriter writer;
    writer.WriteInt32(1);
    writer.WriteString(u"whole");
    Bytes bytes = writer.Bytes();
    bytes.insert(bytes.end(), {0xFF, 0xFE, 0xFF, 0x10, 0x41, 0x00});  // 16 units promised

    CArchiveReader reader(bytes);
    EXPECT_EQ(reader.ReadInt32(), 1);
    EXPECT_EQ(reader.ReadString(), u"whole");
    EXPECT_EQ(reader.ReadString(), std::nullopt);
    const std::string first = reader.Error();
    EXPECT_NE(first.find("string record at offset 18"), std::string::npos) << first;

    // Later reads fail too and keep the first message, even where bytes would be left.
    EXPECT_EQ(reader.ReadBytes(1), std::nullopt);
    EXPECT_EQ(reader.ReadInt32(), std::nullopt);
    EXPECT_EQ(reader.Error(), first);
}

TEST(ArchiveReaderTest, ChecksCountsStoredAsIntegers) {
    const Bytes bytes(8, 0);
    struct {
        std::int64_t count;
        std::size_t minBytes;
        bool plausible;
    } cases[] = {
        {0, 4, true}, {2, 4, true},   {3, 4, false},
        {8, 0, true}, {-1, 1, false}, {2000000000, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        CArchiveReader reader(bytes);
        EXPECT_EQ(reader.CheckCount(c.count, c.minBytes, 0), c.plausible);
        EXPECT_EQ(reader.Failed(), !c.plausible);
    }
}

}  // namespace
}  // namespace quillary
