#pragma once

// A walk through every page and dialog of the program on the target it has open, saving a
// picture of each into a folder: the documentation's screenshots are taken with it. It scans,
// shows the results and a category's problems, asks the stop question, and repairs, as a user
// would; the pictures of running work are taken while the work is held at a report.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace quillary::ui {

class CZANDlg;

class CScreenshotTour final : public QObject {
    Q_OBJECT

public:
    CScreenshotTour(CZANDlg& mainWindow, QString folder);

    // Starts the walk; finished() follows its last picture.
    void Start();

signals:
    // ok: every picture was written.
    void finished(bool ok);

private:
    struct Step {
        QString name;                 // the picture's file name, without ".png"
        std::function<void()> act;    // what the user does first
        std::function<bool()> ready;  // when the picture may be taken
        // What is pictured: the main window, or the dialog open over it.
        bool dialog = false;
        std::function<void()> after;  // what follows the picture
    };

    void BuildSteps();
    void Poll();
    bool Save(const Step& step);

    CZANDlg& mainWindow_;
    QString folder_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool acted_ = false;
    int settleTicks_ = 0;
    int waitTicks_ = 0;
    bool ok_ = true;
    QTimer timer_;
};

}  // namespace quillary::ui
