#include "targets/wine/wine_prefix_registry.h"

#include <sys/stat.h>
#include <ctime>

#include <bit>
#include <cstring>
#include <exception>
#include <span>
#include <system_error>
#include <thread>

#include "targets/wine/wine_reg_writer.h"
#include "targets/wine/wineserver_lock.h"

namespace quillary {
namespace {

// A registry file is text; anything near this size is not one Wine wrote.
constexpr std::size_t kMaxRegistryFileBytes = std::size_t{4} << 30;
constexpr auto kServerCheckInterval = std::chrono::seconds(1);
constexpr std::u16string_view kWow6432Node = u"Wow6432Node";

struct BranchFile {
    const char* fileName;
    const char* relativeTo;
};

// The files, what each is relative to, and where its keys live in the tree.
constexpr BranchFile kSystemFile = {"system.reg", "REGISTRY\\\\Machine"};
constexpr BranchFile kUserFile = {"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"};
constexpr BranchFile kDefaultUserFile = {"userdef.reg", "REGISTRY\\\\User\\\\.Default"};

// A hash of a file's bytes that can be taken piece by piece as the file is read: the same
// bytes give the same value however they are split. It only tells whether a file is still
// the one loaded or saved, so it needs to be fast rather than strong.
class CContentHash {
public:
    void Add(std::string_view bytes) {
        length_ += bytes.size();
        std::size_t at = 0;
        while (carried_ > 0 && carried_ < sizeof carry_ && at < bytes.size()) {
            carry_[carried_++] = bytes[at++];
        }
        if (carried_ == sizeof carry_) {
            Mix(Word(carry_));
            carried_ = 0;
        }
        for (; at + sizeof carry_ <= bytes.size(); at += sizeof carry_) {
            Mix(Word(bytes.data() + at));
        }
        while (at < bytes.size()) {
            carry_[carried_++] = bytes[at++];
        }
    }

    std::size_t Value() const {
        std::uint64_t state = state_;
        for (std::size_t i = 0; i < carried_; ++i) {
            state = (state ^ static_cast<unsigned char>(carry_[i])) * kMultiplier;
        }
        state = (state ^ length_) * kMultiplier;
        return static_cast<std::size_t>(state ^ (state >> 32));
    }

private:
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

    static std::uint64_t Word(const char* bytes) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    }
    void Mix(std::uint64_t word) { state_ = std::rotl((state_ ^ word) * kMultiplier, 29); }

    std::uint64_t state_ = 0xCBF29CE484222325ull;
    std::uint64_t length_ = 0;
    char carry_[8] = {};
    std::size_t carried_ = 0;
};

std::size_t ContentHash(std::string_view bytes) {
    CContentHash hash;
    hash.Add(bytes);
    return hash.Value();
}

// The #arch option among the header lines (before the first key), or empty.
std::string PeekArch(std::string_view bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size() && bytes[offset] != '[') {
        std::size_t end = bytes.find('\n', offset);
        if (end == std::string_view::npos) {
            end = bytes.size();
        }
        std::string_view line = bytes.substr(offset, end - offset);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.starts_with("#arch=")) {
            return std::string(line.substr(6));
        }
        offset = end + 1;
    }
    return {};
}

// The registry files are read in pieces this large: parsed as they come, they are never held
// whole, which keeps the peak memory of a load near the size of the tree it builds.
constexpr std::size_t kReadPieceBytes = std::size_t{1} << 20;

// The #arch option of a registry file, read from its header lines alone; empty when it has
// none or cannot be read.
std::string ReadArch(IFileIo& fileIo, const std::filesystem::path& path) {
    std::string head;
    // Reading stops at the first key line; only the new bytes are searched for it.
    const auto readOn = [&head](std::span<const std::uint8_t> piece) {
        const std::size_t searchFrom = head.empty() ? 0 : head.size() - 1;
        head.append(reinterpret_cast<const char*>(piece.data()), piece.size());
        return !head.starts_with('[') && head.find("\n[", searchFrom) == std::string::npos;
    };
    std::error_code code;
    if (!std::filesystem::exists(path, code) ||
        fileIo.ReadFileInPieces(path, kMaxRegistryFileBytes, std::size_t{1} << 16, readOn)) {
        return {};
    }
    return PeekArch(head);
}

// Reads a registry file into branch piece by piece; the hash of its bytes goes to *hash.
// False, with the branch left empty and the reason reported, when the file cannot be read.
bool ReadBranchFile(IFileIo& fileIo, const std::filesystem::path& path, const std::string& fileName,
                    CRegistryNode& branch, FileTime loadTime, WineRegHeader* header,
                    std::vector<WineRegDiagnostic>* diagnostics, std::size_t* hash) {
    CContentHash content;
    CWineRegPieceReader reader(fileName, branch, loadTime, header, diagnostics);
    const FileError failure = fileIo.ReadFileInPieces(
        path, kMaxRegistryFileBytes, kReadPieceBytes, [&](std::span<const std::uint8_t> piece) {
            const std::string_view text(reinterpret_cast<const char*>(piece.data()), piece.size());
            content.Add(text);
            reader.Feed(text);
            return true;
        });
    if (!failure) {
        reader.Finish();
        *hash = content.Value();
        return true;
    }
    while (branch.ChildCount() > 0) {
        const std::u16string name = branch.ChildAt(branch.ChildCount() - 1)->Name();
        branch.RemoveChild(name);
    }
    diagnostics->push_back(WineRegDiagnostic{fileName, 0, *failure});
    *hash = ContentHash({});
    return false;
}

}  // namespace

bool CWineWow64Policy::Redirects(std::span<const std::u16string_view> /*path*/,
                                 std::span<const std::u16string_view> rest,
                                 const CRegistryNode& node) const {
    if (!rest.empty() && KeyNamesEqual(rest.front(), kWow6432Node)) {
        return false;
    }
    return node.FindChild(kWow6432Node) != nullptr;
}

bool IsWinePrefix(const std::filesystem::path& folder, std::string* why) {
    std::error_code code;
    if (!std::filesystem::is_directory(folder, code)) {
        *why = folder.string() + " is not a folder";
        return false;
    }
    // A FIFO would block the reader for ever, and a folder or a device is no registry file.
    for (const BranchFile* file : {&kSystemFile, &kUserFile, &kDefaultUserFile}) {
        const std::filesystem::path path = folder / file->fileName;
        const std::filesystem::file_status status = std::filesystem::status(path, code);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
            status.type() != std::filesystem::file_type::unknown) {
            *why = path.string() + " is not a regular file";
            return false;
        }
    }
    if (!std::filesystem::is_regular_file(folder / kSystemFile.fileName, code)) {
        *why = folder.string() + " is not a Wine prefix: it has no " + kSystemFile.fileName +
               " (Wine makes one with `WINEPREFIX=" + folder.string() + " wineboot -i`)";
        return false;
    }
    return true;
}

CWinePrefixRegistry::CWinePrefixRegistry(IFileIo& files, std::filesystem::path prefix)
    : files_(files), prefix_(std::move(prefix)) {}

std::unique_ptr<CWinePrefixRegistry> CWinePrefixRegistry::Open(IFileIo& fileIo,
                                                               const std::filesystem::path& prefix,
                                                               std::string* error,
                                                               const IClock* clock) {
    if (!IsWinePrefix(prefix, error))
        return nullptr;
    std::unique_ptr<CWinePrefixRegistry> store(new CWinePrefixRegistry(fileIo, prefix));

    const BranchFile* files[] = {&kSystemFile, &kUserFile, &kDefaultUserFile};
    // Stamped before reading: a file replaced while it is read then counts as changed.
    std::vector<FileStamp> stamps;
    for (const BranchFile* file : files) {
        stamps.push_back(store->StampOf(file->fileName));
    }
    const std::string arch = ReadArch(fileIo, prefix / kSystemFile.fileName);

    MemoryRegistryOptions options;
    options.is64Bit = arch != "win32";
    options.userSid = std::u16string(kWineUserSid);
    options.keyOrder = KeyOrder::LowerCase;
    options.sortValues = true;
    options.wow64Policy = std::make_shared<CWineWow64Policy>();
    options.mergeClassesRoot = true;
    options.createStandardKeys = false;
    options.clock = clock;
    CWinePrefixRegistry* self = store.get();
    options.onChange = [self](const CRegistryNode& node) { self->MarkChanged(node); };
    store->memory_ = std::make_unique<CMemoryRegistry>(std::move(options));

    CRegistryNode& tree = store->memory_->Tree();
    CRegistryNode* users = tree.FindChild(u"User");
    CRegistryNode* branchNodes[] = {tree.FindChild(u"Machine"), users->AddChild(kWineUserSid),
                                    users->AddChild(u".Default")};
    const FileTime loadTime =
        ToFileTime(clock != nullptr ? clock->Now() : std::chrono::system_clock::now());
    // Each file fills its own branch, so the user's files are read on a second thread while
    // system.reg, the largest by far, is read on this one. What each read reports is kept
    // apart and taken in the files' order afterwards, as one thread would have reported it.
    struct FileRead {
        bool present = false;
        bool read = false;
        WineRegHeader header;
        std::vector<WineRegDiagnostic> diagnostics;
        std::size_t contentHash = ContentHash({});
        std::exception_ptr failure;
    };
    FileRead reads[std::size(files)];
    const auto readFile = [&](std::size_t i) {
        try {
            const std::filesystem::path path = prefix / files[i]->fileName;
            std::error_code missing;
            // Wine creates a missing file on its next save; so do we.
            reads[i].present = std::filesystem::exists(path, missing);
            if (reads[i].present) {
                reads[i].read =
                    ReadBranchFile(fileIo, path, files[i]->fileName, *branchNodes[i], loadTime,
                                   &reads[i].header, &reads[i].diagnostics, &reads[i].contentHash);
            }
        } catch (...) {
            reads[i].failure = std::current_exception();
        }
    };
    {
        std::jthread userFiles([&] {
            for (std::size_t i = 1; i < std::size(files); ++i) {
                readFile(i);
            }
        });
        readFile(0);
    }
    for (std::size_t i = 0; i < std::size(files); ++i) {
        FileRead& read = reads[i];
        if (read.failure) {
            std::rethrow_exception(read.failure);
        }
        Branch branch{files[i]->fileName, branchNodes[i], {}, false, stamps[i], read.contentHash};
        branch.header.relativeTo = files[i]->relativeTo;
        branch.header.arch = arch;
        store->diagnostics_.insert(store->diagnostics_.end(), read.diagnostics.begin(),
                                   read.diagnostics.end());
        if (read.read) {
            if (read.header.arch != arch) {
                store->diagnostics_.push_back(
                    WineRegDiagnostic{branch.fileName, 0,
                                      "its #arch (" + read.header.arch +
                                          ") differs from system.reg's (" + arch + ")"});
            }
            if (!read.header.relativeTo.empty()) {
                branch.header.relativeTo = read.header.relativeTo;
            }
        }
        store->branches_.push_back(std::move(branch));
    }
    if (!store->diagnostics_.empty()) {
        std::string reason =
            "the registry files were not fully understood, so they will not be "
            "written back (" +
            DescribeDiagnostic(store->diagnostics_.front());
        if (store->diagnostics_.size() > 1) {
            reason += ", and " + std::to_string(store->diagnostics_.size() - 1) + " more";
        }
        store->damage_ = reason + ")";
    }
    return store;
}

void CWinePrefixRegistry::MarkChanged(const CRegistryNode& node) {
    for (const CRegistryNode* ancestor = &node; ancestor != nullptr;
         ancestor = ancestor->Parent()) {
        for (Branch& branch : branches_) {
            if (branch.node == ancestor) {
                branch.dirty = true;
                return;
            }
        }
    }
}

CWinePrefixRegistry::CheckTime CWinePrefixRegistry::CheckClock() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    // Never zero, which marks a check as not yet made.
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) +
           std::chrono::nanoseconds(1);
}

bool CWinePrefixRegistry::WineRunning(CheckTime now) {
    if (lastServerCheck_ == CheckTime{} || now - lastServerCheck_ >= kServerCheckInterval) {
        serverRunning_ = FindRunningWineServer(prefix_).has_value();
        lastServerCheck_ = now;
    }
    return serverRunning_;
}

CWinePrefixRegistry::FileStamp CWinePrefixRegistry::StampOf(const std::string& fileName) const {
    struct stat info {};
    if (::stat((prefix_ / fileName).c_str(), &info) != 0) {
        return {};
    }
    return FileStamp{
        true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
        static_cast<std::int64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// A file whose stamp moved is read again: a wineserver that ends saves the registry even when
// nothing changed, and a file with the same bytes is no change.
bool CWinePrefixRegistry::FilesChangedSinceRead(CheckTime now) {
    // Once changed, the files stay changed for this store; an unchanged answer is asked
    // anew at most once per interval, since a scan opens keys for writing by the million.
    if (filesChanged_ ||
        (lastFilesCheck_ != CheckTime{} && now - lastFilesCheck_ < kServerCheckInterval)) {
        return filesChanged_;
    }
    lastFilesCheck_ = now;
    filesChanged_ = FilesDifferFromStamps();
    return filesChanged_;
}

bool CWinePrefixRegistry::FilesDifferFromStamps() {
    std::lock_guard lock(memory_->Mutex());
    for (Branch& branch : branches_) {
        const FileStamp stamp = StampOf(branch.fileName);
        if (stamp == branch.stamp) {
            continue;
        }
        std::vector<std::uint8_t> bytes;
        if (!stamp.exists || !branch.stamp.exists ||
            files_.ReadWholeFile(prefix_ / branch.fileName, kMaxRegistryFileBytes, bytes) ||
            ContentHash({reinterpret_cast<const char*>(bytes.data()), bytes.size()}) !=
                branch.contentHash) {
            return true;
        }
        branch.stamp = stamp;
    }
    return false;
}

std::optional<std::string> CWinePrefixRegistry::WriteRefusal() {
    if (damage_) {
        return damage_;
    }
    const CheckTime now = CheckClock();
    if (WineRunning(now)) {
        return std::string(kWineRunningMessage);
    }
    if (FilesChangedSinceRead(now)) {
        return std::string(kRegistryChangedMessage);
    }
    return std::nullopt;
}

std::optional<std::string> CWinePrefixRegistry::ReadWarning() {
    if (!WineRunning(CheckClock())) {
        return std::nullopt;
    }
    return std::string(
        "Wine is running for this prefix: its registry files may lag behind "
        "what its programs see");
}

bool CWinePrefixRegistry::HasUnsavedChanges() const {
    std::lock_guard lock(memory_->Mutex());
    for (const Branch& branch : branches_) {
        if (branch.dirty) {
            return true;
        }
    }
    return false;
}

FileError CWinePrefixRegistry::Save() {
    if (!HasUnsavedChanges()) {
        return std::nullopt;
    }
    // A server started, or a file changed, since the last check would overwrite what we
    // save or be overwritten by it: ask anew.
    lastServerCheck_ = {};
    lastFilesCheck_ = {};
    if (auto refusal = WriteRefusal()) {
        return refusal;
    }
    std::lock_guard lock(memory_->Mutex());
    for (Branch& branch : branches_) {
        if (!branch.dirty) {
            continue;
        }
        const std::string text = FormatWineRegFile(*branch.node, branch.header);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        if (FileError failure =
                files_.ReplaceFileAtomically(prefix_ / branch.fileName, {bytes, text.size()})) {
            return failure;
        }
        branch.stamp = StampOf(branch.fileName);
        branch.contentHash = ContentHash(text);
        branch.dirty = false;
    }
    return std::nullopt;
}

// --- the registry functions: reads pass through, changes only when allowed ---------------

LStatus CWinePrefixRegistry::RegOpenKeyExW(HKey parent, std::u16string_view subKey,
                                           std::uint32_t options, RegSam samDesired, HKey* result) {
    if ((samDesired & KeyChangeRights) != 0 && !WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegOpenKeyExW(parent, subKey, options, samDesired, result);
}

LStatus CWinePrefixRegistry::RegCreateKeyExW(HKey parent, std::u16string_view subKey,
                                             std::u16string_view className, std::uint32_t options,
                                             RegSam samDesired, HKey* result,
                                             std::uint32_t* disposition) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegCreateKeyExW(parent, subKey, className, options, samDesired, result,
                                    disposition);
}

LStatus CWinePrefixRegistry::RegCloseKey(HKey key) {
    return memory_->RegCloseKey(key);
}

LStatus CWinePrefixRegistry::RegEnumKeyExW(HKey key, std::uint32_t index, char16_t* name,
                                           std::uint32_t* nameLength, FileTime* lastWriteTime) {
    return memory_->RegEnumKeyExW(key, index, name, nameLength, lastWriteTime);
}

LStatus CWinePrefixRegistry::RegEnumValueW(HKey key, std::uint32_t index, char16_t* name,
                                           std::uint32_t* nameLength, RegType* type,
                                           std::uint8_t* data, std::uint32_t* dataSize) {
    return memory_->RegEnumValueW(key, index, name, nameLength, type, data, dataSize);
}

LStatus CWinePrefixRegistry::RegQueryInfoKeyW(HKey key, RegKeyInfo* info) {
    return memory_->RegQueryInfoKeyW(key, info);
}

LStatus CWinePrefixRegistry::RegQueryValueExW(HKey key, std::u16string_view valueName,
                                              RegType* type, std::uint8_t* data,
                                              std::uint32_t* dataSize) {
    return memory_->RegQueryValueExW(key, valueName, type, data, dataSize);
}

LStatus CWinePrefixRegistry::RegSetValueExW(HKey key, std::u16string_view valueName, RegType type,
                                            const std::uint8_t* data, std::uint32_t dataSize) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegSetValueExW(key, valueName, type, data, dataSize);
}

LStatus CWinePrefixRegistry::RegDeleteValueW(HKey key, std::u16string_view valueName) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegDeleteValueW(key, valueName);
}

LStatus CWinePrefixRegistry::RegDeleteKeyW(HKey key, std::u16string_view subKey) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegDeleteKeyW(key, subKey);
}

LStatus CWinePrefixRegistry::RegDeleteKeyExW(HKey key, std::u16string_view subKey,
                                             RegSam samDesired, std::uint32_t reserved) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegDeleteKeyExW(key, subKey, samDesired, reserved);
}

LStatus CWinePrefixRegistry::RegFlushKey(HKey key) {
    if (memory_->RegFlushKey(key) != ErrorSuccess) {
        return ErrorInvalidHandle;
    }
    if (!HasUnsavedChanges()) {
        return ErrorSuccess;
    }
    return Save() ? ErrorAccessDenied : ErrorSuccess;
}

LStatus CWinePrefixRegistry::RegSaveKeyW(HKey key, std::u16string_view file) {
    return memory_->RegSaveKeyW(key, file);
}

LStatus CWinePrefixRegistry::RegReplaceKeyW(HKey key, std::u16string_view subKey,
                                            std::u16string_view newFile,
                                            std::u16string_view oldFile) {
    if (!WritesAllowed()) {
        return ErrorAccessDenied;
    }
    return memory_->RegReplaceKeyW(key, subKey, newFile, oldFile);
}

}  // namespace quillary
