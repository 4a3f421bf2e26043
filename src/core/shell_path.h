#pragma once

// The shlwapi and C runtime path helpers that file-reference checks are written with, with
// Windows' semantics. The ones that look at the disk ask the target's file system.

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace quillary {

// True when path names an existing file or folder; false for an empty path.
bool PathFileExistsW(IFileSystem& files, std::u16string_view path);

// True for a UNC path ("\\\\server\\share") and for a path on a network drive.
bool PathIsNetworkPathW(IFileSystem& files, std::u16string_view path);

// True when path holds neither ':' nor '\\' (a bare name, perhaps with '/').
bool PathIsFileSpecW(std::u16string_view path);

// What follows the first blank outside double quotes; empty when there is none.
std::u16string_view PathGetArgsW(std::u16string_view commandLine);

// _wsplitpath: "X:" when the path starts with one; the folder up to and including the last
// '\\' or '/'; the name; the extension from the last '.' of the name on.
struct SplitPathParts {
    std::u16string drive;
    std::u16string folder;
    std::u16string name;
    std::u16string extension;
};
SplitPathParts SplitPath(std::u16string_view path);

// PathSearchAndQualifyW: the path found by SearchPathW, else the full path name; nullopt when
// neither fits in bufferLength characters with the terminator.
std::optional<std::u16string> PathSearchAndQualifyW(IFileSystem& files, std::u16string_view path,
                                                    std::size_t bufferLength);

}  // namespace quillary
