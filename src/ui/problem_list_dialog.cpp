#include "ui/problem_list_dialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "core/text_format.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/problem_list_model.h"
#include "ui/results_page.h"

namespace quillary::ui {
namespace {

// Shows checked when every row is ticked (or there is none), unchecked when none is, and
// partially checked in between; a click always flips between checked and unchecked.
class CSelectAllBox final : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

bool IsRegistryProblem(const CProblem& problem) {
    return problem.Key.starts_with(u"HKEY_");
}

// A problem about a file: no registry key, and line 1 holds a path with a drive ("C:\...").
bool IsFileProblem(const CProblem& problem) {
    const std::u16string_view path = problem.DetailLine(1);
    return !IsRegistryProblem(problem) && path.size() >= 3 && path.substr(1, 2) == u":\\";
}

}  // namespace

CProblemsView::CProblemsView(CZANDlg& mainWindow, int categoryIndex, const QString& title,
                             QWidget* parent)
    : QDialog(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    setWindowTitle(title);
    setSizeGripEnabled(true);

    const std::uint32_t bit = kCategories[static_cast<std::size_t>(categoryIndex)].bit;
    model_ = new CProblemListModel(*context.Scans().CategoryOf(bit), context.TextTables(), this);

    list_ = new QListView(this);
    list_->setModel(model_);
    list_->setItemDelegate(new CProblemRowDelegate(CategoryIcon(categoryIndex), list_));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setAccessibleName(title);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    if (model_->rowCount() > 0)
        list_->setCurrentIndex(model_->index(0));

    selectAll_ = new CSelectAllBox(session.Text(u"IDS_SELECT_ALL"), this);
    selectAll_->setAccessibleName(selectAll_->text());
    connect(selectAll_, &QCheckBox::clicked, model_, &CProblemListModel::SetAllTicks);
    connect(model_, &CProblemListModel::TicksChanged, this, &CProblemsView::UpdateSelectAllBox);
    UpdateSelectAllBox();

    close_ = new QPushButton(session.Text(u"IDS_BTN_CLOSE"), this);
    close_->setAccessibleName(close_->text());
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(selectAll_);
    bottom->addStretch();
    bottom->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(title, this));
    layout->addWidget(list_, 1);
    layout->addLayout(bottom);

    const QFontMetrics metrics = fontMetrics();
    resize(metrics.averageCharWidth() * 100, metrics.lineSpacing() * 32);
}

CProblemsView::~CProblemsView() = default;

void CProblemsView::UpdateSelectAllBox() {
    const std::size_t rows = static_cast<std::size_t>(model_->rowCount());
    const std::size_t ticked = model_->Category().CountSelected();
    if (ticked == rows)
        selectAll_->setCheckState(Qt::Checked);
    else if (ticked == 0)
        selectAll_->setCheckState(Qt::Unchecked);
    else
        selectAll_->setCheckState(Qt::PartiallyChecked);
}

bool CProblemsView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu || (watched != list_ && watched != list_->viewport()))
        return QDialog::eventFilter(watched, event);
    const auto* request = static_cast<QContextMenuEvent*>(event);
    if (request->reason() == QContextMenuEvent::Mouse) {
        // A right click opens the menu only over a selected row (the click selected it).
        const QModelIndex row =
            list_->indexAt(list_->viewport()->mapFromGlobal(request->globalPos()));
        if (!row.isValid() || !list_->selectionModel()->isSelected(row))
            return true;
        list_->selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
        ShowContextMenu(request->globalPos());
    } else if (list_->currentIndex().isValid()) {
        const QRect rowRect = list_->visualRect(list_->currentIndex());
        ShowContextMenu(list_->viewport()->mapToGlobal(rowRect.center()));
    }
    return true;
}

std::unique_ptr<QMenu> CProblemsView::MakeContextMenu() {
    const QModelIndex current = list_->currentIndex();
    if (!current.isValid())
        return nullptr;
    CUiSession& session = mainWindow_.Session();
    const CProblem& problem = model_->ProblemAt(current.row());
    auto menu = std::make_unique<QMenu>(this);
    auto add = [&](std::u16string_view textId, CommandId id, bool enabled = true) {
        QAction* action = menu->addAction(session.Text(textId));
        action->setData(static_cast<int>(id));
        action->setEnabled(enabled);
    };
    add(problem.selected ? u"IDS_UNSELECT_THIS" : u"IDS_SELECT_THIS", CommandId::ToggleTick);
    add(u"ID_SELECTION_SELECT_ALL", CommandId::SelectAll);
    add(u"ID_SELECTION_DESELECT_ALL", CommandId::DeselectAll);
    add(u"ID_SELECTION_INVERT_SELECTION", CommandId::InvertSelection);
    menu->addSeparator();
    if (IsFileProblem(problem))
        add(u"IDS_FILE_PROP", CommandId::GoToKey);
    else
        add(u"ID_PROBLEM_DETAILS_GO_TO_KEY", CommandId::GoToKey, IsRegistryProblem(problem));
    add(u"ID_PROBLEM_DETAILS_COPY", CommandId::CopyProblem);
    add(u"ID_PROBLEM_ADD_TO_IGNORE", CommandId::AddToIgnore, IsRegistryProblem(problem));
    return menu;
}

void CProblemsView::ShowContextMenu(const QPoint& globalPosition) {
    const std::unique_ptr<QMenu> menu = MakeContextMenu();
    if (!menu)
        return;
    ++mainWindow_.Session().Flags().modalCount;
    const QAction* chosen = menu->exec(globalPosition);
    --mainWindow_.Session().Flags().modalCount;
    if (chosen)
        RunCommand(static_cast<CommandId>(chosen->data().toInt()));
}

void CProblemsView::RunCommand(CommandId id) {
    switch (id) {
        case CommandId::SelectAll:
            model_->SetAllTicks(true);
            return;
        case CommandId::DeselectAll:
            model_->SetAllTicks(false);
            return;
        case CommandId::InvertSelection:
            model_->InvertTicks();
            return;
        default:
            break;
    }
    const QModelIndex current = list_->currentIndex();
    if (!current.isValid())
        return;
    const CProblem& problem = model_->ProblemAt(current.row());
    switch (id) {
        case CommandId::ToggleTick:
            model_->ToggleTick(current.row());
            break;
        case CommandId::CopyProblem:
            CopyDetails(problem);
            break;
        case CommandId::GoToKey:
            GoToProblem(problem);
            break;
        case CommandId::AddToIgnore:
            AddToIgnore(current.row());
            break;
        default:
            break;
    }
}

void CProblemsView::CopyDetails(const CProblem& problem) {
    const std::u16string details =
        Format(u"%s\n----------------------------\n%s", problem.DetailLine(0),
               mainWindow_.Session().Context().TextTables().DescriptionText(problem));
    QGuiApplication::clipboard()->setText(ToQString(details));
}

void CProblemsView::GoToProblem(const CProblem& problem) {
    CUiSession& session = mainWindow_.Session();
    if (IsRegistryProblem(problem)) {
        if (!session.IsAdministrator())
            ShowMessage(session, this, session.Text(u"IDS_STR_LACK_OF_PERMISSION"));
        else
            OpenInRegistryEditor(session, this, problem.Key, !problem.is32BitEntry, startProcess_);
    } else if (problem.Key.empty() && !problem.DetailLine(1).empty()) {
        ShowFileFolder(problem.DetailLine(1));
    }
}

// Opens the folder that holds the file in the desktop's file manager, or the nearest folder
// above it that still exists: the file itself is often what went missing.
void CProblemsView::ShowFileFolder(std::u16string_view path) {
    CMappedFileSystem& files = mainWindow_.Session().Target().Files();
    for (std::u16string_view folder = CCategory::ParentPath(path); !folder.empty();
         folder = CCategory::ParentPath(folder)) {
        std::u16string windowsFolder(folder);
        if (windowsFolder.size() == 2 && windowsFolder[1] == u':')
            windowsFolder += u'\\';  // "C:" alone names the current folder of the drive
        if (const auto local = files.UnixPathOf(windowsFolder)) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(local->string())));
            return;
        }
    }
}

void CProblemsView::AddToIgnore(int row) {
    if (!mainWindow_.Session().Context().Exclusions().AddToIgnore(model_->ProblemAt(row)))
        return;
    model_->RemoveProblem(row);
    mainWindow_.ResultsPage().FillResults();
    if (model_->rowCount() == 0)
        accept();
}

void CProblemsView::done(int result) {
    if (!finished_) {
        finished_ = true;
        const bool anyLeft = mainWindow_.Session().Context().Scans().CountFound() > 0;
        mainWindow_.Post(anyLeft ? CommandId::ScanFinished : CommandId::ShowScanPage);
    }
    QDialog::done(result);
}

}  // namespace quillary::ui
