#pragma once

// Restore points of a Wine prefix. A restore point is a copy of the prefix's three registry
// files (system.reg, user.reg, userdef.reg) taken before the program changes them, kept with
// its description, type and time in a folder of its own below the program's data folder:
// <data folder>/Restore Points/<sequence number>/. The begin call of the restore-point service
// takes the copy, the end call marks it complete and a cancelled change removes it. Restore
// points can be listed and put back; putting one back first keeps the files it replaces as a
// restore point of their own, so a restore can itself be undone.
// This is the store; each restore point's index is written and read by
// prefix_restore_point_index.h, and the files are put back by prefix_restore_transaction.h.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/restore_points.h"

namespace quillary {

// The folder below the data folder that holds the restore points.
inline constexpr std::string_view kRestorePointsFolderName = "Restore Points";

struct PrefixRestorePoint {
    std::int64_t sequenceNumber = 0;
    std::uint32_t restorePointType = ApplicationInstall;
    std::u16string description;
    std::chrono::system_clock::time_point created;
    // False while the change it came before is still going on, or when that change never
    // ended (the program stopped before it did). The copy is whole either way.
    bool complete = false;
};

struct RestorePointList {
    std::vector<PrefixRestorePoint> points;  // by sequence number
    // Folders of the store that hold no readable restore point, each with the reason.
    std::vector<std::string> problems;
};

enum class RestoreOutcome {
    Restored,
    UnknownRestorePoint,
    WineRunning,      // a wineserver runs for the prefix: nothing was changed
    SnapshotDamaged,  // a copied file is missing or not as it was taken: nothing was changed
    Failed,           // the files could not be replaced; those already replaced were put back
};

struct RestoreResult {
    RestoreOutcome outcome = RestoreOutcome::Failed;
    // What happened, in words for the user; empty when the restore point was put back.
    std::string message;
    // The restore point that keeps the files as they were before; 0 when none was made.
    std::int64_t undoSequenceNumber = 0;
};

class CPrefixRestorePoints final : public IRestorePoints {
public:
    // prefix: the Wine prefix. dataFolder: the program's data folder of this prefix; when it
    // is empty there is nowhere to keep restore points and the service is disabled.
    // The files are read and written through files, which must outlive this object.
    CPrefixRestorePoints(IFileIo& files, std::filesystem::path prefix,
                         const std::filesystem::path& dataFolder, const IClock& clock);

    // Begin: copies the three files into a new restore point (refused with
    // ErrorBadEnvironment while Wine runs for the prefix, since its files then lag behind
    // the registry Wine holds). End: marks the restore point complete, or removes it when the
    // type is CancelledOperation; ErrorInvalidData when the sequence number names no restore
    // point in progress. ErrorServiceDisabled without a data folder, ErrorInternalError when
    // a file cannot be read or written (nothing is left behind then); any other event type
    // gives ErrorInvalidParameter.
    bool SRSetRestorePointW(const RestorePointInfo& request, StateMgrStatus* status) override;
    // Why the last call since the last begin failed, in words; empty when none failed.
    const std::string& LastError() const { return lastError_; }

    RestorePointList List() const;

    // Puts the three files of a restore point back, each replaced atomically. Refused, with
    // nothing changed, while Wine runs for the prefix and when a copied file is missing or
    // damaged. Before anything is replaced the current files are kept as a restore point of
    // the type RestoreRestorePoint.
    RestoreResult Restore(std::int64_t sequenceNumber);

    const std::filesystem::path& StoreFolder() const { return storeFolder_; }

private:
    // The bytes of system.reg, user.reg and userdef.reg; nullopt for a file the prefix does
    // not have (Wine makes it on its next save).
    using RegistryFiles = std::array<std::optional<std::vector<std::uint8_t>>, 3>;

    bool Fail(StateMgrStatus* status, LStatus code, std::string reason);
    // Keeps files as a new restore point and answers its number; on failure nothing is left.
    [[nodiscard]] FileError WriteRestorePoint(std::uint32_t type, std::u16string_view description,
                                              const RegistryFiles& files, bool complete,
                                              std::int64_t* sequenceNumber);
    [[nodiscard]] FileError RemoveRestorePoint(std::int64_t sequenceNumber) const;
    std::filesystem::path FolderOf(std::int64_t sequenceNumber) const;

    IFileIo& files_;
    std::filesystem::path prefix_;
    std::filesystem::path storeFolder_;
    const IClock& clock_;
    std::string lastError_;
};

}  // namespace quillary
