#pragma once

// The state of the last scan as the status page and the results side panel show it: the
// number of problems it found in large digits, a status line, and one action — scan, scan
// again, or repair what is ticked.

#include <QWidget>

class QLabel;
class QPushButton;

namespace quillary::ui {

class CZANDlg;

class CLastScanStatus final : public QWidget {
    Q_OBJECT

public:
    CLastScanStatus(CZANDlg& mainWindow, QWidget* parent = nullptr);

    // Reads the last scan's count and what is left of its problems again.
    void Refresh();
    // Whether the action repairs (else it scans).
    bool RepairsOnAction() const { return repairs_; }
    QPushButton& ActionButton() { return *action_; }

private:
    void OnAction();

    CZANDlg& mainWindow_;
    bool repairs_ = false;
    QLabel* heading_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* action_ = nullptr;
};

}  // namespace quillary::ui
