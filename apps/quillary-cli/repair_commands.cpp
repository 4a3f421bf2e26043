#include "repair_commands.h"

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "categories/category_factory.h"
#include "core/text.h"
#include "engine/category_table.h"
#include "platform/wine/prefix_restore_points.h"
#include "repair/backup.h"
#include "repair/cleaning_run.h"
#include "repair/minizip_codec.h"
#include "repair/reg_export.h"
#include "repair/reg_import.h"
#include "repair/restore_point.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"
#include "services/language_pack.h"

namespace quillary::cli {
namespace {

constexpr std::size_t kMaxListFileBytes = 64u * 1024 * 1024;
constexpr std::size_t kMaxImportFileBytes = 1024u * 1024 * 1024;

void Say(std::string_view text) {
    std::cerr << "quillary-cli: " << text << "\n";
}

// Every command that writes stops here while Wine runs for the prefix or the files changed.
bool RefusedToWrite(CTargetSession& session) {
    if (std::optional<std::string> refusal = session.Registry().WriteRefusal()) {
        Say(*refusal);
        return true;
    }
    return false;
}

// Writes the prefix's changed registry files; false (and said) when that failed.
bool SaveRegistry(CTargetSession& session) {
    if (FileError error = session.Registry().Save()) {
        Say("cannot save the prefix's registry: " + *error);
        return false;
    }
    return true;
}

// The partial backups' environment of one session.
class CBackupSetup {
public:
    explicit CBackupSetup(CTargetSession& session)
        : environment_{
              session.Context().Target(),
              session.Files(),
              [&files = session.Files()](std::u16string_view path) {
                  return files.UnixPathOf(path);
              },
              zip_,
              session.Clock(),
              session.Context().Settings().Values(),
              session.Context().DataFolder(),
              [&session](std::u16string_view id) {
                  return session.Context().Language().LookupText(id);
              },
              [&session](std::u16string_view line) { session.Context().Log().WriteLogLine(line); },
              [](std::u16string_view message) { Say(Utf16ToUtf8(message)); }} {}
    const BackupEnvironment& Environment() const { return environment_; }

private:
    CMinizipCodec zip_;
    BackupEnvironment environment_;
};

std::optional<std::vector<std::int32_t>> ParseNumbers(std::string_view list, std::string* error) {
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
            *error = "not an entry type: \"" + item + "\"";
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
        types = ParseNumbers(*options.entryTypes, &error);
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

}  // namespace

int RunRepairCommand(CTargetSession& session, const RepairOptions& options,
                     const std::atomic<bool>& interrupted) {
    if (RefusedToWrite(session))
        return kExitTargetBusy;
    CAppContext& context = session.Context();
    if (options.scanFirst && ScanToEnd(context.Scans(), AvailableCategories(), interrupted)) {
        Say("the scan was stopped; nothing was repaired");
        return kExitInterrupted;
    }
    CScanDriver& scans = context.Scans();
    if (!SelectProblems(scans, options))
        return kExitBadArguments;

    // Each repaired problem's description, collected before the run removes it.
    std::vector<std::pair<const CProblem*, std::string>> ticked;
    for (const CategoryRow& row : kCategories) {
        for (const auto& problem : scans.ProblemsOf(row.bit)) {
            if (problem->selected) {
                ticked.emplace_back(problem.get(),
                                    Utf16ToUtf8(context.TextTables().DetailText(*problem)));
            }
        }
    }

    CBackupSetup backup(session);
    // The whole registry is kept as a restore point first, at most once a day.
    CPrefixRestorePoints restorePoints(session.Choice().folder, context.DataFolder(),
                                       session.Clock());
    CRestorePointMaker restorePointMaker({context.ConfigStore(), context.Platform(),
                                          session.Clock(), &restorePoints, LoadAppTitle()});
    const auto createRestorePoint = [&] {
        if (!restorePointMaker.CreateRestorePoint({})) {
            const std::string& why = restorePoints.LastError();
            Say("no restore point was made: " +
                (why.empty() ? "the prefix's Windows version has none" : why));
        }
    };
    CleaningEnvironment cleaning{
        scans,
        context.Target(),
        context.Settings(),
        context.Exclusions(),
        backup.Environment(),
        context.Language().LookupText(u"AFX_IDS_APP_TITLE"),
        createRestorePoint,
        [&context](std::u16string_view id) { return context.Language().LookupText(id); },
        [&context](std::u16string_view line) { context.Log().WriteLogLine(line); }};
    CCleaningRun run(cleaning);
    // Ctrl-C ends the run between two problems, as the cleaning page's stop does.
    std::atomic<bool> finished = false;
    std::jthread watcher([&] {
        while (!finished) {
            if (interrupted)
                scans.StopEvent().Set();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    CleaningResult result = run.Run();
    finished = true;
    watcher.join();
    bool saved = SaveRegistry(session);
    // The repair counters are kept with the other settings.
    if (!context.Settings().SaveSettings())
        Say("cannot store the repair counters");
    for (const std::string& failure : context.Exit(false))
        Say(failure);

    std::string number = result.listFile.empty() ? "" : result.listFile.stem().string();
    if (options.json) {
        nlohmann::ordered_json document;
        document["target"] = session.Choice().folder.string();
        document["attempted"] = result.attempted;
        document["repaired"] = result.repaired;
        document["failed"] = result.failed;
        document["stopped"] = result.stopped;
        document["backup"] = number;
        std::cout << document.dump(2) << "\n";
    } else {
        std::cout << "Repaired " << result.repaired << " of " << result.attempted << " problems";
        if (result.failed > 0)
            std::cout << "; " << result.failed << " could not be repaired";
        std::cout << ".\n";
        if (!number.empty()) {
            std::cout << "Partial backup " << number << " holds the undo copy: "
                      << "quillary-cli undo " << number << "\n";
        }
    }
    if (!saved || (result.attempted > 0 && !result.backupSaved))
        return kExitTargetUnavailable;
    return result.stopped ? kExitInterrupted : kExitDone;
}

int RunBackupsCommand(CTargetSession& session, bool json) {
    std::filesystem::path folder = UndoFolderOf(session.Context().DataFolder());
    std::vector<std::filesystem::path> lists;
    std::error_code code;
    for (std::filesystem::directory_iterator it(folder, code), end; !code && it != end;
         it.increment(code)) {
        if (it->is_regular_file() && IsUndoListFileName(it->path().filename().string())) {
            lists.push_back(it->path());
        }
    }
    std::sort(lists.begin(), lists.end());
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const std::filesystem::path& list : lists) {
        std::vector<std::uint8_t> bytes;
        if (ReadWholeFile(list, kMaxListFileBytes, bytes))
            continue;
        DecodedUndoList decoded = DecodeUndoList(bytes);
        std::time_t time = static_cast<std::time_t>(decoded.header.lastChangeTime);
        char when[32] = "-";
        if (std::tm* utc = std::gmtime(&time))
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
        std::string number = list.stem().string();
        if (json) {
            document.push_back({{"number", number},
                                {"time", when},
                                {"description", Utf16ToUtf8(decoded.header.description)},
                                {"records", decoded.records.size()},
                                {"damaged", !decoded.error.empty()}});
        } else {
            std::cout << number << "  " << when << "  " << decoded.records.size() << " records  "
                      << Utf16ToUtf8(decoded.header.description)
                      << (decoded.error.empty() ? "" : "  (damaged)") << "\n";
        }
    }
    if (json)
        std::cout << document.dump(2) << "\n";
    if (!json && lists.empty())
        std::cout << "No partial backups.\n";
    return kExitDone;
}

int RunUndoCommand(CTargetSession& session, const std::string& number) {
    if (RefusedToWrite(session))
        return kExitTargetBusy;
    std::int64_t value = UndoListNumberOf(number);
    std::filesystem::path folder = UndoFolderOf(session.Context().DataFolder());
    std::filesystem::path list = UndoBasePath(folder, value);
    list += ".rmx";
    if (value <= 0 || !std::filesystem::exists(list)) {
        Say("no partial backup " + number + " in " + folder.string());
        return kExitBadArguments;
    }
    CBackupSetup setup(session);
    CBackup backup(setup.Environment());
    backup.SetListFilePath(list);
    if (!backup.LoadList()) {
        Say("the list file " + list.string() + " is damaged; nothing was undone");
        return kExitTargetUnavailable;
    }
    bool undone = backup.UndoAll();
    bool saved = SaveRegistry(session);
    if (!undone) {
        Say("partial backup " + number + " could not be undone completely");
        return kExitTargetUnavailable;
    }
    std::cout << "Partial backup " << list.stem().string() << " undone.\n";
    return saved ? kExitDone : kExitTargetUnavailable;
}

int RunExportCommand(CTargetSession& session, const std::string& keyPath, const std::string& file,
                     int view) {
    std::u16string path = Utf8ToUtf16(keyPath);
    RegistryPath split = SplitRegistryPath(path);
    std::optional<HKey> root = RootKeyFromName(split.rootName);
    if (!root) {
        Say("not a key path with a root name: " + keyPath);
        return kExitBadArguments;
    }
    CRegExport writer(session.Context().Target());
    if (!writer.ExportKey(*root, split.subKey, view != 32)) {
        Say("cannot export " + keyPath);
        return kExitBadArguments;
    }
    if (FileError error = writer.SaveToFile(file)) {
        Say(*error);
        return kExitTargetUnavailable;
    }
    return kExitDone;
}

int RunImportCommand(CTargetSession& session, const std::string& file, int view) {
    if (RefusedToWrite(session))
        return kExitTargetBusy;
    std::vector<std::uint8_t> bytes;
    if (FileError error = ReadWholeFile(file, kMaxImportFileBytes, bytes)) {
        Say(*error);
        return kExitBadArguments;
    }
    RegImportParse parsed = ParseRegFile(bytes);
    if (parsed.error) {
        Say(file + ", line " + std::to_string(parsed.error->line) + ": " + parsed.error->message +
            "; nothing was imported");
        return kExitBadArguments;
    }
    // What the file replaces or deletes goes into a partial backup first, like a repair.
    CAppContext& context = session.Context();
    const RegistryTarget& target = context.Target();
    const bool in64BitView = target.is64Bit && view != 32;
    CBackupSetup setup(session);
    std::unique_ptr<CBackup> backup =
        BeginPartialBackup(setup.Environment(), u"Import of " + Utf8ToUtf16(file));
    RecordUndoOf(target, in64BitView, parsed.operations, *backup->ExportWriter(in64BitView));
    std::optional<std::string> failure = ApplyRegOperations(target, in64BitView, parsed.operations);
    bool backedUp = EndPartialBackup(*backup);
    bool saved = SaveRegistry(session);
    if (failure)
        Say(file + ", " + *failure);
    if (!backedUp)
        Say("the partial backup of the import could not be written completely");
    std::error_code code;
    if (std::filesystem::exists(backup->ListFilePath(), code)) {
        std::cout << "Imported " << file << "; partial backup "
                  << backup->ListFilePath().stem().string() << " holds the undo copy.\n";
    }
    if (failure)
        return kExitBadArguments;
    return saved && backedUp ? kExitDone : kExitTargetUnavailable;
}

}  // namespace quillary::cli
