#pragma once

// The status page, where the program opens: the one-click scan and repair, the state of the
// last scan with its action, and the registry status panel (last scan, last backup, last
// optimization).

#include "ui/command_window.h"

class QLabel;
class QPushButton;

namespace quillary::ui {

class CZANDlg;
class CLastScanStatus;

// The three dated entries of the registry's status.
class CDlgRegStatus final : public QWidget {
    Q_OBJECT

public:
    CDlgRegStatus(CZANDlg& mainWindow, QWidget* parent = nullptr);
    void Refresh();

private:
    CZANDlg& mainWindow_;
    QLabel* lastScan_ = nullptr;
    QLabel* lastBackup_ = nullptr;
    QLabel* lastOptimization_ = nullptr;
};

class CDlgHome final : public CCommandWindow {
    Q_OBJECT

public:
    CDlgHome(CZANDlg& mainWindow, QWidget* parent = nullptr);

    void OnCommand(CommandId id) override;
    // Reads the settings and the last scan's results again.
    void Refresh();
    QPushButton& OneClickButton() { return *oneClick_; }
    CLastScanStatus& LastScanStatus() { return *lastScan_; }

private:
    void StartOneClick();

    CZANDlg& mainWindow_;
    QPushButton* oneClick_ = nullptr;
    CLastScanStatus* lastScan_ = nullptr;
    CDlgRegStatus* registryStatus_ = nullptr;
};

}  // namespace quillary::ui
