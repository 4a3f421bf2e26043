#include "ui/icons.h"

#include <QString>
#include <array>

#include "engine/scan_observer.h"

// The pictures are compiled into this library; a static library's resources are registered
// only when asked for by name.
static void RegisterIconResources() {
    Q_INIT_RESOURCE(quillary);
}

namespace quillary::ui {
namespace {

QIcon Svg(const char* name) {
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

}  // namespace

QIcon AppIcon() {
    return Svg("quillary");
}
QIcon HomeIcon() {
    return Svg("nav-home");
}
QIcon ScanIcon() {
    return Svg("nav-scan");
}
QIcon BackupIcon() {
    return Svg("nav-backup");
}
QIcon SettingsIcon() {
    return Svg("nav-settings");
}
QIcon OneClickIcon() {
    return Svg("one-click");
}
QIcon RepairIcon() {
    return Svg("repair");
}
QIcon StopIcon() {
    return Svg("stop");
}
QIcon HelpIcon() {
    return ThemeIcon("help-browser", Svg("help"));
}
QIcon LastScanIcon() {
    return Svg("status-scan");
}
QIcon LastBackupIcon() {
    return Svg("status-backup");
}
QIcon LastOptimizationIcon() {
    return Svg("status-optimize");
}

QIcon CategoryIcon(int index) {
    // By category index, then the registry tweaks.
    static constexpr std::array<const char*, 15> kNames = {"category-activex",
                                                           "category-app-paths",
                                                           "category-file-types",
                                                           "category-fonts",
                                                           "category-help-files",
                                                           "category-history",
                                                           "category-shared-files",
                                                           "category-shortcuts",
                                                           "category-software",
                                                           "category-sounds",
                                                           "category-start-menu",
                                                           "category-startup",
                                                           "category-deep-scan-machine",
                                                           "category-deep-scan-user",
                                                           "category-tweaks"};
    if (index < 0 || index >= static_cast<int>(kNames.size()))
        return {};
    return Svg(kNames[static_cast<std::size_t>(index)]);
}

QIcon RowPictureIcon(int picture) {
    switch (picture) {
        case kRowPictureSelected:
            return Svg("row-waiting");
        case kRowPictureNotSelected:
            return Svg("row-skipped");
        case kRowPictureFound:
            return Svg("row-found");
        case kRowPictureClean:
            return Svg("row-clean");
        default:
            return {};
    }
}

QIcon ThemeIcon(const char* name, const QIcon& fallback) {
    return QIcon::fromTheme(QLatin1String(name), fallback);
}

}  // namespace quillary::ui
