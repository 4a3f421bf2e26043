#include "ui/command_window.h"

#include <QMetaObject>

namespace quillary::ui {

void CCommandWindow::Post(CommandId id) {
    QMetaObject::invokeMethod(
        this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

}  // namespace quillary::ui
