#pragma once

// A repair of the last scan's ticked problems as every program runs it: the backups of runs
// that were killed part-way are completed first, the whole registry is kept as a restore point
// (at most once a day), the cleaning run repairs into one partial backup, and the prefix's
// registry is saved only once those undo copies are on the disk.

#include <functional>
#include <string>
#include <string_view>

#include "app/target_factory.h"
#include "repair/cleaning_run.h"

namespace quillary {

struct RepairSessionOptions {
    // Messages that are no failure of the run itself (no restore point, a journal that could
    // not be completed).
    std::function<void(std::string_view)> say;
    // The cleaning page; null when nobody follows the run.
    IScanObserver* observer = nullptr;
    // Reloads the undo list after a finished run.
    std::function<void()> refreshUndoList;
    // The cleaning page's pause before each problem.
    bool pacing = false;
};

struct RepairSessionResult {
    CleaningResult cleaning;
    // Why the registry changes were not saved (the partial backup could not be written, the
    // target refused, the disk failed); empty when they were.
    std::string notSaved;
    bool RegistrySaved() const { return notSaved.empty(); }
};

// Keeps the whole registry as a restore point described by description (the default
// description when empty), unless the last one is less than a day old. False, with *why when
// given, when none could be made.
bool CreateTargetRestorePoint(COpenTarget& target, std::u16string_view description,
                              std::string* why);

// Completes the partial backups of interrupted runs from their journals; returns what could
// not be completed.
std::vector<std::string> CompleteInterruptedRepairs(COpenTarget& target);

// Runs the repair on the calling thread (its repairs run on a worker it waits for); a stop
// request on the scan driver's stop event ends it between two problems. The repair counters
// are stored with the settings.
RepairSessionResult RunRepairSession(COpenTarget& target, const RepairSessionOptions& options);

}  // namespace quillary
