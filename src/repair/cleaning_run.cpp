#include "repair/cleaning_run.h"

#include <thread>

#include "core/text_format.h"
#include "repair/backup_journal.h"
#include "repair/problem_repair.h"

namespace quillary {
namespace {

constexpr std::u16string_view kSettingsKey = u"";
constexpr auto kPauseBeforeEachProblem = std::chrono::milliseconds(10);

}  // namespace

// A stop asked for once the run exists (while the restore point is made, say) ends it before
// its first repair, so the stop event is cleared here rather than when the repairs begin.
CCleaningRun::CCleaningRun(CleaningEnvironment& environment) : environment_(environment) {
    environment_.scans.StopEvent().Reset();
}

int CCleaningRun::RepairCategory(CCategory& category) {
    SettingsValues& values = environment_.settings.Values();
    auto& problems = category.MutableProblems();
    category.ResetProgress(static_cast<std::int32_t>(problems.size()));
    const int ticked = static_cast<int>(category.CountSelected());
    if (ticked == 0)
        return CCategory::kScanDone;
    const std::u16string format =
        environment_.text ? environment_.text(u"IDS_ERRORS_PROCESSED") : std::u16string();
    category.ShowStatus(Format(format, 0, ticked));
    int processed = 0;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        if (environment_.pacing)
            std::this_thread::sleep_for(kPauseBeforeEachProblem);
        if (category.IsStopRequested()) {
            values.RegErrsFixedTillDate += static_cast<std::uint32_t>(processed);
            (void)environment_.settings.SetProfileInt(kSettingsKey, u"RegErrsFixedLast",
                                                      values.RegErrsFixedLast);
            return CCategory::kScanStopped;
        }
        CProblem& problem = *problems[i];
        if (problem.selected && environment_.writeRefusal) {
            // Changes made now could not be saved, and would be made on what the target
            // no longer holds.
            if (std::optional<std::string> refusal = environment_.writeRefusal()) {
                result_.refusal = *refusal;
                environment_.scans.StopEvent().Set();
                continue;
            }
        }
        if (problem.selected) {
            ++processed;
            ++result_.attempted;
            category.ShowStatus(Format(format, processed, ticked));
            if (environment_.log) {
                environment_.log(Format(
                    u"Attempting to fix Entry:\r\n EntryType:%d\r\n Key:%s\r\n ValueName:%s \r\n "
                    u"ValueData:%s \r\n AlternateKey:%s \r\n 32BitEntry:%d",
                    problem.EntryType, problem.Key, problem.ValueName, problem.ValueData,
                    problem.AlternateKey, problem.is32BitEntry ? 1 : 0));
            }
            if (Repair(problem, *backup_, environment_.target, environment_.log)) {
                if (environment_.log)
                    environment_.log(u"Successfully Fixed the Above Entry");
                ++result_.repaired;
                problems.erase(problems.begin() + static_cast<std::ptrdiff_t>(i));
                --i;
            } else {
                if (environment_.log)
                    environment_.log(u"The Above Entry Could not be Fixed!");
                ++result_.failed;
            }
        }
        category.StepProgress();
    }
    values.RegErrsFixedTillDate += static_cast<std::uint32_t>(processed);
    values.RegErrsFixedLast += static_cast<std::uint32_t>(processed);
    (void)environment_.settings.SetProfileInt(kSettingsKey, u"RegErrsFixedLast",
                                              values.RegErrsFixedLast);
    return CCategory::kScanDone;
}

CleaningResult CCleaningRun::Run() {
    result_ = {};
    SettingsValues& values = environment_.settings.Values();
    values.RegErrsFixedLast = 0;
    (void)environment_.settings.SetProfileInt(kSettingsKey, u"RegErrsFixedLast", 0);
    if (environment_.log)
        environment_.log(u"\r\n\r\n CLEANING STARTED \r\n\r\n");
    if (environment_.createRestorePoint)
        environment_.createRestorePoint();
    if (environment_.log)
        environment_.log(u"\r\n\r\n PASSED CREATING RESTORE POINT STAGE \r\n\r\n");

    CScanDriver& scans = environment_.scans;
    std::unique_ptr<CBackup> backup =
        BeginPartialBackup(environment_.backup, environment_.appTitle);
    backup_ = backup.get();
    scans.RepairContext().undoSession = backup_;
    int last = 0;
    if (!backup->Failure().empty()) {
        // Without its journal no change could be undone: nothing is tried.
        result_.backupFailure = backup->Failure();
        backup_ = nullptr;
        scans.RepairContext().undoSession = nullptr;
        result_.remaining = scans.CountFound();
        if (environment_.observer)
            environment_.observer->OnCleaningEnded(false);
        return result_;
    }
    std::jthread worker([&] {
        for (const CategoryRow& row : kCategories) {
            CCategory* category = scans.CategoryOf(row.bit);
            if (!category || last == CCategory::kScanStopped)
                continue;
            category->Attach(&scans.StopEvent(), nullptr, &scans.RepairContext());
            last = scans.RunCategory(category, row.bit, false,
                                     [this](CCategory& each) { return RepairCategory(each); });
        }
    });
    worker.join();
    result_.stopped = last == CCategory::kScanStopped;
    const bool finished = !result_.stopped && result_.refusal.empty();
    // The tweaks go into the same partial backup while it is still open, so that undoing the
    // run puts their old values back too.
    if (finished && environment_.applyTickedTweaks)
        result_.tweaksApplied = environment_.applyTickedTweaks(*backup);

    backup_ = nullptr;
    scans.RepairContext().undoSession = nullptr;
    result_.backupSaved = EndPartialBackup(*backup);
    result_.backupFailure = backup->Failure();
    result_.filesDeleted = backup->DeletedFileCount();
    std::error_code code;
    if (std::filesystem::exists(backup->ListFilePath(), code))
        result_.listFile = backup->ListFilePath();
    else if (std::filesystem::exists(JournalPathOf(backup->ListFilePath()), code))
        result_.listFile = JournalPathOf(backup->ListFilePath());

    if (finished) {
        if (environment_.refreshUndoList)
            environment_.refreshUndoList();
        HideFailedProblems();
    }
    result_.remaining = scans.CountFound();
    if (environment_.observer)
        environment_.observer->OnCleaningEnded(result_.stopped);
    return result_;
}

std::u16string SelectedForCleaningText(const CScanDriver& scans, int tickedTweaks,
                                       const TextLookup& text) {
    std::size_t count = scans.CountSelected();
    if (count == 0)
        count = static_cast<std::size_t>(std::max(tickedTweaks, 0));
    const std::u16string format = text ? text(u"IDS_TOTAL_SELECTED_FOR_CLEAN") : std::u16string();
    return Format(format, static_cast<int>(count), count == 1 ? u"" : u"s");
}

void CCleaningRun::HideFailedProblems() {
    for (const CategoryRow& row : kCategories) {
        CCategory* category = environment_.scans.CategoryOf(row.bit);
        if (!category)
            continue;
        auto& problems = category->MutableProblems();
        for (auto it = problems.begin(); it != problems.end();) {
            if ((*it)->selected) {
                environment_.exclusions.AddToHistory((*it)->Key);
                it = problems.erase(it);
            } else {
                ++it;
            }
        }
    }
}

}  // namespace quillary
