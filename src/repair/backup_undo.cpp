#include "repair/backup_undo.h"

#include <algorithm>

#include "core/text_encoding.h"
#include "repair/reg_import.h"
#include "repair/reg_operation_check.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

constexpr std::size_t kMaxArchiveBytes = std::size_t{4} * 1024 * 1024 * 1024;
// An export text larger than this is refused before it is inflated: a registry's whole
// export is a small part of it.
constexpr std::size_t kMaxExportBytes = 256u * 1024 * 1024;

std::u16string_view FolderPart(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? std::u16string_view()
                                                  : path.substr(0, backslash);
}

std::u16string_view FileNamePart(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? path : path.substr(backslash + 1);
}

}  // namespace

std::string CBackupUndo::Failed(std::string why) const {
    environment_.Log(u"Undo FAILED: " + Utf8ToUtf16(why));
    return why;
}

std::string CBackupUndo::Check(std::span<const COperation> records) {
    if (std::string why = OpenArchive(); !why.empty()) {
        const bool needsExports = std::any_of(records.begin(), records.end(), [](const auto& r) {
            return std::holds_alternative<ExportTextRecord>(r);
        });
        if (needsExports)
            environment_.ShowText(u"IDS_UNZIP_ERR");
        return why;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (std::string why = CheckRecord(records[i]); !why.empty())
            return "record " + std::to_string(i + 1) + why;
    }
    return {};
}

// Why the record may not be reversed, as the end of a sentence about it; empty when it may.
std::string CBackupUndo::CheckRecord(const COperation& record) {
    const auto inArchive = [this](const std::u16string& name) {
        return archiveReader_->Holds(Utf16ToUtf8(name));
    };
    if (const auto* file = std::get_if<ArchiveDeleteFileRecord>(&record);
        file != nullptr && file->entryName) {
        if (!inArchive(*file->entryName))
            return ": the archive holds no entry " + Utf16ToUtf8(*file->entryName);
        if (environment_.mayChangeFile && !environment_.mayChangeFile(file->path))
            return ": " + Utf16ToUtf8(file->path) + " lies outside the files an undo may write";
        return {};
    }
    if (const auto* text = std::get_if<ExportTextRecord>(&record)) {
        if (!inArchive(text->entryName))
            return ": the archive holds no entry " + Utf16ToUtf8(text->entryName);
        if (std::string why = CheckExportEntry(Utf16ToUtf8(text->entryName)); !why.empty())
            return ": " + why;
        return {};
    }
    return " is of a kind that no repair or import writes (" +
           std::to_string(ListFileKindOf(record)) + ")";
}

std::string CBackupUndo::CheckExportEntry(const std::string& entryName) {
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(entryName, kMaxExportBytes, content))
        return *error;
    RegImportParse parsed = ParseRegFile(content);
    if (parsed.error) {
        return entryName + ", line " + std::to_string(parsed.error->line) + ": " +
               parsed.error->message;
    }
    if (std::optional<RegImportError> wrong =
            CheckRegOperations(environment_.target, parsed.operations)) {
        return entryName + ", line " + std::to_string(wrong->line) + ": " + wrong->message;
    }
    return {};
}

std::string CBackupUndo::Reverse(std::span<const COperation> records) {
    for (std::size_t i = records.size(); i-- > 0;) {
        // Check let through only the two kinds below.
        std::string why;
        if (const auto* file = std::get_if<ArchiveDeleteFileRecord>(&records[i]))
            why = RestoreFile(*file);
        else if (const auto* text = std::get_if<ExportTextRecord>(&records[i]))
            why = ImportEntry(*text);
        if (!why.empty())
            return why;
    }
    return {};
}

std::string CBackupUndo::OpenArchive() {
    if (archiveReader_)
        return {};
    std::string cannotRead = "the archive " + archivePath_.string() + " cannot be read";
    if (archivePath_.empty())
        return cannotRead;
    ZipError error;
    if (FileError readError =
            environment_.fileIo.ReadWholeFile(archivePath_, kMaxArchiveBytes, archive_))
        error = readError;
    else
        error = environment_.zip.OpenArchive(archive_, archiveReader_);
    if (error)
        return Failed(error->empty() ? cannotRead : *error);
    return {};
}

bool CBackupUndo::CreateFolderOf(std::u16string_view path) {
    IFileSystem& files = environment_.files;
    const std::u16string_view folder = FolderPart(path);
    if (folder.empty())
        return false;
    for (std::size_t end = folder.find(u'\\');; end = folder.find(u'\\', end + 1)) {
        const std::u16string_view level = folder.substr(0, end);
        // The drive ("C:") and the empty start of a network path are not created.
        if (!level.empty() && level.back() != u':' &&
            files.GetFileAttributesW(level) == InvalidFileAttributes) {
            files.CreateDirectoryW(level);
        }
        if (end == std::u16string_view::npos)
            break;
    }
    const std::uint32_t attributes = files.GetFileAttributesW(folder);
    return attributes != InvalidFileAttributes && (attributes & FileAttributeDirectory) != 0;
}

std::string CBackupUndo::RestoreFile(const ArchiveDeleteFileRecord& record) {
    const std::u16string& path = record.path;
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(Utf16ToUtf8(record.entryName.value_or(u"")),
                                                   kMaxArchivedFileBytes, content)) {
        return Failed(*error);
    }
    if (!CreateFolderOf(path) || !environment_.localPathOf)
        return Failed("cannot make the folder of " + Utf16ToUtf8(path));
    std::optional<std::filesystem::path> local = environment_.localPathOf(path);
    if (!local) {
        std::optional<std::filesystem::path> folder = environment_.localPathOf(FolderPart(path));
        if (!folder)
            return Failed("cannot find the folder of " + Utf16ToUtf8(path));
        local = *folder / std::filesystem::path(std::u16string(FileNamePart(path)));
    }
    if (FileError error = environment_.fileIo.ReplaceFileAtomically(*local, content))
        return Failed(*error);
    return {};
}

std::string CBackupUndo::ImportEntry(const ExportTextRecord& record) {
    const std::string entryName = Utf16ToUtf8(record.entryName);
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(entryName, kMaxExportBytes, content))
        return Failed(*error);
    // The text was checked before anything was undone.
    RegImportParse parsed = ParseRegFile(content);
    // Each block holds what one change found before it changed anything. Applied newest
    // first, a value that two changes touched ends as the first one found it: in file order
    // the second change's copy would win and the undo would stop half-way back.
    std::reverse(parsed.operations.begin(), parsed.operations.end());
    if (std::optional<std::string> failure = ApplyRegOperations(
            environment_.target, IsSixtyFourBit(record.view), parsed.operations)) {
        return Failed(entryName + ", " + *failure);
    }
    return {};
}

}  // namespace quillary
