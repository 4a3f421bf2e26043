#pragma once

// Which files of the host a command working on a Wine prefix may change (delete, write,
// restore). A repair deletes files of the prefix and an undo writes them back, but the paths
// they act on are Windows paths, and Wine's drive Z: maps the whole host: a path read from a
// damaged or hostile backup list could name any file the user owns. So every change is
// checked against one rule first. A file may be changed only when
//
//  - it is reached through a drive letter that leads to the prefix's drive_c itself (normally
//    C:, never Z: or another letter mapping the host), and the folder holding it, with every
//    link resolved, still lies inside drive_c; or
//  - it lies directly in the folder that one of the prefix's profile-folder links
//    (drive_c/users/<user>/Desktop, Documents, Downloads, Music, Pictures, Templates or
//    Videos) leads to outside the prefix, is reached through that link, and is a shortcut
//    (.lnk). Wine shows those files to Windows programs, so a broken shortcut on a Desktop
//    linked to ~/Desktop is the prefix's. A subfolder of the link's target, the target reached
//    another way, or any other file there (Wine may link Documents to the home folder itself,
//    where ~/.profile lives) is not.
//
// The file itself need not exist (an undo writes back a deleted file): the real location of
// its folder is what counts. A path with a "." or ".." name is refused, and so is a file that
// is itself a link leading out of drive_c. Paths resolve exactly as the prefix's file system
// resolves them for the change itself (names match without regard to case).

#include <filesystem>
#include <string_view>
#include <vector>

#include "targets/posix/mapped_file_system.h"

namespace quillary {

// Why a path may not be changed.
enum class FileScopeRefusal {
    None,              // it may be changed
    NotADrivePath,     // not a full path from a drive root to a file ("x.lnk", "C:x", "\\\\srv\\s")
    DotName,           // a name is "." or ".." (or only dots and blanks, which Win32 folds so)
    ForeignDrive,      // the drive is not the prefix's drive_c, or no drive maps the letter
    NoFolder,          // the folder that would hold the file does not exist
    OutsideThePrefix,  // the folder's real location is neither in drive_c nor a profile target
    LinkLeadsOut,      // the file is a link that leads out of drive_c, or nowhere
    NotAShortcut,      // outside drive_c, only shortcut files (.lnk) are the prefix's
};

// A short English text for the log, such as "the drive is not the prefix's drive C".
std::string_view DescribeRefusal(FileScopeRefusal refusal);

class CPrefixFileScope {
public:
    // Reads where the prefix's drive_c and its profile-folder links lead, once: build one per
    // command. files is the prefix's file system (OpenPrefixFileSystem), the one that makes
    // the changes; it must outlive the scope.
    CPrefixFileScope(const std::filesystem::path& prefix, CMappedFileSystem& files);

    // Whether the file windowsPath names may be deleted, written or restored.
    [[nodiscard]] bool MayChange(std::u16string_view windowsPath) const {
        return RefusalFor(windowsPath) == FileScopeRefusal::None;
    }
    // Why it may not be, or FileScopeRefusal::None when it may.
    [[nodiscard]] FileScopeRefusal RefusalFor(std::u16string_view windowsPath) const;

private:
    // A profile-folder link of the prefix whose target lies outside it.
    struct ProfileLink {
        std::filesystem::path location;  // the link itself, its folder with links resolved
        std::filesystem::path target;    // where it leads, with links resolved
    };

    void FindProfileLinks(const std::filesystem::path& prefix);
    bool InsideDriveC(const std::filesystem::path& realPath) const;
    bool IsProfileTarget(const std::filesystem::path& folder) const;

    CMappedFileSystem& files_;
    std::filesystem::path driveC_;  // with links resolved; empty when the prefix has none
    std::vector<ProfileLink> profileLinks_;
};

}  // namespace quillary
