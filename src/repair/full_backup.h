#pragma once

// Full backups: copies of the whole registry of a target, each one export file in the
// target's data folder named after the moment it was taken ("1262304000.reg": seconds since
// 1970, UTC). Taking one exports the registry (see full_registry_export.h); restoring one
// imports the file as the Registry Editor does, so keys and values added since the backup
// stay. A restore changes the registry only once the file was checked whole and a restore
// point of the target was made, so that it can itself be undone.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/text_tables.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/restore_points.h"

namespace quillary {

// The references must outlive the CFullBackups made with it.
struct FullBackupEnvironment {
    const RegistryTarget& target;
    // The backup files are written and read through it.
    IFileIo& fileIo;
    const IClock& clock;
    // A backup taken becomes the latest restore point shown to the user.
    SettingsValues& settings;
    // The target's data folder, which holds the backups.
    std::filesystem::path dataFolder;
    TextLookup text;  // language texts by identifier
    // The target's restore points; without them nothing can be restored.
    IRestorePoints* restorePoints = nullptr;
};

struct FullBackupRow {
    std::string name;  // the file's name in the data folder
    // The moment the name stands for, as local time; empty when the name is not a number.
    std::u16string dateText;
    std::uintmax_t size = 0;  // in bytes
};

struct FullBackupRestore {
    enum class Outcome {
        Restored,
        UnknownBackup,  // the name is no backup's, or its file is gone: nothing was changed
        Refused,        // the file is damaged, or no restore point could be made: no change
        Failed,         // the import or the save failed part-way (see restorePoint)
    };
    Outcome outcome = Outcome::Failed;
    // What went wrong, for the user; empty when the backup was restored.
    std::string error;
    // The restore point made before the registry was changed, which undoes the restore; 0
    // when none was made (the registry was then not changed).
    std::int64_t restorePoint = 0;
};

// The name of a backup taken at seconds since 1970: the low 32 bits of the count as a signed
// decimal number, then ".reg".
std::string FullBackupFileName(std::int64_t seconds);

class CFullBackups {
public:
    explicit CFullBackups(FullBackupEnvironment environment);

    // The backups in the data folder: every plain file whose name holds "reg" first in its
    // last three characters, the oldest first (those whose name is no number last, by name).
    std::vector<FullBackupRow> RefreshFullBackups() const;

    // Takes a backup of the whole registry now, and makes it the latest restore point of the
    // settings. Refused when a backup of this second exists. On failure no file is left and the
    // settings are unchanged. progress: as for ExportWholeRegistry.
    [[nodiscard]] FileError Take(const std::function<void(std::uint64_t keysWritten)>& progress,
                                 std::filesystem::path* file);

    // Restores the backup of that name: checks the file whole, makes a restore point, imports
    // the file into the target's 64-bit view, then calls saveRegistry, which writes the
    // target's changed registry. The restore point is completed once that succeeded, and
    // cancelled when anything before the save failed (nothing is then to be saved). When the
    // save itself fails the restore point is kept, as it was begun, to put the registry back.
    FullBackupRestore Restore(std::string_view name,
                              const std::function<FileError()>& saveRegistry);

    // Deletes the backup of that name; the name must be one RefreshFullBackups lists.
    [[nodiscard]] FileError Delete(std::string_view name);

    // The program's first full backup is asked for once per user: true, and the first-run flag
    // set, when the value "FirstRunBackup" is not in the settings key of configStore yet (it is
    // then written as the DWORD 1); false when it is there or the key cannot be opened.
    bool RequestFirstRunBackup(IRegistry& configStore);
    // Set by a request that was granted, for the rest of the run.
    bool FirstRunRequested() const { return firstRunRequested_; }

private:
    // The path of a backup the user names; an error when the name is no backup's name.
    std::optional<std::filesystem::path> PathOfName(std::string_view name,
                                                    std::string* error) const;
    std::u16string Text(std::u16string_view id) const;

    FullBackupEnvironment environment_;
    bool firstRunRequested_ = false;
};

}  // namespace quillary
