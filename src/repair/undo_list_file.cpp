#include "repair/undo_list_file.h"

#include <optional>

#include "core/archive.h"

namespace quillary {
namespace {

constexpr std::int32_t kTimeMarker = static_cast<std::int32_t>(0x8000000Au);
// The fewest bytes a record can take: kind, two counts, a data length, one data byte, view.
constexpr std::size_t kMinRecordBytes = 5 * 4 + 1;

}  // namespace

void EncodeUndoRecord(CArchiveWriter& writer, const COperation& record) {
    writer.WriteInt32(record.kind);
    writer.WriteInt32(static_cast<std::int32_t>(record.texts.size()));
    for (const std::u16string& text : record.texts)
        writer.WriteString(text);
    writer.WriteInt32(static_cast<std::int32_t>(record.numbers.size()));
    for (std::int32_t number : record.numbers)
        writer.WriteInt32(number);
    writer.WriteInt32(static_cast<std::int32_t>(record.data.size()));
    if (record.data.empty())
        writer.WriteInt32(0);
    else
        writer.WriteBytes(record.data);
    writer.WriteInt32(record.viewFlag);
}

std::unique_ptr<COperation> DecodeUndoRecord(CArchiveReader& reader) {
    auto record = std::make_unique<COperation>();
    std::optional<std::int32_t> kind = reader.ReadInt32();
    std::size_t countOffset = reader.Offset();
    std::optional<std::int32_t> textCount = reader.ReadInt32();
    if (!kind || !textCount || !reader.CheckCount(*textCount, kMinStringRecordBytes, countOffset))
        return nullptr;
    record->kind = *kind;
    for (std::int32_t i = 0; i < *textCount; ++i) {
        std::optional<std::u16string> text = reader.ReadString();
        if (!text)
            return nullptr;
        record->texts.push_back(std::move(*text));
    }
    countOffset = reader.Offset();
    std::optional<std::int32_t> numberCount = reader.ReadInt32();
    if (!numberCount || !reader.CheckCount(*numberCount, 4, countOffset))
        return nullptr;
    for (std::int32_t i = 0; i < *numberCount; ++i) {
        std::optional<std::int32_t> number = reader.ReadInt32();
        if (!number)
            return nullptr;
        record->numbers.push_back(*number);
    }
    countOffset = reader.Offset();
    std::optional<std::int32_t> dataLength = reader.ReadInt32();
    if (!dataLength || !reader.CheckCount(*dataLength, 1, countOffset))
        return nullptr;
    if (*dataLength == 0) {
        if (!reader.ReadInt32())  // the 0 that stands for "no data"
            return nullptr;
    } else {
        std::optional<std::vector<std::uint8_t>> data =
            reader.ReadBytes(static_cast<std::size_t>(*dataLength));
        if (!data)
            return nullptr;
        record->data = std::move(*data);
    }
    std::optional<std::int32_t> viewFlag = reader.ReadInt32();
    if (!viewFlag)
        return nullptr;
    record->viewFlag = *viewFlag;
    return record;
}

std::vector<std::uint8_t> EncodeUndoList(const UndoListHeader& header,
                                         std::span<const std::unique_ptr<COperation>> records) {
    CArchiveWriter writer;
    writer.WriteString(header.description);
    writer.WriteInt32(static_cast<std::int32_t>(records.size()));
    writer.WriteInt32(header.archivedFileCount);
    writer.WriteInt32(header.exportCount);
    writer.WriteInt32(kTimeMarker);
    writer.WriteInt64(header.lastChangeTime);
    for (const std::unique_ptr<COperation>& record : records)
        EncodeUndoRecord(writer, *record);
    return writer.Bytes();
}

DecodedUndoList DecodeUndoList(std::span<const std::uint8_t> bytes) {
    DecodedUndoList list;
    CArchiveReader reader(bytes);
    std::optional<std::u16string> description = reader.ReadString();
    std::size_t countOffset = reader.Offset();
    std::optional<std::int32_t> recordCount = reader.ReadInt32();
    std::optional<std::int32_t> archivedFiles = reader.ReadInt32();
    std::optional<std::int32_t> exports = reader.ReadInt32();
    std::optional<std::int32_t> marker = reader.ReadInt32();
    std::int64_t time = marker.value_or(0);
    if (marker && *marker == kTimeMarker)
        time = reader.ReadInt64().value_or(0);
    if (!description || !recordCount || !archivedFiles || !exports || reader.Failed()) {
        list.error = reader.Error();
        return list;
    }
    list.header = {std::move(*description), *archivedFiles, *exports, time};
    list.headerRead = true;
    if (!reader.CheckCount(*recordCount, kMinRecordBytes, countOffset)) {
        list.error = reader.Error();
        return list;
    }
    for (std::int32_t i = 0; i < *recordCount; ++i) {
        std::unique_ptr<COperation> record = DecodeUndoRecord(reader);
        if (!record) {
            list.error = reader.Error();
            return list;
        }
        list.records.push_back(std::move(record));
    }
    return list;
}

}  // namespace quillary
