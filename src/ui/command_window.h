#pragma once

// A window that takes commands: the main window and each page. Post() queues a command to it
// behind the events pending now; OnCommand() handles it.

#include <QWidget>

#include "ui/command_ids.h"

namespace quillary::ui {

class CCommandWindow : public QWidget {
    Q_OBJECT

public:
    explicit CCommandWindow(QWidget* parent = nullptr) : QWidget(parent) {}

    // Handled once the events pending now are, as a posted window message is.
    void Post(CommandId id);
    virtual void OnCommand(CommandId id) = 0;
};

}  // namespace quillary::ui
