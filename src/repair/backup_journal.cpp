#include "repair/backup_journal.h"

#include <array>
#include <cstdio>
#include <optional>
#include <set>
#include <system_error>

#include "core/archive.h"
#include "core/bytes.h"
#include "core/text_encoding.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

enum RecordType : std::int32_t {
    kBegin = 1,
    kStoredFile = 2,
    kKeptRecord = 3,
    kCancelled = 4,
    kExport = 5,
};

// A stored file or an export text is at most a little over what the archive takes of one.
constexpr std::uint32_t kMaxBodyBytes = (1u << 30) + (1u << 20);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            entries[i] = value;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes)
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

CArchiveWriter BodyOf(RecordType type, std::int64_t time) {
    CArchiveWriter body;
    body.WriteInt32(type);
    body.WriteInt64(time);
    return body;
}

void WriteBlob(CArchiveWriter& body, std::span<const std::uint8_t> bytes) {
    body.WriteInt32(static_cast<std::int32_t>(bytes.size()));
    body.WriteBytes(bytes);
}

std::optional<std::vector<std::uint8_t>> ReadBlob(CArchiveReader& reader) {
    const std::size_t offset = reader.Offset();
    std::optional<std::int32_t> count = reader.ReadInt32();
    if (!count || !reader.CheckCount(*count, 1, offset))
        return std::nullopt;
    return reader.ReadBytes(static_cast<std::size_t>(*count));
}

// One record of a journal as read back.
struct JournalRecord {
    RecordType type = kBegin;
    std::int64_t time = 0;
    std::u16string text;  // begin: the description; stored file: its path
    std::string entry;    // stored file, export: the archive entry name
    std::vector<std::uint8_t> bytes;
    std::optional<COperation> kept;
    std::int32_t number = 0;  // cancelled: the record it cancels; export: the view flag
};

// Reads a journal's records in order, up to the first that is cut short or damaged.
class CJournalReader {
public:
    explicit CJournalReader(const std::filesystem::path& path) : path_(path) {
#ifdef _WIN32
        stream_ = _wfopen(path.c_str(), L"rb");
#else
        stream_ = std::fopen(path.c_str(), "rb");
#endif
    }
    ~CJournalReader() {
        if (stream_ != nullptr)
            std::fclose(stream_);
    }
    CJournalReader(const CJournalReader&) = delete;
    CJournalReader& operator=(const CJournalReader&) = delete;

    bool IsOpen() const {
        return stream_ != nullptr;
    }

    // False at the end, or at a record that is cut short or damaged.
    bool Next(JournalRecord& record) {
        std::uint8_t head[8];
        if (stream_ == nullptr || std::fread(head, 1, sizeof head, stream_) != sizeof head)
            return false;
        const std::uint32_t length = ReadUInt32Le(head);
        if (length > kMaxBodyBytes)
            return false;
        body_.resize(length);
        if (std::fread(body_.data(), 1, length, stream_) != length ||
            Crc32(body_) != ReadUInt32Le(head, 4)) {
            return false;
        }
        return Decode(record);
    }

private:
    bool Decode(JournalRecord& record) {
        CArchiveReader reader(body_);
        std::optional<std::int32_t> type = reader.ReadInt32();
        std::optional<std::int64_t> time = reader.ReadInt64();
        if (!type || !time)
            return false;
        record = {};
        record.type = static_cast<RecordType>(*type);
        record.time = *time;
        switch (record.type) {
            case kBegin: {
                std::optional<std::u16string> description = reader.ReadString();
                record.text = description.value_or(u"");
                return description.has_value();
            }
            case kStoredFile: {
                std::optional<std::u16string> entry = reader.ReadString();
                std::optional<std::u16string> path = reader.ReadString();
                std::optional<std::vector<std::uint8_t>> bytes = ReadBlob(reader);
                if (!entry || !path || !bytes)
                    return false;
                record.entry = Utf16ToUtf8(*entry);
                record.text = std::move(*path);
                record.bytes = std::move(*bytes);
                return true;
            }
            case kKeptRecord:
                record.kept = DecodeUndoRecord(reader);
                return record.kept.has_value();
            case kCancelled: {
                std::optional<std::int32_t> number = reader.ReadInt32();
                record.number = number.value_or(-1);
                return number.has_value();
            }
            case kExport: {
                std::optional<std::u16string> entry = reader.ReadString();
                std::optional<std::int32_t> view = reader.ReadInt32();
                std::optional<std::vector<std::uint8_t>> bytes = ReadBlob(reader);
                if (!entry || !view || !bytes)
                    return false;
                record.entry = Utf16ToUtf8(*entry);
                record.number = *view;
                record.bytes = std::move(*bytes);
                return true;
            }
        }
        return false;
    }

    std::filesystem::path path_;
    std::FILE* stream_ = nullptr;
    std::vector<std::uint8_t> body_;
};

std::chrono::system_clock::time_point TimeOf(std::int64_t seconds) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

std::filesystem::path SwapExtension(const std::filesystem::path& path, const char* extension) {
    std::filesystem::path swapped = path;
    swapped.replace_extension(extension);
    return swapped;
}

}  // namespace

std::filesystem::path JournalPathOf(const std::filesystem::path& listFile) {
    return SwapExtension(listFile, ".rjl");
}

std::filesystem::path ListPathOfJournal(const std::filesystem::path& journal) {
    return SwapExtension(journal, ".rmx");
}

bool IsJournalFileName(std::string_view name) {
    return name.size() > 4 && name.ends_with(".rjl") && UndoListNumberOf(name) > 0;
}

// --- writing ---------------------------------------------------------------------------------

std::unique_ptr<CBackupJournal> CBackupJournal::Create(IFileIo& fileIo,
                                                       const std::filesystem::path& path,
                                                       std::u16string_view description,
                                                       std::int64_t time, Append append,
                                                       std::string* error) {
    std::unique_ptr<CAppendFile> file = fileIo.CreateAppendFile(path, error);
    if (!file)
        return nullptr;
    std::unique_ptr<CBackupJournal> journal(new CBackupJournal(std::move(file), std::move(append)));
    CArchiveWriter body = BodyOf(kBegin, time);
    body.WriteString(description);
    if (FileError failure = journal->Write(body.Bytes(), nullptr)) {
        *error = *failure;
        journal.reset();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return nullptr;
    }
    return journal;
}

FileError CBackupJournal::Write(std::span<const std::uint8_t> body, std::int32_t* number) {
    if (body.size() > kMaxBodyBytes)
        return "cannot write " + Path().string() + ": the record is too large";
    std::vector<std::uint8_t> record;
    record.reserve(body.size() + 8);
    AppendLittleEndian(record, body.size(), 4);
    AppendLittleEndian(record, Crc32(body), 4);
    record.insert(record.end(), body.begin(), body.end());
    if (FileError failure = append_ ? append_(*file_, record) : file_->Append(record))
        return failure;
    if (number != nullptr)
        *number = records_;
    ++records_;
    return std::nullopt;
}

FileError CBackupJournal::AddStoredFile(std::string_view entryName, std::u16string_view path,
                                        std::span<const std::uint8_t> bytes, std::int64_t time,
                                        std::int32_t* number) {
    CArchiveWriter body = BodyOf(kStoredFile, time);
    body.WriteString(Utf8ToUtf16(entryName));
    body.WriteString(path);
    WriteBlob(body, bytes);
    return Write(body.Bytes(), number);
}

FileError CBackupJournal::AddExport(std::string_view entryName, RegistryView view,
                                    std::span<const std::uint8_t> text, std::int64_t time) {
    CArchiveWriter body = BodyOf(kExport, time);
    body.WriteString(Utf8ToUtf16(entryName));
    body.WriteInt32(IsSixtyFourBit(view) ? 1 : 0);
    WriteBlob(body, text);
    return Write(body.Bytes(), nullptr);
}

FileError CBackupJournal::Cancel(std::int32_t number, std::int64_t time) {
    CArchiveWriter body = BodyOf(kCancelled, time);
    body.WriteInt32(number);
    return Write(body.Bytes(), nullptr);
}

// --- reading and completing ------------------------------------------------------------------

namespace {

// What the first reading of a journal learns: the header of its list file and the records
// whose change was not made.
struct JournalOutline {
    bool empty = true;  // not even its begin record is whole: the run changed nothing
    bool begun = false;
    UndoListHeader header;
    std::set<std::int32_t> cancelled;
};

FileError Outline(const std::filesystem::path& journal, JournalOutline& outline) {
    CJournalReader reader(journal);
    if (!reader.IsOpen())
        return "cannot read " + journal.string();
    JournalRecord record;
    for (std::int32_t number = 0; reader.Next(record); ++number) {
        outline.empty = false;
        if (number == 0) {
            if (record.type != kBegin)
                break;
            outline.begun = true;
            outline.header.description = record.text;
        }
        outline.header.lastChangeTime = record.time;
        if (record.type == kCancelled)
            outline.cancelled.insert(record.number);
    }
    if (!outline.begun && !outline.empty)
        return journal.string() + " is not the journal of a partial backup";
    return std::nullopt;
}

}  // namespace

FileError CompleteFromJournal(const std::filesystem::path& journal, const IZipCodec& zip,
                              IFileIo& fileIo) {
    JournalOutline outline;
    if (FileError failure = Outline(journal, outline))
        return failure;

    std::unique_ptr<IZipBuilder> archive = zip.NewArchive();
    std::vector<COperation> records;
    CJournalReader reader(journal);
    JournalRecord record;
    for (std::int32_t number = 0; reader.Next(record); ++number) {
        const bool made = outline.cancelled.count(number) == 0;
        if (record.type == kStoredFile && made) {
            records.emplace_back(ArchiveDeleteFileRecord{record.text, Utf8ToUtf16(record.entry)});
            ++outline.header.archivedFileCount;
        } else if (record.type == kExport) {
            const RegistryView view =
                record.number != 0 ? RegistryView::Bits64 : RegistryView::Bits32;
            records.emplace_back(ExportTextRecord{Utf8ToUtf16(record.entry), view});
            ++outline.header.exportCount;
        } else if (record.type == kKeptRecord && made) {
            records.push_back(std::move(*record.kept));
        } else {
            continue;
        }
        if (!record.entry.empty()) {
            if (ZipError error = archive->Add(record.entry, record.bytes, TimeOf(record.time)))
                return "cannot build the archive of " + journal.string() + ": " + *error;
        }
    }

    std::error_code ignored;
    if (!records.empty()) {
        std::vector<std::uint8_t> bytes;
        if (ZipError error = archive->Finish(bytes))
            return "cannot build the archive of " + journal.string() + ": " + *error;
        const std::filesystem::path list = ListPathOfJournal(journal);
        if (FileError failure = fileIo.ReplaceFileAtomically(ArchivePathOfList(list), bytes))
            return failure;
        if (FileError failure =
                fileIo.ReplaceFileAtomically(list, EncodeUndoList(outline.header, records)))
            return failure;
    }
    if (!std::filesystem::remove(journal, ignored) && ignored)
        return "cannot remove " + journal.string() + ": " + ignored.message();
    fileIo.FlushFolder(journal.parent_path());
    return std::nullopt;
}

std::vector<std::string> CompleteInterruptedBackups(const std::filesystem::path& undoFolder,
                                                    const IZipCodec& zip, IFileIo& fileIo) {
    std::vector<std::filesystem::path> journals;
    std::error_code error;
    for (std::filesystem::directory_iterator it(undoFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (IsJournalFileName(it->path().filename().string()))
            journals.push_back(it->path());
    }
    std::sort(journals.begin(), journals.end());
    std::vector<std::string> failures;
    for (const std::filesystem::path& journal : journals) {
        if (fileIo.IsAppendFileHeld(journal))
            continue;  // a run that is still going
        if (FileError failure = CompleteFromJournal(journal, zip, fileIo))
            failures.push_back("the interrupted partial backup " + journal.stem().string() +
                               " could not be completed: " + *failure);
    }
    return failures;
}

}  // namespace quillary
