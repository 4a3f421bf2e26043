#pragma once

// The cleaning page: repairs the ticked problems of the last scan on a thread of its own,
// shows how far it got, and lets the user stop it between two problems. When the run ends the
// main window moves on to what is left: the results, or the status page.

#include <thread>

#include "app/repair_session.h"
#include "ui/command_window.h"
#include "ui/scan_observer_relay.h"

class QLabel;
class QPushButton;

namespace quillary::ui {

class CZANDlg;
class CRunProgressView;

class CCleanWizard1Dlg final : public CCommandWindow {
    Q_OBJECT

public:
    CCleanWizard1Dlg(CZANDlg& mainWindow, QWidget* parent = nullptr);
    ~CCleanWizard1Dlg() override;

    void OnCommand(CommandId id) override;
    // The main window's repair command: checks that the target may be changed, shows the page
    // and begins the run.
    void StartCleaning();
    QPushButton& StopButton() { return *stop_; }
    // How many categories the run has finished.
    int OverallPosition() const;
    // The outcome of the last run that ended.
    const RepairSessionResult& LastResult() const { return lastResult_; }

signals:
    // A run ended and the main window was told where to go next.
    void cleaningFinished();

private:
    void BeginCleaning();
    void StopCleaning();
    void OnRunEnded(RepairSessionResult result);

    CZANDlg& mainWindow_;
    QLabel* count_ = nullptr;
    CRunProgressView* progress_ = nullptr;
    QPushButton* stop_ = nullptr;
    std::jthread worker_;
    RepairSessionResult lastResult_;
};

}  // namespace quillary::ui
