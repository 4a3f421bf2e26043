#pragma once

// The question asked when the user stops a scan: stop it, or let it go on.

#include <QDialog>

class QPushButton;

namespace quillary::ui {

class CUiSession;

class CDlgStopScan final : public QDialog {
    Q_OBJECT

public:
    CDlgStopScan(CUiSession& session, QWidget* parent = nullptr);

    bool Confirmed() const { return confirmed_; }
    QPushButton& AbortButton() { return *abort_; }
    QPushButton& ContinueButton() { return *continue_; }

private:
    bool confirmed_ = false;
    QPushButton* abort_ = nullptr;
    QPushButton* continue_ = nullptr;
};

}  // namespace quillary::ui
