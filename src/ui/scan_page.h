#pragma once

// The scan page: what the last scans found and repaired, the schedule, and the button that
// starts a scan of the selected categories.

#include "ui/command_window.h"

class QLabel;
class QPushButton;

namespace quillary::ui {

class CZANDlg;

class CDlgScanRegistry final : public CCommandWindow {
    Q_OBJECT

public:
    CDlgScanRegistry(CZANDlg& mainWindow, QWidget* parent = nullptr);

    void OnCommand(CommandId id) override;
    void Refresh();
    // The link back to the problems the last scan left, shown only while there are some.
    void ShowUnfixedLink(bool show);
    QPushButton& StartButton() { return *start_; }

private:
    void StartScan();

    CZANDlg& mainWindow_;
    QPushButton* start_ = nullptr;
    QPushButton* unfixed_ = nullptr;
    QLabel* notScannedYet_ = nullptr;
    QLabel* lastScan_ = nullptr;
    QLabel* lastResult_ = nullptr;
    QLabel* foundTillDate_ = nullptr;
    QLabel* fixedTillDate_ = nullptr;
    QLabel* schedule_ = nullptr;
};

}  // namespace quillary::ui
