#pragma once

// The undo of a partial backup: reverses the records of its list file from the copies in its
// archive. Only what a repair or an import of this program records is reversed: files inside
// what the environment lets an undo change, export texts whose keys are in the target's roots
// and pass the deletion guard, entries that exist. A list that holds anything else is refused
// whole, before anything is changed.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "repair/backup_environment.h"
#include "repair/operation.h"
#include "repair/zip_codec.h"

namespace quillary {

class CBackupUndo {
public:
    CBackupUndo(const BackupEnvironment& environment, std::filesystem::path archivePath)
        : environment_(environment), archivePath_(std::move(archivePath)) {}

    // Empty when every record may be reversed, else why not. Shows IDS_UNZIP_ERR when the
    // archive cannot be read and the records need its export texts.
    std::string Check(std::span<const COperation> records);

    // Reverses every record, last first, after Check accepted them; stops at the first that
    // cannot be reversed, leaving the ones after it reversed. Empty on success, else why.
    std::string Reverse(std::span<const COperation> records);

private:
    // Empty once the archive is read, else why it cannot be.
    std::string OpenArchive();
    std::string CheckRecord(const COperation& record);
    std::string CheckExportEntry(const std::string& entryName);
    std::string RestoreFile(const ArchiveDeleteFileRecord& record);
    std::string ImportEntry(const ExportTextRecord& record);
    bool CreateFolderOf(std::u16string_view path);
    // Logs a failure of the undo and gives it back.
    std::string Failed(std::string why) const;

    const BackupEnvironment& environment_;
    std::filesystem::path archivePath_;
    // The archive, once read, and its reader.
    std::vector<std::uint8_t> archive_;
    std::unique_ptr<IZipReader> archiveReader_;
};

}  // namespace quillary
