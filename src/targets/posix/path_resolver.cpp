#include "targets/posix/path_resolver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <tuple>

#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

// The Unix spelling of a name, or nullopt when it has none (an unpaired surrogate).
std::optional<std::string> UnixName(std::u16string_view name) {
    std::string utf8 = Utf16ToUtf8(name);
    if (Utf8ToUtf16(utf8) != name)
        return std::nullopt;
    return utf8;
}

// folder/name, as the filesystem library joins them, without parsing either.
std::string JoinUnixPath(const std::string& folder, const std::string& name) {
    std::string joined;
    joined.reserve(folder.size() + 1 + name.size());
    joined = folder;
    if (!joined.empty() && joined.back() != '/')
        joined += '/';
    joined += name;
    return joined;
}

}  // namespace

UnixEntry ExamineUnixPath(const std::string& path) {
    UnixEntry entry;
    if (::lstat(path.c_str(), &entry.info) != 0)
        return entry;
    entry.exists = true;
    entry.isLink = S_ISLNK(entry.info.st_mode);
    if (entry.isLink) {
        struct stat target {};
        if (::stat(path.c_str(), &target) == 0)
            entry.info = target;
    }
    return entry;
}

CPathResolver::CPathResolver(std::vector<DriveMapping> drives, std::u16string currentDirectory)
    : drives_(std::move(drives)), currentDirectory_(std::move(currentDirectory)) {
    for (const DriveMapping& drive : drives_) {
        std::error_code error;
        std::filesystem::path canonical = std::filesystem::canonical(drive.root, error);
        canonicalRoots_[drive.letter] = error ? drive.root : canonical;
    }
}

const DriveMapping* CPathResolver::FindDrive(char16_t letter) const {
    letter = ToUpperInvariant(letter);
    for (const DriveMapping& drive : drives_) {
        if (drive.letter == letter)
            return &drive;
    }
    return nullptr;
}

void CPathResolver::ClearCache() {
    std::lock_guard lock(mutex_);
    folders_.clear();
    listings_.clear();
    entries_.clear();
}

UnixEntry CPathResolver::Examine(const std::filesystem::path& path) {
    std::lock_guard lock(mutex_);
    return ExamineLocked(path.native());
}

const UnixEntry& CPathResolver::ExamineLocked(const std::string& path) {
    auto [slot, inserted] = entries_.try_emplace(path);
    if (inserted)
        slot->second = ExamineUnixPath(path);
    return slot->second;
}

bool CPathResolver::LeavesDrive(const DriveMapping& drive,
                                const std::filesystem::path& link) const {
    std::error_code error;
    std::filesystem::path target = std::filesystem::canonical(link, error);
    if (error)
        return true;
    auto root = canonicalRoots_.find(drive.letter);
    if (root == canonicalRoots_.end())
        return true;
    std::filesystem::path relative = target.lexically_relative(root->second);
    return relative.empty() || *relative.begin() == "..";
}

const CPathResolver::FolderListing& CPathResolver::Listing(const std::filesystem::path& folder) {
    auto [slot, inserted] = listings_.try_emplace(folder.native());
    if (!inserted)
        return slot->second;
    FolderListing& listing = slot->second;
    DIR* stream = ::opendir(folder.c_str());
    if (stream == nullptr)
        return listing;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(stream);
        if (item == nullptr) {
            listing.complete = errno == 0;
            break;
        }
        std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        std::u16string wide = Utf8ToUtf16(name);
        // A name that is not UTF-8 has no Windows spelling that leads back to it.
        if (Utf16ToUtf8(wide) != name)
            continue;
        listing.entries.push_back({ToUpperInvariant(wide), std::move(name)});
    }
    ::closedir(stream);
    std::sort(listing.entries.begin(), listing.entries.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.upperName, a.name) < std::tie(b.upperName, b.name);
    });
    return listing;
}

std::optional<std::string> CPathResolver::FindEntry(const std::filesystem::path& folder,
                                                    std::u16string_view name) {
    std::optional<std::string> exact = UnixName(name);
    if (!exact)
        return std::nullopt;
    // The exact name is asked of the disk until the folder has been read: one question is
    // cheaper than reading a folder that is looked into once.
    const auto read = listings_.find(folder.native());
    if (read == listings_.end() || !read->second.complete) {
        if (ExamineLocked(JoinUnixPath(folder.native(), *exact)).exists)
            return exact;
    }
    const FolderListing& listing = read != listings_.end() ? read->second : Listing(folder);
    // The exact name first, else the first name equal to it but for case.
    const std::u16string upper = ToUpperInvariant(name);
    const auto first = std::lower_bound(
        listing.entries.begin(), listing.entries.end(), upper,
        [](const Entry& entry, const std::u16string& wanted) { return entry.upperName < wanted; });
    const auto last = std::find_if(first, listing.entries.end(),
                                   [&](const Entry& entry) { return entry.upperName != upper; });
    if (first == last)
        return std::nullopt;
    const auto same =
        std::find_if(first, last, [&](const Entry& entry) { return entry.name == *exact; });
    return same != last ? same->name : first->name;
}

const CPathResolver::Folder* CPathResolver::ResolveFolder(
    const DriveMapping& drive, const std::vector<std::u16string>& components, std::size_t count) {
    std::u16string key = ToUpperInvariant(FormatWindowsPath(drive.letter, components, count));
    if (auto cached = folders_.find(key); cached != folders_.end()) {
        return cached->second ? &*cached->second : nullptr;
    }

    std::optional<Folder> folder;
    struct stat info {};
    if (count == 0) {
        if (::stat(drive.root.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            folder = Folder{drive.root, false, true, {{info.st_dev, info.st_ino}}};
        }
    } else if (const Folder* parent = ResolveFolder(drive, components, count - 1)) {
        std::optional<std::string> name = FindEntry(parent->unixPath, components[count - 1]);
        if (name) {
            std::filesystem::path path = parent->unixPath / *name;
            struct stat link {};
            if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                ::lstat(path.c_str(), &link) == 0) {
                std::pair<std::uint64_t, std::uint64_t> identity{info.st_dev, info.st_ino};
                bool cycle = std::find(parent->chain.begin(), parent->chain.end(), identity) !=
                             parent->chain.end();
                Folder child;
                child.unixPath = std::move(path);
                child.leftDrive = parent->leftDrive ||
                                  (S_ISLNK(link.st_mode) && LeavesDrive(drive, child.unixPath));
                child.listable = parent->listable && !parent->leftDrive && !cycle;
                child.chain = parent->chain;
                child.chain.push_back(identity);
                folder = std::move(child);
            }
        }
    }
    auto [slot, inserted] = folders_.emplace(std::move(key), std::move(folder));
    return slot->second ? &*slot->second : nullptr;
}

ResolvedPath CPathResolver::Resolve(std::u16string_view path, bool wildcardLast) {
    ResolvedPath result;
    std::optional<WindowsPath> parsed =
        ParseWindowsPath(path, currentDirectory_, wildcardLast, &result.error);
    if (!parsed)
        return result;
    result.windowsPath = std::move(*parsed);
    const WindowsPath& windowsPath = result.windowsPath;
    result.drive = FindDrive(windowsPath.drive);
    if (!result.drive) {
        result.error = ErrorPathNotFound;
        return result;
    }

    std::lock_guard lock(mutex_);
    const std::vector<std::u16string>& components = windowsPath.components;
    if (components.empty()) {
        const Folder* root = ResolveFolder(*result.drive, components, 0);
        result.unixPath = result.drive->root;
        result.exists = root != nullptr;
        if (root)
            result.entry = ExamineLocked(result.unixPath.native());
        result.listable = root && root->listable;
        result.parentListable = result.listable;
        if (!root)
            result.error = ErrorPathNotFound;
        return result;
    }

    const Folder* parent = ResolveFolder(*result.drive, components, components.size() - 1);
    if (!parent) {
        result.error = ErrorPathNotFound;
        return result;
    }
    result.parentListable = parent->listable;
    std::u16string_view last = components.back();
    std::optional<std::string> name =
        wildcardLast ? UnixName(last) : FindEntry(parent->unixPath, last);
    if (!name) {
        std::optional<std::string> typed = UnixName(last);
        result.unixPath = parent->unixPath / typed.value_or(std::string());
        result.error = typed ? ErrorFileNotFound : ErrorInvalidName;
        return result;
    }
    result.unixPath = parent->unixPath / *name;
    if (wildcardLast)
        return result;

    result.exists = true;
    const Folder* self = nullptr;
    result.entry = ExamineLocked(result.unixPath.native());
    if (result.entry.exists && S_ISDIR(result.entry.info.st_mode)) {
        self = ResolveFolder(*result.drive, components, components.size());
    }
    result.listable = self && self->listable;
    if (windowsPath.endsWithSeparator && !self) {
        // "notepad.exe\\" names a folder that is not there.
        result.exists = false;
        result.error = ErrorPathNotFound;
    }
    return result;
}

}  // namespace quillary
