#pragma once

// The files below a folder that match a mask, found recursively: a folder's sub-folders are
// listed before its own files, depth first, in the order the file system gives them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace quillary {

// One found file: its full path with what the search reported about it.
struct CFileInfo {
    std::u16string path;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    FileTime lastWriteTime = 0;
};

class CFileInfoArray {
public:
    explicit CFileInfoArray(IFileSystem& files) : files_(files) {}

    // Appends every file below folder (which ends in a backslash) whose name matches mask,
    // and returns how many were added. A folder that cannot be listed adds nothing. Folder
    // links below the starting folder are not entered, so a walk neither leaves the tree it
    // was given nor goes round a loop.
    int AddFolderFiles(std::u16string_view folder, std::u16string_view mask);

    const std::vector<CFileInfo>& Files() const { return found_; }

private:
    int AddFolderFilesAt(const std::u16string& folder, std::u16string_view mask, int depth);

    IFileSystem& files_;
    std::vector<CFileInfo> found_;
};

}  // namespace quillary
