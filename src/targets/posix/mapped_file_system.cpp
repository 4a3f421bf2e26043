#include "targets/posix/mapped_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <system_error>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "platform/clock.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// The one place where a Unix error becomes a Windows one.
LStatus ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ErrorFileNotFound;
        case ENOTDIR:
            return ErrorPathNotFound;
        case EACCES:
        case EPERM:
            return ErrorAccessDenied;
        case EEXIST:
            return ErrorAlreadyExists;
        case ENOTEMPTY:
            return ErrorDirNotEmpty;
        case ENOSPC:
        case EDQUOT:
            return ErrorDiskFull;
        case EROFS:
            return ErrorWriteProtect;
        case EBUSY:
            return ErrorSharingViolation;
        case EXDEV:
            return ErrorNotSameDevice;
        case ENAMETOOLONG:
            return ErrorFilenameExcedRange;
        default:
            return ErrorGenFailure;
    }
}

bool IsDotName(const std::string& name) {
    return name == "." || name == "..";
}

// What a Windows program sees of a Unix file. Links are followed; a dangling link is a file.
std::optional<UnixEntry> Examine(const fs::path& path) {
    UnixEntry entry = ExamineUnixPath(path.native());
    if (!entry.exists)
        return std::nullopt;
    return entry;
}

std::uint32_t AttributesOf(const UnixEntry& entry, const std::string& name) {
    bool directory = S_ISDIR(entry.info.st_mode);
    std::uint32_t attributes = directory ? FileAttributeDirectory : FileAttributeArchive;
    if (entry.isLink && directory)
        attributes |= FileAttributeReparsePoint;
    if (!name.empty() && name[0] == '.' && !IsDotName(name))
        attributes |= FileAttributeHidden;
    if (!directory && (entry.info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        attributes |= FileAttributeReadonly;
    }
    return attributes;
}

FileTime LastWriteOf(const struct stat& info) {
    auto since =
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    return ToFileTime(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since)));
}

FindData FindDataOf(const UnixEntry& entry, const std::string& name) {
    FindData data;
    data.attributes = AttributesOf(entry, name);
    data.lastWriteTime = LastWriteOf(entry.info);
    if (S_ISREG(entry.info.st_mode))
        data.fileSize = static_cast<std::uint64_t>(entry.info.st_size);
    data.fileName = Utf8ToUtf16(name);
    return data;
}

class CListedSearch final : public IFileSearch {
public:
    explicit CListedSearch(std::vector<FindData> rest) : rest_(std::move(rest)) {}
    bool FindNextFileW(FindData* data) override {
        if (next_ >= rest_.size())
            return false;
        *data = std::move(rest_[next_++]);
        return true;
    }

private:
    std::vector<FindData> rest_;
    std::size_t next_ = 0;
};

// Copies a file's bytes through the one routine that replaces a file atomically, so that a
// failure (a full disk above all) leaves the target as it was, then gives the copy the source's
// mode and time of last change, as a Windows copy keeps the attributes and the time.
LStatus CopyUnixFile(CNativeFileIo& fileIo, const fs::path& from, const fs::path& to) {
    struct stat source {};
    if (::stat(from.c_str(), &source) != 0)
        return ErrorFromErrno(errno);
    const auto copy = [&fileIo, &from](const ContentWriter& write) {
        FileError writeFailure;
        FileError readFailure =
            fileIo.ReadFileInPieces(from, std::numeric_limits<std::size_t>::max(),
                                    std::size_t{1} << 16, [&](std::span<const std::uint8_t> piece) {
                                        writeFailure = write(piece);
                                        return !writeFailure;
                                    });
        return writeFailure ? writeFailure : readFailure;
    };
    if (std::optional<NativeFileFailure> failure = fileIo.ReplaceFileFrom(to, copy))
        return ErrorFromErrno(failure->systemCode);
    // The bytes are safe; a mode or a time that cannot be set leaves a copy that is whole.
    ::chmod(to.c_str(), source.st_mode & 07777);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    return ErrorSuccess;
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    if (!path.empty() && path.back() != u'\\')
        path += u'\\';
    path += name;
    return path;
}

}  // namespace

CMappedFileSystem::CMappedFileSystem(MappedFileSystemSetup setup)
    : setup_(std::move(setup)),
      resolver_(setup_.drives, JoinPath(setup_.windowsDirectory, u"system32")) {}

std::optional<fs::path> CMappedFileSystem::UnixPathOf(std::u16string_view path) {
    ResolvedPath resolved = resolver_.Resolve(path);
    if (!resolved.exists)
        return std::nullopt;
    return resolved.unixPath;
}

std::uint32_t CMappedFileSystem::GetFileAttributesW(std::u16string_view path, LStatus* error) {
    {
        std::lock_guard lock(answersMutex_);
        if (const auto known = answers_.find(std::u16string(path)); known != answers_.end()) {
            if (error)
                *error = known->second.error;
            return known->second.attributes;
        }
    }
    LStatus status = ErrorSuccess;
    const std::uint32_t attributes = LookUpAttributes(path, &status);
    std::lock_guard lock(answersMutex_);
    answers_.try_emplace(std::u16string(path), Attributes{attributes, status});
    if (error)
        *error = status;
    return attributes;
}

void CMappedFileSystem::ForgetWhatWasLearnt() {
    resolver_.ClearCache();
    std::lock_guard lock(answersMutex_);
    answers_.clear();
}

std::uint32_t CMappedFileSystem::LookUpAttributes(std::u16string_view path, LStatus* error) {
    ResolvedPath resolved = resolver_.Resolve(path);
    UnixEntry entry;
    if (resolved.exists)
        entry = resolved.entry;
    // A drive's root is a link in dosdevices, but to its programs it is a plain folder.
    if (resolved.windowsPath.components.empty())
        entry.isLink = false;
    if (!entry.exists) {
        if (error)
            *error = resolved.error != ErrorSuccess ? resolved.error : ErrorFileNotFound;
        return InvalidFileAttributes;
    }
    if (error)
        *error = ErrorSuccess;
    return AttributesOf(entry, resolved.unixPath.filename().string());
}

LStatus CMappedFileSystem::SetFileAttributesW(std::u16string_view path, std::uint32_t attributes) {
    ResolvedPath resolved = resolver_.Resolve(path);
    if (!resolved.exists)
        return resolved.error;
    struct stat info {};
    if (::stat(resolved.unixPath.c_str(), &info) != 0)
        return ErrorFromErrno(errno);
    if (S_ISDIR(info.st_mode))
        return ErrorSuccess;
    mode_t mode = info.st_mode & 07777;
    if (attributes & FileAttributeReadonly) {
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        mode |= S_IWUSR;
    }
    if (::chmod(resolved.unixPath.c_str(), mode) != 0)
        return ErrorFromErrno(errno);
    ForgetWhatWasLearnt();
    return ErrorSuccess;
}

std::unique_ptr<IFileSearch> CMappedFileSystem::FindFirstFileW(std::u16string_view pattern,
                                                               FindData* first, LStatus* error) {
    LStatus ignored = ErrorSuccess;
    if (!error)
        error = &ignored;
    ResolvedPath resolved = resolver_.Resolve(pattern, true);
    if (resolved.error != ErrorSuccess && resolved.error != ErrorFileNotFound) {
        *error = resolved.error;
        return nullptr;
    }
    if (resolved.windowsPath.components.empty()) {
        *error = ErrorFileNotFound;
        return nullptr;
    }
    // A folder below a link that leaves the drive, or inside a link cycle, is not listed: a
    // walk must not wander into the user's home or round a loop.
    if (!resolved.parentListable) {
        *error = ErrorAccessDenied;
        return nullptr;
    }

    fs::path folder = resolved.unixPath.parent_path();
    std::u16string_view namePattern = resolved.windowsPath.components.back();
    std::vector<std::string> names;
    if (resolved.windowsPath.components.size() > 1)
        names = {".", ".."};
    std::error_code listError;
    for (fs::directory_iterator it(folder, listError), end; !listError && it != end;
         it.increment(listError)) {
        names.push_back(it->path().filename().string());
    }
    if (listError) {
        *error = ErrorFromErrno(listError.value());
        return nullptr;
    }

    // "." and ".." come first, as Windows lists them; the names follow in case-blind order.
    std::vector<FindData> matches;
    std::size_t dotNames = 0;
    for (const std::string& name : names) {
        std::u16string wide = Utf8ToUtf16(name);
        if (Utf16ToUtf8(wide) != name || !MatchesFilePattern(namePattern, wide))
            continue;
        // Asked through the resolver, which keeps the answer: a scan lists a folder to count
        // its files and again to look at them.
        const UnixEntry entry = resolver_.Examine(folder / name);
        if (!entry.exists)
            continue;
        matches.push_back(FindDataOf(entry, name));
        if (IsDotName(name))
            ++dotNames;
    }
    std::sort(matches.begin() + static_cast<std::ptrdiff_t>(dotNames), matches.end(),
              [](const FindData& a, const FindData& b) {
                  return CompareNoCase(a.fileName, b.fileName) < 0;
              });
    if (matches.empty()) {
        *error = ErrorFileNotFound;
        return nullptr;
    }
    *first = std::move(matches.front());
    matches.erase(matches.begin());
    *error = ErrorSuccess;
    return std::make_unique<CListedSearch>(std::move(matches));
}

LStatus CMappedFileSystem::OpenExistingFileForWriting(std::u16string_view path) {
    ResolvedPath resolved = resolver_.Resolve(path);
    std::optional<UnixEntry> entry;
    if (resolved.exists)
        entry = Examine(resolved.unixPath);
    if (!entry)
        return resolved.error != ErrorSuccess ? resolved.error : ErrorFileNotFound;
    // Only regular files: opening a FIFO or a device for writing could block or act on it.
    if (!S_ISREG(entry->info.st_mode))
        return ErrorAccessDenied;
    // A file nobody may write is read-only to Windows programs, even when root could open it.
    if (AttributesOf(*entry, resolved.unixPath.filename().string()) & FileAttributeReadonly)
        return ErrorAccessDenied;
    int descriptor =
        ::open(resolved.unixPath.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return ErrorFromErrno(errno);
    ::close(descriptor);
    return ErrorSuccess;
}

LStatus CMappedFileSystem::DeleteFileW(std::u16string_view path) {
    ResolvedPath resolved = resolver_.Resolve(path);
    if (!resolved.exists)
        return resolved.error;
    std::optional<UnixEntry> entry = Examine(resolved.unixPath);
    if (!entry)
        return ErrorFileNotFound;
    std::uint32_t attributes = AttributesOf(*entry, resolved.unixPath.filename().string());
    if (attributes & (FileAttributeDirectory | FileAttributeReadonly))
        return ErrorAccessDenied;
    if (::unlink(resolved.unixPath.c_str()) != 0)
        return ErrorFromErrno(errno);
    ForgetWhatWasLearnt();
    return ErrorSuccess;
}

LStatus CMappedFileSystem::RemoveDirectoryW(std::u16string_view path) {
    ResolvedPath resolved = resolver_.Resolve(path);
    if (!resolved.exists)
        return resolved.error;
    if (resolved.windowsPath.components.empty())
        return ErrorAccessDenied;
    std::optional<UnixEntry> entry = Examine(resolved.unixPath);
    if (!entry || !S_ISDIR(entry->info.st_mode))
        return ErrorDirectory;
    // A link to a folder goes, never the folder it points to.
    int result =
        entry->isLink ? ::unlink(resolved.unixPath.c_str()) : ::rmdir(resolved.unixPath.c_str());
    if (result != 0)
        return ErrorFromErrno(errno == EEXIST ? ENOTEMPTY : errno);
    ForgetWhatWasLearnt();
    return ErrorSuccess;
}

LStatus CMappedFileSystem::CreateDirectoryW(std::u16string_view path) {
    ResolvedPath resolved = resolver_.Resolve(path);
    if (resolved.exists)
        return ErrorAlreadyExists;
    if (resolved.error != ErrorFileNotFound)
        return resolved.error;
    if (::mkdir(resolved.unixPath.c_str(), 0777) != 0)
        return ErrorFromErrno(errno);
    ForgetWhatWasLearnt();
    return ErrorSuccess;
}

LStatus CMappedFileSystem::CopyFileW(std::u16string_view from, std::u16string_view to,
                                     bool failIfExists) {
    ResolvedPath source = resolver_.Resolve(from);
    if (!source.exists)
        return source.error;
    std::optional<UnixEntry> sourceEntry = Examine(source.unixPath);
    if (!sourceEntry || S_ISDIR(sourceEntry->info.st_mode))
        return ErrorAccessDenied;
    ResolvedPath target = resolver_.Resolve(to);
    if (!target.exists && target.error != ErrorFileNotFound)
        return target.error;
    if (target.exists) {
        std::optional<UnixEntry> targetEntry = Examine(target.unixPath);
        if (!targetEntry)
            return ErrorFileNotFound;
        if (targetEntry->info.st_dev == sourceEntry->info.st_dev &&
            targetEntry->info.st_ino == sourceEntry->info.st_ino) {
            return ErrorSharingViolation;
        }
        if (failIfExists)
            return ErrorFileExists;
        if (AttributesOf(*targetEntry, target.unixPath.filename().string()) &
            (FileAttributeDirectory | FileAttributeReadonly)) {
            return ErrorAccessDenied;
        }
    }
    LStatus status = CopyUnixFile(CopyFileIo(), source.unixPath, target.unixPath);
    ForgetWhatWasLearnt();
    return status;
}

LStatus CMappedFileSystem::MoveFileW(std::u16string_view from, std::u16string_view to) {
    ResolvedPath source = resolver_.Resolve(from);
    if (!source.exists)
        return source.error;
    if (source.windowsPath.components.empty())
        return ErrorAccessDenied;
    ResolvedPath target = resolver_.Resolve(to);
    if (target.exists)
        return ErrorAlreadyExists;
    if (target.error != ErrorFileNotFound)
        return target.error;
    LStatus status = ErrorSuccess;
    if (::rename(source.unixPath.c_str(), target.unixPath.c_str()) != 0) {
        status = ErrorFromErrno(errno);
        // Files move between drives by copy and delete; folders do not.
        std::optional<UnixEntry> entry = Examine(source.unixPath);
        if (status == ErrorNotSameDevice && entry && S_ISREG(entry->info.st_mode)) {
            status = CopyUnixFile(CopyFileIo(), source.unixPath, target.unixPath);
            if (status == ErrorSuccess && ::unlink(source.unixPath.c_str()) != 0) {
                status = ErrorFromErrno(errno);
            }
        }
    }
    ForgetWhatWasLearnt();
    return status;
}

std::u16string CMappedFileSystem::GetLogicalDriveStringsW() {
    std::vector<char16_t> letters;
    for (const DriveMapping& drive : resolver_.Drives()) {
        struct stat info {};
        if (::stat(drive.root.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            letters.push_back(drive.letter);
        }
    }
    std::sort(letters.begin(), letters.end());
    std::u16string roots;
    for (char16_t letter : letters) {
        roots += letter;
        roots += u":\\";
        roots += u'\0';
    }
    return roots;
}

std::uint32_t CMappedFileSystem::GetDriveTypeW(std::u16string_view rootPath) {
    if (rootPath.empty())
        rootPath = resolver_.CurrentDirectory();
    if (rootPath.size() >= 2 && (rootPath[0] == u'\\' || rootPath[0] == u'/') &&
        (rootPath[1] == u'\\' || rootPath[1] == u'/')) {
        return DriveRemote;
    }
    ResolvedPath resolved = resolver_.Resolve(rootPath);
    if (!resolved.drive || !resolved.exists)
        return DriveNoRootDir;
    const UnixEntry entry = resolver_.Examine(resolved.unixPath);
    if (!entry.exists || !S_ISDIR(entry.info.st_mode))
        return DriveNoRootDir;
    return resolved.drive->type;
}

std::optional<std::u16string> CMappedFileSystem::QueryDosDeviceW(std::u16string_view deviceName) {
    if (deviceName.size() == 2 && deviceName[1] == u':') {
        const DriveMapping* drive = resolver_.FindDrive(deviceName[0]);
        if (drive && !drive->device.empty())
            return drive->device;
        return std::nullopt;
    }
    for (const auto& [name, device] : setup_.devices) {
        if (EqualsNoCase(name, deviceName))
            return device;
    }
    return std::nullopt;
}

std::u16string CMappedFileSystem::ExpandEnvironmentStringsW(std::u16string_view text) {
    return setup_.environment.Expand(text);
}

std::u16string CMappedFileSystem::GetSystemDirectoryW() {
    return JoinPath(setup_.windowsDirectory, u"system32");
}

std::optional<std::u16string> CMappedFileSystem::GetSystemWow64DirectoryW() {
    if (!setup_.is64Bit)
        return std::nullopt;
    return JoinPath(setup_.windowsDirectory, u"syswow64");
}

std::u16string CMappedFileSystem::GetFullPathNameW(std::u16string_view path) {
    std::optional<WindowsPath> parsed =
        ParseWindowsPath(path, resolver_.CurrentDirectory(), true, nullptr);
    if (!parsed)
        return {};
    std::u16string full =
        FormatWindowsPath(parsed->drive, parsed->components, parsed->components.size());
    if (parsed->endsWithSeparator && !parsed->components.empty())
        full += u'\\';
    return full;
}

std::optional<std::u16string> CMappedFileSystem::GetSpecialFolderPath(int csidl) {
    auto found = setup_.specialFolders.find(csidl & 0xff);
    if (found == setup_.specialFolders.end() || found->second.empty())
        return std::nullopt;
    return found->second;
}

bool CMappedFileSystem::Exists(std::u16string_view path) {
    return GetFileAttributesW(path, nullptr) != InvalidFileAttributes;
}

std::vector<std::u16string> CMappedFileSystem::StandardSearchFolders() {
    std::vector<std::u16string> folders = {GetSystemDirectoryW(),
                                           JoinPath(setup_.windowsDirectory, u"system"),
                                           setup_.windowsDirectory};
    for (std::u16string& folder : setup_.environment.PathFolders()) {
        folders.push_back(std::move(folder));
    }
    return folders;
}

std::optional<std::u16string> CMappedFileSystem::SearchPathW(
    std::optional<std::u16string_view> searchPath, std::u16string_view fileName,
    std::u16string_view extension) {
    if (fileName.empty())
        return std::nullopt;
    std::u16string name(fileName);
    std::size_t nameStart = name.find_last_of(u"\\/");
    nameStart = nameStart == std::u16string::npos ? 0 : nameStart + 1;
    if (!extension.empty() && name.find(u'.', nameStart) == std::u16string::npos) {
        name += extension;
    }

    // A path from a root, or one that names its folder ("." or ".."), is not searched for.
    bool absolute = (name.size() >= 2 && name[1] == u':') || name[0] == u'\\' || name[0] == u'/' ||
                    name.starts_with(u".\\") || name.starts_with(u"..\\") ||
                    name.starts_with(u"./") || name.starts_with(u"../");
    if (absolute) {
        if (Exists(name))
            return name;
        return std::nullopt;
    }

    std::vector<std::u16string> folders;
    if (searchPath) {
        folders = SplitFolderList(*searchPath);
    } else {
        folders = StandardSearchFolders();
        folders.insert(folders.begin() + 3, resolver_.CurrentDirectory());
    }
    for (const std::u16string& folder : folders) {
        std::u16string candidate = JoinPath(folder, name);
        if (Exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::u16string> CMappedFileSystem::PathFindOnPathW(
    std::u16string_view file, std::span<const std::u16string> otherDirs) {
    // Only a bare name is looked for; a path with a folder or drive is not.
    if (file.empty() || file.find_first_of(u"\\:") != std::u16string_view::npos) {
        return std::nullopt;
    }
    std::vector<std::u16string> folders(otherDirs.begin(), otherDirs.end());
    for (std::u16string& folder : StandardSearchFolders())
        folders.push_back(std::move(folder));
    for (const std::u16string& folder : folders) {
        std::u16string candidate = JoinPath(folder, file);
        if (Exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

}  // namespace quillary
