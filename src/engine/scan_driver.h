#pragma once

// The scan driver: creates the selected categories, runs them one after another on a worker
// thread and reports to the scan page through its observer. One per process; it keeps the
// last scan's categories, and with them their problems, until the next scan.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <thread>

#include "core/manual_reset_event.h"
#include "engine/category.h"
#include "engine/category_table.h"
#include "engine/scan_observer.h"

namespace quillary {

// Makes the scanner of a category index (0-13).
using CategoryFactory = std::function<std::unique_ptr<CCategory>(int index)>;

struct ScanDriverOptions {
    // The scan page's pauses (a short wait before the first category), kept for the window
    // program; the command line, tests and benchmarks turn them off.
    bool pacing = false;
    // The scan page title of each category, by text identifier.
    TextLookup text;
    // Lets the window thread handle its pending events while the categories are made; the
    // window program passes its event pump, everyone else nothing.
    std::function<void()> pumpMessages;
    // Called as each scan starts: the target forgets what it cached during the last one.
    std::function<void()> beforeScan;
};

class CScanDriver {
public:
    CScanDriver(CategoryFactory factory, ScanDriverOptions options);
    ~CScanDriver();
    CScanDriver(const CScanDriver&) = delete;
    CScanDriver& operator=(const CScanDriver&) = delete;

    // The scan page; null detaches it.
    void SetObserver(IScanObserver* observer) { observer_ = observer; }
    CRepairContext& RepairContext() { return repairContext_; }
    CManualResetEvent& StopEvent() { return stopEvent_; }

    // Starts a scan of the selected categories (an OR of category bits) on the worker
    // thread. False, and nothing happens, while a scan runs or when the selection is empty.
    bool StartScan(std::uint32_t selection);
    // Signals the stop event and waits for the worker to end.
    void StopScan();
    // Waits for the worker to end.
    void WaitForScan();
    bool IsScanRunning() const { return scanRunning_; }

    // Deletes the previous categories, resets the stop event and makes the selected ones,
    // attached to the stop event, the observer and the repair context unless told not to.
    void CreateCategories(std::uint32_t selection, int count, bool attach = true);
    // Runs one category: its scan, or with isScan false the cleaning run's loop over it.
    // 0 for an empty slot, else what the scan or the loop returned.
    int RunCategory(CCategory* category, std::uint32_t bit, bool isScan,
                    const std::function<int(CCategory&)>& cleaningLoop = {});

    std::size_t CountFound() const;
    // The problems of every category still ticked for repair.
    std::size_t CountSelected() const;
    // The problems of the category with that bit; empty for an empty slot or unknown bit.
    std::span<const std::unique_ptr<CProblem>> ProblemsOf(std::uint32_t bit) const;
    CCategory* CategoryOf(std::uint32_t bit) const;
    int SelectedCount() const { return selectedCount_; }

private:
    void RunScan();

    CategoryFactory factory_;
    ScanDriverOptions options_;
    IScanObserver* observer_ = nullptr;
    CManualResetEvent stopEvent_;
    CRepairContext repairContext_;
    std::array<std::unique_ptr<CCategory>, kCategoryCount> categories_;
    std::uint32_t selection_ = 0;
    int selectedCount_ = 0;
    int overallPosition_ = 0;
    std::atomic<bool> scanRunning_ = false;
    std::jthread worker_;
};

// The bit of a row of the category selection list (0-14): 2^row, and 1 outside 1-14.
std::uint32_t CategoryBitOfRow(int row);

}  // namespace quillary
