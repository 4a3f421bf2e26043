#pragma once

// Opening a registry key in the Registry Editor of the target. For a Wine prefix that is Wine's
// own regedit run for the prefix: regedit selects at start-up the key stored as "LastKey" in
// its settings key, so the key is stored there first (through `wine reg`, since this program
// holds its own copy of the prefix's registry and must not write the prefix's files), and
// regedit then starts on it. Nothing waits for either program.

#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/registry_access.h"

class QWidget;

namespace quillary::ui {

class CUiSession;

inline constexpr std::u16string_view kRegeditSettingsKey =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit";

// A program to start without waiting for it.
struct DetachedProcess {
    QString program;
    QStringList arguments;
    QProcessEnvironment environment;
};

// Starts the process; false when it could not be started.
using ProcessStarter = std::function<bool(const DetachedProcess&)>;
bool StartDetachedProcess(const DetachedProcess& process);

// The path regedit shows for key ("HKEY_...\path"), an entry of the 32-bit view when
// in64BitView is false. Regedit runs in the 64-bit view, where a 32-bit entry lies inside the
// Wow6432Node key that the 32-bit view's walk enters. nullopt when key does not name a root or
// does not open in target's store.
std::optional<std::u16string> RegeditKeyPath(const RegistryTarget& target, std::u16string_view key,
                                             bool in64BitView);

// Stores lastKey as regedit's LastKey with `wine reg add`, then runs `wine regedit`, both for
// the prefix in prefixFolder and in that order, in one process that nothing waits for.
DetachedProcess RegeditLaunch(const QString& wine, const std::filesystem::path& prefixFolder,
                              std::u16string_view lastKey);

// Opens key in the target's Registry Editor. Nothing happens for an empty key, a key that no
// longer opens, or a target that is not a Wine prefix; when wine cannot be started the user is
// told.
void OpenInRegistryEditor(CUiSession& session, QWidget* parent, std::u16string_view key,
                          bool in64BitView, const ProcessStarter& start = StartDetachedProcess);

}  // namespace quillary::ui
