#pragma once

// The main window: the navigation, the Help menu and the page area, which shows one page at a
// time. It switches pages on the navigation commands, some clicked by the user and many posted
// as an operation moves on (a scan finished, a cleaning run finished), carries the start-up
// duties, and refuses to close while an operation runs.

#include <array>

#include "app/command_line.h"
#include "platform/instance_guard.h"
#include "ui/command_window.h"
#include "ui/ui_session.h"

class QAbstractButton;
class QButtonGroup;
class QStackedWidget;
class QToolButton;

namespace quillary::ui {

class CDlgHome;
class CDlgScanRegistry;
class CDlgScan;
class CDlgResults;
class CDlgResultsV52;
class CCleanWizard1Dlg;
class CScanObserverRelay;

class CZANDlg final : public CCommandWindow {
    Q_OBJECT

public:
    CZANDlg(CUiSession& session, CommandLine commandLine, QWidget* parent = nullptr);
    ~CZANDlg() override;

    void OnCommand(CommandId id) override;

    // Shows page in the page area; nothing when it is shown already. Hides the results side
    // panel unless page is the results page.
    void ShowPage(QWidget* page);
    QWidget* CurrentPage() const;
    void ResetNavHighlight();
    // The scan, the cleaning run and an undo restore turn the navigation and closing off while
    // they run.
    void EnableNavigation(bool enable);
    bool IsNavigationEnabled() const;

    // The repair buttons: repairs what is ticked, or says that nothing is (over asker).
    void RequestRepair(QWidget* asker);
    // A later instance asked the program to come forward.
    void BringForward();
    // A later instance started by a timer asks for a scan.
    void ScheduledScanRequested();
    // Where a scan's and a cleaning run's reports reach the window.
    CScanObserverRelay& Relay() { return *relay_; }

    CUiSession& Session() { return session_; }
    CDlgHome& StatusPage() { return *statusPage_; }
    CDlgScanRegistry& ScanPage() { return *scanPage_; }
    CDlgScan& ScanProgressPage() { return *scanProgressPage_; }
    CDlgResults& ResultsPage() { return *resultsPage_; }
    CDlgResultsV52& ResultsSidePanel() { return *resultsSidePanel_; }
    CCleanWizard1Dlg& CleaningPage() { return *cleaningPage_; }
    // The navigation button of a navigation command; null for other commands.
    QAbstractButton* NavigationButton(CommandId id) const;

    // The prefix the user chose to work on next; empty unless the window closed for it.
    const QString& PrefixToOpenNext() const { return prefixToOpenNext_; }

    // Saves the settings and both exclusion lists, as closing and the end of a session do;
    // returns what could not be written.
    std::vector<std::string> SaveState();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* BuildHeader();
    QWidget* BuildNavigation();
    void BuildPages();
    void Navigate(CommandId id, QWidget* page);
    void OnScanFinished();
    void ShowHelpMenu();
    void ShowAbout();
    void OpenUserGuide();
    // The second half of start-up, once the window is up.
    void ContinueStartup();
    void ResumeElevatedOperation();

    CUiSession& session_;
    CommandLine commandLine_;
    bool startupContinued_ = false;
    QString prefixToOpenNext_;
    CScanObserverRelay* relay_ = nullptr;
    QButtonGroup* navigation_ = nullptr;
    QToolButton* helpButton_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    // The results page and its side panel share one place in the page area.
    QWidget* resultsView_ = nullptr;
    CDlgHome* statusPage_ = nullptr;
    CDlgScanRegistry* scanPage_ = nullptr;
    CDlgScan* scanProgressPage_ = nullptr;
    CDlgResults* resultsPage_ = nullptr;
    CDlgResultsV52* resultsSidePanel_ = nullptr;
    CCleanWizard1Dlg* cleaningPage_ = nullptr;
};

// Hands the requests of later instances (come forward, run a scheduled scan) to window on
// its thread; false when the guard cannot listen.
bool ListenForLaterInstances(IInstanceGuard& guard, CZANDlg& window);

}  // namespace quillary::ui
