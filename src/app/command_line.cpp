#include "app/command_line.h"

#include <array>
#include <utility>

#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::array<std::pair<std::u16string_view, ElevationVerb>, 7> kVerbs = {{
    {u"zanvistascan", ElevationVerb::Scan},
    {u"zanvistadefrag", ElevationVerb::Defrag},
    {u"zanvistaoneclick", ElevationVerb::OneClick},
    {u"zanvistafullbackup", ElevationVerb::FullBackup},
    {u"zanvistafullbackuprestore", ElevationVerb::FullBackupRestore},
    {u"zanvistapartialbackuprestore", ElevationVerb::PartialBackupRestore},
    {u"zanvistaschedule", ElevationVerb::Schedule},
}};

}  // namespace

CommandLine ParseCommandLine(std::span<const std::u16string> arguments, bool isAdministrator) {
    CommandLine line;
    for (const std::u16string& argument : arguments) {
        line.joined += argument;
        line.joined += u' ';
    }
    if (arguments.empty())
        return line;
    line.hasArguments = true;
    line.firstArgument = arguments[0];
    const std::u16string_view first = line.firstArgument;

    line.startedAfterOptimization = EqualsNoCase(first, u"startedafteroptimization");
    for (const auto& [name, verb] : kVerbs) {
        if (isAdministrator && EqualsNoCase(first, name))
            line.verb = verb;
    }
    if (EqualsNoCase(first, u"-s")) {
        line.scheduledScan = true;
        line.commandLineMode = true;
    } else if (EqualsNoCase(first, u"-updatecheck")) {
        line.updateCheck = true;
        line.commandLineMode = true;
    }
    return line;
}

std::vector<PostedCommand> CommandsForVerb(ElevationVerb verb) {
    switch (verb) {
        case ElevationVerb::Scan:
            return {{CommandTarget::MainWindow, 1154}};
        case ElevationVerb::Defrag:
            return {{CommandTarget::StatusPage, 409}};
        case ElevationVerb::OneClick:
            return {{CommandTarget::StatusPage, 404}};
        case ElevationVerb::FullBackup:
            return {{CommandTarget::MainWindow, 388}, {CommandTarget::BackupPage, 411}};
        case ElevationVerb::FullBackupRestore:
            return {{CommandTarget::MainWindow, 388}};
        case ElevationVerb::PartialBackupRestore:
            return {{CommandTarget::MainWindow, 388}, {CommandTarget::BackupPage, 426}};
        case ElevationVerb::Schedule:
            return {{CommandTarget::MainWindow, 390}, {CommandTarget::SettingsPage, 339}};
        case ElevationVerb::None:
            break;
    }
    return {};
}

}  // namespace quillary
