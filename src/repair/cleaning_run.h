#pragma once

// The cleaning run: repairs the problems of the last scan that are still ticked, category by
// category on a worker thread, every change recorded in one partial backup so that the whole
// run can be undone. A stop request ends it between two problems.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/settings.h"
#include "engine/exclusion_lists.h"
#include "engine/scan_driver.h"
#include "repair/backup.h"

namespace quillary {

struct CleaningEnvironment {
    CScanDriver& scans;
    const RegistryTarget& target;
    CSettings& settings;          // the repaired-problem counters live here
    CExclusionLists& exclusions;  // problems whose repair failed join the hide list
    const BackupEnvironment& backup;
    std::u16string appTitle;  // the partial backup's description
    // Makes the restore point that comes first; its result does not stop the run.
    std::function<void()> createRestorePoint;
    TextLookup text;
    std::function<void(std::u16string_view)> log;
    // The cleaning page: told when the run ends (null: nobody is told).
    IScanObserver* observer = nullptr;
    // Why the target refuses changes now (another program changed it, Wine started), or
    // nullopt; asked before each repair, and a refusal ends the run. Null: never refused.
    std::function<std::optional<std::string>()> writeRefusal;
    // Applies the ticked registry tweaks into the run's partial backup once every category
    // was walked, and answers how many it applied. Null: no tweak is applied.
    std::function<int(CBackup&)> applyTickedTweaks;
    // Reloads the undo list after a finished run, so that it shows the new partial backup.
    std::function<void()> refreshUndoList;
    // The cleaning page's pause before each problem, kept for the window program; the command
    // line and the tests run without it.
    bool pacing = false;
};

struct CleaningResult {
    bool stopped = false;
    int attempted = 0;  // ticked problems whose repair was tried
    int repaired = 0;
    int failed = 0;
    bool backupSaved = false;  // the partial backup's files were written
    // Why the partial backup could not be written; when it could not even be started, no
    // repair was tried. The registry changes of the run must then not be saved.
    std::string backupFailure;
    // Why the target stopped taking changes part-way (the run then ended there), or empty.
    std::string refusal;
    int filesDeleted = 0;  // files deleted, each with its copy in the partial backup
    int tweaksApplied = 0;
    // Problems left in the results afterwards: unticked ones, and after a stop those not tried.
    std::size_t remaining = 0;
    // The partial backup's list file (the journal's, when it could not be completed).
    std::filesystem::path listFile;
};

class CCleaningRun {
public:
    explicit CCleaningRun(CleaningEnvironment& environment);

    // Runs the whole cleaning and waits for it: the restore point, the partial backup, the
    // repairs on the worker thread, then (after a finished run) the ticked tweaks, the end of
    // the backup, the undo list and the hide list. A stop request on the scan driver's stop
    // event ends it between two problems; the backup then holds what was done before it.
    CleaningResult Run();

    // One category's walk over its ticked problems: 1 at its end, 2 on a stop request.
    int RepairCategory(CCategory& category);

private:
    // What a finished run does after its last category: moves each problem still ticked (its
    // repair failed) to the hide list, so the next scans do not show it again.
    void HideFailedProblems();

    CleaningEnvironment& environment_;
    CBackup* backup_ = nullptr;
    CleaningResult result_;
};

// The cleaning page's count line: IDS_TOTAL_SELECTED_FOR_CLEAN filled with the number of
// ticked problems of every category (or, when none is ticked, of ticked tweaks) and the plural
// ending "s" for any number but 1.
std::u16string SelectedForCleaningText(const CScanDriver& scans, int tickedTweaks,
                                       const TextLookup& text);

}  // namespace quillary
