#pragma once

// `quillary-cli full-backup`: copies of the prefix's whole registry in its data folder.
// Without options it takes one; --list shows them, --restore NAME imports one back (with a
// restore point that undoes it) and --delete NAME removes one.

#include <optional>
#include <string>

#include "app/target_factory.h"

namespace quillary::cli {

struct FullBackupOptions {
    bool list = false;
    bool json = false;  // with list: one JSON document
    std::optional<std::string> restore;
    std::optional<std::string> remove;
};

// Lists the full backups, oldest first: name, local time and size (with json, one array).
int RunListFullBackups(COpenTarget& target, bool json);

// Takes, restores or deletes a full backup as the options say. Exit codes: 0 done; 2 the name
// is no full backup's; 3 the backup could not be written, read or restored; 4 Wine runs for
// the prefix (a restore is refused then).
int RunFullBackupCommand(COpenTarget& target, const FullBackupOptions& options);

// The first full backup of this user's first repair: taken once per user account, as the
// setting FirstRunBackup records, before anything is changed. What it says goes to stderr, so
// that a repair's JSON stays whole; a backup that fails does not stop the repair.
void TakeFirstRunBackup(COpenTarget& target);

}  // namespace quillary::cli
