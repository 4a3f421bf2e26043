#include "repair/undo_list_file.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "core/archive.h"

namespace quillary {
namespace {

constexpr std::int32_t kTimeMarker = static_cast<std::int32_t>(0x8000000Au);
// The fewest bytes a record can take: kind, two counts, a data length, one data byte, view.
constexpr std::size_t kMinRecordBytes = 5 * 4 + 1;

enum StoredKind : std::int32_t {
    kCopyFile = 1,
    kMoveFile = 2,
    kArchiveDeleteFile = 3,
    kCreateKey = 4,
    kDeleteKey = 5,
    kDeleteKeyTree = 6,
    kCreateKeyAndValue = 7,
    kSetValue = 8,
    kDeleteValue = 9,
};

// What an export text's record holds in the place of a sub-key.
constexpr std::u16string_view kExportMarker = u"waste";

constexpr std::array<HKey, 5> kRootsByNumber = {HKeyClassesRoot, HKeyCurrentUser, HKeyLocalMachine,
                                                HKeyUsers, HKeyCurrentConfig};

std::optional<HKey> RootOfNumber(std::int32_t number) {
    if (number < 0 || number >= static_cast<std::int32_t>(kRootsByNumber.size()))
        return std::nullopt;
    return kRootsByNumber[static_cast<std::size_t>(number)];
}

// -1 for a handle that is none of the five roots: no reader takes that for a root. Changes
// under other roots are refused before they are made, so no kept record names one.
std::int32_t NumberOfRoot(HKey root) {
    const auto* found = std::find(kRootsByNumber.begin(), kRootsByNumber.end(), root);
    return found == kRootsByNumber.end()
               ? -1
               : static_cast<std::int32_t>(found - kRootsByNumber.begin());
}

std::int32_t FlagOf(RegistryView view) {
    return IsSixtyFourBit(view) ? 1 : 0;
}

std::optional<RegistryView> ViewOfFlag(std::int32_t flag) {
    if (flag == 0)
        return RegistryView::Bits32;
    if (flag == 1)
        return RegistryView::Bits64;
    return std::nullopt;
}

// A record as stored, its fields by position. A foreign record is kept in this form.
using StoredRecord = ForeignRecord;

// The stored form of each typed record.
struct CStoredForm {
    StoredRecord operator()(const CopyFileRecord& r) const {
        return {kCopyFile, {r.source, r.target}, {r.overwrite ? 1 : 0}, {}, 0};
    }
    StoredRecord operator()(const MoveFileRecord& r) const {
        return {kMoveFile, {r.source, r.target}, {}, {}, 0};
    }
    StoredRecord operator()(const ArchiveDeleteFileRecord& r) const {
        StoredRecord stored{kArchiveDeleteFile, {r.path}, {}, {}, 0};
        if (r.entryName)
            stored.texts.push_back(*r.entryName);
        return stored;
    }
    StoredRecord operator()(const CreateKeyRecord& r) const {
        return {kCreateKey, {r.subKey}, {NumberOfRoot(r.root)}, {}, FlagOf(r.view)};
    }
    StoredRecord operator()(const DeleteKeyRecord& r) const {
        return {r.scope == KeyScope::Key ? kDeleteKey : kDeleteKeyTree,
                {r.subKey},
                {NumberOfRoot(r.root)},
                {},
                FlagOf(r.view)};
    }
    StoredRecord operator()(const ExportTextRecord& r) const {
        return {
            kDeleteKeyTree, {std::u16string(kExportMarker), r.entryName}, {1}, {}, FlagOf(r.view)};
    }
    StoredRecord operator()(const CreateKeyAndValueRecord& r) const {
        return {kCreateKeyAndValue,
                {r.subKey, r.value.name, r.value.text},
                {static_cast<std::int32_t>(r.value.kind), NumberOfRoot(r.root),
                 static_cast<std::int32_t>(r.value.dword)},
                {},
                FlagOf(r.view)};
    }
    StoredRecord operator()(const SetValueRecord& r) const {
        StoredRecord stored{kSetValue,
                            {r.subKey, r.value.name, r.value.text},
                            {static_cast<std::int32_t>(r.value.kind), NumberOfRoot(r.root)},
                            {},
                            FlagOf(r.view)};
        if (r.value.kind == RecordValueKind::Dword)
            stored.numbers.push_back(static_cast<std::int32_t>(r.value.dword));
        return stored;
    }
    StoredRecord operator()(const DeleteValueRecord& r) const {
        return {kDeleteValue, {r.subKey, r.valueName}, {NumberOfRoot(r.root)}, {}, FlagOf(r.view)};
    }
    StoredRecord operator()(const ForeignRecord& r) const { return r; }
};

RecordValue ValueOf(const StoredRecord& stored, std::int32_t dword) {
    return {stored.texts[1], static_cast<RecordValueKind>(stored.numbers[0]), stored.texts[2],
            static_cast<std::uint32_t>(dword)};
}

// The typed record a stored one stands for; nullopt when it does not have the shape of its
// kind (see the table in the header).
std::optional<COperation> TypedForm(const StoredRecord& s) {
    const auto shaped = [&s](std::size_t texts, std::size_t numbers) {
        return s.texts.size() == texts && s.numbers.size() == numbers && s.data.empty();
    };
    const std::optional<RegistryView> view = ViewOfFlag(s.viewFlag);
    if (!view)
        return std::nullopt;
    // Files belong to no view: their records always say 0.
    const bool noView = *view == RegistryView::Bits32;
    std::optional<HKey> root;
    switch (s.kind) {
        case kCopyFile:
            if (!noView || !shaped(2, 1) || (s.numbers[0] != 0 && s.numbers[0] != 1))
                return std::nullopt;
            return CopyFileRecord{s.texts[0], s.texts[1], s.numbers[0] == 1};
        case kMoveFile:
            if (!noView || !shaped(2, 0))
                return std::nullopt;
            return MoveFileRecord{s.texts[0], s.texts[1]};
        case kArchiveDeleteFile:
            if (!noView || !(shaped(1, 0) || shaped(2, 0)))
                return std::nullopt;
            if (s.texts.size() == 1)
                return ArchiveDeleteFileRecord{s.texts[0], std::nullopt};
            return ArchiveDeleteFileRecord{s.texts[0], s.texts[1]};
        case kDeleteKeyTree:
            if (shaped(2, 1) && s.texts[0] == kExportMarker && s.numbers[0] == 1)
                return ExportTextRecord{s.texts[1], *view};
            [[fallthrough]];
        case kCreateKey:
        case kDeleteKey:
            if (shaped(1, 1))
                root = RootOfNumber(s.numbers[0]);
            if (!root)
                return std::nullopt;
            if (s.kind == kCreateKey)
                return CreateKeyRecord{*root, s.texts[0], *view};
            return DeleteKeyRecord{*root, s.texts[0],
                                   s.kind == kDeleteKey ? KeyScope::Key : KeyScope::Tree, *view};
        case kCreateKeyAndValue:
            if (shaped(3, 3))
                root = RootOfNumber(s.numbers[1]);
            if (!root)
                return std::nullopt;
            return CreateKeyAndValueRecord{*root, s.texts[0], ValueOf(s, s.numbers[2]), *view};
        case kSetValue: {
            // Only a DWORD value has its data among the numbers.
            const bool dword = !s.numbers.empty() &&
                               s.numbers[0] == static_cast<std::int32_t>(RecordValueKind::Dword);
            if (shaped(3, dword ? 3 : 2))
                root = RootOfNumber(s.numbers[1]);
            if (!root)
                return std::nullopt;
            return SetValueRecord{*root, s.texts[0], ValueOf(s, dword ? s.numbers[2] : 0), *view};
        }
        case kDeleteValue:
            if (shaped(2, 1))
                root = RootOfNumber(s.numbers[0]);
            if (!root)
                return std::nullopt;
            return DeleteValueRecord{*root, s.texts[0], s.texts[1], *view};
        default:
            return std::nullopt;
    }
}

std::optional<StoredRecord> ReadStoredRecord(CArchiveReader& reader) {
    StoredRecord record;
    std::optional<std::int32_t> kind = reader.ReadInt32();
    std::size_t countOffset = reader.Offset();
    std::optional<std::int32_t> textCount = reader.ReadInt32();
    if (!kind || !textCount || !reader.CheckCount(*textCount, kMinStringRecordBytes, countOffset))
        return std::nullopt;
    record.kind = *kind;
    for (std::int32_t i = 0; i < *textCount; ++i) {
        std::optional<std::u16string> text = reader.ReadString();
        if (!text)
            return std::nullopt;
        record.texts.push_back(std::move(*text));
    }
    countOffset = reader.Offset();
    std::optional<std::int32_t> numberCount = reader.ReadInt32();
    if (!numberCount || !reader.CheckCount(*numberCount, 4, countOffset))
        return std::nullopt;
    for (std::int32_t i = 0; i < *numberCount; ++i) {
        std::optional<std::int32_t> number = reader.ReadInt32();
        if (!number)
            return std::nullopt;
        record.numbers.push_back(*number);
    }
    countOffset = reader.Offset();
    std::optional<std::int32_t> dataLength = reader.ReadInt32();
    if (!dataLength || !reader.CheckCount(*dataLength, 1, countOffset))
        return std::nullopt;
    if (*dataLength == 0) {
        if (!reader.ReadInt32())  // the 0 that stands for "no data"
            return std::nullopt;
    } else {
        std::optional<std::vector<std::uint8_t>> data =
            reader.ReadBytes(static_cast<std::size_t>(*dataLength));
        if (!data)
            return std::nullopt;
        record.data = std::move(*data);
    }
    std::optional<std::int32_t> viewFlag = reader.ReadInt32();
    if (!viewFlag)
        return std::nullopt;
    record.viewFlag = *viewFlag;
    return record;
}

}  // namespace

bool IsRecordRoot(HKey root) {
    return NumberOfRoot(root) >= 0;
}

std::int32_t ListFileKindOf(const COperation& record) {
    return std::visit(CStoredForm(), record).kind;
}

void EncodeUndoRecord(CArchiveWriter& writer, const COperation& record) {
    const StoredRecord stored = std::visit(CStoredForm(), record);
    writer.WriteInt32(stored.kind);
    writer.WriteInt32(static_cast<std::int32_t>(stored.texts.size()));
    for (const std::u16string& text : stored.texts)
        writer.WriteString(text);
    writer.WriteInt32(static_cast<std::int32_t>(stored.numbers.size()));
    for (std::int32_t number : stored.numbers)
        writer.WriteInt32(number);
    writer.WriteInt32(static_cast<std::int32_t>(stored.data.size()));
    if (stored.data.empty())
        writer.WriteInt32(0);
    else
        writer.WriteBytes(stored.data);
    writer.WriteInt32(stored.viewFlag);
}

std::optional<COperation> DecodeUndoRecord(CArchiveReader& reader) {
    std::optional<StoredRecord> stored = ReadStoredRecord(reader);
    if (!stored)
        return std::nullopt;
    if (std::optional<COperation> typed = TypedForm(*stored))
        return typed;
    return COperation(std::move(*stored));
}

std::vector<std::uint8_t> EncodeUndoList(const UndoListHeader& header,
                                         std::span<const COperation> records) {
    CArchiveWriter writer;
    writer.WriteString(header.description);
    writer.WriteInt32(static_cast<std::int32_t>(records.size()));
    writer.WriteInt32(header.archivedFileCount);
    writer.WriteInt32(header.exportCount);
    writer.WriteInt32(kTimeMarker);
    writer.WriteInt64(header.lastChangeTime);
    for (const COperation& record : records)
        EncodeUndoRecord(writer, record);
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
        std::optional<COperation> record = DecodeUndoRecord(reader);
        if (!record) {
            list.error = reader.Error();
            return list;
        }
        list.records.push_back(std::move(*record));
    }
    return list;
}

}  // namespace quillary
