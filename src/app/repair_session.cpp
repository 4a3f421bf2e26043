#include "app/repair_session.h"

#include "repair/backup_journal.h"
#include "repair/restore_point.h"
#include "repair/undo_folder.h"
#include "targets/wine/prefix_restore_points.h"

namespace quillary {

std::vector<std::string> CompleteInterruptedRepairs(COpenTarget& target) {
    CAppContext& context = target.Context();
    return CompleteInterruptedBackups(UndoFolderOf(context.DataFolder()), context.Backups().zip,
                                      target.FileIo());
}

bool CreateTargetRestorePoint(COpenTarget& target, std::u16string_view description,
                              std::string* why) {
    CAppContext& context = target.Context();
    CPrefixRestorePoints restorePoints(target.FileIo(), target.Folder(), context.DataFolder(),
                                       context.Clock());
    CRestorePointMaker maker({context.ConfigStore(), context.Platform(), context.Clock(),
                              target.PrefixStore() ? &restorePoints : nullptr, LoadAppTitle()});
    if (maker.CreateRestorePoint(description))
        return true;
    if (why) {
        *why = restorePoints.LastError().empty() ? "the prefix's Windows version has none"
                                                 : restorePoints.LastError();
    }
    return false;
}

RepairSessionResult RunRepairSession(COpenTarget& target, const RepairSessionOptions& options) {
    const auto say = [&options](std::string_view text) {
        if (options.say)
            options.say(text);
    };
    for (const std::string& failure : CompleteInterruptedRepairs(target))
        say(failure);

    CAppContext& context = target.Context();
    CWinePrefixRegistry* prefix = target.PrefixStore();
    const auto createRestorePoint = [&] {
        std::string why;
        if (!CreateTargetRestorePoint(target, {}, &why))
            say("no restore point was made: " + why);
    };
    const auto text = [&context](std::u16string_view id) {
        return context.Language().LookupText(id);
    };
    CleaningEnvironment cleaning{
        context.Scans(),
        context.Target(),
        context.Settings(),
        context.Exclusions(),
        context.Backups(),
        context.Language().LookupText(u"AFX_IDS_APP_TITLE"),
        createRestorePoint,
        text,
        [&context](std::u16string_view line) { context.Log().WriteLogLine(line); },
        options.observer,
        [prefix]() -> std::optional<std::string> {
            return prefix ? prefix->WriteRefusal() : std::nullopt;
        },
        [&context](CBackup& backup) { return context.Tweaks().ApplyTickedTweaks(backup); },
        options.refreshUndoList,
        options.pacing};
    CCleaningRun run(cleaning);
    RepairSessionResult result;
    result.cleaning = run.Run();

    // The registry changes are saved only once their undo copies are on the disk.
    if (!result.cleaning.backupFailure.empty())
        result.notSaved =
            "the partial backup could not be written: " + result.cleaning.backupFailure;
    else if (!result.cleaning.refusal.empty())
        result.notSaved = result.cleaning.refusal;
    else if (FileError error = prefix ? prefix->Save() : std::nullopt)
        result.notSaved = "the prefix's registry could not be saved: " + *error;
    if (!context.Settings().SaveSettings())
        say("cannot store the repair counters");
    return result;
}

}  // namespace quillary
