#include "ui/screenshot_tour.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <iostream>

#include "ui/cleaning_page.h"
#include "ui/main_window.h"
#include "ui/results_page.h"
#include "ui/scan_observer_relay.h"
#include "ui/scan_page.h"
#include "ui/scan_progress_page.h"
#include "ui/status_page.h"
#include "ui/stop_scan_dialog.h"

namespace quillary::ui {
namespace {

constexpr int kPollMilliseconds = 50;
// Polls to wait once a picture may be taken, so that the last reports are drawn.
constexpr int kSettleTicks = 6;
// Polls a step may wait for its page before the tour gives up (a minute).
constexpr int kGiveUpTicks = 1200;
// The categories a run has finished when its picture is taken.
constexpr int kHeldCategories = 5;

// The first category of the last scan that found problems; -1 when none did.
int FirstCategoryWithProblems(CZANDlg& mainWindow) {
    const CScanDriver& scans = mainWindow.Session().Context().Scans();
    for (const CategoryRow& row : kCategories) {
        if (!scans.ProblemsOf(row.bit).empty())
            return row.index;
    }
    return -1;
}

}  // namespace

CScreenshotTour::CScreenshotTour(CZANDlg& mainWindow, QString folder)
    : QObject(&mainWindow), mainWindow_(mainWindow), folder_(std::move(folder)) {
    connect(&timer_, &QTimer::timeout, this, &CScreenshotTour::Poll);
    BuildSteps();
}

void CScreenshotTour::BuildSteps() {
    CZANDlg& window = mainWindow_;
    CScanObserverRelay& relay = window.Relay();
    const auto always = [] { return true; };
    const auto nothing = [] {};
    const auto modalDialog = [] { return QApplication::activeModalWidget() != nullptr; };
    const auto closeDialog = [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            dialog->close();
    };
    const auto onPage = [&window](QWidget* page) {
        return [&window, page] { return window.CurrentPage() == page; };
    };

    steps_.push_back({QStringLiteral("01-status-page"), nothing, always, false, nothing});
    steps_.push_back({QStringLiteral("02-scan-page"),
                      [&window] { window.Post(CommandId::ShowScanPage); },
                      onPage(&window.ScanPage()), false, nothing});
    // The scan is held once a few categories are done.
    steps_.push_back(
        {QStringLiteral("03-scan-progress"),
         [&window, &relay] {
             relay.HoldAtOverallPosition(kHeldCategories);
             window.ScanPage().Post(CommandId::StartScan);
         },
         [&window] { return window.ScanProgressPage().OverallPosition() >= kHeldCategories; },
         false, nothing});
    steps_.push_back({QStringLiteral("04-stop-question"),
                      [&window] { window.ScanProgressPage().StopButton().click(); }, modalDialog,
                      true,
                      [&window, &relay] {
                          if (CDlgStopScan* question = window.ScanProgressPage().OpenStopQuestion())
                              question->ContinueButton().click();
                          relay.Resume();
                      }});
    steps_.push_back(
        {QStringLiteral("05-results"), nothing, onPage(&window.ResultsPage()), false, nothing});
    steps_.push_back({QStringLiteral("06-problem-list"),
                      [&window] {
                          const int category = FirstCategoryWithProblems(window);
                          QTimer::singleShot(0, &window, [&window, category] {
                              window.ResultsPage().OpenDetails(category);
                          });
                      },
                      modalDialog, true, closeDialog});
    steps_.push_back({QStringLiteral("07-cleaning"),
                      [&window, &relay] {
                          relay.HoldAtOverallPosition(kHeldCategories);
                          window.ResultsPage().RepairButton().click();
                      },
                      [&window] {
                          return window.CurrentPage() == &window.CleaningPage() &&
                                 window.CleaningPage().OverallPosition() >= kHeldCategories;
                      },
                      false, [&relay] { relay.Resume(); }});
    steps_.push_back({QStringLiteral("08-after-repair"), nothing,
                      [&window] {
                          return !window.Session().IsBusy() &&
                                 window.CurrentPage() != &window.CleaningPage();
                      },
                      false, [&window] { window.Post(CommandId::ShowHome); }});
    steps_.push_back({QStringLiteral("09-status-after-repair"), nothing,
                      onPage(&window.StatusPage()), false, nothing});
}

void CScreenshotTour::Start() {
    QDir().mkpath(folder_);
    timer_.start(kPollMilliseconds);
}

void CScreenshotTour::Poll() {
    if (next_ >= steps_.size()) {
        timer_.stop();
        emit finished(ok_);
        return;
    }
    Step& step = steps_[next_];
    if (!acted_) {
        acted_ = true;
        settleTicks_ = 0;
        waitTicks_ = 0;
        step.act();
        return;
    }
    if (settleTicks_ == 0 && !step.ready()) {
        if (++waitTicks_ < kGiveUpTicks)
            return;
        // Something the tour did not expect is in the way (a message, a refused repair).
        std::cerr << "quillary: the screenshot tour stopped at " << step.name.toStdString();
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            std::cerr << ": " << box->text().toStdString();
        std::cerr << "\n";
        timer_.stop();
        emit finished(false);
        return;
    }
    if (++settleTicks_ < kSettleTicks)
        return;
    ok_ = Save(step) && ok_;
    ++next_;
    acted_ = false;
    step.after();
}

bool CScreenshotTour::Save(const Step& step) {
    QWidget* pictured = &mainWindow_;
    if (step.dialog && QApplication::activeModalWidget())
        pictured = QApplication::activeModalWidget();
    const QString path = QDir(folder_).filePath(step.name + QStringLiteral(".png"));
    if (pictured->grab().save(path))
        return true;
    std::cerr << "quillary: cannot write " << path.toStdString() << "\n";
    return false;
}

}  // namespace quillary::ui
