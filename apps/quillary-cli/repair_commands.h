#pragma once

// The commands that change a prefix, each refused while Wine runs for it: `repair` (the
// cleaning run over the saved or a fresh scan's problems and the ticked tweaks, with a partial
// backup), `backups` (the undo list of partial backups; deletes one), `undo` (reverses one),
// `export` and `import` (registry export text).

#include <atomic>
#include <optional>
#include <string>

#include "scan_command.h"

namespace quillary::cli {

struct RepairOptions {
    std::optional<std::string> categories;  // default: every category with problems
    std::optional<std::string> entryTypes;  // entry type numbers, separated by commas
    // The registry tweaks to apply at the end: numbers 0-4 separated by commas, or "none".
    // Default: every tweak still to apply.
    std::optional<std::string> tweaks;
    bool scanFirst = false;
    bool json = false;
};

// Every command that writes stops here while Wine runs for the prefix, once the files changed
// (exit 4: try again later) or when a file is damaged (exit 3: it cannot be written); the
// reason is said. nullopt when the prefix may be written.
std::optional<int> RefusedToWrite(COpenTarget& target);

int RunRepairCommand(COpenTarget& target, const RepairOptions& options);
// mayComplete: this instance owns the backups, and completes those of interrupted runs
// before it lists them.
int RunBackupsCommand(COpenTarget& target, bool json, bool mayComplete);
// Deletes the list file of partial backup `number`; its archive stays.
int RunDeleteBackupCommand(COpenTarget& target, const std::string& number);
int RunUndoCommand(COpenTarget& target, const std::string& number);
int RunExportCommand(COpenTarget& target, const std::string& keyPath, const std::string& file,
                     int view);
int RunImportCommand(COpenTarget& target, const std::string& file, int view);

}  // namespace quillary::cli
