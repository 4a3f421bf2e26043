#pragma once

// The file half of the platform surface: files, folders, drives, special folders and the
// environment of the target, as the kernel32, shlwapi and shell32 functions of the same names
// present them. Paths are Windows paths in UTF-16. Each target implements it: a Wine prefix
// maps its drive letters to Unix folders, tests map a temporary folder as C:, the Windows
// build passes the calls through.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace quillary {

// File attributes (FILE_ATTRIBUTE_*).
inline constexpr std::uint32_t FileAttributeReadonly = 0x0001;
inline constexpr std::uint32_t FileAttributeHidden = 0x0002;
inline constexpr std::uint32_t FileAttributeSystem = 0x0004;
inline constexpr std::uint32_t FileAttributeDirectory = 0x0010;
inline constexpr std::uint32_t FileAttributeArchive = 0x0020;
inline constexpr std::uint32_t FileAttributeNormal = 0x0080;
inline constexpr std::uint32_t FileAttributeReparsePoint = 0x0400;
inline constexpr std::uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

// Drive types (DRIVE_*).
inline constexpr std::uint32_t DriveUnknown = 0;
inline constexpr std::uint32_t DriveNoRootDir = 1;
inline constexpr std::uint32_t DriveRemovable = 2;
inline constexpr std::uint32_t DriveFixed = 3;
inline constexpr std::uint32_t DriveRemote = 4;
inline constexpr std::uint32_t DriveCdRom = 5;
inline constexpr std::uint32_t DriveRamDisk = 6;

// Special folders (CSIDL_*) that the system asks for by number.
inline constexpr int CsidlDesktop = 0x00;
inline constexpr int CsidlPrograms = 0x02;
inline constexpr int CsidlPersonal = 0x05;
inline constexpr int CsidlStartup = 0x07;
inline constexpr int CsidlRecent = 0x08;
inline constexpr int CsidlStartMenu = 0x0b;
inline constexpr int CsidlDesktopDirectory = 0x10;
inline constexpr int CsidlNetwork = 0x12;
inline constexpr int CsidlNetHood = 0x13;
inline constexpr int CsidlFonts = 0x14;
inline constexpr int CsidlCommonStartMenu = 0x16;
inline constexpr int CsidlCommonPrograms = 0x17;
inline constexpr int CsidlCommonStartup = 0x18;
inline constexpr int CsidlCommonDesktopDirectory = 0x19;
inline constexpr int CsidlAppData = 0x1a;
inline constexpr int CsidlLocalAppData = 0x1c;
inline constexpr int CsidlCommonAppData = 0x23;
inline constexpr int CsidlWindows = 0x24;
inline constexpr int CsidlSystem = 0x25;
inline constexpr int CsidlProgramFiles = 0x26;
inline constexpr int CsidlProfile = 0x28;
inline constexpr int CsidlSystemX86 = 0x29;
inline constexpr int CsidlProgramFilesX86 = 0x2a;
inline constexpr int CsidlProgramFilesCommon = 0x2b;
inline constexpr int CsidlProgramFilesCommonX86 = 0x2c;

// One directory entry, as WIN32_FIND_DATAW reports it.
struct FindData {
    std::uint32_t attributes = 0;
    FileTime lastWriteTime = 0;
    std::uint64_t fileSize = 0;
    std::u16string fileName;
};

// An open search of FindFirstFileW; destroying it is FindClose.
class IFileSearch {
public:
    virtual ~IFileSearch() = default;
    // The next matching entry; false with ERROR_NO_MORE_FILES semantics at the end.
    virtual bool FindNextFileW(FindData* data) = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Forgets what was learnt about folders and files, so that a new scan sees the disk as it
    // is now. A target that keeps nothing has nothing to forget.
    virtual void ClearCache() {}

    // The attributes of a file or folder. InvalidFileAttributes when it does not exist, with
    // *error (optional) set to ERROR_FILE_NOT_FOUND for a missing last component and
    // ERROR_PATH_NOT_FOUND for a missing folder on the way or a path no drive maps.
    virtual std::uint32_t GetFileAttributesW(std::u16string_view path,
                                             LStatus* error = nullptr) = 0;
    // Sets the attributes the target can keep (read-only); the others are accepted and ignored.
    virtual LStatus SetFileAttributesW(std::u16string_view path, std::uint32_t attributes) = 0;

    // Starts a search for a folder's entries whose names match the last component of pattern
    // (with * and ?). Returns the search with *first set to the first match, or null with
    // *error (optional) set when the folder cannot be listed or nothing matches.
    virtual std::unique_ptr<IFileSearch> FindFirstFileW(std::u16string_view pattern,
                                                        FindData* first,
                                                        LStatus* error = nullptr) = 0;

    // Whether an existing file can be opened for writing (CreateFileW with GENERIC_WRITE and
    // OPEN_EXISTING, closed at once): ERROR_SUCCESS, or why it cannot. Nothing is created,
    // truncated or changed; a folder, a read-only file and a device are refused.
    virtual LStatus OpenExistingFileForWriting(std::u16string_view path) = 0;

    virtual LStatus DeleteFileW(std::u16string_view path) = 0;
    // Removes an empty folder (a link to a folder is removed itself, never its target).
    virtual LStatus RemoveDirectoryW(std::u16string_view path) = 0;
    virtual LStatus CreateDirectoryW(std::u16string_view path) = 0;
    virtual LStatus CopyFileW(std::u16string_view from, std::u16string_view to,
                              bool failIfExists) = 0;
    // Moves a file or folder to a name that does not exist yet.
    virtual LStatus MoveFileW(std::u16string_view from, std::u16string_view to) = 0;

    // The drive roots, each followed by a NUL ("C:\\\0Z:\\\0"), as GetLogicalDriveStringsW
    // fills its buffer (without the final extra NUL).
    virtual std::u16string GetLogicalDriveStringsW() = 0;
    // DRIVE_* of the drive holding path (a root such as "C:\\", or any folder on it).
    virtual std::uint32_t GetDriveTypeW(std::u16string_view rootPath) = 0;
    // The device a DOS name ("C:", "COM1") stands for; nullopt when there is none.
    virtual std::optional<std::u16string> QueryDosDeviceW(std::u16string_view deviceName) = 0;

    // text with every %NAME% of a defined variable replaced by its value; undefined names stay
    // as written. The caller compares the length with its buffer.
    virtual std::u16string ExpandEnvironmentStringsW(std::u16string_view text) = 0;

    virtual std::u16string GetWindowsDirectoryW() = 0;
    virtual std::u16string GetSystemDirectoryW() = 0;
    // The 32-bit system folder of a 64-bit target; nullopt on a 32-bit one.
    virtual std::optional<std::u16string> GetSystemWow64DirectoryW() = 0;
    virtual std::u16string GetCurrentDirectoryW() = 0;
    // GetFullPathNameW: path made absolute against the current folder, '/' turned into '\\'
    // and "." and ".." folded; empty when the path cannot be made absolute.
    virtual std::u16string GetFullPathNameW(std::u16string_view path) = 0;

    // The file-system path of a special folder (SHGetSpecialFolderLocation followed by
    // SHGetPathFromIDListW); nullopt for a virtual folder or one the target does not define.
    virtual std::optional<std::u16string> GetSpecialFolderPath(int csidl) = 0;

    // SearchPathW: the full path of fileName (with extension appended when the name has
    // none) found in searchPath, or when that is absent in the system, 16-bit system and
    // Windows folders, the current folder and the folders of PATH.
    virtual std::optional<std::u16string> SearchPathW(std::optional<std::u16string_view> searchPath,
                                                      std::u16string_view fileName,
                                                      std::u16string_view extension) = 0;
    // PathFindOnPathW: a bare file name (no ':' and no '\\') looked for in otherDirs, then in
    // the system, 16-bit system and Windows folders and the folders of PATH.
    virtual std::optional<std::u16string> PathFindOnPathW(
        std::u16string_view file, std::span<const std::u16string> otherDirs) = 0;
};

}  // namespace quillary
