#include "repair_commands.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "app/repair_session.h"
#include "categories/category_factory.h"
#include "core/text_encoding.h"
#include "engine/category_table.h"
#include "full_backup_command.h"
#include "interrupts.h"
#include "repair/backup.h"
#include "repair/backup_journal.h"
#include "repair/cleaning_run.h"
#include "repair/reg_export.h"
#include "repair/reg_file_reader.h"
#include "repair/reg_import.h"
#include "repair/restore_point.h"
#include "repair/undo_folder.h"
#include "repair/undo_list.h"
#include "repair/undo_list_file.h"
#include "services/language_pack.h"
#include "targets/wine/prefix_restore_points.h"

namespace quillary::cli {
namespace {

void Say(std::string_view text) {
    std::cerr << "quillary-cli: " << text << "\n";
}

// The exit code of a registry that could not be saved: busy when Wine or another program got
// in the way, unavailable when the disk did.
int SaveFailureExit(COpenTarget& target) {
    return PrefixRegistry(target).WriteRefusal() && !PrefixRegistry(target).IsDamaged()
               ? kExitTargetBusy
               : kExitTargetUnavailable;
}

// Writes the prefix's changed registry files; false (and said) when that failed.
bool SaveRegistry(COpenTarget& target) {
    if (FileError error = PrefixRegistry(target).Save()) {
        Say("cannot save the prefix's registry: " + *error);
        return false;
    }
    return true;
}

// Runs that were killed part-way leave a journal: their archive and list file are made from it
// before the backups are listed, undone or numbered anew.
void CompleteInterrupted(COpenTarget& target) {
    for (const std::string& failure : CompleteInterruptedRepairs(target))
        Say(failure);
}

// A list of numbers separated by commas; what names them in the error.
std::optional<std::vector<std::int32_t>> ParseNumbers(std::string_view list, std::string_view what,
                                                      std::string* error) {
    std::vector<std::int32_t> numbers;
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string item(list.substr(0, comma));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        if (item.empty())
            continue;
        try {
            std::size_t used = 0;
            int value = std::stoi(item, &used);
            if (used != item.size())
                throw std::invalid_argument(item);
            numbers.push_back(value);
        } catch (const std::exception&) {
            *error = "not " + std::string(what) + ": \"" + item + "\"";
            return std::nullopt;
        }
    }
    return numbers;
}

// Only the problems the options name stay ticked.
bool SelectProblems(CScanDriver& scans, const RepairOptions& options) {
    std::uint32_t categories = (1u << kCategoryCount) - 1;
    std::string error;
    if (options.categories) {
        std::optional<std::uint32_t> chosen = ParseCategoryList(*options.categories, &error);
        if (!chosen) {
            Say(error);
            return false;
        }
        categories = *chosen;
    }
    std::optional<std::vector<std::int32_t>> types;
    if (options.entryTypes) {
        types = ParseNumbers(*options.entryTypes, "an entry type", &error);
        if (!types) {
            Say(error);
            return false;
        }
    }
    for (const CategoryRow& row : kCategories) {
        CCategory* category = scans.CategoryOf(row.bit);
        if (!category)
            continue;
        for (auto& problem : category->MutableProblems()) {
            bool inCategory = (categories & row.bit) != 0;
            bool ofType = !types || std::find(types->begin(), types->end(), problem->EntryType) !=
                                        types->end();
            if (!inCategory || !ofType)
                problem->selected = false;
        }
    }
    return true;
}

// Ticks the tweaks the options name: all still to apply by default, none for "none".
bool TickTweaks(CRegistryTweaks& tweaks, const std::optional<std::string>& chosen) {
    tweaks.ResetTicksIfRequested();
    if (!chosen)
        return true;
    std::vector<std::int32_t> numbers;
    if (*chosen != "none") {
        std::string error;
        std::optional<std::vector<std::int32_t>> parsed =
            ParseNumbers(*chosen, "a tweak number", &error);
        if (!parsed) {
            Say(error);
            return false;
        }
        numbers = std::move(*parsed);
    }
    for (std::int32_t number : numbers) {
        if (number < 0 || number >= kTweakCount) {
            Say("not a tweak number: " + std::to_string(number) + " (0-4)");
            return false;
        }
    }
    for (int n = 0; n < kTweakCount; ++n)
        tweaks.SetTicked(n, std::find(numbers.begin(), numbers.end(), n) != numbers.end());
    return true;
}

}  // namespace

std::optional<int> RefusedToWrite(COpenTarget& target) {
    if (std::optional<std::string> refusal = PrefixRegistry(target).WriteRefusal()) {
        Say(*refusal);
        return PrefixRegistry(target).IsDamaged() ? kExitTargetUnavailable : kExitTargetBusy;
    }
    return std::nullopt;
}

int RunRepairCommand(COpenTarget& target, const RepairOptions& options) {
    if (std::optional<int> refused = RefusedToWrite(target))
        return *refused;
    CAppContext& context = target.Context();
    if (options.scanFirst && ScanToEnd(context, AvailableCategories())) {
        Say("the scan was stopped; nothing was repaired");
        return kExitInterrupted;
    }
    CScanDriver& scans = context.Scans();
    if (!SelectProblems(scans, options) || !TickTweaks(context.Tweaks(), options.tweaks))
        return kExitBadArguments;
    const auto text = [&context](std::u16string_view id) {
        return context.Language().LookupText(id);
    };
    if (!options.json) {
        std::cout << Utf16ToUtf8(
                         SelectedForCleaningText(scans, context.Tweaks().CountTicked(), text))
                  << "\n";
    }

    TakeFirstRunBackup(target);
    RepairSessionOptions sessionOptions;
    sessionOptions.say = Say;
    RepairSessionResult session;
    {
        // Ctrl-C ends the run between two problems, as the cleaning page's stop does.
        CInterruptRelay relay(scans.StopEvent());
        session = RunRepairSession(target, sessionOptions);
    }
    const CleaningResult& result = session.cleaning;
    const std::string& notSaved = session.notSaved;
    for (const std::string& failure : context.Exit(false))
        Say(failure);

    const bool registrySaved = notSaved.empty();
    const bool backupWritten = result.listFile.extension() == ".rmx";
    std::string number = result.listFile.empty() ? "" : result.listFile.stem().string();
    if (options.json) {
        nlohmann::ordered_json document;
        document["target"] = target.Folder().string();
        document["attempted"] = result.attempted;
        document["repaired"] = registrySaved ? result.repaired : result.filesDeleted;
        document["failed"] = result.failed;
        document["tweaksApplied"] = registrySaved ? result.tweaksApplied : 0;
        document["stopped"] = result.stopped;
        document["remaining"] = result.remaining;
        document["backup"] = number;
        document["saved"] = registrySaved;
        if (!registrySaved)
            document["error"] = notSaved;
        std::cout << document.dump(2) << "\n";
    } else if (registrySaved) {
        std::cout << "Repaired " << result.repaired << " of " << result.attempted << " problems";
        if (result.failed > 0)
            std::cout << "; " << result.failed << " could not be repaired (the log says why: "
                      << context.Log().LogFilePath().string() << ")";
        std::cout << ".\n";
        if (result.tweaksApplied > 0)
            std::cout << "Applied " << result.tweaksApplied << " registry tweaks.\n";
        if (result.stopped && result.remaining == 0)
            std::cout << Utf16ToUtf8(text(u"IDS_CLEANING_ABORTED")) << "\n";
        else if (result.stopped)
            std::cout << "The repair was stopped; " << result.remaining
                      << " problems of the results are left.\n";
    } else if (result.attempted == 0) {
        Say(notSaved);
        std::cout << "Nothing was repaired.\n";
    } else {
        Say(notSaved);
        // The registry files are saved one by one: one may have been saved before another
        // failed. The partial backup undoes whatever was.
        const bool savedInPart = result.backupFailure.empty() && result.refusal.empty();
        std::cout << (savedInPart ? "The registry changes may be saved only in part"
                                  : "No change to the registry was saved");
        if (result.filesDeleted > 0) {
            std::cout << "; " << result.filesDeleted
                      << (result.filesDeleted == 1 ? " file was deleted" : " files were deleted");
        }
        std::cout << ".\n";
    }
    if (!options.json && !number.empty() && backupWritten) {
        std::cout << "Partial backup " << number << " holds the undo copy: "
                  << "quillary-cli undo " << number << "\n";
    } else if (!options.json && !number.empty()) {
        std::cout << "The copies of the deleted files are kept in " << result.listFile.string()
                  << "; the next command completes partial backup " << number
                  << " from it, and quillary-cli undo " << number << " puts them back.\n";
    }
    if (!result.refusal.empty())
        return kExitTargetBusy;
    if (!registrySaved)
        return result.backupFailure.empty() ? SaveFailureExit(target) : kExitTargetUnavailable;
    return result.stopped ? kExitInterrupted : kExitDone;
}

int RunBackupsCommand(COpenTarget& target, bool json, bool mayComplete) {
    if (mayComplete)
        CompleteInterrupted(target);
    CUndoList undoList(target.Context().Backups());
    undoList.RefreshUndoList();
    for (const std::filesystem::path& unreadable : undoList.Unreadable())
        Say(unreadable.string() + " cannot be read and is not listed");
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const UndoListRow& row : undoList.Rows()) {
        const CBackup& backup = undoList.BackupOf(row);
        const std::string number = row.listFile.stem().string();
        if (json) {
            document.push_back({{"number", number},
                                {"text", Utf16ToUtf8(row.text)},
                                {"time", backup.LastChangeTime()},
                                {"description", Utf16ToUtf8(backup.Description())},
                                {"records", backup.Operations().size()}});
        } else {
            std::cout << number << "  " << Utf16ToUtf8(row.text) << "  "
                      << backup.Operations().size() << " records  "
                      << Utf16ToUtf8(backup.Description()) << "\n";
        }
    }
    if (json)
        std::cout << document.dump(2) << "\n";
    else if (undoList.Rows().empty())
        std::cout << Utf16ToUtf8(undoList.EmptyText()) << "\n";
    return kExitDone;
}

int RunDeleteBackupCommand(COpenTarget& target, const std::string& number) {
    CompleteInterrupted(target);
    CUndoList undoList(target.Context().Backups());
    undoList.RefreshUndoList();
    const std::int64_t wanted = UndoListNumberOf(number);
    for (const UndoListRow& row : undoList.Rows()) {
        if (wanted <= 0 || UndoListNumberOf(row.listFile.filename().string()) != wanted)
            continue;
        const std::filesystem::path listFile = row.listFile;
        if (!undoList.Delete(row)) {
            Say("cannot delete " + listFile.string());
            return kExitTargetUnavailable;
        }
        std::cout << "Partial backup " << number << " deleted; its archive "
                  << ArchivePathOfList(listFile).filename().string() << " stays in the folder.\n";
        return kExitDone;
    }
    Say("no partial backup " + number + " in " +
        UndoFolderOf(target.Context().DataFolder()).string());
    return kExitBadArguments;
}

int RunUndoCommand(COpenTarget& target, const std::string& number) {
    if (std::optional<int> refused = RefusedToWrite(target))
        return *refused;
    CompleteInterrupted(target);
    std::int64_t value = UndoListNumberOf(number);
    std::filesystem::path folder = UndoFolderOf(target.Context().DataFolder());
    std::filesystem::path list = UndoBasePath(folder, value);
    list += ".rmx";
    if (value <= 0 || !std::filesystem::exists(list)) {
        Say("no partial backup " + number + " in " + folder.string());
        return kExitBadArguments;
    }
    CBackup backup(target.Context().Backups());
    backup.SetListFilePath(list);
    if (!backup.LoadList()) {
        Say("the list file " + list.string() + " is damaged; nothing was undone");
        return kExitTargetUnavailable;
    }
    const bool undone = backup.UndoAll();
    if (!undone && backup.UndoRefused()) {
        Say("partial backup " + number + " is damaged; nothing was undone: " + backup.Failure());
        return kExitTargetUnavailable;
    }
    if (!undone) {
        Say("partial backup " + number + " could not be undone: " + backup.Failure());
        // What was put back in the registry before the failure is saved, so that the registry
        // and the files restored so far agree; the backup can be undone again.
        (void)SaveRegistry(target);
        return kExitTargetUnavailable;
    }
    if (!SaveRegistry(target))
        return SaveFailureExit(target);
    std::cout << "Partial backup " << list.stem().string() << " undone.\n";
    return kExitDone;
}

int RunExportCommand(COpenTarget& target, const std::string& keyPath, const std::string& file,
                     int view) {
    std::u16string path = Utf8ToUtf16(keyPath);
    RegistryPath split = SplitRegistryPath(path);
    std::optional<HKey> root = RootKeyFromName(split.rootName);
    if (!root) {
        Say("not a key path with a root name: " + keyPath);
        return kExitBadArguments;
    }
    // In the 64-bit view the export holds both views, as the Registry Editor's does: the
    // 32-bit view's keys appear below Wow6432Node.
    CRegExport writer(target.Context().Target(),
                      view == 32 ? CRegExport::Walk::OneView : CRegExport::Walk::AllKeys);
    if (!writer.ExportKey(*root, split.subKey, view != 32)) {
        Say("cannot export " + keyPath +
            (writer.Failure().empty() ? std::string() : ": " + writer.Failure()));
        return kExitBadArguments;
    }
    if (FileError error = writer.SaveToFile(target.FileIo(), file)) {
        Say(*error);
        return kExitTargetUnavailable;
    }
    return kExitDone;
}

int RunImportCommand(COpenTarget& target, const std::string& file, int view) {
    if (std::optional<int> refused = RefusedToWrite(target))
        return *refused;
    CAppContext& context = target.Context();
    const RegistryTarget& registry = context.Target();
    const bool in64BitView = registry.is64Bit && view != 32;
    const auto nothingImported = [&file](const RegImportError& error) {
        Say(file + (error.line > 0 ? ", line " + std::to_string(error.line) : std::string()) +
            ": " + error.message + "; nothing was imported");
    };
    // The whole file is read and checked first, a key block at a time: an import that could
    // not finish changes nothing.
    if (std::optional<RegImportError> wrong = CheckRegFile(registry, target.FileIo(), file)) {
        nothingImported(*wrong);
        return kExitBadArguments;
    }

    // What the file replaces or deletes goes into a partial backup first, like a repair.
    CompleteInterrupted(target);
    std::unique_ptr<CBackup> backup =
        BeginPartialBackup(context.Backups(), u"Import of " + Utf8ToUtf16(file));
    if (!backup->Failure().empty()) {
        nothingImported({0, "the partial backup cannot be written: " + backup->Failure()});
        return kExitTargetUnavailable;
    }
    CRegExport& undoCopy =
        *backup->ExportWriter(in64BitView ? RegistryView::Bits64 : RegistryView::Bits32);
    std::optional<RegImportError> failure =
        ReadRegFile(target.FileIo(), file, [&](std::span<const RegImportOperation> block) {
            RecordUndoOf(registry, in64BitView, block, undoCopy);
            return ApplyRegOperations(registry, in64BitView, block);
        });
    if (failure) {
        // Nothing is saved: the changes made before the failing line stay in memory only,
        // and the partial backup has nothing to undo.
        backup->Discard();
        nothingImported(*failure);
        return kExitBadArguments;
    }
    if (!EndPartialBackup(*backup)) {
        nothingImported({0, "the partial backup could not be written: " + backup->Failure()});
        return kExitTargetUnavailable;
    }
    if (FileError error = PrefixRegistry(target).Save()) {
        Say("cannot save the prefix's registry: " + *error);
        std::cout << "The import of " << file << " may be saved in part; partial backup "
                  << backup->ListFilePath().stem().string() << " undoes it.\n";
        return SaveFailureExit(target);
    }
    std::cout << "Imported " << file << "; partial backup "
              << backup->ListFilePath().stem().string() << " holds the undo copy.\n";
    return kExitDone;
}

}  // namespace quillary::cli
