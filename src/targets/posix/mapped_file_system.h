#pragma once

// The file half of the platform surface over Unix folders mapped as drive letters: a Wine
// prefix's dosdevices, a mounted Windows volume, or a temporary folder in a test. Files and
// folders behave as a Windows program sees them through Wine: names match without regard to
// case, a name starting with a dot is hidden, a file nobody may write is read-only, a link is
// a reparse point, and a path no drive maps does not exist.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/native_file_io.h"
#include "targets/posix/path_resolver.h"
#include "targets/posix/posix_file_io.h"
#include "targets/posix/windows_environment.h"

namespace quillary {

// Everything the file system of a target is made of.
struct MappedFileSystemSetup {
    std::vector<DriveMapping> drives;
    // DOS names other than drives, such as {"COM1", "\\Device\\Serial0"}.
    std::vector<std::pair<std::u16string, std::u16string>> devices;
    CWindowsEnvironment environment;
    std::u16string windowsDirectory = u"C:\\windows";
    bool is64Bit = true;
    std::map<int, std::u16string> specialFolders;  // by CSIDL
    // What a copy replaces its target with; null for the host's own file I/O. A test puts one
    // here that fails as a full disk does.
    CNativeFileIo* copyFileIo = nullptr;
};

class CMappedFileSystem : public IFileSystem {
public:
    explicit CMappedFileSystem(MappedFileSystemSetup setup);

    // Forgets what was learnt about folders, so that a new scan sees the disk as it is now.
    void ClearCache() override { ForgetWhatWasLearnt(); }
    const CWindowsEnvironment& Environment() const { return setup_.environment; }
    // The Unix path a Windows path stands for, when it exists.
    std::optional<std::filesystem::path> UnixPathOf(std::u16string_view path);

    std::uint32_t GetFileAttributesW(std::u16string_view path, LStatus* error) override;
    LStatus SetFileAttributesW(std::u16string_view path, std::uint32_t attributes) override;
    std::unique_ptr<IFileSearch> FindFirstFileW(std::u16string_view pattern, FindData* first,
                                                LStatus* error) override;
    LStatus OpenExistingFileForWriting(std::u16string_view path) override;
    LStatus DeleteFileW(std::u16string_view path) override;
    LStatus RemoveDirectoryW(std::u16string_view path) override;
    LStatus CreateDirectoryW(std::u16string_view path) override;
    LStatus CopyFileW(std::u16string_view from, std::u16string_view to, bool failIfExists) override;
    LStatus MoveFileW(std::u16string_view from, std::u16string_view to) override;
    std::u16string GetLogicalDriveStringsW() override;
    std::uint32_t GetDriveTypeW(std::u16string_view rootPath) override;
    std::optional<std::u16string> QueryDosDeviceW(std::u16string_view deviceName) override;
    std::u16string ExpandEnvironmentStringsW(std::u16string_view text) override;
    std::u16string GetWindowsDirectoryW() override { return setup_.windowsDirectory; }
    std::u16string GetSystemDirectoryW() override;
    std::optional<std::u16string> GetSystemWow64DirectoryW() override;
    std::u16string GetCurrentDirectoryW() override { return resolver_.CurrentDirectory(); }
    std::u16string GetFullPathNameW(std::u16string_view path) override;
    std::optional<std::u16string> GetSpecialFolderPath(int csidl) override;
    std::optional<std::u16string> SearchPathW(std::optional<std::u16string_view> searchPath,
                                              std::u16string_view fileName,
                                              std::u16string_view extension) override;
    std::optional<std::u16string> PathFindOnPathW(
        std::u16string_view file, std::span<const std::u16string> otherDirs) override;

private:
    struct Attributes {
        std::uint32_t attributes;
        LStatus error;
    };

    bool Exists(std::u16string_view path);
    std::vector<std::u16string> StandardSearchFolders();
    std::uint32_t LookUpAttributes(std::u16string_view path, LStatus* error);
    // Forgets resolved folders, examined paths and given answers: after a change, and when
    // a scan starts.
    void ForgetWhatWasLearnt();
    CNativeFileIo& CopyFileIo() { return setup_.copyFileIo ? *setup_.copyFileIo : hostFileIo_; }

    MappedFileSystemSetup setup_;
    CPosixFileIo hostFileIo_;
    CPathResolver resolver_;
    // GetFileAttributesW's answer for each path text until the cache is cleared: a scan asks
    // about the same library for every class it serves, in the same words.
    std::mutex answersMutex_;
    std::unordered_map<std::u16string, Attributes> answers_;
};

}  // namespace quillary
