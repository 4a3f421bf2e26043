#include "ui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "core/text_encoding.h"
#include "ui/cleaning_page.h"
#include "ui/icons.h"
#include "ui/prefix_chooser.h"
#include "ui/results_page.h"
#include "ui/results_side_panel.h"
#include "ui/scan_observer_relay.h"
#include "ui/scan_page.h"
#include "ui/scan_progress_page.h"
#include "ui/status_page.h"

namespace quillary::ui {
namespace {

// The navigation buttons there are pages for, in their order.
struct NavigationEntry {
    CommandId command;
    const char16_t* textId;
    QIcon (*icon)();
};
constexpr std::array<NavigationEntry, 2> kNavigation = {{
    {CommandId::ShowHome, u"IDS_BTN_HOME", HomeIcon},
    {CommandId::ShowScanPage, u"IDS_BTN_SCAN_REG", ScanIcon},
}};

}  // namespace

CZANDlg::CZANDlg(CUiSession& session, CommandLine commandLine, QWidget* parent)
    : CCommandWindow(parent), session_(session), commandLine_(std::move(commandLine)) {
    qRegisterMetaType<RunProgress>();
    CAppContext& context = session_.Context();
    relay_ = new CScanObserverRelay([&context] { return context.Scans().CountFound(); }, this);
    setWindowTitle(session_.Text(u"AFX_IDS_APP_TITLE"));
    setWindowIcon(AppIcon());
    setObjectName(QStringLiteral("mainWindow"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildHeader());
    layout->addWidget(BuildNavigation());
    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_, 1);
    BuildPages();
    ResetNavHighlight();
    NavigationButton(CommandId::ShowHome)->setChecked(true);
    // A size that holds every page at the default font; the layouts decide the minimum.
    resize(860, 640);

    if (commandLine_.scheduledScan)
        session_.Flags().scheduledScan = true;
    // The desktop session is ending: what closing and exit would save is saved now.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        std::vector<std::string> failures = SaveState();
        if (FileError error = session_.Context().SaveCurrentResults())
            failures.push_back(*error);
        for (const std::string& failure : failures)
            session_.Context().Log().WriteLogLine(Utf8ToUtf16(failure));
    });
    ResumeElevatedOperation();
    // The scheduled scan starts at once.
    if (commandLine_.scheduledScan && !commandLine_.startedAfterOptimization)
        statusPage_->Post(CommandId::StartScan);
}

CZANDlg::~CZANDlg() = default;

QWidget* CZANDlg::BuildHeader() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("header"));
    header->setAutoFillBackground(true);
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x79));
    palette.setColor(QPalette::WindowText, Qt::white);
    header->setPalette(palette);

    auto* layout = new QHBoxLayout(header);
    auto* logo = new QLabel(header);
    logo->setPixmap(AppIcon().pixmap(40, 40));
    layout->addWidget(logo);
    auto* title = new QLabel(session_.Text(u"AFX_IDS_APP_TITLE"), header);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);
    layout->addStretch(1);

    auto* target = new CTargetLabel(session_, header);
    connect(target, &CTargetLabel::prefixChosen, this, [this](const QString& folder) {
        prefixToOpenNext_ = folder;
        close();
    });
    layout->addWidget(target);

    helpButton_ = new QToolButton(header);
    helpButton_->setText(session_.Text(u"IDS_BTN_HELP"));
    helpButton_->setIcon(HelpIcon());
    helpButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    helpButton_->setAccessibleName(helpButton_->text());
    helpButton_->setAutoRaise(true);
    connect(helpButton_, &QToolButton::clicked, this, [this] { Post(CommandId::HelpMenu); });
    layout->addWidget(helpButton_);
    return header;
}

QWidget* CZANDlg::BuildNavigation() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("navigation"));
    auto* layout = new QHBoxLayout(bar);
    navigation_ = new QButtonGroup(this);
    navigation_->setExclusive(false);  // the highlight is set by the commands, not by clicks
    for (const NavigationEntry& entry : kNavigation) {
        auto* button = new QToolButton(bar);
        button->setText(session_.Text(entry.textId));
        button->setAccessibleName(button->text());
        button->setIcon(entry.icon());
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setMinimumWidth(110);
        navigation_->addButton(button, static_cast<int>(entry.command));
        const CommandId command = entry.command;
        connect(button, &QToolButton::clicked, this, [this, command] { Post(command); });
        layout->addWidget(button);
    }
    layout->addStretch(1);
    return bar;
}

void CZANDlg::BuildPages() {
    statusPage_ = new CDlgHome(*this, pages_);
    scanPage_ = new CDlgScanRegistry(*this, pages_);
    scanProgressPage_ = new CDlgScan(*this, pages_);
    cleaningPage_ = new CCleanWizard1Dlg(*this, pages_);

    resultsView_ = new QWidget(pages_);
    auto* resultsLayout = new QHBoxLayout(resultsView_);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    resultsSidePanel_ = new CDlgResultsV52(*this, resultsView_);
    resultsPage_ = new CDlgResults(*this, resultsView_);
    resultsLayout->addWidget(resultsSidePanel_);
    resultsLayout->addWidget(resultsPage_, 1);

    for (QWidget* page : std::initializer_list<QWidget*>{statusPage_, scanPage_, scanProgressPage_,
                                                         resultsView_, cleaningPage_}) {
        pages_->addWidget(page);
        page->setEnabled(false);
    }
    pages_->setCurrentWidget(statusPage_);
    statusPage_->setEnabled(true);
}

QAbstractButton* CZANDlg::NavigationButton(CommandId id) const {
    return navigation_->button(static_cast<int>(id));
}

QWidget* CZANDlg::CurrentPage() const {
    QWidget* shown = pages_->currentWidget();
    return shown == resultsView_ ? resultsPage_ : shown;
}

void CZANDlg::ShowPage(QWidget* page) {
    if (page == CurrentPage())
        return;
    QWidget* shown = page == resultsPage_ ? resultsView_ : page;
    pages_->currentWidget()->setEnabled(false);
    pages_->setCurrentWidget(shown);
    shown->setEnabled(true);
    resultsSidePanel_->hide();
}

void CZANDlg::ResetNavHighlight() {
    for (QAbstractButton* button : navigation_->buttons())
        button->setChecked(false);
}

void CZANDlg::EnableNavigation(bool enable) {
    for (QAbstractButton* button : navigation_->buttons())
        button->setEnabled(enable);
}

bool CZANDlg::IsNavigationEnabled() const {
    return navigation_->buttons().constFirst()->isEnabled();
}

void CZANDlg::Navigate(CommandId id, QWidget* page) {
    ResetNavHighlight();
    if (QAbstractButton* button = NavigationButton(id))
        button->setChecked(true);
    ShowPage(page);
}

void CZANDlg::OnCommand(CommandId id) {
    switch (id) {
        case CommandId::ShowHome:
            Navigate(id, statusPage_);
            statusPage_->Refresh();
            break;
        case CommandId::ShowScanPage:
            Navigate(id, scanPage_);
            scanPage_->ShowUnfixedLink(session_.Context().Scans().CountFound() > 0);
            scanPage_->Refresh();
            break;
        case CommandId::ShowScanProgress:
            Navigate(CommandId::ShowScanPage, scanProgressPage_);
            break;
        case CommandId::ScanFinished:
            OnScanFinished();
            break;
        case CommandId::Repair:
            cleaningPage_->StartCleaning();
            break;
        case CommandId::CleaningDone:
            Post(CommandId::ShowHome);
            break;
        case CommandId::HelpMenu:
            ShowHelpMenu();
            break;
        case CommandId::Help:
            OpenUserGuide();
            break;
        case CommandId::About:
        case CommandId::AboutFromMenu:
            ShowAbout();
            break;
        default:
            break;
    }
}

void CZANDlg::OnScanFinished() {
    CAppContext& context = session_.Context();
    if (FileError error = context.SaveCurrentResults())
        ShowMessage(session_, this, QString::fromStdString(*error));
    const std::size_t found = context.Scans().CountFound();
    UiFlags& flags = session_.Flags();
    if (found > 0 || TweaksToOffer(session_) > 0) {
        ResetNavHighlight();
        NavigationButton(CommandId::ShowScanPage)->setChecked(true);
        if (flags.oneClick) {
            context.Settings().Values().RegErrsFixedLast = 0;
            Post(CommandId::Repair);
            return;
        }
        flags.scheduledScan = false;
        ShowPage(resultsPage_);
        resultsSidePanel_->show();
        resultsSidePanel_->Refresh();
        resultsPage_->FillResults();
        resultsPage_->setFocus();
        return;
    }
    flags.scheduledScan = false;
    // The one-click run ends here when nothing was found: there is nothing to repair.
    flags.oneClick = false;
    ShowMessage(session_, this, session_.Text(u"IDS_NO_ERRORS_FOUND"));
    if (flags.startedFromStatus) {
        flags.startedFromStatus = false;
        Post(CommandId::ShowHome);
    } else {
        Post(CommandId::ShowScanPage);
    }
}

void CZANDlg::ShowHelpMenu() {
    QMenu menu(this);
    menu.addAction(HelpIcon(), session_.Text(u"IDS_BTN_HELP"), this,
                   [this] { Post(CommandId::Help); });
    menu.addSeparator();
    menu.addAction(AppIcon(), session_.Text(u"IDS_BTN_ABOUT"), this,
                   [this] { Post(CommandId::AboutFromMenu); });
    ++session_.Flags().modalCount;
    menu.exec(helpButton_->mapToGlobal(QPoint(5, helpButton_->height())));
    --session_.Flags().modalCount;
}

void CZANDlg::OpenUserGuide() {
    QUrl guide(ToQString(session_.Context().Platform().WebAddress(0)));
    if (guide.isLocalFile() && !QFileInfo::exists(guide.toLocalFile())) {
        // Not installed: a program run from its build folder finds the README of its sources
        // a few folders up.
        QDir folder(QCoreApplication::applicationDirPath());
        const QString name = QFileInfo(guide.toLocalFile()).fileName();
        for (int level = 0; level < 4 && !folder.exists(name); ++level)
            folder.cdUp();
        if (!folder.exists(name)) {
            ShowMessage(session_, this, guide.toLocalFile());
            return;
        }
        guide = QUrl::fromLocalFile(folder.filePath(name));
    }
    QDesktopServices::openUrl(guide);
}

void CZANDlg::ShowAbout() {
    if (session_.IsBusy())
        return;
    ++session_.Flags().modalCount;
    QMessageBox::about(this, session_.Text(u"IDS_BTN_ABOUT"),
                       QStringLiteral("<b>%1</b> %2<br>%3")
                           .arg(session_.Text(u"AFX_IDS_APP_TITLE").toHtmlEscaped(),
                                QApplication::applicationVersion(),
                                session_.Text(u"IDS_ABOUTBOX").toHtmlEscaped()));
    --session_.Flags().modalCount;
}

void CZANDlg::ResumeElevatedOperation() {
    if (commandLine_.verb == ElevationVerb::Scan) {
        const LoadedResults& saved = session_.Context().SavedResults();
        if (saved.savedTotal != saved.kept)
            ShowMessage(session_, this, session_.Text(u"IDS_STR_ERROR_RIGHTS_ALERT"));
        if (saved.kept == 0)
            return;
    }
    for (const PostedCommand& command : CommandsForVerb(commandLine_.verb)) {
        const auto id = static_cast<CommandId>(command.id);
        switch (command.target) {
            case CommandTarget::MainWindow:
                Post(id);
                break;
            case CommandTarget::StatusPage:
                statusPage_->Post(id);
                break;
            case CommandTarget::BackupPage:
            case CommandTarget::SettingsPage:
                break;  // these pages are not part of this program yet
        }
    }
}

void CZANDlg::showEvent(QShowEvent* event) {
    CCommandWindow::showEvent(event);
    if (startupContinued_)
        return;
    startupContinued_ = true;
    QTimer::singleShot(0, this, [this] { ContinueStartup(); });
}

void CZANDlg::ContinueStartup() {
    IPlatformQueries& platform = session_.Context().Platform();
    (void)platform.IsFirstRun();
    if (platform.IsStartScanRequested()) {
        statusPage_->Post(CommandId::StartScan);
        platform.AcknowledgeStartScan();
    }
}

void CZANDlg::RequestRepair(QWidget* asker) {
    if (session_.Context().Scans().CountSelected() < 1) {
        ShowMessage(session_, asker, session_.Text(u"IDS_NO_ERRORS_SELECTED"));
        return;
    }
    Post(CommandId::Repair);
}

void CZANDlg::BringForward() {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void CZANDlg::ScheduledScanRequested() {
    BringForward();
    if (!AskYesNo(session_, this, session_.Text(u"IDS_SCHEDULE_RUNNING")))
        return;
    if (!session_.IsScanRunning() && !session_.Flags().cleaningRunning)
        statusPage_->Post(CommandId::StartScan);
}

std::vector<std::string> CZANDlg::SaveState() {
    CAppContext& context = session_.Context();
    std::vector<std::string> failures = context.SaveExclusions();
    if (!context.Settings().SaveSettings())
        failures.emplace_back("the settings could not be stored");
    if (FileError error = session_.Target().SaveConfig())
        failures.push_back(*error);
    return failures;
}

void CZANDlg::closeEvent(QCloseEvent* event) {
    // Closing is refused silently while a dialog is open over the window or an operation runs.
    if (session_.Flags().modalCount > 0 || session_.IsBusy() || !IsNavigationEnabled()) {
        event->ignore();
        return;
    }
    for (const std::string& failure : SaveState())
        ShowMessage(session_, this, QString::fromStdString(failure));
    event->accept();
}

void CZANDlg::keyPressEvent(QKeyEvent* event) {
    // Escape never closes the main window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    CCommandWindow::keyPressEvent(event);
}

bool ListenForLaterInstances(IInstanceGuard& guard, CZANDlg& window) {
    // The request goes through the application, which outlives the window; the window itself is
    // looked at on its own thread only.
    QPointer<CZANDlg> receiver(&window);
    return guard.Listen([receiver](InstanceRequest request) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [receiver, request] {
                if (!receiver)
                    return;
                if (request == InstanceRequest::ScheduledScan)
                    receiver->ScheduledScanRequested();
                else
                    receiver->BringForward();
            },
            Qt::QueuedConnection);
    });
}

}  // namespace quillary::ui
