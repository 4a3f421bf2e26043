#pragma once

// Shortcut files of a target on Linux, read with liblnk: the target path a Windows program
// would get from the shell's link object. The paths the file holds in UTF-16 are taken from
// its bytes unchanged, a lone surrogate included.

#include <cstdint>
#include <span>
#include <string>

#include "platform/shell_link.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {

// What a shortcut file says about its target, each part empty when the file lacks it.
struct ShellLinkLocations {
    std::u16string environmentPath;  // the environment block's path, unexpanded
    std::u16string networkPath;      // the link information's network path
    std::u16string localPath;        // the link information's local path
    std::u16string idListPath;       // the path the target's ID list names
};

// Reads the target locations from the bytes of a shortcut file; nullopt when liblnk does not
// accept the file.
std::optional<ShellLinkLocations> ReadShellLinkLocations(std::span<const std::uint8_t> bytes);

class CLnkShellLinkReader final : public IShellLinkReader {
public:
    // Shortcut files and environment strings are those of files.
    explicit CLnkShellLinkReader(CMappedFileSystem& files) : files_(files) {}

    // The environment block's path expanded, else the network path, else the local path,
    // else the ID list's path.
    std::u16string GetPath(std::u16string_view linkPath) override;

    // Real shortcuts are a few kilobytes; a larger file is not read.
    static constexpr std::size_t kMaxFileSize = 1 << 20;

private:
    CMappedFileSystem& files_;
};

}  // namespace quillary
