// quillary-cli: the command-line program for scripting, demonstrations and the README.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "app/startup.h"
#include "app/target_factory.h"
#include "core/text_encoding.h"
#include "demo_prefix.h"
#include "full_backup_command.h"
#include "interrupts.h"
#include "repair_commands.h"
#include "report_command.h"
#include "restore_points_command.h"
#include "scan_command.h"
#include "schedule_command.h"
#include "targets/linux/instance_guard.h"
#include "tweaks_command.h"

namespace {

using namespace quillary;
using namespace quillary::cli;

// Says how to name a prefix when the command line and the environment name none.
constexpr std::string_view kNoPrefixGuidance =
    "no Wine prefix to work on: name one with --prefix DIR or the WINEPREFIX variable, or "
    "create Wine's default ~/.wine; --demo works on the demo prefix";

// The target the command line asks for: the demo prefix, or the Wine prefix chosen.
std::unique_ptr<COpenTarget> OpenTarget(const std::optional<std::string>& prefixArgument, bool demo,
                                        const TargetOptions& options) {
    std::string error;
    if (demo) {
        std::unique_ptr<COpenTarget> target =
            COpenTarget::OpenDemoPrefix(demo::WriteDemoPrefix, options, &error);
        if (!target) {
            std::cerr << "quillary-cli: cannot open the demo prefix: " << error << "\n";
        }
        return target;
    }
    std::optional<std::filesystem::path> argument;
    if (prefixArgument)
        argument = *prefixArgument;
    const PrefixSearch search = PrefixSearchOfProcess(argument);
    if (!PrefixCandidate(search)) {
        std::cerr << "quillary-cli: " << kNoPrefixGuidance << "\n";
        return nullptr;
    }
    std::optional<PrefixChoice> choice = ChoosePrefix(search, &error);
    if (!choice) {
        std::cerr << "quillary-cli: " << error << "\n";
        return nullptr;
    }
    std::unique_ptr<COpenTarget> target = COpenTarget::OpenPrefix(*choice, options, &error);
    if (!target) {
        std::cerr << "quillary-cli: cannot open " << choice->folder.string() << ": " << error
                  << "\n";
    }
    return target;
}

// The arguments start-up reads: "-s" for a timer's start, "-autorun" for the log-on start.
std::vector<std::u16string> StartArguments(bool scheduled, bool logon) {
    if (scheduled)
        return {u"-s"};
    if (logon)
        return {u"-autorun"};
    return {};
}

// This program's own file, which the timers and the log-on entry start.
std::filesystem::path ProgramPath(const char* argv0) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::filesystem::absolute(argv0, error) : self;
}

}  // namespace

namespace {

int Run(int argc, char** argv) {
    CLI::App app{
        "Quillary: finds registry entries of a Wine prefix that point at things that "
        "no longer exist."};
    app.require_subcommand(1);
    std::optional<std::string> prefix;
    CLI::Option* prefixOption =
        app.add_option("--prefix", prefix, "the Wine prefix (default: $WINEPREFIX, then ~/.wine)");
    bool demo = false;
    app.add_flag("--demo", demo,
                 "work on the demo prefix, which has a problem of each kind: written into "
                 "$XDG_DATA_HOME/quillary/demo-prefix when missing, then kept with its repairs")
        ->excludes(prefixOption);

    CLI::App* scan = app.add_subcommand("scan", "scan the prefix and save the results");
    scan->fallthrough();  // --prefix may follow the command
    ScanOptions scanOptions;
    scan->add_option("--categories", scanOptions.categories,
                     "categories by index (0-13) or name, separated by commas, or \"all\"");
    scan->add_flag("--json", scanOptions.json, "print one JSON document");
    bool scheduledStart = false;
    bool logonStart = false;
    CLI::Option* scheduledOption = scan->add_flag(
        "--scheduled", scheduledStart,
        "run as the timer of `schedule` starts it: scan, save, log, and repair only when the "
        "AutoRepair setting is on");
    scan->add_flag("--autorun", logonStart, "as --scheduled, for the start at log-on")
        ->excludes(scheduledOption);

    CLI::App* schedule = app.add_subcommand(
        "schedule", "scan the prefix later: a systemd user timer, or list or remove it");
    schedule->fallthrough();
    ScheduleOptions scheduleOptions;
    CLI::Option* onceOption =
        schedule->add_option("--once", scheduleOptions.once, "once, on this date (YYYY-MM-DD)");
    CLI::Option* dailyOption = schedule->add_flag("--daily", scheduleOptions.daily, "every day");
    CLI::Option* weeklyOption = schedule->add_option("--weekly", scheduleOptions.weekly,
                                                     "every week on these days, e.g. mon,thu");
    CLI::Option* monthlyOption = schedule->add_option("--monthly", scheduleOptions.monthly,
                                                      "every month on these days, e.g. 1,15");
    schedule->add_option("--at", scheduleOptions.at, "the time of day, HH:MM");
    schedule->add_option("--every", scheduleOptions.every,
                         "days or weeks between runs (systemd timers repeat every one)");
    schedule->add_flag("--replace", scheduleOptions.replace, "replace a schedule that exists");
    CLI::Option* scheduleList =
        schedule->add_flag("--list", scheduleOptions.list, "show the schedule in force");
    schedule->add_flag("--json", scheduleOptions.json, "with --list: print one JSON document");
    CLI::Option* scheduleRemove =
        schedule->add_flag("--remove", scheduleOptions.remove, "remove the schedule");
    for (CLI::Option* kind : {onceOption, dailyOption, weeklyOption, monthlyOption}) {
        kind->excludes(scheduleList)->excludes(scheduleRemove);
        for (CLI::Option* other : {onceOption, dailyOption, weeklyOption, monthlyOption}) {
            if (other != kind)
                kind->excludes(other);
        }
    }
    scheduleList->excludes(scheduleRemove);

    CLI::App* autostart =
        app.add_subcommand("autostart", "scan the prefix each time the user logs on, or not");
    autostart->fallthrough();
    std::string autostartState;
    autostart->add_option("STATE", autostartState, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));

    CLI::App* repair = app.add_subcommand(
        "repair", "repair the saved results' ticked problems, with a partial backup for undo");
    repair->fallthrough();
    RepairOptions repairOptions;
    repair->add_option("--categories", repairOptions.categories,
                       "only these categories (indices or names, separated by commas)");
    repair->add_option("--entry-types", repairOptions.entryTypes,
                       "only these entry types (numbers 0-43, separated by commas)");
    repair->add_option("--tweaks", repairOptions.tweaks,
                       "the registry tweaks to apply at the end (numbers 0-4 separated by commas, "
                       "or \"none\"; default: every tweak still to apply)");
    repair->add_flag("--scan", repairOptions.scanFirst, "scan every category first");
    repair->add_flag("--json", repairOptions.json, "print one JSON document");

    CLI::App* backups = app.add_subcommand("backups", "list the partial backups (the undo list)");
    backups->fallthrough();
    bool backupsJson = false;
    backups->add_flag("--json", backupsJson, "print one JSON document");
    std::optional<std::string> deleteBackup;
    backups->add_option("--delete", deleteBackup,
                        "delete the list file of the partial backup with this number");

    CLI::App* fullBackup = app.add_subcommand(
        "full-backup", "take a backup of the whole registry, or list, restore or delete one");
    fullBackup->fallthrough();
    FullBackupOptions fullBackupOptions;
    CLI::Option* fullBackupList =
        fullBackup->add_flag("--list", fullBackupOptions.list, "list the full backups");
    fullBackup->add_flag("--json", fullBackupOptions.json, "with --list: print one JSON document");
    CLI::Option* fullBackupRestore = fullBackup->add_option(
        "--restore", fullBackupOptions.restore,
        "import the full backup of this name back (a restore point undoes it)");
    CLI::Option* fullBackupDelete = fullBackup->add_option("--delete", fullBackupOptions.remove,
                                                           "delete the full backup of this name");
    fullBackupList->excludes(fullBackupRestore)->excludes(fullBackupDelete);
    fullBackupRestore->excludes(fullBackupDelete);

    CLI::App* tweaks = app.add_subcommand("tweaks", "show the registry tweaks and their state");
    tweaks->fallthrough();
    bool tweaksJson = false;
    tweaks->add_flag("--json", tweaksJson, "print one JSON document");

    CLI::App* restorePoints = app.add_subcommand(
        "restore-points", "list the prefix's restore points, or put one back with --restore");
    restorePoints->fallthrough();
    std::optional<std::int64_t> restoreId;
    restorePoints->add_option("--restore", restoreId, "put back the restore point with this ID");
    bool restorePointsJson = false;
    restorePoints->add_flag("--json", restorePointsJson, "print one JSON document");

    CLI::App* report = app.add_subcommand(
        "report", "write the scan report of the saved results, and open or mail it");
    report->fallthrough();
    ReportOptions reportOptions;
    report->add_option("--output", reportOptions.output,
                       "the file to write (default: KVLscanlog.xml in the data folder)");
    report->add_flag("--open", reportOptions.open, "open it with the desktop's program for it");
    report->add_flag("--mail", reportOptions.mail, "mail it to the stored address");
    report->add_option("--mail-to", reportOptions.mailTo,
                       "store the address reports are mailed to");

    CLI::App* undo = app.add_subcommand("undo", "undo one partial backup");
    undo->fallthrough();
    std::string undoNumber;
    undo->add_option("NUMBER", undoNumber, "the partial backup's number")->required();

    int view = 64;
    CLI::App* exporter =
        app.add_subcommand("export", "write a key with everything below it as a .reg file");
    exporter->fallthrough();
    std::string exportKey;
    std::string exportFile;
    exporter->add_option("KEYPATH", exportKey, "e.g. HKEY_CURRENT_USER\\Software\\Vendor")
        ->required();
    exporter->add_option("FILE", exportFile, "the .reg file to write")->required();
    exporter->add_option("--view", view, "the registry view, 32 or 64")
        ->check(CLI::IsMember({32, 64}));

    CLI::App* importer = app.add_subcommand("import", "apply a .reg file to the prefix");
    importer->fallthrough();
    std::string importFile;
    importer->add_option("FILE", importFile, "the .reg file")->required();
    importer->add_option("--view", view, "the registry view, 32 or 64")
        ->check(CLI::IsMember({32, 64}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int code = app.exit(error);
        return code == 0 ? kExitDone : kExitBadArguments;
    }

    TargetOptions options{ProgramFoldersOfUser(argv[0]), [](std::u16string_view message) {
                              std::cerr << "quillary-cli: " << Utf16ToUtf8(message) << "\n";
                          }};
    std::unique_ptr<COpenTarget> target = OpenTarget(prefix, demo, options);
    if (!target)
        return kExitTargetUnavailable;
    CWinePrefixRegistry& registry = PrefixRegistry(*target);
    if (std::optional<std::string> warning = registry.ReadWarning()) {
        std::cerr << "quillary-cli: " << *warning << "\n";
    }
    for (const WineRegDiagnostic& diagnostic : registry.Diagnostics()) {
        std::cerr << "quillary-cli: " << DescribeDiagnostic(diagnostic) << "\n";
    }

    // Another instance of the program owns the saved results: this one then writes nothing.
    CInstanceGuard guard(kInstanceName, DefaultInstanceFolder());
    StartupResult startup = StartUp(StartArguments(scheduledStart, logonStart), guard,
                                    target->Context(), {MayWritePrefix(target->Folder()), false});
    if (startup.outcome == StartupOutcome::Quit)
        return kExitDone;
    bool firstInstance = startup.outcome == StartupOutcome::Run;
    if (!firstInstance && !guard.Error().empty()) {
        // Not another instance: the claim itself could not be made.
        std::cerr << "quillary-cli: " << guard.Error() << "\n";
        return kExitTargetUnavailable;
    }
    if (!firstInstance) {
        std::cerr << "quillary-cli: another Quillary instance is running; it keeps the results "
                     "and backups\n";
        startup.problems = target->Context().Load();
    }
    for (const std::string& problem : startup.problems) {
        std::cerr << "quillary-cli: " << problem << "\n";
    }

    CatchInterrupts();
    if (*backups && !deleteBackup)
        return RunBackupsCommand(*target, backupsJson, firstInstance);
    if (*fullBackup && fullBackupOptions.list)
        return RunListFullBackups(*target, fullBackupOptions.json);
    if (*tweaks) {
        // The count of tweaks still to apply is kept for the status page, by its owner only.
        const int status = RunTweaksCommand(*target, tweaksJson);
        if (FileError failure = firstInstance ? target->SaveConfig() : std::nullopt)
            std::cerr << "quillary-cli: cannot save the program's settings: " << *failure << "\n";
        return status;
    }
    if (*exporter)
        return RunExportCommand(*target, exportKey, exportFile, view);
    if (*schedule && scheduleOptions.list)
        return RunScheduleCommand(*target, scheduleOptions, ProgramPath(argv[0]));
    if (*autostart)
        return RunAutostartCommand(*target, autostartState == "on", ProgramPath(argv[0]));
    if (*restorePoints && !restoreId)
        return RunListRestorePoints(*target, restorePointsJson);
    if (*scan && !firstInstance) {
        scanOptions.saveResults = false;
        return RunScanCommand(*target, scanOptions);
    }
    // The commands that change the prefix or the program's own records leave them to the
    // instance that owns them.
    if (!firstInstance) {
        std::cerr << "quillary-cli: another Quillary instance is running; nothing is changed\n";
        return kExitTargetBusy;
    }
    int status = kExitDone;
    if (*scan && (scheduledStart || logonStart)) {
        status = RunScheduledScan(*target, scanOptions);
    } else if (*scan) {
        status = RunScanCommand(*target, scanOptions);
    } else if (*schedule) {
        status = RunScheduleCommand(*target, scheduleOptions, ProgramPath(argv[0]));
    } else if (*repair) {
        status = RunRepairCommand(*target, repairOptions);
    } else if (*undo) {
        status = RunUndoCommand(*target, undoNumber);
    } else if (*fullBackup) {
        status = RunFullBackupCommand(*target, fullBackupOptions);
    } else if (*backups) {
        status = RunDeleteBackupCommand(*target, *deleteBackup);
    } else if (*report) {
        status = RunReportCommand(*target, reportOptions);
    } else if (*restorePoints) {
        status = RunRestoreRestorePoint(*target, *restoreId);
    } else {
        status = RunImportCommand(*target, importFile, view);
    }
    // The program's own values (the repair counters, the last restore point's time) persist.
    if (FileError failure = target->SaveConfig()) {
        std::cerr << "quillary-cli: cannot save the program's settings: " << *failure << "\n";
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A fault of the program itself (memory exhausted, a library's exception) ends the run
    // with its cause instead of an abort; what was written so far stays as it was.
    try {
        return Run(argc, argv);
    } catch (const std::exception& failure) {
        std::cerr << "quillary-cli: unexpected error: " << failure.what() << "\n";
    } catch (...) {
        std::cerr << "quillary-cli: unexpected error\n";
    }
    return kExitInternalError;
}
