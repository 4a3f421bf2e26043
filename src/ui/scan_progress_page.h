#pragma once

// The scan progress page: one row per category with its picture and the number it found, the
// running category's and the whole scan's progress, the status line, the problems found so
// far, and the stop button.

#include <array>

#include "ui/command_window.h"
#include "ui/scan_observer_relay.h"

class QLabel;
class QPushButton;

namespace quillary::ui {

class CZANDlg;
class CRunProgressView;
class CDlgStopScan;

class CDlgScan final : public CCommandWindow {
    Q_OBJECT

public:
    CDlgScan(CZANDlg& mainWindow, QWidget* parent = nullptr);

    void OnCommand(CommandId id) override;
    QPushButton& StopButton() { return *stop_; }
    // How many categories the run has finished.
    int OverallPosition() const;
    // The stop question while it is open; null otherwise.
    CDlgStopScan* OpenStopQuestion() const { return stopQuestion_; }

private:
    void ResetRows();
    void BeginScan();
    void StopScan();
    void ShowProgress(const RunProgress& progress);
    void ShowFound(std::size_t found);
    void OnScanEnded();

    CZANDlg& mainWindow_;
    std::array<QLabel*, kProgressRowCount> pictures_{};
    std::array<QLabel*, kProgressRowCount> labels_{};
    CRunProgressView* progress_ = nullptr;
    QLabel* found_ = nullptr;
    QPushButton* stop_ = nullptr;
    CDlgStopScan* stopQuestion_ = nullptr;
    bool scanning_ = false;
};

}  // namespace quillary::ui
