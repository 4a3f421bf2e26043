#include "targets/wine/prefix_restore_points.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <random>
#include <system_error>

#include "core/text.h"
#include "platform/file_io.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wineserver_lock.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// The files a restore point keeps, in the order its index lists them.
constexpr std::array<std::string_view, 3> kRegistryFiles = {"system.reg", "user.reg",
                                                            "userdef.reg"};
constexpr std::string_view kIndexFileName = "restore point.txt";
constexpr std::string_view kIndexSignature = "Quillary restore point 1";
constexpr std::size_t kMaxIndexBytes = 64 * 1024;
// As the registry store: a registry file is text, and nothing near this size is one.
constexpr std::size_t kMaxRegistryFileBytes = std::size_t{4} << 30;
// Seconds since 1970 a restore point may carry: the range the system clock can hold.
constexpr std::int64_t kMaxCreatedSeconds = 9'000'000'000;
// How many numbers are tried when other writers take the next ones at the same moment.
constexpr int kMaxReservationAttempts = 1000;

// A registry file's bytes; nullopt for a file the prefix does not have.
using FileBytes = std::optional<std::vector<std::uint8_t>>;

// What the index records of one copied file, so that a damaged copy is never put back.
struct FileRecord {
    bool present = false;
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
};

struct RestorePointIndex {
    std::int64_t sequenceNumber = 0;
    std::uint32_t type = ApplicationInstall;
    bool complete = false;
    std::int64_t createdSeconds = 0;
    std::u16string description;
    std::array<FileRecord, kRegistryFiles.size()> files;
};

// FNV-1a, 64 bits: stable across builds and platforms, as a value kept on disk must be.
std::uint64_t HashOf(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

FileRecord RecordOf(const FileBytes& bytes) {
    if (!bytes) {
        return {};
    }
    return FileRecord{true, bytes->size(), HashOf(*bytes)};
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base = 10) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The sequence number a folder name spells: plain decimal digits, no sign or leading zero.
std::optional<std::int64_t> SequenceOfFolderName(std::string_view name) {
    if (name.empty() || name.front() == '0' ||
        !std::all_of(name.begin(), name.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        return std::nullopt;
    }
    return ParseNumber<std::int64_t>(name);
}

std::string HexOf(std::uint64_t value) {
    char digits[17];
    const auto [end, error] = std::to_chars(digits, digits + 16, value, 16);
    std::string text(digits, end);
    return std::string(16 - text.size(), '0') + text;
}

// The description on one line: backslashes, line feeds and carriage returns are escaped.
std::string EscapeDescription(std::u16string_view description) {
    std::string escaped;
    for (const char ch : Utf16ToUtf8(description)) {
        switch (ch) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += ch;
        }
    }
    return escaped;
}

std::u16string UnescapeDescription(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return Utf8ToUtf16(plain);
}

std::string SerializeIndex(const RestorePointIndex& index) {
    std::string text(kIndexSignature);
    text += "\nsequence=" + std::to_string(index.sequenceNumber);
    text += "\ntype=" + std::to_string(index.type);
    text += index.complete ? "\nstate=complete" : "\nstate=begun";
    text += "\ncreated=" + std::to_string(index.createdSeconds);
    text += "\ndescription=" + EscapeDescription(index.description);
    for (std::size_t i = 0; i < kRegistryFiles.size(); ++i) {
        const FileRecord& file = index.files[i];
        text += "\n" + std::string(kRegistryFiles[i]) + "=";
        text += file.present ? std::to_string(file.size) + " " + HexOf(file.hash) : "absent";
    }
    text += "\n";
    return text;
}

std::optional<FileRecord> ParseFileRecord(std::string_view text) {
    if (text == "absent") {
        return FileRecord{};
    }
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const auto size = ParseNumber<std::uint64_t>(text.substr(0, blank));
    const std::string_view hashText = text.substr(blank + 1);
    const auto hash =
        hashText.size() == 16 ? ParseNumber<std::uint64_t>(hashText, 16) : std::nullopt;
    if (!size || !hash) {
        return std::nullopt;
    }
    return FileRecord{true, *size, *hash};
}

// Reads an index, trusting none of it: every field must be present once and well formed.
std::optional<RestorePointIndex> ParseIndex(std::string_view text, std::string* why) {
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (first) {
            if (line != kIndexSignature) {
                *why = "its index is not a restore point's";
                return std::nullopt;
            }
            first = false;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            *why = "its index has a line without a value";
            return std::nullopt;
        }
        fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    const auto field = [&](std::string_view name) -> std::optional<std::string_view> {
        std::optional<std::string_view> found;
        for (const auto& [key, value] : fields) {
            if (key == name) {
                if (found) {
                    return std::nullopt;  // twice is as bad as not at all
                }
                found = value;
            }
        }
        return found;
    };
    const auto bad = [why](std::string_view name) {
        *why = "its index has no valid " + std::string(name);
        return std::nullopt;
    };

    RestorePointIndex index;
    const auto sequence = field("sequence");
    const auto sequenceNumber = sequence ? SequenceOfFolderName(*sequence) : std::nullopt;
    if (!sequenceNumber) {
        return bad("sequence");
    }
    index.sequenceNumber = *sequenceNumber;
    const auto type = field("type");
    const auto typeNumber = type ? ParseNumber<std::uint32_t>(*type) : std::nullopt;
    if (!typeNumber) {
        return bad("type");
    }
    index.type = *typeNumber;
    const auto state = field("state");
    if (!state || (*state != "complete" && *state != "begun")) {
        return bad("state");
    }
    index.complete = *state == "complete";
    const auto created = field("created");
    const auto seconds = created ? ParseNumber<std::int64_t>(*created) : std::nullopt;
    if (!seconds || *seconds < 0 || *seconds > kMaxCreatedSeconds) {
        return bad("created");
    }
    index.createdSeconds = *seconds;
    const auto description = field("description");
    if (!description) {
        return bad("description");
    }
    index.description = UnescapeDescription(*description);
    for (std::size_t i = 0; i < kRegistryFiles.size(); ++i) {
        const auto value = field(kRegistryFiles[i]);
        const auto record = value ? ParseFileRecord(*value) : std::nullopt;
        if (!record) {
            return bad(kRegistryFiles[i]);
        }
        index.files[i] = *record;
    }
    if (!index.files[0].present) {
        return bad(kRegistryFiles[0]);  // every prefix has one
    }
    return index;
}

std::optional<RestorePointIndex> ReadIndex(const fs::path& folder, std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (FileError failure = ReadWholeFile(folder / kIndexFileName, kMaxIndexBytes, bytes)) {
        *why = *failure;
        return std::nullopt;
    }
    return ParseIndex({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, why);
}

FileError WriteIndex(const fs::path& folder, const RestorePointIndex& index) {
    const std::string text = SerializeIndex(index);
    return ReplaceFileAtomically(folder / kIndexFileName,
                                 {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// The prefix's registry files as they are now. Read into memory, never linked: Wine rewrites a
// file with several links in place, which would change the copy too.
FileError ReadRegistryFiles(const fs::path& prefix, std::span<FileBytes, 3> files) {
    for (std::size_t i = 0; i < kRegistryFiles.size(); ++i) {
        const fs::path path = prefix / kRegistryFiles[i];
        std::error_code code;
        if (!fs::exists(path, code)) {
            if (i == 0) {
                return prefix.string() + " is not a Wine prefix: it has no system.reg";
            }
            files[i].reset();
            continue;
        }
        files[i].emplace();
        if (FileError failure = ReadWholeFile(path, kMaxRegistryFileBytes, *files[i])) {
            return failure;
        }
    }
    return std::nullopt;
}

// Puts one registry file in place, or removes it when the prefix did not have it.
FileError PutRegistryFile(const fs::path& path, const FileBytes& bytes) {
    if (bytes) {
        return ReplaceFileAtomically(path, *bytes);
    }
    std::error_code code;
    fs::remove(path, code);
    if (code) {
        return "cannot remove " + path.string() + ": " + code.message();
    }
    return std::nullopt;
}

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

// Reads the copies a restore point's index lists, each checked against its size and hash;
// the reason when one is missing or is not as it was taken.
FileError ReadCheckedCopies(const fs::path& folder, const RestorePointIndex& index,
                            std::span<FileBytes, 3> copies) {
    for (std::size_t i = 0; i < kRegistryFiles.size(); ++i) {
        const FileRecord& record = index.files[i];
        if (!record.present) {
            copies[i].reset();
            continue;
        }
        const fs::path copy = folder / kRegistryFiles[i];
        const std::string name(kRegistryFiles[i]);
        std::error_code code;
        if (!fs::exists(copy, code)) {
            return "its copy of " + name + " is missing";
        }
        copies[i].emplace();
        if (FileError failure = ReadWholeFile(copy, kMaxRegistryFileBytes, *copies[i])) {
            return failure;
        }
        const FileRecord read = RecordOf(copies[i]);
        if (read.size != record.size || read.hash != record.hash) {
            return "its copy of " + name + " is not as it was taken";
        }
    }
    return std::nullopt;
}

std::string RestorePointName(std::int64_t sequenceNumber) {
    return "restore point " + std::to_string(sequenceNumber);
}

}  // namespace

CPrefixRestorePoints::CPrefixRestorePoints(fs::path prefix, fs::path dataFolder,
                                           const IClock& clock)
    : prefix_(std::move(prefix)),
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
        if (FileError failure = ReadRegistryFiles(prefix_, files)) {
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
    std::optional<RestorePointIndex> index = ReadIndex(folder, &why);
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
    if (FileError failure = WriteIndex(folder, *index)) {
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
    for (std::size_t i = 0; i < kRegistryFiles.size() && !failure; ++i) {
        index.files[i] = RecordOf(files[i]);
        if (files[i]) {
            failure = ReplaceFileAtomically(folder / kRegistryFiles[i], *files[i]);
        }
    }
    // The index comes last: a folder without one never counts as a restore point.
    if (!failure) {
        failure = WriteIndex(folder, index);
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
        const std::optional<RestorePointIndex> index = ReadIndex(folder, &why);
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
    const std::optional<RestorePointIndex> index = ReadIndex(folder, &why);
    if (!index || index->sequenceNumber != sequenceNumber) {
        return {RestoreOutcome::SnapshotDamaged,
                name + " is damaged: " + (index ? "its index names another restore point" : why),
                0};
    }
    RegistryFiles snapshot;
    if (FileError damage = ReadCheckedCopies(folder, *index, snapshot)) {
        return {RestoreOutcome::SnapshotDamaged, name + " is damaged: " + *damage, 0};
    }

    RegistryFiles current;
    if (FileError failure = ReadRegistryFiles(prefix_, current)) {
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
    for (std::size_t i = 0; i < kRegistryFiles.size(); ++i) {
        FileError failure = PutRegistryFile(prefix_ / kRegistryFiles[i], snapshot[i]);
        if (!failure) {
            continue;
        }
        bool putBack = true;
        for (std::size_t done = 0; done < i; ++done) {
            putBack &= !PutRegistryFile(prefix_ / kRegistryFiles[done], current[done]);
        }
        std::string message = *failure;
        message += putBack
                       ? "; the registry files were put back as they were"
                       : "; the registry files as they were are kept in " + RestorePointName(undo);
        return {RestoreOutcome::Failed, message, undo};
    }
    return {RestoreOutcome::Restored, {}, undo};
}

}  // namespace quillary
