#pragma once

// The last scan's problems kept across runs in "results.kvl" in the data folder, and checked
// again against the registry when they are read back.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/registry_access.h"
#include "engine/scan_driver.h"
#include "platform/file_io.h"

namespace quillary {

inline constexpr std::string_view kResultsFileName = "results.kvl";

// Writes every category's problems, replacing the file atomically through files: a failed save
// leaves the previous file as it was.
[[nodiscard]] FileError SaveResults(IFileIo& files, const CScanDriver& driver,
                                    const std::filesystem::path& dataFolder);

struct LoadedResults {
    int savedTotal = 0;  // the total the file states
    int kept = 0;        // problems still found in the registry
    // Empty when the file was read whole; otherwise what was damaged (the problems read
    // before the damage are kept).
    std::string error;
};

// Reads the file back through files into all fourteen categories, keeping each problem whose
// key (and value) still exists. Never creates a key. A missing file loads nothing.
LoadedResults LoadResults(IFileIo& files, CScanDriver& driver,
                          const std::filesystem::path& dataFolder, const RegistryTarget& target);

}  // namespace quillary
