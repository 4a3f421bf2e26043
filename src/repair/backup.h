#pragma once

// The partial backup: every change a repair makes to the registry or the files goes through
// it, and it makes each one reversible before making it.
//
// A repair run opens one (BeginPartialBackup), hands it operations (ArchiveDeleteFile,
// DeleteKey, DeleteValue, SetTextValue, or AddOperation with a record of its own) and closes
// it (EndPartialBackup). A file that is deleted is first stored in the backup's ZIP archive;
// registry data that is deleted or overwritten is first exported into the export writer of
// its view. Closing stores the export texts in the archive too and writes the list file.
// The two files share an eight-digit number in the undo folder:
//
//   NNNNNNNN.rxb   ZIP archive: 00000001.fil … (deleted files), 00000001.reg … (export texts,
//                  the 32-bit view's first, then on a 64-bit system the 64-bit view's)
//   NNNNNNNN.rmx   list file: the kept records (see undo_list_file.h)
//
// The undo list constructs one without a description, points it at a list file
// (SetListFilePath), loads it (LoadList) and reverses it (UndoAll).
//
// Guarantees:
//   - A change whose undo copy cannot be made (the export fails, the file cannot be stored)
//     is not made, and the operation fails.
//   - The archive and the list file on disk are always whole: each is written to a temporary
//     file in the same folder and renamed. The archive is rewritten with every file added,
//     so a file is deleted only once a complete archive holding it is on disk.
//   - Undo reports every record it cannot reverse, a missing archive entry included.
//
// Thread use: one thread at a time (the cleaning run's worker performs the operations, the
// window thread opens and closes the backup before and after it). No locks.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/text_tables.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "repair/operation.h"
#include "repair/reg_export.h"
#include "repair/zip_codec.h"

namespace quillary {

// What a partial backup works with; the references must outlive it.
struct BackupEnvironment {
    const RegistryTarget& target;
    // The target's files: copies, moves and deletions go through it.
    IFileSystem& files;
    // Where a target's path lies on this machine, when it exists: the bytes of a file to
    // store are read there, and a restored file is written there.
    std::function<std::optional<std::filesystem::path>(std::u16string_view)> localPathOf;
    const IZipCodec& zip;
    const IClock& clock;
    // The program's settings: a written list file becomes the latest restore point.
    SettingsValues& settings;
    // The program's data folder; the undo folder is made inside it.
    std::filesystem::path dataFolder;
    TextLookup text;                                       // language texts by identifier
    std::function<void(std::u16string_view)> log;          // one line of the daily log
    std::function<void(std::u16string_view)> showMessage;  // a message box with an OK button
    // Replaces a file whole (the archive, the list file); a test puts a failing one here.
    std::function<FileError(const std::filesystem::path&, std::span<const std::uint8_t>)>
        replaceFile = ReplaceFileAtomically;
};

class CBackup {
public:
    // For a repair run: the description is stored in the list file, and closing the backup
    // writes the list file when it holds a record. Without a description the backup is one
    // of the undo list, whose files are never written. The undo folder is created when
    // missing.
    explicit CBackup(const BackupEnvironment& environment,
                     std::optional<std::u16string> description = std::nullopt);
    // Closes the backup (see Close).
    ~CBackup();
    CBackup(const CBackup&) = delete;
    CBackup& operator=(const CBackup&) = delete;

    // Creates the export writers: the 32-bit view's and, on a 64-bit system, the 64-bit
    // view's. Registry changes fail until this was called.
    void BeginExports();
    // The export writer of a view, for changes made outside the operations (the registry
    // tweaks); null before BeginExports and after FreeExports.
    CRegExport* ExportWriter(bool in64BitView);
    void FreeExports();

    // Performs the operation; keeps the record when its kind is undone from the record itself
    // (1, 2, 3, 4, 7). Registry kinds 5, 6, 8 and 9 are undone through the export texts and
    // are not kept. False, with nothing changed, when it failed.
    bool AddOperation(std::unique_ptr<COperation> operation);

    // The operations the problem repairs make; each builds its record and adds it.
    bool ArchiveDeleteFile(std::u16string_view path);
    bool DeleteKey(std::int32_t root, std::u16string_view subKey, bool tree, bool in64BitView);
    bool DeleteValue(std::int32_t root, std::u16string_view subKey, std::u16string_view valueName,
                     bool in64BitView);
    bool SetTextValue(std::int32_t root, std::u16string_view subKey, std::u16string_view valueName,
                      std::u16string_view text, bool in64BitView);

    // Stores each view's export text in the archive as the next NNNNNNNN.reg entry and keeps
    // a record for it. False when a view's text could not be stored; that text is then kept
    // beside the archive as NNNNNNNN-32bit.reg or NNNNNNNN-64bit.reg so it is not lost, and
    // the other view is still tried.
    bool ArchiveExports();

    // Writes the list file (choosing the backup's number first when it has none) and makes
    // its date the latest restore point. False when it could not be written.
    bool SaveList();
    // Reads the list file named by ListFilePath, appending its records. False when there is
    // none or it is damaged; the records read before the damage are kept.
    bool LoadList();

    // Reverses every record, last first. Stops at the first that cannot be reversed: shows
    // IDS_STR_UNDO_FAILED (after IDS_UNZIP_ERR when the archive cannot be read) and returns
    // false; the records after it in the list stay reversed.
    bool UndoAll();

    // Ends a repair run's backup: frees the writers and, when it holds a record, writes the
    // list file. Does nothing for an undo-list backup or the second time. False when the list
    // file could not be written.
    bool Close();

    void SetExportAtEnd(bool exportAtEnd) { exportAtEnd_ = exportAtEnd; }
    bool ExportAtEnd() const { return exportAtEnd_; }
    void SetListFilePath(std::filesystem::path path) { listFilePath_ = std::move(path); }
    const std::filesystem::path& ListFilePath() const { return listFilePath_; }
    const std::filesystem::path& ArchivePath() const { return archivePath_; }
    const std::filesystem::path& Folder() const { return folder_; }
    const std::u16string& Description() const { return description_; }
    // Seconds since 1970 (UTC) of the backup's last change.
    std::int64_t LastChangeTime() const { return lastChangeTime_; }
    std::int32_t ArchivedFileCount() const { return archivedFileCount_; }
    std::int32_t ExportCount() const { return exportCount_; }
    std::span<const std::unique_ptr<COperation>> Operations() const { return operations_; }

private:
    bool RunOperation(COperation& operation);
    bool RunArchiveDeleteFile(COperation& operation);
    bool RunDeleteKeyTree(const COperation& operation);
    bool RunSetValue(const COperation& operation);
    bool RunDeleteValue(const COperation& operation);
    bool RunCreateKey(const COperation& operation);
    bool RunCreateKeyAndValue(const COperation& operation);

    bool UndoOperation(const COperation& operation);
    bool UndoFromArchive(const COperation& operation);
    bool RestoreFile(const COperation& operation);
    bool ImportEntry(const std::string& entryName, bool in64BitView);
    bool UndoDeleteValue(const COperation& operation);
    bool OpenArchiveForReading();

    // Names the archive after the next free number, unless it has a name or there is no folder.
    void ChooseArchivePath();
    bool StoreInArchive(const std::string& entryName, std::span<const std::uint8_t> content);
    RegSam OperationMask(const COperation& operation) const;
    bool SaveUndoCopyOfValue(CRegExport& writer, HKey root, std::u16string_view subKey,
                             std::u16string_view valueName, bool in64BitView, RegSam mask);
    bool CreateFolderOf(std::u16string_view path);
    void Log(std::u16string_view line) const;
    void Touch();

    const BackupEnvironment& environment_;
    bool repairUse_;
    bool exportAtEnd_ = false;
    bool closed_ = false;
    std::unique_ptr<CRegExport> writer32_;
    std::unique_ptr<CRegExport> writer64_;
    std::filesystem::path listFilePath_;
    std::vector<std::unique_ptr<COperation>> operations_;
    std::filesystem::path folder_;
    std::u16string description_;
    std::filesystem::path archivePath_;
    std::int64_t lastChangeTime_ = 0;
    // The archive as it is on disk, while it is open.
    enum class ArchiveState { Closed, Writing, Reading };
    ArchiveState archiveState_ = ArchiveState::Closed;
    std::vector<std::uint8_t> archive_;
    std::int32_t archivedFileCount_ = 0;
    std::int32_t exportCount_ = 0;
};

// Opens a repair run's partial backup: described by the application's title, its export
// texts archived when it ends, its export writers ready.
std::unique_ptr<CBackup> BeginPartialBackup(const BackupEnvironment& environment,
                                            std::u16string_view appTitle);
// Ends it: archives the export texts, frees the writers and closes it (writing the list
// file, whose path ListFilePath then gives). False when anything could not be stored.
bool EndPartialBackup(CBackup& backup);

}  // namespace quillary
