#include "repair/undo_list_file.h"

#include <gtest/gtest.h>

#include "core/archive.h"

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
    const COperation record =
        DeleteKeyRecord{HKeyCurrentUser, u"w", KeyScope::Tree, RegistryView::Bits64};
    std::vector<std::uint8_t> expected = kHeader;
    Append(expected, kExportRecord);
    EXPECT_EQ(EncodeUndoList({u"Q", 1, 2, 0x0102030405060708}, std::span(&record, 1)), expected);

    DecodedUndoList list = DecodeUndoList(expected);
    EXPECT_EQ(list.error, "");
    EXPECT_EQ(list.header.description, u"Q");
    EXPECT_EQ(list.header.exportCount, 2);
    EXPECT_EQ(list.header.lastChangeTime, 0x0102030405060708);
    EXPECT_EQ(list.records, std::vector<COperation>{record});
}

// A record's fields as the list file stores them, written after the layout of the header.
std::vector<std::uint8_t> StoredRecord(std::int32_t kind, std::vector<std::u16string> texts,
                                       std::vector<std::int32_t> numbers,
                                       std::int32_t viewFlag = 0) {
    CArchiveWriter writer;
    writer.WriteInt32(kind);
    writer.WriteInt32(static_cast<std::int32_t>(texts.size()));
    for (const std::u16string& text : texts)
        writer.WriteString(text);
    writer.WriteInt32(static_cast<std::int32_t>(numbers.size()));
    for (std::int32_t number : numbers)
        writer.WriteInt32(number);
    writer.WriteInt32(0);  // no data
    writer.WriteInt32(0);
    writer.WriteInt32(viewFlag);
    return writer.Bytes();
}

std::optional<COperation> Decoded(const std::vector<std::uint8_t>& bytes) {
    CArchiveReader reader(bytes);
    std::optional<COperation> record = DecodeUndoRecord(reader);
    EXPECT_TRUE(reader.AtEnd());
    return record;
}

std::vector<std::uint8_t> Encoded(const COperation& record) {
    CArchiveWriter writer;
    EncodeUndoRecord(writer, record);
    return writer.Bytes();
}

// Every kind of record is stored in the positions the list file has always used, and read
// back as the same typed record.
TEST(UndoListFileTest, EveryKindIsStoredInItsPositions) {
    constexpr RegistryView k32 = RegistryView::Bits32;
    constexpr RegistryView k64 = RegistryView::Bits64;
    const struct {
        const char* why;
        COperation record;
        std::vector<std::uint8_t> stored;
    } cases[] = {
        {"1 copy file", CopyFileRecord{u"C:\\a", u"C:\\b", true},
         StoredRecord(1, {u"C:\\a", u"C:\\b"}, {1})},
        {"2 move file", MoveFileRecord{u"C:\\a", u"C:\\b"},
         StoredRecord(2, {u"C:\\a", u"C:\\b"}, {})},
        {"3 file to archive", ArchiveDeleteFileRecord{u"C:\\a", std::nullopt},
         StoredRecord(3, {u"C:\\a"}, {})},
        {"3 archived file", ArchiveDeleteFileRecord{u"C:\\a", u"00000001.fil"},
         StoredRecord(3, {u"C:\\a", u"00000001.fil"}, {})},
        {"4 create key", CreateKeyRecord{HKeyClassesRoot, u"K", k64},
         StoredRecord(4, {u"K"}, {0}, 1)},
        {"5 delete key", DeleteKeyRecord{HKeyCurrentConfig, u"K", KeyScope::Key, k32},
         StoredRecord(5, {u"K"}, {4})},
        {"6 delete key tree", DeleteKeyRecord{HKeyUsers, u"K", KeyScope::Tree, k64},
         StoredRecord(6, {u"K"}, {3}, 1)},
        {"6 export text", ExportTextRecord{u"00000002.reg", k64},
         StoredRecord(6, {u"waste", u"00000002.reg"}, {1}, 1)},
        {"7 create key and value",
         CreateKeyAndValueRecord{
             HKeyLocalMachine, u"K", {u"V", RecordValueKind::Dword, u"", 9}, k32},
         StoredRecord(7, {u"K", u"V", u""}, {1, 2, 9})},
        {"8 set text",
         SetValueRecord{HKeyCurrentUser, u"K", {u"V", RecordValueKind::Text, u"t"}, k64},
         StoredRecord(8, {u"K", u"V", u"t"}, {0, 1}, 1)},
        {"8 set expandable text",
         SetValueRecord{HKeyCurrentUser, u"K", {u"V", RecordValueKind::ExpandText, u"%t%"}, k32},
         StoredRecord(8, {u"K", u"V", u"%t%"}, {3, 1})},
        {"8 set DWORD",
         SetValueRecord{
             HKeyCurrentUser, u"K", {u"V", RecordValueKind::Dword, u"", 0xFFFFFFFEu}, k32},
         StoredRecord(8, {u"K", u"V", u""}, {1, 1, -2})},
        {"9 delete value", DeleteValueRecord{HKeyLocalMachine, u"K", u"V", k64},
         StoredRecord(9, {u"K", u"V"}, {2}, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Encoded(c.record), c.stored);
        EXPECT_EQ(Decoded(c.stored), c.record);
    }
}

// A record that does not have the shape of its kind is kept as it was read: undo can name it
// and refuse it, and writing it back loses nothing.
TEST(UndoListFileTest, RecordsOfNoKnownShapeAreKeptAsTheyWere) {
    const struct {
        const char* why;
        std::vector<std::uint8_t> stored;
    } cases[] = {
        {"unknown kind", StoredRecord(42, {u"x"}, {1})},
        {"root out of range", StoredRecord(9, {u"K", u"V"}, {5}, 1)},
        {"negative root", StoredRecord(5, {u"K"}, {-1})},
        {"view flag out of range", StoredRecord(6, {u"K"}, {1}, 2)},
        {"file with a view", StoredRecord(3, {u"C:\\a", u"00000001.fil"}, {}, 1)},
        {"file with a number", StoredRecord(3, {u"C:\\a", u"00000001.fil"}, {0})},
        {"export text with another number", StoredRecord(6, {u"waste", u"00000001.reg"}, {2})},
        {"overwrite flag out of range", StoredRecord(1, {u"C:\\a", u"C:\\b"}, {2})},
        {"set text with a DWORD", StoredRecord(8, {u"K", u"V", u"t"}, {0, 1, 7})},
        {"set DWORD without one", StoredRecord(8, {u"K", u"V", u""}, {1, 1})},
        {"deleted value with its data", StoredRecord(9, {u"K", u"V", u"t"}, {1, 0, 0})},
        {"no texts", StoredRecord(4, {}, {1})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::optional<COperation> record = Decoded(c.stored);
        ASSERT_TRUE(record.has_value());
        EXPECT_TRUE(std::holds_alternative<ForeignRecord>(*record));
        EXPECT_EQ(Encoded(*record), c.stored);
    }
}

TEST(UndoListFileTest, DataIsFollowedDirectlyByTheViewFlag) {
    const COperation record = ForeignRecord{9, {}, {}, {0xAB, 0xCD}, 0};
    std::vector<std::uint8_t> bytes = EncodeUndoList({}, std::span(&record, 1));
    // kind, two counts, length 2, the two bytes, the view flag: no 0 after data.
    EXPECT_EQ(bytes.size(), kHeader.size() - 2 + 4 * 4 + 2 + 4);
    DecodedUndoList list = DecodeUndoList(bytes);
    ASSERT_EQ(list.records.size(), 1u);
    EXPECT_EQ(list.records[0], record);
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
