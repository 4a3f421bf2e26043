#pragma once

// The commands that change a prefix, each refused while Wine runs for it: `repair` (the
// cleaning run over the saved or a fresh scan's problems, with a partial backup), `backups`
// (the partial backups), `undo` (reverses one), `export` and `import` (registry export text).

#include <atomic>
#include <optional>
#include <string>

#include "scan_command.h"

namespace quillary::cli {

struct RepairOptions {
    std::optional<std::string> categories;  // default: every category with problems
    std::optional<std::string> entryTypes;  // entry type numbers, separated by commas
    bool scanFirst = false;
    bool json = false;
};

int RunRepairCommand(CTargetSession& session, const RepairOptions& options,
                     const std::atomic<bool>& interrupted);
// mayComplete: this instance owns the backups, and completes those of interrupted runs
// before it lists them.
int RunBackupsCommand(CTargetSession& session, bool json, bool mayComplete);
int RunUndoCommand(CTargetSession& session, const std::string& number);
int RunExportCommand(CTargetSession& session, const std::string& keyPath, const std::string& file,
                     int view);
int RunImportCommand(CTargetSession& session, const std::string& file, int view);

}  // namespace quillary::cli
