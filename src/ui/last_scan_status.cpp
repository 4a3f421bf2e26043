#include "ui/last_scan_status.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/status_page.h"

namespace quillary::ui {
CLastScanStatus::CLastScanStatus(CZANDlg& mainWindow, QWidget* parent)
    : QWidget(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    auto* layout = new QVBoxLayout(this);
    heading_ = new QLabel(session.Text(u"IDS_LAST_SCAN_STATUS"), this);
    QFont headingFont = heading_->font();
    headingFont.setBold(true);
    heading_->setFont(headingFont);
    heading_->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading_);

    count_ = new QLabel(this);
    QFont countFont = count_->font();
    countFont.setPointSizeF(countFont.pointSizeF() * 3.0);
    countFont.setBold(true);
    count_->setFont(countFont);
    count_->setAlignment(Qt::AlignCenter);
    layout->addWidget(count_);

    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignCenter);
    layout->addWidget(status_);

    action_ = new QPushButton(this);
    connect(action_, &QPushButton::clicked, this, &CLastScanStatus::OnAction);
    layout->addWidget(action_);
    layout->addStretch(1);
    Refresh();
}

void CLastScanStatus::Refresh() {
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    const std::u16string& countText = context.Settings().Values().LastScanProblemCount;
    const int found = countText.empty() ? 0 : QString(ToQString(countText)).toInt();
    const std::size_t left = context.Scans().CountFound();
    count_->setText(countText.empty() ? QStringLiteral("0") : ToQString(countText));

    const QString word = session.Text(found == 1 ? u"IDS_ERROR" : u"IDS_ERRORS");
    QString action;
    if (found < 1) {
        action = session.Text(u"IDS_CLICK_TO_SCAN");
        repairs_ = false;
        status_->setText(session.Text(u"IDS_ERRORS") + ' ' + session.Text(u"IDS_DISCOVERED"));
    } else if (left < 1) {
        action = session.Text(u"IDS_STR_SCAN_AGAIN");
        repairs_ = false;
        status_->setText(word + ' ' + session.Text(u"IDS_FIXED"));
    } else {
        action = session.Text(u"IDS_CLICK_TO_REPAIR");
        repairs_ = true;
        status_->setText(word + ' ' + session.Text(u"IDS_DISCOVERED"));
    }
    action_->setText(action);
    action_->setIcon(repairs_ ? RepairIcon() : ScanIcon());
    action_->setAccessibleName(action);
    count_->setAccessibleName(heading_->text() + ' ' + count_->text());
}

void CLastScanStatus::OnAction() {
    if (!repairs_) {
        mainWindow_.StatusPage().Post(CommandId::StartScan);
        return;
    }
    mainWindow_.RequestRepair(this);
}

}  // namespace quillary::ui
