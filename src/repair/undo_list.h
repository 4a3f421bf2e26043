#pragma once

// The undo list: every partial backup that the cleaning runs (and imports) left in the undo
// folder, one row each, with the means to undo one or to delete it. Rebuilt from the folder
// on every refresh, and refreshed after every finished cleaning run.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "repair/backup.h"

namespace quillary {

struct UndoListRow {
    // IDS_PARTIAL_BACKUP followed by the backup's last change time in local time.
    std::u16string text;
    std::filesystem::path listFile;
    // The partial backup's position among those loaded (the row's item data).
    std::size_t backupIndex = 0;
};

class CUndoList {
public:
    explicit CUndoList(const BackupEnvironment& environment);

    // Reloads the partial backups from the undo folder's list files (by number; a list file
    // that cannot be read or is damaged is left out) and rebuilds the rows.
    void RefreshUndoList();

    // The rows; when there are none the list shows EmptyText() and both buttons are disabled.
    const std::vector<UndoListRow>& Rows() const { return rows_; }
    std::u16string EmptyText() const;
    // The list files the last refresh left out because they could not be read or are damaged.
    const std::vector<std::filesystem::path>& Unreadable() const { return unreadable_; }
    // The partial backup behind a row.
    const CBackup& BackupOf(const UndoListRow& row) const { return *backups_[row.backupIndex]; }

    // Undoes the partial backup of a row, with the restore-running flag set meanwhile. True
    // when every change was reversed (the files stay, so it can be undone again); on failure
    // the backup has shown its message and says why in Failure().
    bool Restore(const UndoListRow& row);
    // Deletes a row's list file (its archive stays in the folder) and refreshes the list,
    // which replaces every row. False, with nothing changed, when the file could not be
    // deleted.
    bool Delete(const UndoListRow& row);

    // Set while an undo runs: the main window must not close then.
    bool IsRestoreRunning() const { return restoreRunning_; }

private:
    const BackupEnvironment& environment_;
    std::vector<std::unique_ptr<CBackup>> backups_;
    std::vector<UndoListRow> rows_;
    std::vector<std::filesystem::path> unreadable_;
    std::atomic<bool> restoreRunning_ = false;
};

}  // namespace quillary
