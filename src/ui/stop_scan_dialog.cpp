#include "ui/stop_scan_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/icons.h"
#include "ui/page_widgets.h"
#include "ui/ui_session.h"

namespace quillary::ui {

CDlgStopScan::CDlgStopScan(CUiSession& session, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("stopScanDialog"));
    setWindowTitle(session.Text(u"AFX_IDS_APP_TITLE"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(session.Text(u"IDS_ABORT_DLG_TITLE"), this));
    layout->addWidget(MakeText(session.Text(u"IDS_ABORT_DLG_SUB_HEADING"), this));
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    abort_ = new QPushButton(StopIcon(), session.Text(u"IDS_BTN_ABORT"), this);
    abort_->setAccessibleName(abort_->text());
    continue_ = new QPushButton(session.Text(u"IDS_BTN_CONTINUE"), this);
    continue_->setAccessibleName(continue_->text());
    // Going on is the safe answer to a stray Enter.
    continue_->setDefault(true);
    buttons->addWidget(abort_);
    buttons->addWidget(continue_);
    layout->addLayout(buttons);
    connect(abort_, &QPushButton::clicked, this, [this] {
        confirmed_ = true;
        accept();
    });
    connect(continue_, &QPushButton::clicked, this, [this] {
        confirmed_ = false;
        reject();
    });
    setMinimumWidth(420);
}

}  // namespace quillary::ui
