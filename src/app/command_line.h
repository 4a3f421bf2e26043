#pragma once

// The command line: only the first argument selects how the program starts, compared without
// regard to case. The whole line, each argument followed by one blank, is offered to the
// platform's command-line hook first.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// Operations the program restarts itself for with administrator rights.
enum class ElevationVerb {
    None,
    Scan,                  // zanvistascan: repair the saved results
    Defrag,                // zanvistadefrag: registry compaction
    OneClick,              // zanvistaoneclick: one-click repair
    FullBackup,            // zanvistafullbackup
    FullBackupRestore,     // zanvistafullbackuprestore
    PartialBackupRestore,  // zanvistapartialbackuprestore
    Schedule,              // zanvistaschedule
};

struct CommandLine {
    bool hasArguments = false;
    std::u16string firstArgument;
    bool scheduledScan = false;             // -s: scan as soon as the main window is up
    bool updateCheck = false;               // -updatecheck
    bool commandLineMode = false;           // set by -s and -updatecheck
    bool startedAfterOptimization = false;  // right after the boot-time compaction
    ElevationVerb verb = ElevationVerb::None;
    // Every argument followed by one blank, for the platform's hook.
    std::u16string joined;
};

// Reads the arguments after the program's name. An elevation verb counts only for a process
// with administrator rights; otherwise the start is an ordinary one.
CommandLine ParseCommandLine(std::span<const std::u16string> arguments, bool isAdministrator);

// Where a command goes once the main window is up.
enum class CommandTarget { MainWindow, StatusPage, BackupPage, SettingsPage };

struct PostedCommand {
    CommandTarget target;
    int id;
    bool operator==(const PostedCommand&) const = default;
};

// The commands the main window posts to resume the operation a verb stands for.
// zanvistascan's repair command is posted only when saved problems were kept.
std::vector<PostedCommand> CommandsForVerb(ElevationVerb verb);

}  // namespace quillary
