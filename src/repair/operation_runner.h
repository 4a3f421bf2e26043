#pragma once

// Performs the records a repair run hands its partial backup, each only once what it changes
// is saved: a file's bytes in the journal, registry data in the export writer of the entry's
// view. Only what a repair makes is performed: archiving and deleting a file, deleting a key
// or a value, setting a value. A copy, a move or a creation could not be undone safely.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "repair/backup_environment.h"
#include "repair/backup_journal.h"
#include "repair/operation.h"
#include "repair/reg_export.h"

namespace quillary {

class COperationRunner {
public:
    explicit COperationRunner(const BackupEnvironment& environment) : environment_(environment) {}

    // Creates the export writers: the 32-bit view's and, on a 64-bit system, the 64-bit
    // view's. Registry changes fail until this was called.
    void BeginExports();
    // The export writer of a view (on a 32-bit system, the one writer); null before
    // BeginExports and after FreeExports.
    CRegExport* ExportWriter(RegistryView view);
    void FreeExports();

    // Performs the record; an archive-and-delete record gets the name of the archive entry
    // that holds the file. False, with nothing changed, when it failed or is a kind no repair
    // makes; *journalFailure then says why when the journal could not be written.
    bool Run(COperation& operation, CBackupJournal& journal, std::string* journalFailure);

    // Files deleted so far, each with its copy in the journal.
    std::int32_t DeletedFileCount() const { return deletedFileCount_; }

private:
    bool ArchiveDeleteFile(ArchiveDeleteFileRecord& record, CBackupJournal& journal,
                           std::string* journalFailure);
    bool DeleteKeyTree(const DeleteKeyRecord& record);
    bool SetValue(const SetValueRecord& record);
    bool DeleteValue(const DeleteValueRecord& record);

    RegSam MaskOf(RegistryView view) const;
    bool SaveUndoCopyOfValue(CRegExport& writer, HKey root, std::u16string_view subKey,
                             std::u16string_view valueName, RegistryView view);

    const BackupEnvironment& environment_;
    std::unique_ptr<CRegExport> writer32_;
    std::unique_ptr<CRegExport> writer64_;
    // Files stored in the journal, whether or not their deletion followed: each took an
    // entry name.
    std::int32_t storedFileCount_ = 0;
    std::int32_t deletedFileCount_ = 0;
};

}  // namespace quillary
