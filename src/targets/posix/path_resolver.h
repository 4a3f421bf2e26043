#pragma once

// Windows paths resolved to Unix paths through a table of drive letters, the way Wine does
// it: each name is taken as typed when it exists, else matched without regard to case
// against the folder's entries. Folders resolved once and folder listings are kept until
// ClearCache, so a scan that checks a hundred thousand paths lists each folder only once.
//
// Links are followed, so a file reached through a link exists as it does for a Windows
// program. Walks are kept safe separately: a folder is listable only when the path to it
// neither passes through a link that leaves its drive (a profile's Desktop pointing into the
// user's home) nor goes round a link cycle. The link folder itself stays listable.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/win_types.h"
#include "targets/posix/windows_path.h"

namespace quillary {

struct DriveMapping {
    char16_t letter = 0;  // upper case
    std::filesystem::path root;
    std::uint32_t type = 3;  // DRIVE_FIXED
    std::u16string device;   // what QueryDosDeviceW answers for "X:"
};

// What the file system said of a Unix path: whether the name is there, whether it is a link,
// and the facts of the file it stands for (of the link itself when the link leads nowhere).
struct UnixEntry {
    bool exists = false;
    bool isLink = false;
    struct stat info {};
};

// Asks lstat, and stat when the name is a link.
UnixEntry ExamineUnixPath(const std::string& path);

struct ResolvedPath {
    LStatus error = ErrorSuccess;  // why the path, or the folder holding it, does not exist
    const DriveMapping* drive = nullptr;
    WindowsPath windowsPath;
    std::filesystem::path unixPath;  // the last name as typed when it does not exist
    bool exists = false;
    UnixEntry entry;              // what lstat and stat said of an existing path
    bool parentListable = false;  // the folder holding the last name may be listed
    bool listable = false;        // the path is a folder that may be listed
};

class CPathResolver {
public:
    CPathResolver(std::vector<DriveMapping> drives, std::u16string currentDirectory);

    // Resolves path. When the last name does not exist but its folder does, error is
    // ERROR_FILE_NOT_FOUND and unixPath names where it would be.
    ResolvedPath Resolve(std::u16string_view path, bool wildcardLast = false);
    const DriveMapping* FindDrive(char16_t letter) const;
    const std::vector<DriveMapping>& Drives() const { return drives_; }
    const std::u16string& CurrentDirectory() const { return currentDirectory_; }

    // What lstat and stat say of path, asked once until ClearCache: a scan checks the same
    // file for many registrations.
    UnixEntry Examine(const std::filesystem::path& path);

    // Forgets every resolved folder, listing and examined path: call when a scan starts and
    // after a change.
    void ClearCache();

private:
    struct Folder {
        std::filesystem::path unixPath;
        bool leftDrive = false;  // reached through a link that leads off the drive
        bool listable = false;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> chain;  // device and inode per level
    };
    struct Entry {
        std::u16string upperName;
        std::string name;
    };

    const Folder* ResolveFolder(const DriveMapping& drive,
                                const std::vector<std::u16string>& components, std::size_t count);
    std::optional<std::string> FindEntry(const std::filesystem::path& folder,
                                         std::u16string_view name);
    // A folder's names, sorted by their upper-cased form, read once until ClearCache.
    struct FolderListing {
        std::vector<Entry> entries;
        bool complete = false;  // the folder could be read to its end
    };
    const FolderListing& Listing(const std::filesystem::path& folder);
    bool LeavesDrive(const DriveMapping& drive, const std::filesystem::path& link) const;
    const UnixEntry& ExamineLocked(const std::string& path);

    std::vector<DriveMapping> drives_;
    std::map<char16_t, std::filesystem::path> canonicalRoots_;
    std::u16string currentDirectory_;
    std::mutex mutex_;
    std::unordered_map<std::u16string, std::optional<Folder>> folders_;
    std::unordered_map<std::string, FolderListing> listings_;
    std::unordered_map<std::string, UnixEntry> entries_;
};

}  // namespace quillary
