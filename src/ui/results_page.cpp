#include "ui/results_page.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "core/text_format.h"
#include "services/scan_report.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/problem_list_dialog.h"

namespace quillary::ui {
namespace {

// "%d problems", "%d tweak": the count and the singular or plural word.
QString CountText(CUiSession& session, std::size_t count, std::u16string_view singularId,
                  std::u16string_view pluralId) {
    return ToQString(Format(u"%d %s", count, session.RawText(count == 1 ? singularId : pluralId)));
}

// Looks like a link: the report is something to look at, not an action on the registry.
QPushButton* MakeLinkButton(const QString& text, QWidget* parent) {
    auto* link = new QPushButton(text, parent);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setAccessibleName(text);
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
    link->setPalette(palette);
    return link;
}

}  // namespace

CDlgResults::CDlgResults(CZANDlg& mainWindow, QWidget* parent)
    : CCommandWindow(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    UsePageBackground(this);

    rows_ = new QTreeWidget(this);
    rows_->setColumnCount(3);
    rows_->setHeaderLabels({session.Text(u"IDS_CATEGORY"), session.Text(u"IDS_ERRORS"), {}});
    rows_->setRootIsDecorated(false);
    rows_->setItemsExpandable(false);
    rows_->setAllColumnsShowFocus(true);
    rows_->setSelectionMode(QAbstractItemView::SingleSelection);
    rows_->setIconSize(QSize(32, 32));
    rows_->setWordWrap(true);
    rows_->setAccessibleName(session.Text(u"IDS_CATEGORY"));
    rows_->header()->setStretchLastSection(false);
    rows_->header()->setSectionResizeMode(kCategoryColumn, QHeaderView::Stretch);
    rows_->header()->setSectionResizeMode(kCountColumn, QHeaderView::ResizeToContents);
    rows_->header()->setSectionResizeMode(kDetailsColumn, QHeaderView::ResizeToContents);
    // Enter or a double click opens a row's details, as a click on its details cell does.
    connect(rows_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { OpenDetails(item->data(0, kIdRole).toInt()); });
    connect(rows_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
        if (column == kDetailsColumn && !item->text(kDetailsColumn).isEmpty())
            OpenDetails(item->data(0, kIdRole).toInt());
    });

    totals_ = MakeText({}, this);
    repair_ = MakeActionButton(session.Text(u"IDS_BTN_FIX_ERRORS"), RepairIcon(), this);
    connect(repair_, &QPushButton::clicked, this, &CDlgResults::Repair);
    report_ = MakeLinkButton(session.Text(u"IDS_EXPORT_REG_REPORT"), this);
    connect(report_, &QPushButton::clicked, this, [this] { Post(CommandId::ExportReport); });

    auto* actions = new QHBoxLayout;
    actions->addWidget(report_);
    actions->addStretch();
    actions->addWidget(repair_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rows_, 1);
    layout->addWidget(totals_);
    layout->addLayout(actions);
}

void CDlgResults::OnCommand(CommandId id) {
    if (id == CommandId::ExportReport)
        ExportReport();
}

void CDlgResults::AddRow(int id, const QIcon& icon, const QString& name, const QString& description,
                         const QString& count, bool hasDetails) {
    auto* item = new QTreeWidgetItem(rows_);
    item->setData(kCategoryColumn, kIdRole, id);
    item->setIcon(kCategoryColumn, icon);
    item->setText(kCategoryColumn, name + QLatin1Char('\n') + description);
    item->setData(kCategoryColumn, Qt::AccessibleTextRole, name);
    item->setData(kCategoryColumn, Qt::AccessibleDescriptionRole, description);
    item->setText(kCountColumn, count);
    if (hasDetails) {
        CUiSession& session = mainWindow_.Session();
        item->setText(kDetailsColumn, session.Text(u"IDS_DETAILS"));
        QFont font = rows_->font();
        font.setUnderline(true);
        item->setFont(kDetailsColumn, font);
        item->setForeground(kDetailsColumn, rows_->palette().brush(QPalette::Link));
    }
}

int CDlgResults::RecommendedTweaks() {
    CAppContext& context = mainWindow_.Session().Context();
    if (!(context.Settings().Values().SelectedCategories & kTweaksSelectionBit))
        return 0;
    return context.Tweaks().CountTweaksToApply();
}

void CDlgResults::FillResults() {
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    const CScanDriver& scans = context.Scans();
    const CTextTables& texts = context.TextTables();

    rows_->clear();
    for (const CategoryRow& category : kCategories) {
        if (!scans.CategoryOf(category.bit))
            continue;  // not part of the last scan
        const std::size_t found = scans.ProblemsOf(category.bit).size();
        const auto index = static_cast<std::size_t>(category.index);
        AddRow(found > 0 ? category.index : kNoProblemsRow, CategoryIcon(category.index),
               ToQString(texts.CategoryName(index)),
               ToQString(texts.CategoryBriefDescription(index)),
               CountText(session, found, u"IDS_ERROR", u"IDS_ERRORS"), found > 0);
    }

    const std::size_t total = scans.CountFound();
    QString totals = ToQString(Format(session.RawText(u"IDS_TOTAL_ERR_FOUND"), total,
                                      session.RawText(total < 2 ? u"IDS_ERROR" : u"IDS_ERRORS")));
    if (const int tweaks = RecommendedTweaks(); tweaks >= 1) {
        AddRow(kTweaksRow, CategoryIcon(kTweaksRow), session.Text(u"IDS_STR_REGISTRY_TWEAKS"),
               session.Text(u"IDS_STR_REGISTRY_TWEAKS_DESC"),
               CountText(session, static_cast<std::size_t>(tweaks), u"IDS_TWEAK", u"IDS_TWEAKS"),
               true);
        totals += QLatin1Char('\n') +
                  ToQString(Format(session.RawText(u"IDS_TOTAL_TWEAKS"), tweaks,
                                   session.RawText(tweaks == 1 ? u"IDS_TWEAK" : u"IDS_TWEAKS")));
    }
    totals_->setText(totals);
    totals_->setAccessibleName(totals);
    report_->setVisible(total > 0);
    report_->setEnabled(total > 0);
    if (rows_->topLevelItemCount() > 0)
        rows_->setCurrentItem(rows_->topLevelItem(0));
}

void CDlgResults::OpenDetails(int id) {
    CUiSession& session = mainWindow_.Session();
    if (id == kNoProblemsRow) {
        ShowMessage(session, this, session.Text(u"IDS_NO_ERRS_PRESENT"));
        return;
    }
    // The registry tweaks have a view of their own, which is not part of the program yet.
    if (id < 0 || id >= static_cast<int>(kCategoryCount))
        return;
    currentCategory_ = id;
    const QString title =
        ToQString(session.Context().TextTables().CategoryName(static_cast<std::size_t>(id))) +
        session.Text(u"IDS_STR_REG_ERR_DETAILS");
    CProblemsView problems(mainWindow_, id, title, this);
    ++session.Flags().modalCount;
    problems.exec();
    --session.Flags().modalCount;
}

void CDlgResults::Repair() {
    mainWindow_.RequestRepair(this);
}

void CDlgResults::ExportReport() {
    CUiSession& session = mainWindow_.Session();
    CAppContext& context = session.Context();
    if (context.Scans().CountFound() == 0)
        return;
    const std::u16string version = ToU16(QCoreApplication::applicationVersion());
    const ScanReportSource source{
        context.Scans(), context.TextTables(), context.Settings().Values(),
        [&context](std::u16string_view id) { return context.Language().LookupText(id); }, version};
    const std::filesystem::path path =
        context.DataFolder() / std::filesystem::path(kScanReportFileName);
    if (FileError failure = WriteScanReport(session.Target().FileIo(), path, source)) {
        ShowMessage(session, this, QString::fromStdString(*failure));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

}  // namespace quillary::ui
