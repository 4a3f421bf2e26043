#pragma once

// How far a scan or a cleaning run got: the running category's progress, the whole run's
// progress and the status line (a key path, a count of problems processed).

#include <QWidget>

#include "ui/scan_observer_relay.h"

class QLabel;
class QProgressBar;

namespace quillary::ui {

class CRunProgressView final : public QWidget {
    Q_OBJECT

public:
    // whole: the accessible name of the whole run's bar.
    CRunProgressView(const QString& whole, QWidget* parent = nullptr);

    void Reset();
    void ShowProgress(const RunProgress& progress);
    void ShowStatus(const QString& text);
    // How many categories the run has finished.
    int OverallPosition() const;

private:
    QProgressBar* category_ = nullptr;
    QProgressBar* overall_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace quillary::ui
