#include "ui/prefix_chooser.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include "core/text_format.h"
#include "ui/ui_session.h"

namespace quillary::ui {
namespace {

constexpr char kPrefixSetting[] = "target/prefix";

// The desktop program's own settings file, beside the program's registry of its own.
QSettings DesktopSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("quillary"),
                     QStringLiteral("desktop"));
}

QString PathText(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

}  // namespace

bool IsPrefixFolder(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_regular_file(folder / "system.reg", error);
}

std::optional<std::filesystem::path> AskForPrefix(const TextLookup& text, QWidget* parent,
                                                  const std::filesystem::path& startFolder) {
    const QString title = ToQString(text(u"IDS_CHOOSE_PREFIX_TITLE"));
    QString start = PathText(startFolder);
    for (;;) {
        const QString chosen = QFileDialog::getExistingDirectory(parent, title, start);
        if (chosen.isEmpty())
            return std::nullopt;
        const std::filesystem::path folder = chosen.toStdString();
        if (IsPrefixFolder(folder))
            return folder;
        QMessageBox::warning(parent, ToQString(text(u"AFX_IDS_APP_TITLE")),
                             ToQString(Format(text(u"IDS_NOT_A_PREFIX"), ToU16(chosen))));
        start = chosen;
    }
}

std::optional<std::filesystem::path> RememberedPrefix() {
    const QString stored = DesktopSettings().value(QLatin1String(kPrefixSetting)).toString();
    if (stored.isEmpty() || !IsPrefixFolder(stored.toStdString()))
        return std::nullopt;
    return stored.toStdString();
}

void RememberPrefix(const std::filesystem::path& folder) {
    QSettings settings = DesktopSettings();
    settings.setValue(QLatin1String(kPrefixSetting), PathText(folder));
    settings.sync();
}

CTargetLabel::CTargetLabel(CUiSession& session, QWidget* parent)
    : QWidget(parent), session_(session) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString folder = PathText(session_.Target().Folder());
    auto* label = new QLabel(session_.Text(u"IDS_TARGET_PREFIX") + ' ' + folder, this);
    label->setTextFormat(Qt::PlainText);
    label->setToolTip(folder);
    label->setForegroundRole(QPalette::WindowText);
    layout->addWidget(label);
    auto* choose = new QPushButton(session_.Text(u"IDS_BTN_CHOOSE_PREFIX"), this);
    choose->setAccessibleName(choose->text());
    layout->addWidget(choose);
    connect(choose, &QPushButton::clicked, this, [this] {
        if (session_.IsBusy())
            return;
        CAppContext& context = session_.Context();
        const auto text = [&context](std::u16string_view id) {
            return context.Language().LookupText(id);
        };
        std::optional<std::filesystem::path> chosen =
            AskForPrefix(text, window(), session_.Target().Folder().parent_path());
        if (!chosen || *chosen == session_.Target().Folder())
            return;
        RememberPrefix(*chosen);
        emit prefixChosen(PathText(*chosen));
    });
}

}  // namespace quillary::ui
