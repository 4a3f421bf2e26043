#include "repair/undo_list_file.h"

#include <gtest/gtest.h>

namespace quillary {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// Description "Q", one archived file, two exports, a time, then one export record.
const std::vector<std::uint8_t> kHeader = Bytes({0xFF, 0xFE, 0xFF, 0x01, 'Q',  0x00,  // description
                                                 0x01, 0x00, 0x00, 0x00,  // record count
                                                 0x01, 0x00, 0x00, 0x00,  // archived file count
                                                 0x02, 0x00, 0x00, 0x00,  // export count
                                                 0x0A, 0x00, 0x00, 0x80,  // time marker
                                                 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01});
const std::vector<std::uint8_t> kExportRecord =
    Bytes({0x06, 0x00, 0x00, 0x00,             // kind
           0x01, 0x00, 0x00, 0x00,             // text count
           0xFF, 0xFE, 0xFF, 0x01, 'w', 0x00,  // "w"
           0x01, 0x00, 0x00, 0x00,             // number count
           0x01, 0x00, 0x00, 0x00,             // N0
           0x00, 0x00, 0x00, 0x00,             // data length 0 ...
           0x00, 0x00, 0x00, 0x00,             // ... and the 0 that stands for no data
           0x01, 0x00, 0x00, 0x00});           // view flag

TEST(UndoListFileTest, WritesTheListByteForByteAndReadsItBack) {
    std::vector<std::unique_ptr<COperation>> records;
    records.push_back(
        std::make_unique<COperation>(COperation{{u"w"}, {1}, {}, 1, kOpDeleteKeyTree}));
    std::vector<std::uint8_t> expected = kHeader;
    Append(expected, kExportRecord);
    EXPECT_EQ(EncodeUndoList({u"Q", 1, 2, 0x0102030405060708}, records), expected);

    DecodedUndoList list = DecodeUndoList(expected);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.header.description, u"Q");
    EXPECT_EQ(list.header.exportCount, 2);
    EXPECT_EQ(list.header.lastChangeTime, 0x0102030405060708);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0]->texts, std::vector<std::u16string>{u"w"});
    EXPECT_EQ(list.records[0]->numbers, std::vector<std::int32_t>{1});
    EXPECT_TRUE(list.records[0]->Is64BitView());
}

TEST(UndoListFileTest, DataIsFollowedDirectlyByTheViewFlag) {
    std::vector<std::unique_ptr<COperation>> records;
    records.push_back(
        std::make_unique<COperation>(COperation{{}, {}, {0xAB, 0xCD}, 0, kOpDeleteValue}));
    std::vector<std::uint8_t> bytes = EncodeUndoList({}, records);
    // kind, two counts, length 2, the two bytes, the view flag: no 0 after data.
    EXPECT_EQ(bytes.size(), kHeader.size() - 2 + 4 * 4 + 2 + 4);
    DecodedUndoList list = DecodeUndoList(bytes);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0]->data, Bytes({0xAB, 0xCD}));
}

TEST(UndoListFileTest, TimeWithoutItsMarkerIsTheValueItself) {
    std::vector<std::uint8_t> bytes =
        Bytes({0xFF, 0xFE, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF});
    DecodedUndoList list = DecodeUndoList(bytes);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.header.lastChangeTime, -2);
}

TEST(UndoListFileTest, DamagedFilesKeepTheRecordsReadBeforeTheDamage) {
    auto withCount = [](int count, const std::vector<std::uint8_t>& tail) {
        std::vector<std::uint8_t> bytes = kHeader;
        bytes[6] = static_cast<std::uint8_t>(count);
        Append(bytes, tail);
        return bytes;
    };
    std::vector<std::uint8_t> negativeLength = kExportRecord;
    negativeLength[22] = 0xFF;
    negativeLength[23] = negativeLength[24] = negativeLength[25] = 0xFF;
    std::vector<std::uint8_t> twoRecordsOneCut = kExportRecord;
    Append(twoRecordsOneCut,
           std::vector<std::uint8_t>(kExportRecord.begin(), kExportRecord.end() - 3));
    struct {
        const char* why;
        std::vector<std::uint8_t> bytes;
        std::size_t recordsKept;
        bool headerRead;
    } cases[] = {
        {"empty file", {}, 0, false},
        {"second record cut short", withCount(2, twoRecordsOneCut), 1, true},
        {"more records than bytes", withCount(200, kExportRecord), 0, true},
        {"negative data length", withCount(1, negativeLength), 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        DecodedUndoList list = DecodeUndoList(c.bytes);
        EXPECT_NE(list.error, "");
        EXPECT_EQ(list.records.size(), c.recordsKept);
        EXPECT_EQ(list.headerRead, c.headerRead);
    }
}

}  // namespace
}  // namespace quillary
