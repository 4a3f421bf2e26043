#pragma once

// What the reader and the writer of Wine's registry files (system.reg, user.reg, userdef.reg)
// agree on: the lines that open every file and what they say about it besides its keys.

#include <string>
#include <string_view>

namespace quillary {

// The first line of every file; a file without it is not a Wine registry file.
inline constexpr std::string_view kWineRegHeaderLine = "WINE REGISTRY Version 2";
// The comment naming the key the file's paths are relative to.
inline constexpr std::string_view kWineRegRelativeToPrefix = ";; All keys relative to ";

// What a file says about itself besides its keys.
struct WineRegHeader {
    std::string relativeTo;  // as written after ";; All keys relative to ", e.g. REGISTRY\\Machine
    std::string arch;        // "win64" or "win32"; empty when the file has no #arch line
};

}  // namespace quillary
