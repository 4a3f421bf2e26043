#pragma once

// The program's own pictures: SVG drawings compiled into the program (resources/icons), drawn
// sharp at any scale. A standard action that the desktop's icon theme has (help, copy,
// properties) takes the theme's icon first.

#include <QIcon>

namespace quillary::ui {

QIcon AppIcon();
// The navigation buttons: home, scan, optimize, backup, settings.
QIcon HomeIcon();
QIcon ScanIcon();
QIcon BackupIcon();
QIcon SettingsIcon();
// The one-click scan and repair, the repair button and the stop buttons.
QIcon OneClickIcon();
QIcon RepairIcon();
QIcon StopIcon();
QIcon HelpIcon();
// A category's picture (0-13), and 14 for the registry tweaks.
QIcon CategoryIcon(int index);
// A scan page row's picture (kRowPicture* of the scan observer); null for kRowPictureNone.
QIcon RowPictureIcon(int picture);
// The registry status panel's three entries: last scan, last backup, last optimization.
QIcon LastScanIcon();
QIcon LastBackupIcon();
QIcon LastOptimizationIcon();
// A theme icon by its freedesktop name, else ours.
QIcon ThemeIcon(const char* name, const QIcon& fallback);

}  // namespace quillary::ui
