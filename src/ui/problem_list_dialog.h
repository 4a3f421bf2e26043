#pragma once

// The problems one category found, in a modal dialog opened from the results page: the user
// ticks and unticks problems for repair, copies a problem's details, opens its key in the
// Registry Editor (or the folder of its file), and adds its key to the exclusion list, which
// takes the problem out of the results.

#include <QDialog>
#include <memory>

#include "ui/command_ids.h"
#include "ui/registry_editor.h"

class QCheckBox;
class QListView;
class QMenu;
class QPushButton;

namespace quillary {
class CProblem;
}

namespace quillary::ui {

class CZANDlg;
class CProblemListModel;

class CProblemsView final : public QDialog {
    Q_OBJECT

public:
    // categoryIndex: a category (0-13) that took part in the last scan. title heads the list.
    CProblemsView(CZANDlg& mainWindow, int categoryIndex, const QString& title,
                  QWidget* parent = nullptr);
    ~CProblemsView() override;

    // Runs a command of the context menu on the current row (485-487 on every row).
    void RunCommand(CommandId id);
    // The context menu of the current row; each action's data is its command number. Null when
    // there is no current row.
    std::unique_ptr<QMenu> MakeContextMenu();

    QListView& List() { return *list_; }
    QCheckBox& SelectAllBox() { return *selectAll_; }
    CProblemListModel& Model() { return *model_; }
    // Replaces how the Registry Editor is started (a test records it instead).
    void SetProcessStarter(ProcessStarter start) { startProcess_ = std::move(start); }

    // Every way of closing ends here: the main window shows the results again, or the scan
    // page when no problem is left.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowContextMenu(const QPoint& globalPosition);
    void UpdateSelectAllBox();
    void CopyDetails(const CProblem& problem);
    void GoToProblem(const CProblem& problem);
    void ShowFileFolder(std::u16string_view path);
    void AddToIgnore(int row);

    CZANDlg& mainWindow_;
    ProcessStarter startProcess_ = StartDetachedProcess;
    CProblemListModel* model_ = nullptr;
    QListView* list_ = nullptr;
    QCheckBox* selectAll_ = nullptr;
    QPushButton* close_ = nullptr;
    bool finished_ = false;
};

}  // namespace quillary::ui
