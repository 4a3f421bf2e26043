#include "targets/wine/prefix_restore_points.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "core/text_encoding.h"
#include "targets/wine/prefix_restore_point_index.h"
#include "targets/wine/prefix_restore_transaction.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wineserver_lock.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// How many numbers are tried when other writers take the next ones at the same moment.
constexpr int kMaxReservationAttempts = 1000;

// The folders of the store named by a sequence number, with their numbers. Without the store
// folder there are none; *error tells why the folder could not be read to its end.
std::vector<std::pair<std::int64_t, fs::path>> NumberedFolders(const fs::path& store,
                                                               std::string* error) {
    std::vector<std::pair<std::int64_t, fs::path>> folders;
    std::error_code code;
    if (!fs::is_directory(store, code)) {
        return folders;
    }
    fs::directory_iterator entry(store, code);
    for (; !code && entry != fs::directory_iterator(); entry.increment(code)) {
        std::error_code typeCode;
        const std::optional<std::int64_t> sequence =
            SequenceOfFolderName(entry->path().filename().string());
        if (sequence && entry->is_directory(typeCode)) {
            folders.emplace_back(*sequence, entry->path());
        }
    }
    if (code) {
        *error = "cannot read " + store.string() + ": " + code.message();
    }
    return folders;
}

std::string RestorePointName(std::int64_t sequenceNumber) {
    return "restore point " + std::to_string(sequenceNumber);
}

}  // namespace

CPrefixRestorePoints::CPrefixRestorePoints(IFileIo& files, fs::path prefix,
                                           const fs::path& dataFolder, const IClock& clock)
    : files_(files),
      prefix_(std::move(prefix)),
      storeFolder_(dataFolder.empty() ? fs::path() : dataFolder / kRestorePointsFolderName),
      clock_(clock) {}

fs::path CPrefixRestorePoints::FolderOf(std::int64_t sequenceNumber) const {
    return storeFolder_ / std::to_string(sequenceNumber);
}

bool CPrefixRestorePoints::Fail(StateMgrStatus* status, LStatus code, std::string reason) {
    status->status = code;
    lastError_ = std::move(reason);
    return false;
}

bool CPrefixRestorePoints::SRSetRestorePointW(const RestorePointInfo& request,
                                              StateMgrStatus* status) {
    *status = StateMgrStatus{};
    // A restore point's error is kept until the next one begins: the cancel that follows a
    // failed end must not hide why it failed.
    if (request.eventType == BeginSystemChange)
        lastError_.clear();
    if (storeFolder_.empty()) {
        return Fail(status, ErrorServiceDisabled,
                    "there is no data folder to keep restore points in");
    }
    if (request.eventType == BeginSystemChange) {
        if (FindRunningWineServer(prefix_)) {
            return Fail(status, ErrorBadEnvironment, std::string(kWineRunningMessage));
        }
        RegistryFiles files;
        if (FileError failure = ReadRegistryFiles(files_, prefix_, files)) {
            return Fail(status, ErrorInternalError, *failure);
        }
        const auto end = std::find(request.description.begin(), request.description.end(), u'\0');
        const std::u16string_view description(request.description.data(),
                                              end - request.description.begin());
        std::int64_t sequenceNumber = 0;
        if (FileError failure = WriteRestorePoint(request.restorePointType, description, files,
                                                  false, &sequenceNumber)) {
            return Fail(status, ErrorInternalError, *failure);
        }
        status->sequenceNumber = sequenceNumber;
        return true;
    }
    if (request.eventType != EndSystemChange) {
        return Fail(status, ErrorInvalidParameter,
                    "unknown event type " + std::to_string(request.eventType));
    }
    const fs::path folder = FolderOf(request.sequenceNumber);
    std::string why;
    std::optional<RestorePointIndex> index = ReadIndex(files_, folder, &why);
    if (request.sequenceNumber <= 0 || !index || index->complete) {
        return Fail(status, ErrorInvalidData,
                    "there is no " + RestorePointName(request.sequenceNumber) + " in progress");
    }
    status->sequenceNumber = request.sequenceNumber;
    if (request.restorePointType == CancelledOperation) {
        if (FileError failure = RemoveRestorePoint(request.sequenceNumber)) {
            return Fail(status, ErrorInternalError, *failure);
        }
        return true;
    }
    index->complete = true;
    if (FileError failure = WriteIndex(files_, folder, *index)) {
        return Fail(status, ErrorInternalError, *failure);
    }
    return true;
}

FileError CPrefixRestorePoints::WriteRestorePoint(std::uint32_t type,
                                                  std::u16string_view description,
                                                  const RegistryFiles& files, bool complete,
                                                  std::int64_t* sequenceNumber) {
    std::error_code code;
    fs::create_directories(storeFolder_, code);
    if (code) {
        return "cannot make " + storeFolder_.string() + ": " + code.message();
    }
    // The next number after the highest in use; creating its folder claims it, so two
    // writers at the same moment never share one.
    std::string unreadable;
    std::int64_t next = 1;
    for (const auto& [used, path] : NumberedFolders(storeFolder_, &unreadable)) {
        next = std::max(next, used + 1);
    }
    if (!unreadable.empty()) {
        return unreadable;
    }
    fs::path folder;
    for (int attempt = 0;; ++attempt, ++next) {
        if (attempt == kMaxReservationAttempts) {
            return "cannot make a folder for a new restore point in " + storeFolder_.string();
        }
        folder = FolderOf(next);
        if (fs::create_directory(folder, code)) {
            break;
        }
        if (code) {
            return "cannot make " + folder.string() + ": " + code.message();
        }
    }

    RestorePointIndex index;
    index.sequenceNumber = next;
    index.type = type;
    index.complete = complete;
    index.createdSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(clock_.Now().time_since_epoch()).count();
    index.description = description;
    FileError failure;
    for (std::size_t i = 0; i < kRestorePointFiles.size() && !failure; ++i) {
        index.files[i] = RecordOf(files[i]);
        if (files[i]) {
            failure = files_.ReplaceFileAtomically(folder / kRestorePointFiles[i], *files[i]);
        }
    }
    // The index comes last: a folder without one never counts as a restore point.
    if (!failure) {
        failure = WriteIndex(files_, folder, index);
    }
    if (failure) {
        (void)RemoveRestorePoint(next);
        return failure;
    }
    *sequenceNumber = next;
    return std::nullopt;
}

// The folder is first renamed out of the store, so a removal cut short never leaves a
// half-emptied restore point to be listed or put back.
FileError CPrefixRestorePoints::RemoveRestorePoint(std::int64_t sequenceNumber) const {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    const fs::path folder = FolderOf(sequenceNumber);
    const fs::path doomed =
        storeFolder_ / (".removed-" + std::to_string(sequenceNumber) + "-" + HexOf(generator()));
    std::error_code code;
    fs::rename(folder, doomed, code);
    if (code) {
        return "cannot remove " + folder.string() + ": " + code.message();
    }
    fs::remove_all(doomed, code);
    return std::nullopt;
}

RestorePointList CPrefixRestorePoints::List() const {
    RestorePointList list;
    if (storeFolder_.empty()) {
        return list;
    }
    std::string unreadable;
    for (const auto& [sequence, folder] : NumberedFolders(storeFolder_, &unreadable)) {
        std::string why;
        const std::optional<RestorePointIndex> index = ReadIndex(files_, folder, &why);
        if (!index || index->sequenceNumber != sequence) {
            list.problems.push_back(folder.string() + ": " +
                                    (index ? "its index names another restore point" : why));
            continue;
        }
        list.points.push_back(PrefixRestorePoint{
            index->sequenceNumber, index->type, index->description,
            std::chrono::system_clock::time_point(std::chrono::seconds(index->createdSeconds)),
            index->complete});
    }
    if (!unreadable.empty()) {
        list.problems.push_back(unreadable);
    }
    std::sort(list.points.begin(), list.points.end(),
              [](const auto& a, const auto& b) { return a.sequenceNumber < b.sequenceNumber; });
    return list;
}

RestoreResult CPrefixRestorePoints::Restore(std::int64_t sequenceNumber) {
    const std::string name = RestorePointName(sequenceNumber);
    std::error_code code;
    const fs::path folder = FolderOf(sequenceNumber);
    if (storeFolder_.empty() || sequenceNumber <= 0 || !fs::is_directory(folder, code)) {
        return {RestoreOutcome::UnknownRestorePoint, "there is no " + name, 0};
    }
    if (FindRunningWineServer(prefix_)) {
        return {RestoreOutcome::WineRunning, std::string(kWineRunningMessage), 0};
    }

    // Every copy is read and checked before anything changes.
    std::string why;
    const std::optional<RestorePointIndex> index = ReadIndex(files_, folder, &why);
    if (!index || index->sequenceNumber != sequenceNumber) {
        return {RestoreOutcome::SnapshotDamaged,
                name + " is damaged: " + (index ? "its index names another restore point" : why),
                0};
    }
    RegistryFiles snapshot;
    if (FileError damage = ReadCheckedCopies(files_, folder, *index, snapshot)) {
        return {RestoreOutcome::SnapshotDamaged, name + " is damaged: " + *damage, 0};
    }

    RegistryFiles current;
    if (FileError failure = ReadRegistryFiles(files_, prefix_, current)) {
        return {RestoreOutcome::Failed, *failure + "; nothing was changed", 0};
    }
    std::int64_t undo = 0;
    if (FileError failure = WriteRestorePoint(
            RestoreRestorePoint, Utf8ToUtf16("Before restoring " + name), current, true, &undo)) {
        return {RestoreOutcome::Failed,
                "cannot keep the current registry files: " + *failure + "; nothing was changed", 0};
    }

    // Wine may have started while the files were read and kept.
    if (FindRunningWineServer(prefix_)) {
        (void)RemoveRestorePoint(undo);
        return {RestoreOutcome::WineRunning, std::string(kWineRunningMessage), 0};
    }
    bool putBack = true;
    if (FileError failure = PutRegistryFiles(files_, prefix_, snapshot, current, &putBack)) {
        std::string message = *failure;
        message += putBack
                       ? "; the registry files were put back as they were"
                       : "; the registry files as they were are kept in " + RestorePointName(undo);
        return {RestoreOutcome::Failed, message, undo};
    }
    return {RestoreOutcome::Restored, {}, undo};
}

}  // namespace quillary
