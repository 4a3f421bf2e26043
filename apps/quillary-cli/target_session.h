#pragma once

// Everything a command needs to work on one Wine prefix: its registry and file system, the
// program's own config store and data folder, and the application context built from them.

#include <filesystem>
#include <memory>
#include <string>

#include "app/app_context.h"
#include "targets/linux/lnk_shell_link_reader.h"
#include "targets/linux/target_platform_queries.h"
#include "targets/wine/prefix_choice.h"
#include "targets/wine/prefix_file_system.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wine_system_protection.h"

namespace quillary::cli {

// The data folder name of a prefix: its folder name made safe, and a hash of its full path so
// that two prefixes of the same name keep their undo histories apart.
std::u16string TargetIdOf(const std::filesystem::path& prefix);

class CTargetSession {
public:
    // Opens the prefix and the config store; null with *error when either cannot be opened.
    static std::unique_ptr<CTargetSession> Open(const PrefixChoice& choice,
                                                const std::filesystem::path& executablePath,
                                                std::string* error);

    const PrefixChoice& Choice() const { return choice_; }
    CWinePrefixRegistry& Registry() { return *registry_; }
    CMappedFileSystem& Files() { return *files_; }
    // Writes the program's own registry (settings and counters) when it changed.
    [[nodiscard]] FileError SaveConfig() { return configStore_->Save(); }
    const IClock& Clock() const { return clock_; }
    CAppContext& Context() { return *context_; }

private:
    explicit CTargetSession(PrefixChoice choice) : choice_(std::move(choice)) {}

    PrefixChoice choice_;
    std::unique_ptr<CWinePrefixRegistry> registry_;
    std::unique_ptr<CWinePrefixRegistry> configStore_;
    std::unique_ptr<CMappedFileSystem> files_;
    std::unique_ptr<CWineSystemProtection> protection_;
    std::unique_ptr<CLnkShellLinkReader> shellLinks_;
    std::unique_ptr<CTargetPlatformQueries> platform_;
    CSystemClock clock_;
    std::unique_ptr<CAppContext> context_;
};

}  // namespace quillary::cli
