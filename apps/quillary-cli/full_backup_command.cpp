#include "full_backup_command.h"

#include <unistd.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "core/text_encoding.h"
#include "repair/full_backup.h"
#include "repair_commands.h"
#include "scan_command.h"
#include "targets/wine/prefix_restore_points.h"

namespace quillary::cli {
namespace {

void Say(std::string_view text) {
    std::cerr << "quillary-cli: " << text << "\n";
}

// The full backups of the target, restored through restorePoints when given.
CFullBackups FullBackupsOf(COpenTarget& target, IRestorePoints* restorePoints) {
    CAppContext& context = target.Context();
    return CFullBackups(
        {context.Target(), target.FileIo(), context.Clock(), context.Settings().Values(),
         context.DataFolder(),
         [&context](std::u16string_view id) { return context.Language().LookupText(id); },
         restorePoints});
}

int TakeFullBackup(COpenTarget& target, std::ostream& out) {
    CFullBackups backups = FullBackupsOf(target, nullptr);
    // On a terminal the count of keys written is shown, rewritten in place.
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    std::uint64_t keys = 0;
    std::filesystem::path file;
    const FileError error = backups.Take(
        [&](std::uint64_t written) {
            keys = written;
            if (showProgress)
                std::cerr << "\rBacking up the registry: " << written << " keys" << std::flush;
        },
        &file);
    if (showProgress && keys > 0)
        std::cerr << "\n";
    if (error) {
        Say("no full backup was taken: " + *error);
        return kExitTargetUnavailable;
    }
    // The backup is now the latest restore point the program shows.
    if (!target.Context().Settings().SaveSettings())
        Say("cannot store the time of the latest backup");
    out << "Full backup of " << keys << " keys written to " << file.string() << "\n";
    return kExitDone;
}

int RestoreFullBackup(COpenTarget& target, const std::string& name) {
    if (std::optional<int> refused = RefusedToWrite(target))
        return *refused;
    CWinePrefixRegistry& registry = PrefixRegistry(target);
    CAppContext& context = target.Context();
    CPrefixRestorePoints restorePoints(target.FileIo(), target.Folder(), context.DataFolder(),
                                       context.Clock());
    CFullBackups backups = FullBackupsOf(target, &restorePoints);
    const FullBackupRestore result = backups.Restore(name, [&registry] { return registry.Save(); });
    using Outcome = FullBackupRestore::Outcome;
    if (result.outcome == Outcome::Restored) {
        std::cout << "Restored the full backup " << name << " into " << target.Folder().string()
                  << ".\nThe registry files it replaced are kept as restore point "
                  << result.restorePoint << ": `quillary-cli restore-points --restore "
                  << result.restorePoint << "` undoes this.\n";
        return kExitDone;
    }
    Say(result.error);
    if (!restorePoints.LastError().empty())
        Say(restorePoints.LastError());
    if (result.outcome == Outcome::UnknownBackup) {
        Say("`quillary-cli full-backup --list` lists the full backups");
        return kExitBadArguments;
    }
    return result.outcome == Outcome::Failed && registry.WriteRefusal() && !registry.IsDamaged()
               ? kExitTargetBusy
               : kExitTargetUnavailable;
}

int DeleteFullBackup(COpenTarget& target, const std::string& name) {
    CFullBackups backups = FullBackupsOf(target, nullptr);
    const std::vector<FullBackupRow> rows = backups.RefreshFullBackups();
    if (std::none_of(rows.begin(), rows.end(),
                     [&name](const FullBackupRow& row) { return row.name == name; })) {
        Say("no full backup \"" + name + "\" in " + target.Context().DataFolder().string() +
            " (`quillary-cli full-backup --list` lists them)");
        return kExitBadArguments;
    }
    if (FileError error = backups.Delete(name)) {
        Say(*error);
        return kExitTargetUnavailable;
    }
    std::cout << "Full backup " << name << " deleted.\n";
    return kExitDone;
}

}  // namespace

int RunListFullBackups(COpenTarget& target, bool json) {
    const std::vector<FullBackupRow> rows = FullBackupsOf(target, nullptr).RefreshFullBackups();
    if (json) {
        nlohmann::ordered_json document = nlohmann::ordered_json::array();
        for (const FullBackupRow& row : rows) {
            document.push_back(
                {{"name", row.name}, {"time", Utf16ToUtf8(row.dateText)}, {"size", row.size}});
        }
        std::cout << document.dump(2) << "\n";
        return kExitDone;
    }
    if (rows.empty()) {
        std::cout << "No full backups in " << target.Context().DataFolder().string() << ".\n";
        return kExitDone;
    }
    for (const FullBackupRow& row : rows) {
        std::cout << row.name << "  " << Utf16ToUtf8(row.dateText) << "  " << row.size
                  << " bytes\n";
    }
    return kExitDone;
}

int RunFullBackupCommand(COpenTarget& target, const FullBackupOptions& options) {
    if (options.restore)
        return RestoreFullBackup(target, *options.restore);
    if (options.remove)
        return DeleteFullBackup(target, *options.remove);
    return TakeFullBackup(target, std::cout);
}

void TakeFirstRunBackup(COpenTarget& target) {
    CAppContext& context = target.Context();
    if (!FullBackupsOf(target, nullptr).RequestFirstRunBackup(context.ConfigStore()))
        return;
    std::cerr << Utf16ToUtf8(context.Language().LookupText(u"IDS_STR_FIRST_RUN_BKUP")) << "\n";
    (void)TakeFullBackup(target, std::cerr);
}

}  // namespace quillary::cli
