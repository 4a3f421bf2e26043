#include "gui_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "demo_prefix.h"

namespace quillary::testing {

void UseOwnFolders(const CTempFolder& folder) {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const std::filesystem::path path = folder.MakeFolder(name);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        qputenv(name, QByteArray::fromStdString(path.string()));
    }
}

std::unique_ptr<COpenTarget> OpenDemo(const CTempFolder& folder) {
    UseOwnFolders(folder);
    TargetOptions options{
        ProgramFoldersOfUser(std::filesystem::current_path() / "lang" / "quillary"),
        {},
        false,
        [](int, const char*) { return true; }};
    std::string error;
    std::unique_ptr<COpenTarget> target =
        COpenTarget::OpenDemoPrefix(demo::WriteDemoPrefix, options, &error);
    if (!target)
        qFatal("the demo prefix cannot be opened: %s", error.c_str());
    (void)target->Context().Load();
    return target;
}

CDemoWindow::CDemoWindow(const CTempFolder& folder, const CommandLine& commandLine)
    : target(OpenDemo(folder)),
      session(std::make_unique<ui::CUiSession>(*target, true, false)),
      window(std::make_unique<ui::CZANDlg>(*session, commandLine)) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the main window was not shown");
}

CModalAnswerer::CModalAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &CModalAnswerer::AnswerOpenDialog);
    timer_.start(20);
}

void CModalAnswerer::AnswerOpenDialog() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    texts_.append(box->text());
    const QString answer = answers_.isEmpty() ? QString() : answers_.takeFirst();
    for (QAbstractButton* button : box->buttons()) {
        if (!answer.isEmpty() && button->text() == answer) {
            button->click();
            return;
        }
    }
    if (QAbstractButton* fallback = box->defaultButton())
        fallback->click();
    else
        box->buttons().constFirst()->click();
}

}  // namespace quillary::testing
