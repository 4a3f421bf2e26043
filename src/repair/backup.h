#pragma once

// The partial backup: every change a repair makes to the registry or the files goes through
// it, and it makes each one reversible before making it.
//
// A repair run opens one (BeginPartialBackup), hands it operations (ArchiveDeleteFile,
// DeleteKey, DeleteValue, SetTextValue, or AddOperation with a record of its own) and closes
// it (EndPartialBackup). Three files share an eight-digit number in the undo folder:
//
//   NNNNNNNN.rjl   the journal (see backup_journal.h): while the run goes on, every file it
//                  deletes is appended to it, and flushed, before the file is deleted
//   NNNNNNNN.rxb   ZIP archive: 00000001.fil … (deleted files), 00000001.reg … (export texts,
//                  the 32-bit view's first, then on a 64-bit system the 64-bit view's)
//   NNNNNNNN.rmx   list file: the kept records (see undo_list_file.h)
//
// Registry data that is deleted or overwritten is first exported into the export writer of its
// view; the registry changes stay in the target's memory until its owner saves them. Ending
// the backup appends the export texts to the journal, then turns the journal into the archive
// and the list file: only once that succeeded may the owner save the registry. A run that
// dies leaves its journal, from which CompleteInterruptedBackups makes the same two files.
//
// The undo list constructs one without a description, points it at a list file
// (SetListFilePath), loads it (LoadList) and reverses it (UndoAll).
//
// This class keeps the backup's files and its records; the performing of the records is
// COperationRunner's (operation_runner.h), their reversal CBackupUndo's (backup_undo.h).
//
// Guarantees:
//   - A change whose undo copy cannot be made (the export fails, the journal cannot be
//     written) is not made, and the operation fails.
//   - A file is deleted only once its bytes are on the disk in the journal. Each step costs
//     the same however many came before.
//   - Undo reverses only what a repair or an import of this program records (see
//     backup_undo.h); a list that holds anything else is refused whole, before anything is
//     changed.
//
// Thread use: one thread at a time (the cleaning run's worker performs the operations, the
// window thread opens and closes the backup before and after it). No locks.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "repair/backup_environment.h"
#include "repair/backup_journal.h"
#include "repair/operation.h"
#include "repair/operation_runner.h"
#include "repair/reg_export.h"

namespace quillary {

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

    // Starts the journal under the next free number, so that changes can be made; until then
    // and when it fails, every change is refused. False, with Failure() saying why, when the
    // journal cannot be written.
    bool BeginJournal();
    // Creates the export writers: the 32-bit view's and, on a 64-bit system, the 64-bit
    // view's. Registry changes fail until this was called.
    void BeginExports();
    // The export writer of a view, for changes made outside the operations (an import);
    // null before BeginExports and after FreeExports.
    CRegExport* ExportWriter(RegistryView view);
    void FreeExports();

    // Performs the operation. Only the records a repair makes are performed: archiving and
    // deleting a file, and the registry changes (deleting a key or a value, setting a value),
    // which are undone through the export texts. False, with nothing changed, when it failed
    // or is another kind.
    bool AddOperation(COperation operation);

    // The operations the problem repairs make; each builds its record and adds it. The root
    // is one of the five predefined keys a record may name (any other is refused).
    bool ArchiveDeleteFile(std::u16string_view path);
    bool DeleteKey(HKey root, std::u16string_view subKey, KeyScope scope, RegistryView view);
    bool DeleteValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                     RegistryView view);
    bool SetTextValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                      std::u16string_view text, RegistryView view);

    // Appends each view's export text to the journal as the next NNNNNNNN.reg entry. False
    // when a view's text could not be written: the registry changes then have no undo copy,
    // and must not be saved.
    bool ArchiveExports();

    // Reads the list file named by ListFilePath, appending its records. False when there is
    // none or it is damaged; the records read before the damage are kept.
    bool LoadList();

    // Checks every record and its archive entry first (see the guarantees above), then
    // reverses every record, last first. When the check fails nothing is changed: shows
    // IDS_STR_UNDO_FAILED and returns false, with Failure() saying why. When a record cannot
    // be reversed, stops there: shows IDS_STR_UNDO_FAILED (after IDS_UNZIP_ERR when the
    // archive cannot be read) and returns false; the records after it stay reversed.
    bool UndoAll();

    // Ends a repair run's backup: frees the writers and turns the journal into the archive and
    // the list file (see backup_journal.h), whose date then becomes the latest restore point.
    // Does nothing for an undo-list backup or the second time. False, with Failure() saying
    // why, when the files could not be written; the journal then stays.
    bool Close();

    // Ends a repair run's backup without keeping it: the journal is removed and nothing is
    // written. For a run whose changes are thrown away (an import that failed part-way), which
    // must then not be saved.
    void Discard();

    // Why the backup could not be written or undone; empty while nothing failed.
    const std::string& Failure() const { return failure_; }
    // Whether UndoAll refused the list before it changed anything.
    bool UndoRefused() const { return undoRefused_; }
    // Files deleted so far, each with its copy on disk.
    std::int32_t DeletedFileCount() const { return runner_.DeletedFileCount(); }
    void SetExportAtEnd(bool exportAtEnd) { exportAtEnd_ = exportAtEnd; }
    bool ExportAtEnd() const { return exportAtEnd_; }
    void SetListFilePath(std::filesystem::path path) { listFilePath_ = std::move(path); }
    const std::filesystem::path& ListFilePath() const { return listFilePath_; }
    const std::filesystem::path& ArchivePath() const { return archivePath_; }
    const std::u16string& Description() const { return description_; }
    // When the list file loaded last changed: seconds since 1970 (UTC).
    std::int64_t LastChangeTime() const { return lastChangeTime_; }
    // The records kept for the list file (a repair run's) or read from it (the undo list's).
    std::span<const COperation> Operations() const { return operations_; }

private:
    void Fail(const std::string& why);

    const BackupEnvironment& environment_;
    bool repairUse_;
    bool exportAtEnd_ = false;
    bool closed_ = false;
    COperationRunner runner_;
    std::unique_ptr<CBackupJournal> journal_;
    std::filesystem::path folder_;
    std::filesystem::path listFilePath_;
    std::filesystem::path archivePath_;
    std::u16string description_;
    std::int64_t lastChangeTime_ = 0;
    std::vector<COperation> operations_;
    // The export texts stored so far; the next is named after their count.
    std::int32_t exportCount_ = 0;
    std::string failure_;
    bool undoRefused_ = false;
};

// Opens a repair run's partial backup: described by the application's title, its export
// texts archived when it ends, its export writers and its journal ready. When the journal
// cannot be written, the backup refuses every change and Failure() says why.
std::unique_ptr<CBackup> BeginPartialBackup(const BackupEnvironment& environment,
                                            std::u16string_view appTitle);
// Ends it: archives the export texts, frees the writers and closes it (writing the list
// file, whose path ListFilePath then gives). False when anything could not be stored: the
// registry changes of the run must then not be saved.
bool EndPartialBackup(CBackup& backup);

}  // namespace quillary
