#include "repair/full_backup.h"

#include <algorithm>
#include <chrono>

#include "core/text_encoding.h"
#include "repair/full_registry_export.h"
#include "repair/local_time_text.h"
#include "repair/reg_import.h"
#include "repair/restore_point.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = "reg";
constexpr std::u16string_view kFirstRunValueName = u"FirstRunBackup";
// The moments a date text can show, as the program's time type converts them: from the end
// of the year 3000 back as far before 1970.
constexpr std::int64_t kLastShownSecond = 32'535'215'999;

// "reg" first at the name's last three characters: "123.reg" and "backup.reg" are backup
// names, "abc.reg.old" and "reg.reg" are not.
bool IsFullBackupName(std::string_view name) {
    return name.size() >= kExtension.size() &&
           name.find(kExtension) == name.size() - kExtension.size();
}

// The number a backup's name stands for: its part before the first "." read as a decimal
// number of seconds; nullopt when that part is not one, or not a moment a date can show.
std::optional<std::int64_t> SecondsOfName(std::string_view name) {
    std::string_view digits = name.substr(0, name.find('.'));
    const bool negative = digits.starts_with('-');
    if (negative)
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 12)
        return std::nullopt;
    std::int64_t value = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        value = value * 10 + (ch - '0');
    }
    if (value > kLastShownSecond)
        return std::nullopt;
    return negative ? -value : value;
}

std::u16string DateTextOf(std::string_view name) {
    const std::optional<std::int64_t> seconds = SecondsOfName(name);
    if (!seconds)
        return {};
    const auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(*seconds));
    return FormatLocalTime("%a. %b %d, %Y. %I:%M %p", moment);
}

// Oldest first; names that are no number after all of those, by name.
bool ListedBefore(const FullBackupRow& a, const FullBackupRow& b) {
    const std::optional<std::int64_t> first = SecondsOfName(a.name);
    const std::optional<std::int64_t> second = SecondsOfName(b.name);
    if (first.has_value() != second.has_value())
        return first.has_value();
    if (first && *first != *second)
        return *first < *second;
    return a.name < b.name;
}

std::int64_t SecondsOf(std::chrono::system_clock::time_point moment) {
    return std::chrono::floor<std::chrono::seconds>(moment.time_since_epoch()).count();
}

// A request that ends the change of restore point sequenceNumber, as type.
RestorePointInfo EndRequest(std::int64_t sequenceNumber, std::uint32_t type) {
    RestorePointInfo request;
    request.eventType = EndSystemChange;
    request.restorePointType = type;
    request.sequenceNumber = sequenceNumber;
    return request;
}

}  // namespace

std::string FullBackupFileName(std::int64_t seconds) {
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds & 0xFFFFFFFF));
    return std::to_string(low) + "." + std::string(kExtension);
}

CFullBackups::CFullBackups(FullBackupEnvironment environment)
    : environment_(std::move(environment)) {}

std::u16string CFullBackups::Text(std::u16string_view id) const {
    return environment_.text ? environment_.text(id) : std::u16string();
}

std::vector<FullBackupRow> CFullBackups::RefreshFullBackups() const {
    std::vector<FullBackupRow> rows;
    std::error_code code;
    for (fs::directory_iterator it(environment_.dataFolder, code), end; !code && it != end;
         it.increment(code)) {
        std::error_code fileError;
        const std::string name = it->path().filename().string();
        if (!it->is_regular_file(fileError) || !IsFullBackupName(name))
            continue;
        const std::uintmax_t size = it->file_size(fileError);
        rows.push_back({name, DateTextOf(name), fileError ? 0 : size});
    }
    // A folder lists its files in no set order here.
    std::sort(rows.begin(), rows.end(), ListedBefore);
    return rows;
}

FileError CFullBackups::Take(const std::function<void(std::uint64_t)>& progress, fs::path* file) {
    if (environment_.dataFolder.empty())
        return "there is no data folder to keep full backups in";
    std::error_code code;
    fs::create_directories(environment_.dataFolder, code);
    if (code)
        return "cannot create " + environment_.dataFolder.string() + ": " + code.message();
    const auto now = environment_.clock.Now();
    const fs::path path = environment_.dataFolder / FullBackupFileName(SecondsOf(now));
    if (fs::exists(fs::symlink_status(path, code))) {
        return "a full backup of this second exists (" + path.string() +
               "); take the next one a second later";
    }
    if (FileError error =
            ExportWholeRegistry(environment_.target, environment_.fileIo, path, progress)) {
        return error;
    }
    environment_.settings.StrLatestRestorePoint =
        FormatLocalTime("%a. %B %d, %Y. %I:%M %p ", now) + Text(u"IDS_STR_FULLBACKUP");
    if (file != nullptr)
        *file = path;
    return std::nullopt;
}

std::optional<fs::path> CFullBackups::PathOfName(std::string_view name, std::string* error) const {
    // A name, never a path: nothing outside the data folder is ever read or deleted.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        !IsFullBackupName(name)) {
        // Built by appending: GCC's -O3 string concatenation warns wrongly here (-Wrestrict).
        error->assign(1, '"');
        error->append(name);
        error->append(
            "\" is not the name of a full backup: give a file name of the data folder that ends "
            "in .reg, as the list shows it");
        return std::nullopt;
    }
    return environment_.dataFolder / name;
}

FullBackupRestore CFullBackups::Restore(std::string_view name,
                                        const std::function<FileError()>& saveRegistry) {
    std::string error;
    const std::optional<fs::path> path = PathOfName(name, &error);
    using Outcome = FullBackupRestore::Outcome;
    if (!path)
        return {Outcome::UnknownBackup, error};
    std::error_code code;
    if (!fs::is_regular_file(*path, code)) {
        const std::u16string missing = Text(u"IDC_STR_BACKUP_FILE_MISSING");
        return {Outcome::UnknownBackup,
                missing.empty() ? "the backup file " + path->string() + " does not exist"
                                : Utf16ToUtf8(missing)};
    }
    const RegistryTarget& target = environment_.target;
    if (std::optional<RegImportError> wrong = CheckRegFile(target, environment_.fileIo, *path)) {
        return {Outcome::Refused,
                path->string() +
                    (wrong->line > 0 ? ", line " + std::to_string(wrong->line) : std::string()) +
                    ": " + wrong->message + "; nothing was restored"};
    }

    // No change without an undo copy.
    if (environment_.restorePoints == nullptr) {
        return {Outcome::Refused,
                "the target keeps no restore points to undo a restore with; nothing was restored"};
    }
    RestorePointInfo begin;
    begin.eventType = BeginSystemChange;
    begin.restorePointType = ModifySettings;
    const std::u16string description = u"Before restoring the full backup " + Utf8ToUtf16(name);
    const std::u16string_view cut = CutRestorePointDescription(description);
    std::copy(cut.begin(), cut.end(), begin.description.begin());
    StateMgrStatus status;
    if (!environment_.restorePoints->SRSetRestorePointW(begin, &status)) {
        return {Outcome::Refused, "no restore point could be made to undo the restore (error " +
                                      std::to_string(status.status) + "); nothing was restored"};
    }
    const std::int64_t restorePoint = status.sequenceNumber;

    if (std::optional<std::string> failure =
            ImportRegFile(target, true, environment_.fileIo, *path)) {
        StateMgrStatus ignored;
        environment_.restorePoints->SRSetRestorePointW(EndRequest(restorePoint, CancelledOperation),
                                                       &ignored);
        return {Outcome::Failed, path->string() + ": " + *failure + "; nothing was saved"};
    }
    if (FileError failure = saveRegistry ? saveRegistry() : std::nullopt) {
        return {Outcome::Failed,
                "the restored registry could not be saved: " + *failure + "; restore point " +
                    std::to_string(restorePoint) + " puts it back as it was",
                restorePoint};
    }
    StateMgrStatus ended;
    environment_.restorePoints->SRSetRestorePointW(EndRequest(restorePoint, ModifySettings),
                                                   &ended);
    return {Outcome::Restored, {}, restorePoint};
}

FileError CFullBackups::Delete(std::string_view name) {
    std::string error;
    const std::optional<fs::path> path = PathOfName(name, &error);
    if (!path)
        return error;
    std::error_code code;
    if (!fs::is_regular_file(*path, code))
        return "no full backup " + std::string(name) + " in " + environment_.dataFolder.string();
    if (!fs::remove(*path, code) || code)
        return "cannot delete " + path->string() + ": " + code.message();
    environment_.fileIo.FlushFolder(environment_.dataFolder);
    return std::nullopt;
}

bool CFullBackups::RequestFirstRunBackup(IRegistry& configStore) {
    ConfigKey key(configStore, HKeyCurrentUser);
    if (!key.Open(HKeyCurrentUser, kSettingsKeyPath, true) || key.HasValue(kFirstRunValueName))
        return false;
    // Asked for once: should the mark not be written, the backup is still taken this time.
    (void)key.WriteDword(kFirstRunValueName, 1);
    firstRunRequested_ = true;
    return true;
}

}  // namespace quillary
