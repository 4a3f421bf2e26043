#pragma once

// What the window tests share: a program of their own (config, data and runtime folders in a
// temporary folder), the demo prefix opened as the program opens it, and an answerer for the
// modal dialogs a flow opens.

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "app/target_factory.h"
#include "support/temp_folder.h"
#include "ui/main_window.h"
#include "ui/ui_session.h"

namespace quillary::testing {

// Points the XDG folders of this process into folder, so nothing of the user's is touched.
void UseOwnFolders(const CTempFolder& folder);

// The demo prefix written into folder's data home and loaded as start-up loads it; the scans
// and repairs run without the window program's pauses.
std::unique_ptr<COpenTarget> OpenDemo(const CTempFolder& folder);

// The demo prefix's session and main window, shown.
struct CDemoWindow {
    explicit CDemoWindow(const CTempFolder& folder, const CommandLine& commandLine = {});

    std::unique_ptr<COpenTarget> target;
    std::unique_ptr<ui::CUiSession> session;
    std::unique_ptr<ui::CZANDlg> window;
};

// Answers every modal dialog that opens while it lives: message boxes with the button whose
// text is the answer given (the default button when none is), and records their texts.
class CModalAnswerer : public QObject {
    Q_OBJECT

public:
    CModalAnswerer();

    // The next message boxes are answered with the button of this text, in order.
    void AnswerWith(const QString& buttonText) { answers_.append(buttonText); }
    const QStringList& Texts() const { return texts_; }

private:
    void AnswerOpenDialog();

    QTimer timer_;
    QStringList answers_;
    QStringList texts_;
};

}  // namespace quillary::testing
