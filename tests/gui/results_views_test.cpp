// The results page, the problem list dialog and opening a key in Wine's regedit, on an
// in-memory target scanned for real, with the English language file.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "gui_fixture.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "ui/main_window.h"
#include "ui/problem_list_dialog.h"
#include "ui/problem_list_model.h"
#include "ui/registry_editor.h"
#include "ui/results_page.h"
#include "ui/scan_page.h"
#include "ui/status_page.h"

namespace quillary::ui {

namespace fs = std::filesystem;
using testing::CTempFolder;

namespace {

constexpr std::uint32_t kAppPathsBit = 0x2;
constexpr std::uint32_t kStartupBit = 0x800;
constexpr int kStartup = 11;
constexpr std::u16string_view kRunKey =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Three start-up entries whose programs are missing: the Startup scan finds three problems
// and the App Paths scan none.
constexpr std::string_view kRegistry = R"(
    [HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
    "Alpha"="C:\\Program Files\\Alpha\\alpha.exe"
    "Bravo"="C:\\Program Files\\Bravo\\bravo.exe"
    "Charlie"="C:\\Program Files\\Charlie\\charlie.exe"
)";

TargetOptions Options(const CTempFolder& folder) {
    return {{folder.Path() / "config", folder.Path() / "data",
             fs::current_path() / "lang" / "quillary"},
            {},
            false,
            [](int, const char*) { return true; }};
}

}  // namespace

class ResultsViewsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CTempFolder> folder_;
    std::unique_ptr<COpenTarget> target_;
    std::unique_ptr<CUiSession> session_;
    std::unique_ptr<CZANDlg> window_;

    CAppContext& Context() { return target_->Context(); }
    CCategory& Startup() { return *Context().Scans().CategoryOf(kStartupBit); }
    std::vector<std::u16string> StartupValueNames() {
        std::vector<std::u16string> names;
        for (const auto& problem : Context().Scans().ProblemsOf(kStartupBit))
            names.push_back(problem->ValueName);
        return names;
    }
    std::unique_ptr<CProblemsView> OpenStartupProblems() {
        auto view = std::make_unique<CProblemsView>(*window_, kStartup, QStringLiteral("Startup"));
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qWarning("the problem list was not shown");
        return view;
    }
    // Clicks the tick box of a row, where the delegate draws it.
    static void ClickTick(QListView& list, int row) {
        const QRect rect = list.visualRect(list.model()->index(row, 0));
        const int checkWidth = list.style()->pixelMetric(QStyle::PM_IndicatorWidth);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          QPoint(rect.left() + 4 + checkWidth / 2, rect.center().y()));
    }
    std::vector<bool> Ticks() {
        std::vector<bool> ticks;
        for (const auto& problem : Context().Scans().ProblemsOf(kStartupBit))
            ticks.push_back(problem->selected);
        return ticks;
    }

private slots:
    void init() {
        folder_ = std::make_unique<CTempFolder>();
        const fs::path driveC = folder_->MakeFolder("c");
        folder_->MakeFolder("c/windows/system32");
        std::string error;
        target_ = COpenTarget::OpenInMemory(testing::MakeRegistry(kRegistry), driveC,
                                            Options(*folder_), &error);
        QVERIFY2(target_, error.c_str());
        Context().Load();
        QVERIFY(Context().Scans().StartScan(kAppPathsBit | kStartupBit));
        Context().Scans().WaitForScan();
        QCOMPARE(Context().Scans().ProblemsOf(kStartupBit).size(), std::size_t{3});
        session_ = std::make_unique<CUiSession>(*target_, true, false);
        window_ = std::make_unique<CZANDlg>(*session_, CommandLine{});
        // A page takes input only while it is shown.
        window_->ShowPage(&window_->ResultsPage());
    }

    void cleanup() {
        window_.reset();
        session_.reset();
        target_.reset();
        folder_.reset();
    }

    void FillResultsShowsEachScannedCategoryWithItsCount() {
        CDlgResults& page = window_->ResultsPage();
        page.FillResults();
        QTreeWidget& rows = page.Rows();
        // App Paths found nothing (id -1, no details), Startup three; no other category ran.
        QCOMPARE(rows.topLevelItemCount(), 2);
        struct Row {
            int id;
            QString name;
            QString count;
            QString details;
        };
        const Row expected[] = {
            {CDlgResults::kNoProblemsRow, "Application Paths", "0 problems", ""},
            {kStartup, "Startup Programs", "3 problems", "Details"},
        };
        for (int row = 0; row < 2; ++row) {
            const QTreeWidgetItem* item = rows.topLevelItem(row);
            QCOMPARE(item->data(0, CDlgResults::kIdRole).toInt(), expected[row].id);
            QVERIFY(item->text(CDlgResults::kCategoryColumn).startsWith(expected[row].name));
            QCOMPARE(item->text(CDlgResults::kCountColumn), expected[row].count);
            QCOMPARE(item->text(CDlgResults::kDetailsColumn), expected[row].details);
        }
        QCOMPARE(page.Totals().text(), QStringLiteral("3 problems found"));
        QVERIFY(page.ReportLink().isEnabled());

        // One problem left: the singular everywhere.
        auto& problems = Startup().MutableProblems();
        problems.erase(problems.begin(), problems.begin() + 2);
        page.FillResults();
        QCOMPARE(rows.topLevelItem(1)->text(CDlgResults::kCountColumn),
                 QStringLiteral("1 problem"));
        QCOMPARE(page.Totals().text(), QStringLiteral("1 problem found"));

        // None left: the row becomes a "-1" row and the report link goes away. The total keeps
        // the singular below two.
        problems.clear();
        page.FillResults();
        QCOMPARE(rows.topLevelItem(1)->data(0, CDlgResults::kIdRole).toInt(),
                 CDlgResults::kNoProblemsRow);
        QCOMPARE(page.Totals().text(), QStringLiteral("0 problem found"));
        QVERIFY(!page.ReportLink().isEnabled());
        QVERIFY(page.ReportLink().isHidden());
    }

    void DetailsOfAnEmptyCategoryOnlyTellSo() {
        CDlgResults& page = window_->ResultsPage();
        testing::CModalAnswerer answerer;
        page.OpenDetails(CDlgResults::kNoProblemsRow);
        QCOMPARE(answerer.Texts(), QStringList()
                                       << QStringLiteral("No problems were found in this area."));
        QCOMPARE(page.CurrentCategory(), -1);
        QCOMPARE(session_->Flags().modalCount, 0);
    }

    void RepairWithNothingTickedTellsTheUser() {
        for (const auto& problem : Startup().Problems())
            problem->selected = false;
        testing::CModalAnswerer answerer;
        window_->ResultsPage().RepairButton().click();
        QVERIFY(answerer.Texts().value(0).startsWith(QStringLiteral("No problems are selected")));
    }

    void TicksFollowClicksKeysAndTheSelectAllBox() {
        const auto view = OpenStartupProblems();
        QListView& list = view->List();
        QCheckBox& selectAll = view->SelectAllBox();
        QCOMPARE(selectAll.checkState(), Qt::Checked);

        ClickTick(list, 1);
        QCOMPARE(Ticks(), (std::vector<bool>{true, false, true}));
        QCOMPARE(selectAll.checkState(), Qt::PartiallyChecked);

        // Space toggles the current row.
        list.setCurrentIndex(list.model()->index(0, 0));
        QTest::keyClick(&list, Qt::Key_Space);
        QCOMPARE(Ticks(), (std::vector<bool>{false, false, true}));

        // From partially checked a click ticks all, and the next unticks all.
        QTest::mouseClick(&selectAll, Qt::LeftButton);
        QCOMPARE(Ticks(), (std::vector<bool>{true, true, true}));
        QCOMPARE(selectAll.checkState(), Qt::Checked);
        QTest::mouseClick(&selectAll, Qt::LeftButton);
        QCOMPARE(Ticks(), (std::vector<bool>{false, false, false}));
        QCOMPARE(selectAll.checkState(), Qt::Unchecked);
        QTest::mouseClick(&selectAll, Qt::LeftButton);
        QCOMPARE(Ticks(), (std::vector<bool>{true, true, true}));
    }

    void ContextCommandsTickUntickAndInvert() {
        const auto view = OpenStartupProblems();
        view->List().setCurrentIndex(view->Model().index(2));
        struct Step {
            CommandId command;
            std::vector<bool> ticks;
            Qt::CheckState box;
        };
        const Step steps[] = {
            {CommandId::ToggleTick, {true, true, false}, Qt::PartiallyChecked},
            {CommandId::InvertSelection, {false, false, true}, Qt::PartiallyChecked},
            {CommandId::DeselectAll, {false, false, false}, Qt::Unchecked},
            {CommandId::InvertSelection, {true, true, true}, Qt::Checked},
            {CommandId::DeselectAll, {false, false, false}, Qt::Unchecked},
            {CommandId::SelectAll, {true, true, true}, Qt::Checked},
        };
        for (const Step& step : steps) {
            view->RunCommand(step.command);
            QCOMPARE(Ticks(), step.ticks);
            QCOMPARE(view->SelectAllBox().checkState(), step.box);
        }
    }

    void ContextMenuFollowsTheKindOfProblem() {
        // A shortcut problem: no key, its file on line 1.
        auto shortcut = std::make_unique<CProblem>();
        shortcut->detailLines = {u"Desktop\\gone.lnk", u"C:\\users\\Public\\Desktop\\gone.lnk"};
        Startup().MutableProblems().push_back(std::move(shortcut));
        const auto view = OpenStartupProblems();

        struct Case {
            int row;
            bool ticked;
            QStringList texts;
            std::vector<bool> enabled;
        };
        const QStringList common = {"Select All", "Deselect All", "Invert Selection", ""};
        const Case cases[] = {
            {0,
             true,
             QStringList{"Deselect This Problem"} + common +
                 QStringList{"Open in Registry Editor", "Copy Details", "Add to Exclusion List"},
             {true, true, true, true, true, true, true, true}},
            {0,
             false,
             QStringList{"Select This Problem"} + common +
                 QStringList{"Open in Registry Editor", "Copy Details", "Add to Exclusion List"},
             {true, true, true, true, true, true, true, true}},
            {3,
             true,
             QStringList{"Deselect This Problem"} + common +
                 QStringList{"File Properties", "Copy Details", "Add to Exclusion List"},
             {true, true, true, true, true, true, true, false}},
        };
        const std::vector<int> commands = {484, 485, 486, 487, 0, 483, 482, 480};
        for (const Case& test : cases) {
            view->Model().ProblemAt(test.row).selected = test.ticked;
            view->List().setCurrentIndex(view->Model().index(test.row));
            const std::unique_ptr<QMenu> menu = view->MakeContextMenu();
            QVERIFY(menu);
            QStringList texts;
            std::vector<bool> enabled;
            std::vector<int> numbers;
            for (const QAction* action : menu->actions()) {
                texts << action->text();
                enabled.push_back(action->isEnabled());
                numbers.push_back(action->data().toInt());
            }
            QCOMPARE(texts, test.texts);
            QCOMPARE(enabled, test.enabled);
            QCOMPARE(numbers, commands);
        }
    }

    void CopyPutsLabelAndDescriptionOnTheClipboard() {
        const auto view = OpenStartupProblems();
        const CProblem& problem = view->Model().ProblemAt(0);
        view->List().setCurrentIndex(view->Model().index(0));
        view->RunCommand(CommandId::CopyProblem);
        const QString expected = ToQString(problem.DetailLine(0)) +
                                 "\n----------------------------\n" +
                                 ToQString(Context().TextTables().DescriptionText(problem));
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QVERIFY(!ToQString(Context().TextTables().DescriptionText(problem)).isEmpty());
    }

    void GoToKeyWithoutRightsTellsTheUser() {
        CUiSession visitor(*target_, false, false);
        CZANDlg window(visitor, CommandLine{});
        CProblemsView view(window, kStartup, QStringLiteral("Startup"));
        bool started = false;
        view.SetProcessStarter([&started](const DetachedProcess&) { return started = true; });
        view.List().setCurrentIndex(view.Model().index(0));
        testing::CModalAnswerer answerer;
        view.RunCommand(CommandId::GoToKey);
        QVERIFY(answerer.Texts().value(0).startsWith(
            QStringLiteral("This operation needs administrator")));
        QVERIFY(!started);
    }

    void AddToIgnoreTakesProblemsOutUntilTheDialogCloses() {
        CDlgResults& page = window_->ResultsPage();
        page.FillResults();
        const auto view = OpenStartupProblems();
        view->List().setCurrentIndex(view->Model().index(1));
        view->RunCommand(CommandId::AddToIgnore);

        QCOMPARE(StartupValueNames(), (std::vector<std::u16string>{u"Alpha", u"Charlie"}));
        QCOMPARE(view->Model().rowCount(), 2);
        const CExclusionList& ignored = Context().Exclusions().UserList();
        QCOMPARE(ignored.Entries().size(), std::size_t{1});
        QVERIFY(ignored.Entries()[0] == kRunKey);
        QCOMPARE(page.Rows().topLevelItem(1)->text(CDlgResults::kCountColumn),
                 QStringLiteral("2 problems"));
        QVERIFY(view->isVisible());

        for (int left = 2; left > 0; --left) {
            view->List().setCurrentIndex(view->Model().index(0));
            view->RunCommand(CommandId::AddToIgnore);
        }
        QVERIFY(StartupValueNames().empty());
        QCOMPARE(ignored.Entries().size(), std::size_t{1});  // the same key is listed once
        QVERIFY(!view->isVisible());
        QCOMPARE(page.Totals().text(), QStringLiteral("0 problem found"));
        // Nothing is left to show: the main window goes to the scan page.
        QTRY_COMPARE(window_->CurrentPage(), static_cast<QWidget*>(&window_->ScanPage()));
    }

    void ClosingWithProblemsLeftShowsTheResultsAgain() {
        const auto view = OpenStartupProblems();
        window_->ShowPage(&window_->StatusPage());
        QTest::keyClick(view.get(), Qt::Key_Escape);
        QVERIFY(!view->isVisible());
        QTRY_COMPARE(window_->CurrentPage(), static_cast<QWidget*>(&window_->ResultsPage()));
    }

    // --- the Registry Editor -----------------------------------------------------------------

    void RegeditKeyPathNamesWhatRegeditShows() {
        auto store = testing::MakeRegistry(R"(
            [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor\Tool]
            [HKEY_LOCAL_MACHINE\Software\Vendor\Native]
            [HKEY_CURRENT_USER\Software\Vendor]
        )");
        RegistryTarget target;
        target.store = store.get();
        target.is64Bit = true;
        struct Case {
            std::u16string_view key;
            bool in64BitView;
            std::optional<std::u16string> expected;
        };
        const Case cases[] = {
            // The 32-bit view's software lies in Wow6432Node for a 64-bit regedit.
            {u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Tool", false,
             u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Vendor\\Tool"},
            {u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Vendor", false,
             u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Vendor"},
            {u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Native", true,
             u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Native"},
            // The user's software is the same in both views.
            {u"HKEY_CURRENT_USER\\Software\\Vendor", false, u"HKEY_CURRENT_USER\\Software\\Vendor"},
            // Keys that do not open give nothing to show.
            {u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Native", false, std::nullopt},
            {u"HKEY_CURRENT_USER\\Software\\Gone", true, std::nullopt},
            {u"HKCU\\Software\\Vendor", true, std::nullopt},
            {u"", true, std::nullopt},
        };
        for (const Case& test : cases) {
            const auto path = RegeditKeyPath(target, test.key, test.in64BitView);
            QVERIFY2(path == test.expected, QString(ToQString(test.key)).toUtf8().constData());
        }
    }

    // The launch runs `wine reg add` and then `wine regedit`, in order, with the key passed
    // through unchanged whatever characters it holds.
    void RegeditLaunchStoresTheKeyThenStartsRegedit() {
        QTemporaryDir bin;
        const QString log = bin.filePath("calls");
        const QString wine = bin.filePath("wine");
        QFile fake(wine);
        QVERIFY(fake.open(QIODevice::WriteOnly));
        fake.write(QStringLiteral("#!/bin/sh\nprintf '%s|' \"$WINEPREFIX\" \"$WINEDEBUG\" \"$@\" "
                                  ">> '%1'\necho >> '%1'\n")
                       .arg(log)
                       .toUtf8());
        fake.close();
        fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const std::u16string key = u"HKEY_CURRENT_USER\\Software\\A \"quoted\" $HOME & `x`";
        const DetachedProcess launch = RegeditLaunch(wine, "/prefix dir", key);
        QProcess process;
        process.setProcessEnvironment(launch.environment);
        process.start(launch.program, launch.arguments);
        QVERIFY(process.waitForFinished());

        QFile calls(log);
        QVERIFY(calls.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts);
        const QString settingsKey = ToQString(kRegeditSettingsKey);
        QCOMPARE(lines, (QStringList{"/prefix dir|-all|reg|add|" + settingsKey +
                                         "|/v|LastKey|/t|REG_SZ|/d|" + ToQString(key) + "|/f|",
                                     "/prefix dir|-all|regedit|"}));
    }

    void OpenInRegistryEditorRunsWineForThePrefixOnly() {
        // A Wine prefix of one key, and a wine on the PATH that is never run.
        const fs::path prefix = folder_
                                    ->Write("prefix/system.reg",
                                            "WINE REGISTRY Version 2\n\n"
                                            "[Software\\\\Vendor] 0\n")
                                    .parent_path();
        folder_->Write("prefix/user.reg", "WINE REGISTRY Version 2\n");
        folder_->Write("bin/wine", "#!/bin/sh\n");
        fs::permissions(folder_->Path() / "bin/wine", fs::perms::owner_all);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString((folder_->Path() / "bin").string()));

        std::string error;
        const auto wineTarget =
            COpenTarget::OpenPrefix({prefix, PrefixOrigin::Argument}, Options(*folder_), &error);
        QVERIFY2(wineTarget, error.c_str());
        CUiSession wineSession(*wineTarget, true, false);
        std::vector<DetachedProcess> started;
        const ProcessStarter record = [&started](const DetachedProcess& process) {
            started.push_back(process);
            return true;
        };
        OpenInRegistryEditor(wineSession, nullptr, u"HKEY_LOCAL_MACHINE\\Software\\Vendor", true,
                             record);
        OpenInRegistryEditor(wineSession, nullptr, u"HKEY_LOCAL_MACHINE\\Software\\Gone", true,
                             record);
        OpenInRegistryEditor(wineSession, nullptr, u"", true, record);
        // An in-memory target has no regedit.
        OpenInRegistryEditor(*session_, nullptr, kRunKey, true, record);
        qputenv("PATH", path);

        QCOMPARE(started.size(), std::size_t{1});
        QCOMPARE(started[0].environment.value("WINEPREFIX"), QString::fromStdString(prefix));
        QCOMPARE(started[0].environment.value("WINEDEBUG"), QStringLiteral("-all"));
        QCOMPARE(started[0].arguments.last(),
                 QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Vendor"));
        QCOMPARE(started[0].arguments.at(started[0].arguments.size() - 2),
                 QString::fromStdString((folder_->Path() / "bin/wine").string()));
    }

    void OpenInRegistryEditorSaysWhenWineCannotStart() {
        const fs::path prefix =
            folder_
                ->Write("prefix/system.reg", "WINE REGISTRY Version 2\n\n[Software\\\\Vendor] 0\n")
                .parent_path();
        std::string error;
        const auto wineTarget =
            COpenTarget::OpenPrefix({prefix, PrefixOrigin::Argument}, Options(*folder_), &error);
        QVERIFY2(wineTarget, error.c_str());
        CUiSession wineSession(*wineTarget, true, false);
        testing::CModalAnswerer answerer;
        OpenInRegistryEditor(wineSession, nullptr, u"HKEY_LOCAL_MACHINE\\Software\\Vendor", true,
                             [](const DetachedProcess&) { return false; });
        QCOMPARE(answerer.Texts(), QStringList() << QStringLiteral("Can't run Regedit."));
    }
};

}  // namespace quillary::ui

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    quillary::ui::ResultsViewsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "results_views_test.moc"
