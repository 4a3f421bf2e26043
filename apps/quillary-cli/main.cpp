// quillary-cli: the command-line program for scripting, demonstrations and the README.

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <iostream>

#include "app/startup.h"
#include "demo_prefix.h"
#include "targets/linux/instance_guard.h"
#include "targets/linux/target_platform_queries.h"
#include "repair_commands.h"
#include "restore_points_command.h"
#include "scan_command.h"

namespace {

using namespace quillary;
using namespace quillary::cli;

std::atomic<bool> g_interrupted = false;

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// The embedded demo prefix: written on first use into the data home, where no user prefix
// lives, and used only when no prefix was named and Wine has none of its own.
std::filesystem::path DemoPrefixFolder() {
    return DefaultDataHome() / "quillary" / "demo-prefix";
}

std::optional<PrefixChoice> ChooseTarget(const std::optional<std::string>& prefixArgument,
                                         std::string* error) {
    std::optional<std::filesystem::path> argument;
    if (prefixArgument)
        argument = *prefixArgument;
    PrefixSearch search = PrefixSearchOfProcess(argument, DemoPrefixFolder());
    PrefixChoice candidate = PrefixCandidate(search);
    if (candidate.origin == PrefixOrigin::Demo && !std::filesystem::exists(candidate.folder)) {
        if (FileError failure = demo::WriteDemoPrefix(candidate.folder)) {
            *error = "cannot write the demo prefix: " + *failure;
            return std::nullopt;
        }
    }
    return ChoosePrefix(search, error);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Quillary: finds registry entries of a Wine prefix that point at things that "
        "no longer exist."};
    app.require_subcommand(1);
    std::optional<std::string> prefix;
    app.add_option("--prefix", prefix,
                   "the Wine prefix (default: $WINEPREFIX, then ~/.wine, then the demo prefix)");

    CLI::App* scan = app.add_subcommand("scan", "scan the prefix and save the results");
    scan->fallthrough();  // --prefix may follow the command
    ScanOptions scanOptions;
    scan->add_option("--categories", scanOptions.categories,
                     "categories by index (0-13) or name, separated by commas, or \"all\"");
    scan->add_flag("--json", scanOptions.json, "print one JSON document");

    CLI::App* repair = app.add_subcommand(
        "repair", "repair the saved results' ticked problems, with a partial backup for undo");
    repair->fallthrough();
    RepairOptions repairOptions;
    repair->add_option("--categories", repairOptions.categories,
                       "only these categories (indices or names, separated by commas)");
    repair->add_option("--entry-types", repairOptions.entryTypes,
                       "only these entry types (numbers 0-43, separated by commas)");
    repair->add_flag("--scan", repairOptions.scanFirst, "scan every category first");
    repair->add_flag("--json", repairOptions.json, "print one JSON document");

    CLI::App* backups = app.add_subcommand("backups", "list the partial backups");
    backups->fallthrough();
    bool backupsJson = false;
    backups->add_flag("--json", backupsJson, "print one JSON document");

    CLI::App* restorePoints = app.add_subcommand(
        "restore-points", "list the prefix's restore points, or put one back with --restore");
    restorePoints->fallthrough();
    std::optional<std::int64_t> restoreId;
    restorePoints->add_option("--restore", restoreId, "put back the restore point with this ID");

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

    std::string error;
    std::optional<PrefixChoice> choice = ChooseTarget(prefix, &error);
    if (!choice) {
        std::cerr << "quillary-cli: " << error << "\n";
        return kExitTargetUnavailable;
    }
    std::unique_ptr<CTargetSession> session = CTargetSession::Open(*choice, argv[0], &error);
    if (!session) {
        std::cerr << "quillary-cli: cannot open " << choice->folder.string() << ": " << error
                  << "\n";
        return kExitTargetUnavailable;
    }
    if (std::optional<std::string> warning = session->Registry().ReadWarning()) {
        std::cerr << "quillary-cli: " << *warning << "\n";
    }
    for (const WineRegDiagnostic& diagnostic : session->Registry().Diagnostics()) {
        std::cerr << "quillary-cli: " << DescribeDiagnostic(diagnostic) << "\n";
    }

    // Another instance of the program owns the saved results: this one then writes nothing.
    CInstanceGuard guard(kInstanceName, DefaultInstanceFolder());
    StartupResult startup =
        StartUp({}, guard, session->Context(), {MayWritePrefix(choice->folder), false});
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
        startup.problems = session->Context().Load();
    }
    for (const std::string& problem : startup.problems) {
        std::cerr << "quillary-cli: " << problem << "\n";
    }

    CatchInterrupts();
    if (*backups)
        return RunBackupsCommand(*session, backupsJson, firstInstance);
    if (*exporter)
        return RunExportCommand(*session, exportKey, exportFile, view);
    if (*restorePoints && !restoreId)
        return RunListRestorePoints(*session);
    if (*scan && !firstInstance) {
        scanOptions.saveResults = false;
        return RunScanCommand(*session, scanOptions, g_interrupted);
    }
    // The commands that change the prefix or the program's own records leave them to the
    // instance that owns them.
    if (!firstInstance) {
        std::cerr << "quillary-cli: another Quillary instance is running; nothing is changed\n";
        return kExitTargetBusy;
    }
    int status = kExitDone;
    if (*scan) {
        status = RunScanCommand(*session, scanOptions, g_interrupted);
    } else if (*repair) {
        status = RunRepairCommand(*session, repairOptions, g_interrupted);
    } else if (*undo) {
        status = RunUndoCommand(*session, undoNumber);
    } else if (*restorePoints) {
        status = RunRestoreRestorePoint(*session, *restoreId);
    } else {
        status = RunImportCommand(*session, importFile, view);
    }
    // The program's own values (the repair counters, the last restore point's time) persist.
    if (FileError failure = session->SaveConfig()) {
        std::cerr << "quillary-cli: cannot save the program's settings: " << *failure << "\n";
    }
    return status;
}
