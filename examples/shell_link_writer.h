#pragma once

// Shell link (.lnk) files: the binary form a shortcut takes on disk. Only what a shortcut to a
// file or folder on a local drive needs is written: the header and a LinkInfo block naming
// the target by its local path, plus the working folder.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace quillary::demo {

struct ShellLinkTarget {
    // The full Windows path of the target, e.g. C:\Program Files\App\app.exe.
    std::u16string path;
    bool isFolder = false;
    // The time stamped as the target's creation, access and write time.
    FileTime time = 0;
};

// The bytes of a shortcut to target. The path must be absolute with a drive letter ("C:\...")
// and shorter than 260 characters; anything else gives an empty result.
std::vector<std::uint8_t> FormatShellLink(const ShellLinkTarget& target);

}  // namespace quillary::demo
