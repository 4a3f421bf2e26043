#include "app/target_factory.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "categories/category_factory.h"
#include "core/text_encoding.h"
#include "targets/linux/config_store.h"
#include "targets/wine/prefix_file_system.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// Whether path, with every link resolved, lies inside folder (itself fully resolved).
bool LiesInside(const fs::path& folder, const fs::path& path) {
    std::error_code code;
    const fs::path real = fs::weakly_canonical(path, code);
    if (code)
        return false;
    auto [rest, unused] = std::mismatch(folder.begin(), folder.end(), real.begin(), real.end());
    return rest == folder.end();
}

}  // namespace

ProgramFolders ProgramFoldersOfUser(fs::path executablePath) {
    return {DefaultConfigFolder(), DefaultDataHome(), std::move(executablePath)};
}

std::u16string TargetIdOf(const fs::path& folder) {
    std::error_code code;
    fs::path full = fs::weakly_canonical(folder, code);
    if (code)
        full = fs::absolute(folder, code);
    std::string safe;
    for (char ch : full.filename().string()) {
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                     (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
        safe += plain ? ch : '_';
    }
    // FNV-1a of the full path.
    std::uint32_t hash = 2166136261u;
    for (unsigned char ch : full.string()) {
        hash ^= ch;
        hash *= 16777619u;
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", hash);
    return Utf8ToUtf16("wine-" + safe + "-" + digits);
}

fs::path DemoPrefixFolder(const fs::path& dataHome) {
    return dataHome / "quillary" / "demo-prefix";
}

COpenTarget::COpenTarget(fs::path folder)
    : folder_(std::move(folder)), targetId_(TargetIdOf(folder_)) {}

bool COpenTarget::LoadPrefix(const TargetOptions& options, std::string* error) {
    std::unique_ptr<CWinePrefixRegistry> registry =
        CWinePrefixRegistry::Open(fileIo_, folder_, error);
    if (!registry)
        return false;
    prefixStore_ = registry.get();
    files_ = OpenPrefixFileSystem(folder_, *registry, registry->Is64Bit());
    store_ = std::move(registry);
    scope_ = std::make_unique<CPrefixFileScope>(folder_, *files_);
    const auto mayChange = [&scope = *scope_](std::u16string_view path) {
        return scope.MayChange(path);
    };
    return Assemble(options, mayChange, error);
}

std::unique_ptr<COpenTarget> COpenTarget::OpenPrefix(const PrefixChoice& choice,
                                                     const TargetOptions& options,
                                                     std::string* error) {
    std::unique_ptr<COpenTarget> target(new COpenTarget(choice.folder));
    if (!target->LoadPrefix(options, error))
        return nullptr;
    return target;
}

std::unique_ptr<COpenTarget> COpenTarget::OpenDemoPrefix(const DemoPrefixWriter& writeDemo,
                                                         const TargetOptions& options,
                                                         std::string* error) {
    if (options.folders.dataHome.empty()) {
        *error =
            "there is no data home to keep the demo prefix in (neither $XDG_DATA_HOME nor "
            "$HOME is an absolute path)";
        return nullptr;
    }
    std::unique_ptr<COpenTarget> target(
        new COpenTarget(DemoPrefixFolder(options.folders.dataHome)));
    std::error_code code;
    if (!fs::exists(target->folder_, code)) {
        if (FileError failure = writeDemo(target->fileIo_, target->folder_)) {
            *error = "cannot write the demo prefix: " + *failure;
            return nullptr;
        }
    }
    if (!target->LoadPrefix(options, error))
        return nullptr;
    return target;
}

std::unique_ptr<COpenTarget> COpenTarget::OpenInMemory(std::unique_ptr<CMemoryRegistry> store,
                                                       const fs::path& driveC,
                                                       const TargetOptions& options,
                                                       std::string* error) {
    std::unique_ptr<COpenTarget> target(new COpenTarget(driveC));
    MappedFileSystemSetup setup;
    setup.drives = {{u'C', driveC, DriveFixed, {}}};
    setup.is64Bit = store->Is64Bit();
    target->files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
    target->store_ = std::move(store);
    std::error_code code;
    const fs::path realDriveC = fs::weakly_canonical(driveC, code);
    // As in a prefix, the folder holding the file counts, since an undo writes back a file
    // that is gone; a file that is there must not be a link leading out either.
    const auto mayChange = [realDriveC, &files = *target->files_](std::u16string_view path) {
        const std::size_t slash = path.rfind(u'\\');
        if (realDriveC.empty() || slash == std::u16string_view::npos)
            return false;
        const std::optional<fs::path> folder =
            files.UnixPathOf(path.substr(0, std::max<std::size_t>(slash, 3)));
        const std::optional<fs::path> file = files.UnixPathOf(path);
        return folder && LiesInside(realDriveC, *folder) &&
               (!file || LiesInside(realDriveC, *file));
    };
    if (!target->Assemble(options, mayChange, error))
        return nullptr;
    return target;
}

bool COpenTarget::Assemble(const TargetOptions& options,
                           std::function<bool(std::u16string_view)> mayChangeFile,
                           std::string* error) {
    configStore_ = OpenConfigStore(fileIo_, options.folders.configFolder, error);
    if (!configStore_)
        return false;
    protection_ = std::make_unique<CWineSystemProtection>(*files_);
    shellLinks_ = std::make_unique<CLnkShellLinkReader>(*files_);
    platform_ = std::make_unique<CTargetPlatformQueries>(*store_, *configStore_, targetId_,
                                                         options.folders.dataHome);
    RepairEnvironment repair{
        zip_, [&files = *files_](std::u16string_view path) { return files.UnixPathOf(path); },
        std::move(mayChangeFile), options.showMessage};
    context_ = std::make_unique<CAppContext>(
        AppEnvironment{*store_, *files_, *protection_, *configStore_, *platform_, clock_, fileIo_,
                       options.folders.executablePath, MakeCategory, options.pacing,
                       options.setLocale, shellLinks_.get(), std::move(repair)});
    return true;
}

}  // namespace quillary
