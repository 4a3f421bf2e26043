#include "ui/cleaning_page.h"

#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "core/text_encoding.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/run_progress_view.h"

namespace quillary::ui {

CCleanWizard1Dlg::CCleanWizard1Dlg(CZANDlg& mainWindow, QWidget* parent)
    : CCommandWindow(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    UsePageBackground(this);
    setObjectName(QStringLiteral("cleaningPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(session.Text(u"IDS_HEADING_CLEANING_REGISTRY"), this));
    auto* headingRow = new QHBoxLayout();
    headingRow->addWidget(MakeText(session.Text(u"IDS_CLEANING_HEADING"), this), 1);
    stop_ = new QPushButton(StopIcon(), session.Text(u"IDS_BTN_STOP_CLEANING"), this);
    stop_->setAccessibleName(stop_->text());
    stop_->setEnabled(false);
    connect(stop_, &QPushButton::clicked, this, [this] { Post(CommandId::StopCleaning); });
    headingRow->addWidget(stop_, 0, Qt::AlignTop);
    layout->addLayout(headingRow);

    count_ = MakeText({}, this);
    QFont font = count_->font();
    font.setBold(true);
    count_->setFont(font);
    layout->addWidget(count_);
    progress_ = new CRunProgressView(QStringLiteral("repair progress"), this);
    layout->addWidget(progress_);
    layout->addStretch(1);

    connect(&mainWindow_.Relay(), &CScanObserverRelay::progressed, this,
            [this](const RunProgress& progress) {
                if (mainWindow_.Session().Flags().cleaningRunning)
                    progress_->ShowProgress(progress);
            });
}

CCleanWizard1Dlg::~CCleanWizard1Dlg() {
    // A run still going when the window goes away is stopped between two problems.
    if (worker_.joinable()) {
        mainWindow_.Session().Context().Scans().StopEvent().Set();
        worker_.join();
    }
}

int CCleanWizard1Dlg::OverallPosition() const {
    return progress_->OverallPosition();
}

void CCleanWizard1Dlg::OnCommand(CommandId id) {
    switch (id) {
        case CommandId::BeginCleaning:
            BeginCleaning();
            break;
        case CommandId::StopCleaning:
            StopCleaning();
            break;
        default:
            break;
    }
}

void CCleanWizard1Dlg::StartCleaning() {
    CUiSession& session = mainWindow_.Session();
    if (session.IsBusy())
        return;
    CAppContext& context = session.Context();
    if (!session.IsAdministrator()) {
        ShowMessage(session, this, session.Text(u"IDS_STR_LACK_OF_PERMISSION"));
        session.Flags().oneClick = false;
        return;
    }
    // Wine running for the prefix, or a damaged registry file: nothing may be changed now.
    if (CWinePrefixRegistry* prefix = session.Target().PrefixStore()) {
        if (std::optional<std::string> refusal = prefix->WriteRefusal()) {
            ShowMessage(session, this, QString::fromStdString(*refusal));
            session.Flags().oneClick = false;
            return;
        }
    }
    mainWindow_.ShowPage(this);
    count_->setText(ToQString(SelectedForCleaningText(
        context.Scans(), context.Tweaks().CountTicked(),
        [&context](std::u16string_view id) { return context.Language().LookupText(id); })));
    Post(CommandId::BeginCleaning);
}

void CCleanWizard1Dlg::BeginCleaning() {
    CUiSession& session = mainWindow_.Session();
    if (session.IsBusy() || worker_.joinable())
        return;
    progress_->Reset();
    if (!session.Flags().oneClick)
        progress_->ShowStatus(session.Text(u"IDS_CREATING_RESTORE_PT"));
    mainWindow_.EnableNavigation(false);
    stop_->setEnabled(true);
    stop_->setFocus();
    session.Flags().cleaningRunning = true;

    // The run reports here: the overall progress through the driver, each category's status
    // and progress through the category (the saved results' categories were never attached).
    CScanObserverRelay* relay = &mainWindow_.Relay();
    CScanDriver& scans = session.Context().Scans();
    scans.SetObserver(relay);
    for (const CategoryRow& row : kCategories) {
        if (CCategory* category = scans.CategoryOf(row.bit))
            category->Attach(nullptr, relay, nullptr);
    }
    RepairSessionOptions options;
    options.observer = relay;
    options.pacing = session.Pacing();
    options.say = [&session](std::string_view text) {
        session.Context().Log().WriteLogLine(Utf8ToUtf16(text));
    };
    COpenTarget& target = session.Target();
    worker_ = std::jthread([this, &target, options] {
        RepairSessionResult result = RunRepairSession(target, options);
        // Queued behind the run's last reports.
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { OnRunEnded(std::move(result)); },
            Qt::QueuedConnection);
    });
}

void CCleanWizard1Dlg::StopCleaning() {
    if (!mainWindow_.Session().Flags().cleaningRunning)
        return;
    mainWindow_.Session().Context().Scans().StopEvent().Set();
    QThread::msleep(50);
    mainWindow_.EnableNavigation(true);
    stop_->setEnabled(false);
}

void CCleanWizard1Dlg::OnRunEnded(RepairSessionResult result) {
    worker_.join();
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    context.Scans().SetObserver(nullptr);
    UiFlags& flags = session.Flags();
    flags.cleaningRunning = false;
    // The one-click run ends with the repair.
    flags.oneClick = false;
    stop_->setEnabled(false);
    mainWindow_.EnableNavigation(true);
    lastResult_ = std::move(result);

    if (!lastResult_.RegistrySaved())
        ShowMessage(session, this, QString::fromStdString(lastResult_.notSaved));
    if (FileError error = context.SaveCurrentResults())
        ShowMessage(session, this, QString::fromStdString(*error));

    const bool problemsLeft = context.Scans().CountFound() > 0;
    if (problemsLeft) {
        mainWindow_.Post(CommandId::ScanFinished);
    } else if (lastResult_.cleaning.stopped) {
        ShowMessage(session, this, session.Text(u"IDS_CLEANING_ABORTED"));
        mainWindow_.Post(CommandId::ShowHome);
    } else {
        mainWindow_.Post(CommandId::CleaningDone);
    }
    emit cleaningFinished();
}

}  // namespace quillary::ui
