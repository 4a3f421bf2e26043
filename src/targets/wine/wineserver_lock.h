#pragma once

// Whether a wineserver runs for a prefix. A running server keeps the registry in memory and
// writes it back over the files, so edits made to the files meanwhile would be lost.

#include <filesystem>
#include <optional>

namespace quillary {

struct RunningWineServer {
    std::filesystem::path lockFile;
    long pid = 0;  // as the lock reports it; 0 when unknown
};

// The server that holds the lock of the prefix's server folder, if one runs. The folder is
// looked for where upstream Wine puts it (/tmp/.wine-<uid>/server-<dev>-<inode>) and where
// Debian's Wine puts it (a folder named by the prefix's "wineserver" file, under $TMPDIR or
// /tmp).
std::optional<RunningWineServer> FindRunningWineServer(const std::filesystem::path& prefix);

}  // namespace quillary
