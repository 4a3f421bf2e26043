#pragma once

// The panel beside the results page: the last scan's count and its action.

#include <QWidget>

namespace quillary::ui {

class CZANDlg;
class CLastScanStatus;

class CDlgResultsV52 final : public QWidget {
    Q_OBJECT

public:
    CDlgResultsV52(CZANDlg& mainWindow, QWidget* parent = nullptr);

    void Refresh();
    CLastScanStatus& Status() { return *status_; }

private:
    CLastScanStatus* status_ = nullptr;
};

}  // namespace quillary::ui
