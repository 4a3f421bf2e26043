#include "targets/linux/config_store.h"

#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/file_io.h"

namespace quillary {
namespace {

constexpr std::string_view kEmptyMachineFile =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

std::filesystem::path AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

}  // namespace

std::filesystem::path DefaultConfigFolder() {
    if (auto configHome = AbsoluteFromEnvironment("XDG_CONFIG_HOME"); !configHome.empty()) {
        return configHome / "quillary";
    }
    if (auto home = AbsoluteFromEnvironment("HOME"); !home.empty()) {
        return home / ".config" / "quillary";
    }
    return {};
}

std::unique_ptr<CWinePrefixRegistry> OpenConfigStore(IFileIo& files,
                                                     const std::filesystem::path& folder,
                                                     std::string* error) {
    if (folder.empty()) {
        *error = "there is no folder for the program's settings (set HOME or XDG_CONFIG_HOME)";
        return nullptr;
    }
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    const std::filesystem::path machineFile = folder / "system.reg";
    if (!std::filesystem::exists(machineFile, code)) {
        // The store keeps only the current user's values; the machine's file stays empty.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(kEmptyMachineFile.data());
        if (FileError failure =
                files.ReplaceFileAtomically(machineFile, {bytes, kEmptyMachineFile.size()})) {
            *error = *failure;
            return nullptr;
        }
    }
    return CWinePrefixRegistry::Open(files, folder, error);
}

}  // namespace quillary
