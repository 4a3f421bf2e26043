#include "ui/status_page.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/repair_session.h"
#include "core/text_encoding.h"
#include "ui/icons.h"
#include "ui/last_scan_status.h"
#include "ui/main_window.h"
#include "ui/page_widgets.h"
#include "ui/scan_page.h"

namespace quillary::ui {
namespace {

// One entry of the registry status panel: its picture, heading and value line.
QLabel* AddStatusEntry(QGridLayout* grid, int row, const QIcon& icon, const QString& heading,
                       QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setPixmap(icon.pixmap(40, 40));
    grid->addWidget(picture, row * 2, 0, 2, 1, Qt::AlignTop);
    auto* title = MakeText(heading, parent);
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    title->setForegroundRole(QPalette::Link);
    grid->addWidget(title, row * 2, 1);
    auto* value = MakeText({}, parent);
    grid->addWidget(value, row * 2 + 1, 1);
    return value;
}

}  // namespace

CDlgRegStatus::CDlgRegStatus(CZANDlg& mainWindow, QWidget* parent)
    : QWidget(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    auto* grid = new QGridLayout(this);
    grid->setColumnStretch(1, 1);
    lastScan_ = AddStatusEntry(grid, 0, LastScanIcon(), session.Text(u"IDS_LAST_REG_SCAN"), this);
    lastBackup_ =
        AddStatusEntry(grid, 1, LastBackupIcon(), session.Text(u"IDS_LASR_REG_BACKUP"), this);
    lastOptimization_ =
        AddStatusEntry(grid, 2, LastOptimizationIcon(), session.Text(u"IDS_LAST_REG_OPT"), this);
    auto* scanNow = new QPushButton(ScanIcon(), session.Text(u"IDS_SCAN_FIX_REG_NOW"), this);
    scanNow->setFlat(true);
    scanNow->setAccessibleName(scanNow->text());
    connect(scanNow, &QPushButton::clicked, this,
            [this] { mainWindow_.StatusPage().Post(CommandId::StartScan); });
    grid->addWidget(scanNow, 0, 2, Qt::AlignRight | Qt::AlignTop);
    Refresh();
}

void CDlgRegStatus::Refresh() {
    CUiSession& session = mainWindow_.Session();
    const SettingsValues& values = session.Context().Settings().Values();
    const auto show = [&session](QLabel* label, const std::u16string& value,
                                 std::u16string_view emptyId) {
        label->setText(value.empty() ? session.Text(emptyId) : ToQString(value));
    };
    show(lastScan_, values.StrLastScan, u"IDS_STR_NOSCAN_YET");
    show(lastBackup_, values.StrLatestRestorePoint, u"IDS_NOBACKUP_YET");
    show(lastOptimization_, values.StrLatestRegDefrag, u"IDS_NOREGOPT_YET");
}

CDlgHome::CDlgHome(CZANDlg& mainWindow, QWidget* parent)
    : CCommandWindow(parent), mainWindow_(mainWindow) {
    CUiSession& session = mainWindow_.Session();
    UsePageBackground(this);
    setObjectName(QStringLiteral("statusPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeTitle(session.Text(u"IDS_SELECT_AN_ACTION"), this));

    oneClick_ = MakeActionButton(session.Text(u"IDS_BTN_ONCE_CLICK_OPT"), OneClickIcon(), this);
    connect(oneClick_, &QPushButton::clicked, this, [this] { Post(CommandId::OneClick); });
    auto* oneClickRow = new QHBoxLayout();
    oneClickRow->addWidget(oneClick_);
    oneClickRow->addStretch(1);
    layout->addLayout(oneClickRow);
    layout->addWidget(MakeText(session.Text(u"IDS_SCAN_FIX_OPT_DESC"), this));

    auto* panels = new QHBoxLayout();
    auto* lastScanBox = new QFrame(this);
    lastScanBox->setFrameShape(QFrame::StyledPanel);
    auto* lastScanLayout = new QVBoxLayout(lastScanBox);
    lastScan_ = new CLastScanStatus(mainWindow_, lastScanBox);
    lastScanLayout->addWidget(lastScan_);
    panels->addWidget(lastScanBox);

    auto* statusBox = new QFrame(this);
    statusBox->setFrameShape(QFrame::StyledPanel);
    auto* statusLayout = new QVBoxLayout(statusBox);
    auto* statusButton = new QPushButton(session.Text(u"IDS_BTN_REGISTRY_STATUS"), statusBox);
    statusButton->setFlat(true);
    QFont font = statusButton->font();
    font.setBold(true);
    statusButton->setFont(font);
    statusButton->setAccessibleName(statusButton->text());
    connect(statusButton, &QPushButton::clicked, this, [this] { Post(CommandId::RegistryStatus); });
    statusLayout->addWidget(statusButton, 0, Qt::AlignLeft);
    registryStatus_ = new CDlgRegStatus(mainWindow_, statusBox);
    statusLayout->addWidget(registryStatus_);
    statusLayout->addStretch(1);
    panels->addWidget(statusBox, 2);
    layout->addLayout(panels, 1);
}

void CDlgHome::Refresh() {
    lastScan_->Refresh();
    registryStatus_->Refresh();
}

void CDlgHome::OnCommand(CommandId id) {
    UiFlags& flags = mainWindow_.Session().Flags();
    switch (id) {
        case CommandId::OneClick:
            StartOneClick();
            break;
        case CommandId::StartScan:
            flags.startedFromStatus = true;
            mainWindow_.ScanPage().Post(CommandId::StartScan);
            break;
        case CommandId::RegistryStatus:
            registryStatus_->show();
            registryStatus_->Refresh();
            break;
        default:
            break;
    }
}

void CDlgHome::StartOneClick() {
    CUiSession& session = mainWindow_.Session();
    if (session.IsBusy())
        return;
    if (!session.IsAdministrator()) {
        ShowMessage(session, this, session.Text(u"IDS_STR_LACK_OF_PERMISSION"));
        return;
    }
    // The confirmation before the registry is changed and compacted.
    QMessageBox confirm(QMessageBox::Question, session.Text(u"AFX_IDS_APP_TITLE"),
                        session.Text(u"IDS_ALERT_DEFRAG"), QMessageBox::NoButton, this);
    QAbstractButton* yes = confirm.addButton(session.Text(u"IDS_YES"), QMessageBox::YesRole);
    confirm.addButton(session.Text(u"IDS_NO"), QMessageBox::NoRole);
    ++session.Flags().modalCount;
    confirm.exec();
    --session.Flags().modalCount;
    if (confirm.clickedButton() != yes)
        return;

    UiFlags& flags = session.Flags();
    flags.oneClick = true;
    flags.optimizeFromStatus = true;
    std::string why;
    if (!CreateTargetRestorePoint(session.Target(), session.RawText(u"IDS_ZAN_BEFORE_ONE_CLICK"),
                                  &why)) {
        session.Context().Log().WriteLogLine(u"No restore point before the one-click run: " +
                                             Utf8ToUtf16(why));
    }
    Post(CommandId::StartScan);
    if (QAbstractButton* scan = mainWindow_.NavigationButton(CommandId::ShowScanPage))
        scan->setFocus();
}

}  // namespace quillary::ui
