// The main window's flows on the demo prefix: the one-click scan and repair, stopping a scan,
// and a later start handing its scheduled scan to the running window.

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/startup.h"
#include "gui_fixture.h"
#include "repair/undo_list.h"
#include "targets/linux/instance_guard.h"
#include "ui/cleaning_page.h"
#include "ui/prefix_chooser.h"
#include "ui/results_page.h"
#include "ui/scan_observer_relay.h"
#include "ui/scan_progress_page.h"
#include "ui/screenshot_tour.h"
#include "ui/status_page.h"
#include "ui/stop_scan_dialog.h"

namespace quillary::testing {

using namespace quillary::ui;

constexpr int kRunTimeout = 60000;

// Clicks the stop button, and answers the stop question with abort (or continue) once it is
// open: the question runs its own event loop, so it is answered from a timer.
void StopAndAnswer(CDlgScan& progress, bool abort, QObject* owner) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [&progress, abort, timer] {
        CDlgStopScan* question = progress.OpenStopQuestion();
        if (!question)
            return;
        timer->stop();
        (abort ? question->AbortButton() : question->ContinueButton()).click();
    });
    timer->start(20);
    progress.StopButton().click();
}

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void OneClickRepairsTheProblemsIntoOneUndoableRun();
    void StopQuestionDecidesWhetherTheScanStops_data();
    void StopQuestionDecidesWhetherTheScanStops();
    void LaterStartHandsItsScheduledScanToTheWindow();
    void EscapeAndCloseDuringAScanLeaveTheWindowOpen();
    void ScreenshotTourPicturesEveryPage();
    void ScanWithNoCategorySelectedSaysSoAndKeepsTheLastScan();
    void RestartToRepairRepairsTheSavedResults();
    void PrefixChooserAcceptsOnlyAFolderHoldingSystemReg();
};

void MainWindowTest::OneClickRepairsTheProblemsIntoOneUndoableRun() {
    CTempFolder folder;
    CDemoWindow demo(folder);
    CModalAnswerer answerer;
    answerer.AnswerWith(demo.session->Text(u"IDS_YES"));
    QSignalSpy finished(&demo.window->CleaningPage(), &CCleanWizard1Dlg::cleaningFinished);

    demo.window->StatusPage().OneClickButton().click();
    QVERIFY(finished.wait(kRunTimeout));

    const RepairSessionResult& result = demo.window->CleaningPage().LastResult();
    QVERIFY2(result.RegistrySaved(), result.notSaved.c_str());
    QVERIFY(result.cleaning.attempted > 0);
    QCOMPARE(result.cleaning.repaired + result.cleaning.failed, result.cleaning.attempted);
    QVERIFY(!demo.session->Flags().oneClick);
    QVERIFY(!demo.session->IsBusy());
    // The confirmation was the only question: no repair was refused.
    QCOMPARE(answerer.Texts().size(), 1);

    CUndoList undoList(demo.target->Context().Backups());
    undoList.RefreshUndoList();
    QCOMPARE(undoList.Rows().size(), std::size_t{1});
    QCOMPARE(undoList.BackupOf(undoList.Rows().front()).Operations().empty(), false);

    // The prefix on the disk no longer holds what was repaired.
    std::string error;
    std::unique_ptr<COpenTarget> reopened = COpenTarget::OpenPrefix(
        {demo.target->Folder(), PrefixOrigin::Argument},
        {ProgramFoldersOfUser(std::filesystem::current_path() / "lang" / "quillary"),
         {},
         false,
         [](int, const char*) { return true; }},
        &error);
    QVERIFY2(reopened, error.c_str());
    (void)reopened->Context().Load();
    CScanDriver& scans = reopened->Context().Scans();
    QVERIFY(scans.StartScan(reopened->Context().Settings().Values().SelectedCategories));
    scans.WaitForScan();
    QCOMPARE(scans.CountFound(), std::size_t(result.cleaning.failed));
}

void MainWindowTest::StopQuestionDecidesWhetherTheScanStops_data() {
    QTest::addColumn<bool>("abort");
    QTest::newRow("stop the scan") << true;
    QTest::newRow("continue the scan") << false;
}

void MainWindowTest::StopQuestionDecidesWhetherTheScanStops() {
    QFETCH(bool, abort);
    CTempFolder folder;
    CDemoWindow demo(folder);
    CModalAnswerer answerer;  // the "nothing found" message a stopped scan may bring
    QSignalSpy ended(&demo.window->Relay(), &CScanObserverRelay::scanEnded);
    // Held at its first report, the scan cannot finish before the question is answered.
    demo.window->Relay().Pause();
    demo.window->StatusPage().Post(CommandId::StartScan);
    QTRY_VERIFY(demo.session->IsScanRunning());

    StopAndAnswer(demo.window->ScanProgressPage(), abort, this);

    QVERIFY(ended.wait(kRunTimeout));
    QCOMPARE(ended.front().front().toBool(), abort);
    QTRY_VERIFY(!demo.session->IsScanRunning());
    QTRY_VERIFY(demo.window->IsNavigationEnabled());
    if (!abort) {
        // The demo prefix has a problem of each kind: the results page follows.
        QTRY_COMPARE(demo.window->CurrentPage(),
                     static_cast<QWidget*>(&demo.window->ResultsPage()));
    }
}

void MainWindowTest::LaterStartHandsItsScheduledScanToTheWindow() {
    CTempFolder folder;
    CDemoWindow demo(folder);
    CInstanceGuard first(kInstanceName, DefaultInstanceFolder());
    QVERIFY(first.Acquire(std::chrono::milliseconds(0)));
    QVERIFY(ListenForLaterInstances(first, *demo.window));
    CModalAnswerer answerer;
    answerer.AnswerWith(demo.session->Text(u"IDS_YES"));
    QSignalSpy ended(&demo.window->Relay(), &CScanObserverRelay::scanEnded);

    // A timer's start: a second instance that finds the first running hands it the scan.
    CTempFolder laterFolder;
    std::unique_ptr<COpenTarget> later = OpenDemo(laterFolder);
    UseOwnFolders(folder);  // the later instance looks for the first where it listens
    CInstanceGuard second(kInstanceName, DefaultInstanceFolder());
    const std::vector<std::u16string> arguments = {u"-S"};
    StartupResult startup = StartUp(arguments, second, later->Context(), {true, true});
    QCOMPARE(startup.outcome, StartupOutcome::SecondInstance);

    QVERIFY(ended.wait(kRunTimeout));
    QVERIFY(answerer.Texts().contains(demo.session->Text(u"IDS_SCHEDULE_RUNNING")));
}

void MainWindowTest::EscapeAndCloseDuringAScanLeaveTheWindowOpen() {
    CTempFolder folder;
    CDemoWindow demo(folder);
    CModalAnswerer answerer;
    QSignalSpy ended(&demo.window->Relay(), &CScanObserverRelay::scanEnded);
    demo.window->Relay().Pause();
    demo.window->StatusPage().Post(CommandId::StartScan);
    QTRY_VERIFY(demo.session->IsScanRunning());

    QTest::keyClick(demo.window.get(), Qt::Key_Escape);
    QVERIFY(!demo.window->close());
    QVERIFY(demo.window->isVisible());

    demo.window->Relay().Resume();
    QVERIFY(ended.wait(kRunTimeout));
    QTRY_VERIFY(!demo.session->IsBusy());
    QVERIFY(demo.window->close());
}

void MainWindowTest::ScreenshotTourPicturesEveryPage() {
    CTempFolder folder;
    CDemoWindow demo(folder);
    const QString pictures = QString::fromStdString((folder.Path() / "pictures").string());
    CScreenshotTour tour(*demo.window, pictures);
    QSignalSpy finished(&tour, &CScreenshotTour::finished);
    tour.Start();
    QVERIFY(finished.wait(kRunTimeout));
    QCOMPARE(finished.front().front().toBool(), true);

    const QStringList written = QDir(pictures).entryList({QStringLiteral("*.png")});
    QCOMPARE(written,
             QStringList({"01-status-page.png", "02-scan-page.png", "03-scan-progress.png",
                          "04-stop-question.png", "05-results.png", "06-problem-list.png",
                          "07-cleaning.png", "08-after-repair.png", "09-status-after-repair.png"}));
    // The run held for the picture went on to its end: the repair left an undo record.
    CUndoList undoList(demo.target->Context().Backups());
    undoList.RefreshUndoList();
    QCOMPARE(undoList.Rows().size(), std::size_t{1});
}

void MainWindowTest::ScanWithNoCategorySelectedSaysSoAndKeepsTheLastScan() {
    CTempFolder folder;
    CDemoWindow demo(folder);
    CSettings& settings = demo.target->Context().Settings();
    QVERIFY(settings.SetProfileInt(kSelectionSection, kSelectionValueName, 0));
    CModalAnswerer answerer;

    demo.window->StatusPage().Post(CommandId::OneClick);
    answerer.AnswerWith(demo.session->Text(u"IDS_YES"));
    QTRY_COMPARE(answerer.Texts().size(), 2);
    QCOMPARE(answerer.Texts().back(), demo.session->Text(u"IDS_NO_SELECTED"));
    QVERIFY(!demo.session->Flags().oneClick);
    QVERIFY(settings.Values().StrLastScan.empty());
    QVERIFY(!demo.session->IsScanRunning());
}

void MainWindowTest::RestartToRepairRepairsTheSavedResults() {
    CTempFolder folder;
    {
        // The instance that asked for the restart scanned and saved its results.
        std::unique_ptr<COpenTarget> first = OpenDemo(folder);
        CScanDriver& scans = first->Context().Scans();
        QVERIFY(scans.StartScan(first->Context().Settings().Values().SelectedCategories));
        scans.WaitForScan();
        QVERIFY(scans.CountFound() > 0);
        QVERIFY(!first->Context().SaveCurrentResults());
    }
    CModalAnswerer answerer;
    const std::vector<std::u16string> arguments = {u"ZANVISTASCAN"};
    CDemoWindow demo(folder, ParseCommandLine(arguments, true));
    QSignalSpy finished(&demo.window->CleaningPage(), &CCleanWizard1Dlg::cleaningFinished);
    QVERIFY(finished.wait(kRunTimeout));
    const RepairSessionResult& result = demo.window->CleaningPage().LastResult();
    QVERIFY2(result.RegistrySaved(), result.notSaved.c_str());
    QVERIFY(result.cleaning.attempted > 0);
    // Every saved problem was kept: nothing was said about lost ones.
    QVERIFY(answerer.Texts().isEmpty());
}

void MainWindowTest::PrefixChooserAcceptsOnlyAFolderHoldingSystemReg() {
    CTempFolder folder;
    UseOwnFolders(folder);
    const std::filesystem::path notPrefix = folder.MakeFolder("photos");
    const std::filesystem::path prefix = folder.Path() / "games";
    folder.Write("games/system.reg", "WINE REGISTRY Version 2\n");
    CModalAnswerer answerer;  // the "not a Wine prefix" warning
    // The folder dialog is answered twice: first a folder without system.reg, then a prefix.
    QStringList picks = {QString::fromStdString(notPrefix.string()),
                         QString::fromStdString(prefix.string())};
    QTimer picker;
    connect(&picker, &QTimer::timeout, &picker, [&picks] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || picks.isEmpty())
            return;
        dialog->setDirectory(picks.takeFirst());
        QMetaObject::invokeMethod(dialog, "accept");
    });
    picker.start(20);
    const auto english = [](std::u16string_view id) {
        return id == u"IDS_NOT_A_PREFIX" ? std::u16string(u"%s is no prefix") : std::u16string(id);
    };

    std::optional<std::filesystem::path> chosen = AskForPrefix(english, nullptr, folder.Path());
    QCOMPARE(chosen.value_or(std::filesystem::path()), prefix);
    QCOMPARE(answerer.Texts().size(), 1);
    QVERIFY(answerer.Texts().front().contains(QString::fromStdString(notPrefix.string())));

    // The choice is remembered while it stays a prefix.
    RememberPrefix(*chosen);
    QCOMPARE(RememberedPrefix().value_or(std::filesystem::path()), prefix);
    std::filesystem::remove(prefix / "system.reg");
    QVERIFY(!RememberedPrefix());
}

}  // namespace quillary::testing

QTEST_MAIN(quillary::testing::MainWindowTest)
#include "main_window_test.moc"
