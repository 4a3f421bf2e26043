#include "ui/results_side_panel.h"

#include <QVBoxLayout>

#include "ui/last_scan_status.h"

namespace quillary::ui {

CDlgResultsV52::CDlgResultsV52(CZANDlg& mainWindow, QWidget* parent) : QWidget(parent) {
    status_ = new CLastScanStatus(mainWindow, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addStretch();
    status_->Refresh();
}

void CDlgResultsV52::Refresh() {
    status_->Refresh();
}

}  // namespace quillary::ui
