#include "ui/scan_page.h"

#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/scan_records.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/scan_progress_page.h"

namespace quillary::ui {
namespace {

QLabel* AddSummaryRow(QFormLayout* rows, const QString& name, QWidget* parent) {
    auto* value = MakeText({}, parent);
    auto* label = MakeText(name, parent);
    label->setWordWrap(false);
    label->setBuddy(value);
    rows->addRow(label, value);
    return value;
}

}  // namespace

CDlgScanRegistry::CDlgScanRegistry(CZANDlg& mainWindow, QWidget* parent)
    : CCommandWindow(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    UsePageBackground(this);
    setObjectName(QStringLiteral("scanPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(session.Text(u"IDS_HEADING_SCAN_REGISTRY"), this));
    layout->addWidget(MakeText(session.Text(u"IDS_SCAN_REG_HEADER_TXT"), this));

    start_ = MakeActionButton(session.Text(u"IDS_BTN_START_SCANNING_NOW"), ScanIcon(), this);
    connect(start_, &QPushButton::clicked, this, [this] { Post(CommandId::StartScan); });
    auto* startRow = new QHBoxLayout();
    startRow->addWidget(start_);
    startRow->addStretch(1);
    layout->addLayout(startRow);
    notScannedYet_ = MakeText(session.Text(u"IDS_PC_NOT_SCANNED_YET"), this);
    layout->addWidget(notScannedYet_);

    QFormLayout* rows = nullptr;
    layout->addWidget(MakeSummaryBox(session.Text(u"IDS_SYSTEM_SUMMARY"), this, &rows));
    lastScan_ = AddSummaryRow(rows, session.Text(u"IDS_LAST_REG_SCAN"), this);
    lastResult_ = AddSummaryRow(rows, session.Text(u"IDS_LAST_SCANNING_RESULTS"), this);
    foundTillDate_ = AddSummaryRow(rows, session.Text(u"IDS_INVALID_ENTRIES_FOUND_TILLDATE"), this);
    fixedTillDate_ = AddSummaryRow(rows, session.Text(u"IDS_INVALID_ENTRIES_FIXED_TILLDATE"), this);
    schedule_ = AddSummaryRow(rows, session.Text(u"IDS_SCHEDULED_SCAN"), this);

    unfixed_ = new QPushButton(session.Text(u"IDS_VIEW_UNFIXED"), this);
    unfixed_->setFlat(true);
    unfixed_->setAccessibleName(unfixed_->text());
    connect(unfixed_, &QPushButton::clicked, this, [this] { Post(CommandId::ViewUnfixed); });
    layout->addWidget(unfixed_, 0, Qt::AlignRight);
    layout->addStretch(1);
    ShowUnfixedLink(false);
    Refresh();
}

void CDlgScanRegistry::Refresh() {
    CUiSession& session = mainWindow_.Session();
    const SettingsValues& values = session.Context().Settings().Values();
    notScannedYet_->setVisible(values.StrLastScan.empty());
    lastScan_->setText(values.StrLastScan.empty() ? session.Text(u"IDS_STR_NOSCAN_YET")
                                                  : ToQString(values.StrLastScan));
    lastResult_->setText(values.LastScanProblemCount.empty()
                             ? QStringLiteral("0")
                             : ToQString(values.LastScanProblemCount));
    foundTillDate_->setText(QString::number(values.RegErrFoundTillDate));
    // More cannot have been repaired than was found.
    fixedTillDate_->setText(
        QString::number(std::min(values.RegErrsFixedTillDate, values.RegErrFoundTillDate)));
    schedule_->setText(values.ScheduledTime.empty() ? session.Text(u"IDS_NOSCHEDULE_YET")
                                                    : ToQString(values.ScheduledTime));
}

void CDlgScanRegistry::ShowUnfixedLink(bool show) {
    unfixed_->setVisible(show);
    unfixed_->setEnabled(show);
}

void CDlgScanRegistry::OnCommand(CommandId id) {
    switch (id) {
        case CommandId::StartScan:
            StartScan();
            break;
        case CommandId::ViewUnfixed:
            mainWindow_.Post(CommandId::ScanFinished);
            break;
        default:
            break;
    }
}

void CDlgScanRegistry::StartScan() {
    CUiSession& session = mainWindow_.Session();
    if (session.IsBusy())
        return;
    CAppContext& context = session.Context();
    // The selection as stored; the settings pages may have changed it.
    CSettings& settings = context.Settings();
    settings.Values().SelectedCategories = settings.GetProfileInt(
        kSelectionSection, kSelectionValueName, settings.Values().SelectedCategories);
    const std::uint32_t selection = settings.Values().SelectedCategories;
    if ((selection & 0x7FFF) == 0) {
        ShowMessage(session, this, session.Text(u"IDS_NO_SELECTED"));
        session.Flags().oneClick = false;
        return;
    }
    RecordScanStart(context.Settings(), context.Clock().Now());
    mainWindow_.Post(CommandId::ShowScanProgress);
    mainWindow_.ScanProgressPage().Post(CommandId::BeginScan);
}

}  // namespace quillary::ui
