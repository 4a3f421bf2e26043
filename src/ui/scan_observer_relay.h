#pragma once

// Carries what a scan or a cleaning run reports on its worker thread to the window thread.
// The worker never waits for the window: each report is stored, and the window takes the
// newest of everything in one go when it gets to it, so a fast scan is not slowed down by
// redraws and the window never blocks the worker. The end of a run comes after every report
// made before it. While paused (the stop confirmation is open), the worker waits at its next
// report.

#include <QObject>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/category_table.h"
#include "engine/scan_observer.h"

namespace quillary::ui {

// The rows of the scan page: one per category and the tweaks row.
inline constexpr int kProgressRowCount = kCategoryCount + 1;

// A snapshot of a run's progress, as the window shows it.
struct RunProgress {
    std::array<std::optional<std::u16string>, kProgressRowCount> labels;  // changed ones only
    std::array<std::optional<int>, kProgressRowCount> pictures;           // changed ones only
    std::optional<std::u16string> status;
    std::optional<int> categoryPercent;
    std::optional<int> overallMaximum;
    std::optional<int> overallPosition;
    std::optional<std::size_t> found;
};

class CScanObserverRelay final : public QObject, public IScanObserver {
    Q_OBJECT

public:
    // countFound is asked on the worker thread, which owns the problems while it runs.
    explicit CScanObserverRelay(std::function<std::size_t()> countFound, QObject* parent = nullptr);

    // Worker thread.
    void OnFoundChanged() override;
    void OnScanEnded(bool stopped) override;
    void OnCleaningEnded(bool stopped) override;
    void OnRowPicture(int index, int picture) override;
    void OnRowLabel(int index, std::u16string_view label) override;
    void OnOverallProgressRange(int maximum) override;
    void OnOverallProgress(int position) override;
    void OnCategoryProgress(int percent) override;
    void OnStatus(std::u16string_view text) override;

    // Window thread: holds the worker at its next report until Resume().
    void Pause();
    void Resume();
    // Holds the worker once the run has finished position categories (at the report after
    // that), until Resume(): a picture of a run in progress is taken that way.
    void HoldAtOverallPosition(int position);

signals:
    void progressed(const quillary::ui::RunProgress& progress);
    void scanEnded(bool stopped);
    void cleaningEnded(bool stopped);

private:
    // Stores a report and makes sure the window will take it; waits while paused.
    void Update(const std::function<void(RunProgress&)>& change);
    // Window thread: hands the stored reports to the window.
    void Deliver();
    void DeliverEnd(bool stopped, bool cleaning);

    std::function<std::size_t()> countFound_;
    std::mutex mutex_;
    std::condition_variable resumed_;
    bool paused_ = false;
    bool deliveryQueued_ = false;
    int holdAtPosition_ = -1;
    RunProgress pending_;
};

}  // namespace quillary::ui

Q_DECLARE_METATYPE(quillary::ui::RunProgress)
