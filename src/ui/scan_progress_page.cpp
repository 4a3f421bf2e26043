#include "ui/scan_progress_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/scan_records.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/run_progress_view.h"
#include "ui/stop_scan_dialog.h"

namespace quillary::ui {
namespace {

constexpr int kPictureSize = 20;
// The row after the fourteen categories.
constexpr int kTweaksRow = kProgressRowCount - 1;

}  // namespace

CDlgScan::CDlgScan(CZANDlg& mainWindow, QWidget* parent)
    : CCommandWindow(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    UsePageBackground(this);
    setObjectName(QStringLiteral("scanProgressPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(session.Text(u"IDS_HEADING_SCANNING_REGISTRY"), this));
    auto* headingRow = new QHBoxLayout();
    headingRow->addWidget(MakeText(session.Text(u"IDS_SCANNING_HEADING"), this), 1);
    stop_ = new QPushButton(StopIcon(), session.Text(u"IDS_BTN_STOP_SCAN"), this);
    stop_->setAccessibleName(stop_->text());
    stop_->setEnabled(false);
    connect(stop_, &QPushButton::clicked, this, [this] { Post(CommandId::StopScan); });
    headingRow->addWidget(stop_, 0, Qt::AlignTop);
    layout->addLayout(headingRow);

    // Two columns of rows, the categories in their order and the tweaks last.
    auto* rows = new QGridLayout();
    const int perColumn = (kProgressRowCount + 1) / 2;
    for (int row = 0; row < kProgressRowCount; ++row) {
        auto* picture = new QLabel(this);
        picture->setFixedSize(kPictureSize, kPictureSize);
        auto* label = MakeText({}, this);
        label->setWordWrap(false);
        const int line = row % perColumn;
        const int column = (row / perColumn) * 2;
        rows->addWidget(picture, line, column);
        rows->addWidget(label, line, column + 1);
        pictures_[static_cast<std::size_t>(row)] = picture;
        labels_[static_cast<std::size_t>(row)] = label;
    }
    rows->setColumnStretch(1, 1);
    rows->setColumnStretch(3, 1);
    layout->addLayout(rows);

    progress_ = new CRunProgressView(QStringLiteral("scan progress"), this);
    layout->addWidget(progress_);

    found_ = MakeText({}, this);
    QFont font = found_->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    found_->setFont(font);
    layout->addWidget(found_);
    layout->addStretch(1);

    connect(&mainWindow_.Relay(), &CScanObserverRelay::progressed, this,
            [this](const RunProgress& progress) {
                if (scanning_)
                    ShowProgress(progress);
            });
    connect(&mainWindow_.Relay(), &CScanObserverRelay::scanEnded, this,
            [this](bool) { OnScanEnded(); });
    ResetRows();
}

void CDlgScan::ResetRows() {
    CUiSession& session = mainWindow_.Session();
    for (const CategoryRow& row : kCategories) {
        const auto at = static_cast<std::size_t>(row.index);
        labels_[at]->setText(session.Text(row.scanTitleId));
        pictures_[at]->clear();
    }
    labels_[kTweaksRow]->setText(session.Text(u"IDS_STR_REGISTRY_TWEAKS"));
    pictures_[kTweaksRow]->clear();
    progress_->Reset();
    ShowFound(0);
}

int CDlgScan::OverallPosition() const {
    return progress_->OverallPosition();
}

void CDlgScan::OnCommand(CommandId id) {
    switch (id) {
        case CommandId::BeginScan:
            BeginScan();
            break;
        case CommandId::StopScan:
            StopScan();
            break;
        default:
            break;
    }
}

void CDlgScan::BeginScan() {
    CUiSession& session = mainWindow_.Session();
    CScanDriver& scans = session.Context().Scans();
    if (scanning_ || session.IsBusy())
        return;
    ResetRows();
    scans.SetObserver(&mainWindow_.Relay());
    scanning_ = true;
    if (!scans.StartScan(session.Context().Settings().Values().SelectedCategories)) {
        // Only the tweaks row is ticked: there is nothing to scan, and the results offer the
        // tweaks.
        scanning_ = false;
        scans.SetObserver(nullptr);
        mainWindow_.Post(CommandId::ScanFinished);
        return;
    }
    mainWindow_.EnableNavigation(false);
    stop_->setEnabled(true);
    stop_->setFocus();
}

void CDlgScan::StopScan() {
    CUiSession& session = mainWindow_.Session();
    if (!scanning_ || stopQuestion_)
        return;
    // The scan waits at its next report while the question is open.
    mainWindow_.Relay().Pause();
    CDlgStopScan question(session, this);
    stopQuestion_ = &question;
    ++session.Flags().modalCount;
    question.exec();
    --session.Flags().modalCount;
    stopQuestion_ = nullptr;
    // Set before the scan goes on, so that it stops at its next item.
    if (question.Confirmed())
        session.Context().Scans().StopEvent().Set();
    mainWindow_.Relay().Resume();
}

void CDlgScan::ShowProgress(const RunProgress& progress) {
    for (std::size_t row = 0; row < progress.labels.size(); ++row) {
        if (progress.labels[row])
            labels_[row]->setText(ToQString(*progress.labels[row]));
        if (progress.pictures[row]) {
            const QIcon icon = RowPictureIcon(*progress.pictures[row]);
            if (icon.isNull())
                pictures_[row]->clear();
            else
                pictures_[row]->setPixmap(icon.pixmap(kPictureSize, kPictureSize));
        }
    }
    progress_->ShowProgress(progress);
    if (progress.found)
        ShowFound(*progress.found);
}

void CDlgScan::ShowFound(std::size_t found) {
    CUiSession& session = mainWindow_.Session();
    found_->setText(
        QStringLiteral("%1 %2 %3 %4")
            .arg(session.Text(u"IDS_STR_ATTENTION"), session.Text(u"IDS_STR_PROB_FOUND"))
            .arg(found)
            .arg(session.Text(found == 1 ? u"IDS_ERROR" : u"IDS_ERRORS")));
}

void CDlgScan::OnScanEnded() {
    if (!scanning_)
        return;
    scanning_ = false;
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    CScanDriver& scans = context.Scans();
    // The worker has made its last report; let it finish.
    scans.WaitForScan();
    scans.SetObserver(nullptr);
    if (stopQuestion_)
        stopQuestion_->reject();
    RecordScanEnd(context.Settings(), scans.CountFound());
    if (!context.Settings().SaveSettings())
        context.Log().WriteLogLine(u"The time and count of the scan could not be stored");
    stop_->setEnabled(false);
    mainWindow_.EnableNavigation(true);
    mainWindow_.Post(CommandId::ScanFinished);
}

}  // namespace quillary::ui
