#pragma once

// Opening a target: the registry being cleaned, its file system, the program's own config
// store, the target's data folder and partial backups, and the application context built from
// them. Every program opens its targets here, so that one prefix always gets the same data
// folder (and so one undo history) whichever program opened it.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/app_context.h"
#include "platform/file_io.h"
#include "repair/minizip_codec.h"
#include "targets/linux/lnk_shell_link_reader.h"
#include "targets/linux/target_platform_queries.h"
#include "targets/memory/memory_registry.h"
#include "targets/posix/mapped_file_system.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/prefix_choice.h"
#include "targets/wine/prefix_file_scope.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wine_system_protection.h"

namespace quillary {

// Where the program keeps its own files, and the program itself.
struct ProgramFolders {
    std::filesystem::path configFolder;  // the config store's folder
    std::filesystem::path dataHome;      // each target's data folder lies below it
    // The running program; the language files lie beside it.
    std::filesystem::path executablePath;
};

// The folders of this process's user: DefaultConfigFolder() and DefaultDataHome().
ProgramFolders ProgramFoldersOfUser(std::filesystem::path executablePath);

struct TargetOptions {
    ProgramFolders folders;
    // A message box with an OK button, for the partial backups' messages.
    std::function<void(std::u16string_view)> showMessage = {};
    // The scan page's pauses; the window program turns them on.
    bool pacing = false;
    // Sets the process locale; tests pass one that only records.
    SetLocaleFunction setLocale = SetProcessLocale;
};

// The data folder name of a target folder: its name made safe, and a hash of its full path
// (links resolved) so that two prefixes of the same name keep their undo histories apart.
std::u16string TargetIdOf(const std::filesystem::path& folder);

// Where the demo prefix is kept: <dataHome>/quillary/demo-prefix, a folder where no user
// prefix lives.
std::filesystem::path DemoPrefixFolder(const std::filesystem::path& dataHome);

// Writes the demo prefix into a folder through files; the program passes its generator.
using DemoPrefixWriter =
    std::function<FileError(IFileIo& files, const std::filesystem::path& folder)>;

class COpenTarget {
public:
    // Opens the Wine prefix choice names, and the config store. Null, with *error saying
    // what could not be opened, when either cannot be.
    static std::unique_ptr<COpenTarget> OpenPrefix(const PrefixChoice& choice,
                                                   const TargetOptions& options,
                                                   std::string* error);
    // Opens the demo prefix, which writeDemo writes into DemoPrefixFolder the first time;
    // later runs use (and repair) that same copy. Null with *error as OpenPrefix, or when
    // there is no data home or the prefix cannot be written.
    static std::unique_ptr<COpenTarget> OpenDemoPrefix(const DemoPrefixWriter& writeDemo,
                                                       const TargetOptions& options,
                                                       std::string* error);
    // A target held in memory, for tests: store is the registry, driveC the folder mapped as
    // C:. A repair may change files inside driveC only. Null with *error when the config
    // store cannot be opened.
    static std::unique_ptr<COpenTarget> OpenInMemory(std::unique_ptr<CMemoryRegistry> store,
                                                     const std::filesystem::path& driveC,
                                                     const TargetOptions& options,
                                                     std::string* error);

    COpenTarget(const COpenTarget&) = delete;
    COpenTarget& operator=(const COpenTarget&) = delete;

    // The prefix's folder, or the in-memory target's drive C:.
    const std::filesystem::path& Folder() const { return folder_; }
    const std::u16string& TargetId() const { return targetId_; }
    IRegistry& Store() { return *store_; }
    // The prefix's registry files; null for an in-memory target.
    CWinePrefixRegistry* PrefixStore() { return prefixStore_; }
    CMappedFileSystem& Files() { return *files_; }
    // The program's own files and the registry files are read and written through it.
    IFileIo& FileIo() { return fileIo_; }
    // Writes the program's own registry (settings and counters) when it changed.
    [[nodiscard]] FileError SaveConfig() { return configStore_->Save(); }
    CAppContext& Context() { return *context_; }

private:
    explicit COpenTarget(std::filesystem::path folder);
    // Loads the registry of the prefix in Folder() and builds the rest on it. False with
    // *error when the prefix or the config store cannot be opened.
    bool LoadPrefix(const TargetOptions& options, std::string* error);
    // Opens the config store and builds the rest on the store and the file system already
    // set. False with *error when the config store cannot be opened.
    bool Assemble(const TargetOptions& options,
                  std::function<bool(std::u16string_view)> mayChangeFile, std::string* error);

    std::filesystem::path folder_;
    std::u16string targetId_;
    // Declared first of what uses it, so that it outlives the stores and the context.
    CPosixFileIo fileIo_;
    std::unique_ptr<IRegistry> store_;
    CWinePrefixRegistry* prefixStore_ = nullptr;
    std::unique_ptr<CWinePrefixRegistry> configStore_;
    std::unique_ptr<CMappedFileSystem> files_;
    std::unique_ptr<CWineSystemProtection> protection_;
    std::unique_ptr<CLnkShellLinkReader> shellLinks_;
    std::unique_ptr<CTargetPlatformQueries> platform_;
    CMinizipCodec zip_;
    std::unique_ptr<CPrefixFileScope> scope_;  // a prefix's; null in memory
    CSystemClock clock_;
    std::unique_ptr<CAppContext> context_;
};

}  // namespace quillary
