#include "targets/wine/prefix_file_scope.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <system_error>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "targets/posix/windows_path.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// The folders of a profile that Wine links into the user's home.
constexpr std::u16string_view kProfileFolderNames[] = {
    u"Desktop", u"Documents", u"Downloads", u"Music", u"Pictures", u"Templates", u"Videos"};

bool IsSeparator(char16_t ch) {
    return ch == u'\\' || ch == u'/';
}

// "X:\\" or "X:/" starts a full path; anything else is completed from a current folder or
// names no drive at all.
bool StartsAtADriveRoot(std::u16string_view path) {
    return path.size() >= 3 &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
           path[1] == u':' && IsSeparator(path[2]);
}

// Whether a name of path is "." or "..", or made of dots and blanks only, which Win32 trims
// to one of those or to nothing. A change never needs to climb: the paths a repair records
// are full paths of files it found.
bool HasDotName(std::u16string_view path) {
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        std::u16string_view name = path.substr(start, end - start);
        if (!name.empty() && name.find_first_not_of(u". ") == std::u16string_view::npos)
            return true;
        start = end + 1;
    }
    return false;
}

// Whether realPath is realFolder or lies below it; both have their links resolved. An unknown
// folder (empty) holds nothing.
bool IsInside(const fs::path& realPath, const fs::path& realFolder) {
    if (realFolder.empty())
        return false;
    fs::path relative = realPath.lexically_relative(realFolder);
    return !relative.empty() && *relative.begin() != "..";
}

std::optional<fs::path> RealPath(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::canonical(path, error);
    if (error)
        return std::nullopt;
    return real;
}

bool IsLink(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsProfileFolderName(const fs::path& name) {
    return std::any_of(std::begin(kProfileFolderNames), std::end(kProfileFolderNames),
                       [&](std::u16string_view profileName) {
                           return EqualsNoCaseInvariant(Utf8ToUtf16(name.native()), profileName);
                       });
}

}  // namespace

std::string_view DescribeRefusal(FileScopeRefusal refusal) {
    switch (refusal) {
        case FileScopeRefusal::None:
            return "the file belongs to the prefix";
        case FileScopeRefusal::NotADrivePath:
            return "the path is not a full path to a file";
        case FileScopeRefusal::DotName:
            return "the path holds a \".\" or \"..\" name";
        case FileScopeRefusal::ForeignDrive:
            return "the drive is not the prefix's drive C";
        case FileScopeRefusal::NoFolder:
            return "the folder of the file does not exist";
        case FileScopeRefusal::OutsideThePrefix:
            return "the folder of the file lies outside the prefix";
        case FileScopeRefusal::LinkLeadsOut:
            return "the file is a link that leads out of the prefix";
        case FileScopeRefusal::NotAShortcut:
            return "outside drive C, only shortcut files belong to the prefix";
    }
    return "the file is out of bounds";
}

CPrefixFileScope::CPrefixFileScope(const fs::path& prefix, CMappedFileSystem& files)
    : files_(files), driveC_(RealPath(prefix / "drive_c").value_or(fs::path())) {
    FindProfileLinks(prefix);
}

void CPrefixFileScope::FindProfileLinks(const fs::path& prefix) {
    std::optional<fs::path> realPrefix = RealPath(prefix);
    if (driveC_.empty() || !realPrefix)
        return;
    std::error_code error;
    for (fs::directory_iterator users(driveC_ / "users", error), end; !error && users != end;
         users.increment(error)) {
        std::optional<fs::path> userFolder = RealPath(users->path());
        if (!userFolder || !InsideDriveC(*userFolder))
            continue;
        std::error_code listError;
        for (fs::directory_iterator it(*userFolder, listError), last; !listError && it != last;
             it.increment(listError)) {
            const fs::path name = it->path().filename();
            if (!IsProfileFolderName(name) || !IsLink(it->path()))
                continue;
            // A link into the prefix is no door to the user's files: into drive_c the first
            // rule covers it, and the rest of the prefix (its registry files) is never the
            // prefix's drive.
            std::optional<fs::path> target = RealPath(it->path());
            if (target && fs::is_directory(*target, listError) && !IsInside(*target, *realPrefix)) {
                profileLinks_.push_back({*userFolder / name, std::move(*target)});
            }
        }
    }
}

bool CPrefixFileScope::InsideDriveC(const fs::path& realPath) const {
    return IsInside(realPath, driveC_);
}

// Whether folder (a Unix path as the prefix's file system resolved it, not yet through its
// last name) is one of the profile links itself, leading where it led when the scope was
// built. A link elsewhere that leads to the same target does not count.
bool CPrefixFileScope::IsProfileTarget(const fs::path& folder) const {
    std::optional<fs::path> linkFolder = RealPath(folder.parent_path());
    std::optional<fs::path> target = RealPath(folder);
    if (!linkFolder || !target)
        return false;
    const fs::path location = *linkFolder / folder.filename();
    return std::any_of(profileLinks_.begin(), profileLinks_.end(), [&](const ProfileLink& link) {
        return link.location == location && link.target == *target;
    });
}

FileScopeRefusal CPrefixFileScope::RefusalFor(std::u16string_view windowsPath) const {
    if (!StartsAtADriveRoot(windowsPath))
        return FileScopeRefusal::NotADrivePath;
    if (HasDotName(windowsPath))
        return FileScopeRefusal::DotName;
    std::optional<WindowsPath> parsed = ParseWindowsPath(windowsPath, u"C:\\", false, nullptr);
    if (!parsed || parsed->components.empty() || parsed->endsWithSeparator)
        return FileScopeRefusal::NotADrivePath;

    const std::u16string driveRoot = {parsed->drive, u':', u'\\'};
    std::optional<fs::path> root = files_.UnixPathOf(driveRoot);
    std::optional<fs::path> realRoot = root ? RealPath(*root) : std::nullopt;
    if (!realRoot || *realRoot != driveC_)
        return FileScopeRefusal::ForeignDrive;

    const std::size_t folderDepth = parsed->components.size() - 1;
    std::optional<fs::path> folder =
        files_.UnixPathOf(FormatWindowsPath(parsed->drive, parsed->components, folderDepth));
    std::optional<fs::path> realFolder = folder ? RealPath(*folder) : std::nullopt;
    std::error_code error;
    if (!realFolder || !fs::is_directory(*realFolder, error))
        return FileScopeRefusal::NoFolder;
    if (!InsideDriveC(*realFolder)) {
        if (folderDepth == 0 || !IsProfileTarget(*folder))
            return FileScopeRefusal::OutsideThePrefix;
        if (!ToLower(parsed->components.back()).ends_with(u".lnk"))
            return FileScopeRefusal::NotAShortcut;
    }

    // The name as the file system matched it when the file exists, else as typed.
    std::optional<fs::path> file = files_.UnixPathOf(windowsPath);
    if (!file)
        file = *folder / Utf16ToUtf8(parsed->components.back());
    if (IsLink(*file)) {
        std::optional<fs::path> target = RealPath(*file);
        if (!target || !InsideDriveC(*target))
            return FileScopeRefusal::LinkLeadsOut;
    }
    return FileScopeRefusal::None;
}

}  // namespace quillary
