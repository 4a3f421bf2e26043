#pragma once

// The journal of a partial backup: NNNNNNNN.rjl beside the list file and the archive of the
// same number, a file of the program's own that a repair run appends to, and flushes, before
// each change it makes. A run that ends normally turns its journal into the archive and the
// list file and removes it; a run that was killed leaves it, and the next command that looks
// at the partial backups completes them from it, so every change that was made can be undone.
//
// Each record: the body's length (32 bits), the CRC-32 of the body (32 bits), the body. A body
// is, in the archive encoding of the data files: the record type, the time of the change
// (64-bit seconds since 1970, UTC), then by type
//
//   1 begin        the backup's description
//   2 stored file  the archive entry name, the file's path, its bytes (a count, then the bytes)
//   3 kept record  an operation record kept in the list file, as the list file holds it
//   4 cancelled    the number of the earlier record (0 for the first) whose change was not made
//   5 export       the archive entry name, the view flag, the export text (count and bytes)
//
// A last record cut short, or one whose CRC does not match, is a write that a kill
// interrupted: its change was never made, and reading stops there.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/append_file.h"
#include "repair/operation.h"
#include "repair/zip_codec.h"

namespace quillary {

// The journal beside the list file of the same number.
std::filesystem::path JournalPathOf(const std::filesystem::path& listFile);
std::filesystem::path ListPathOfJournal(const std::filesystem::path& journal);
bool IsJournalFileName(std::string_view name);

class CBackupJournal {
public:
    using Append = std::function<FileError(CAppendFile&, std::span<const std::uint8_t>)>;

    // Creates the journal with its begin record. Null, with *error set, when it cannot be
    // written: then nothing may be changed.
    static std::unique_ptr<CBackupJournal> Create(IFileIo& fileIo,
                                                  const std::filesystem::path& path,
                                                  std::u16string_view description,
                                                  std::int64_t time, Append append,
                                                  std::string* error);

    // Each returns the number of the record it wrote, or the error; nothing is changed
    // until it succeeded.
    [[nodiscard]] FileError AddStoredFile(std::string_view entryName, std::u16string_view path,
                                          std::span<const std::uint8_t> bytes, std::int64_t time,
                                          std::int32_t* number);
    [[nodiscard]] FileError AddExport(std::string_view entryName, RegistryView view,
                                      std::span<const std::uint8_t> text, std::int64_t time);
    // The change of an earlier record was not made after all.
    [[nodiscard]] FileError Cancel(std::int32_t number, std::int64_t time);

    const std::filesystem::path& Path() const { return file_->Path(); }

private:
    CBackupJournal(std::unique_ptr<CAppendFile> file, Append append)
        : file_(std::move(file)), append_(std::move(append)) {}
    FileError Write(std::span<const std::uint8_t> body, std::int32_t* number);

    std::unique_ptr<CAppendFile> file_;
    Append append_;
    std::int32_t records_ = 0;
};

// Writes the archive and the list file that a journal stands for, each replaced whole, then
// removes the journal. A journal whose run made no change is only removed. nullopt on
// success; else what failed, and the journal stays.
[[nodiscard]] FileError CompleteFromJournal(const std::filesystem::path& journal,
                                            const IZipCodec& zip, IFileIo& fileIo);

// Completes every journal in the undo folder that no live run holds; the failures, one line
// each.
std::vector<std::string> CompleteInterruptedBackups(const std::filesystem::path& undoFolder,
                                                    const IZipCodec& zip, IFileIo& fileIo);

}  // namespace quillary
