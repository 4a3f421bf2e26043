#include "ui/registry_editor.h"

#include <QProcess>
#include <QStandardPaths>

#include "core/text_case.h"
#include "ui/ui_session.h"

namespace quillary::ui {
namespace {

constexpr std::u16string_view kWow6432Node = u"Wow6432Node";

// Shown when wine cannot be started; the language files have no text for it.
constexpr const char* kCannotRunRegedit = "Can't run Regedit.";

// Runs `reg add` and then regedit with the same wine ($1), storing $2 as LastKey. The key and
// the wine path reach the shell as arguments, never as part of the script, so no character
// of a key name can change what runs.
QString RegeditScript() {
    return QStringLiteral(R"("$1" reg add '%1' /v LastKey /t REG_SZ /d "$2" /f >/dev/null 2>&1; )"
                          R"(exec "$1" regedit)")
        .arg(ToQString(kRegeditSettingsKey));
}

bool Opens(const RegistryTarget& target, HKey root, std::u16string_view subKey, RegSam view) {
    RegKey key(*target.store);
    return key.Open(root, subKey, kMaskReadOnly | view) == ErrorSuccess;
}

// The path below root that the 64-bit view reaches for subKey of the 32-bit view: at every key
// that has a Wow6432Node child, the 32-bit walk goes on inside that child unless the next
// name is Wow6432Node itself.
std::u16string PathIn64BitView(const RegistryTarget& target, HKey root,
                               std::u16string_view subKey) {
    std::u16string path;
    auto append = [&path](std::u16string_view name) {
        if (!path.empty())
            path += u'\\';
        path += name;
    };
    while (!subKey.empty()) {
        const std::size_t cut = subKey.find(u'\\');
        const std::u16string_view name = subKey.substr(0, cut);
        subKey = cut == std::u16string_view::npos ? std::u16string_view() : subKey.substr(cut + 1);
        if (name.empty())
            continue;
        const std::u16string redirected = path.empty()
                                              ? std::u16string(kWow6432Node)
                                              : path + u'\\' + std::u16string(kWow6432Node);
        if (!EqualsNoCaseInvariant(name, kWow6432Node) &&
            Opens(target, root, redirected, KeyWow64_64Key))
            path = redirected;
        append(name);
    }
    return path;
}

}  // namespace

bool StartDetachedProcess(const DetachedProcess& process) {
    QProcess starter;
    starter.setProgram(process.program);
    starter.setArguments(process.arguments);
    starter.setProcessEnvironment(process.environment);
    return starter.startDetached();
}

std::optional<std::u16string> RegeditKeyPath(const RegistryTarget& target, std::u16string_view key,
                                             bool in64BitView) {
    const RegistryPath parts = SplitRegistryPath(key);
    const std::optional<HKey> root = RootKeyFromName(parts.rootName);
    if (!root || !target.store ||
        !Opens(target, *root, parts.subKey, ViewMask(target, !in64BitView)))
        return std::nullopt;
    if (!target.is64Bit || in64BitView)
        return std::u16string(key);
    std::u16string path(parts.rootName);
    const std::u16string below = PathIn64BitView(target, *root, parts.subKey);
    if (!below.empty())
        path += u'\\' + below;
    return path;
}

DetachedProcess RegeditLaunch(const QString& wine, const std::filesystem::path& prefixFolder,
                              std::u16string_view lastKey) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), QString::fromStdString(prefixFolder.string()));
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    return {QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), RegeditScript(), QStringLiteral("quillary-regedit"), wine,
             ToQString(lastKey)},
            environment};
}

void OpenInRegistryEditor(CUiSession& session, QWidget* parent, std::u16string_view key,
                          bool in64BitView, const ProcessStarter& start) {
    COpenTarget& target = session.Target();
    if (key.empty() || !target.PrefixStore())
        return;
    const std::optional<std::u16string> lastKey =
        RegeditKeyPath(session.Context().Target(), key, in64BitView);
    if (!lastKey)
        return;
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (wine.isEmpty() || !start(RegeditLaunch(wine, target.Folder(), *lastKey)))
        ShowMessage(session, parent, QString::fromLatin1(kCannotRunRegedit));
}

}  // namespace quillary::ui
