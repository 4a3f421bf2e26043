#pragma once

// A file that only grows: each append is on the disk before Append returns. While one is
// open, the file is held: another holder (a second process, or a second object in this one)
// cannot take it, which is how a reader tells a file that is still being written from one
// whose writer died. IFileIo::CreateAppendFile makes one for the host system.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "platform/file_io.h"

namespace quillary {

class CAppendFile {
public:
    virtual ~CAppendFile() = default;
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Appends bytes and flushes them. On failure the file is cut back to what it held before,
    // so it never ends in half a record; if even that fails, every later append fails too.
    [[nodiscard]] FileError Append(std::span<const std::uint8_t> bytes);

    const std::filesystem::path& Path() const { return path_; }

protected:
    explicit CAppendFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Writes bytes at the end of the file, which holds size bytes, and flushes them. On failure
    // the file is cut back to size bytes; *cutBack tells whether that worked.
    [[nodiscard]] virtual FileError WriteAtEnd(std::span<const std::uint8_t> bytes,
                                               std::uint64_t size, bool* cutBack) = 0;

private:
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
    bool broken_ = false;
};

}  // namespace quillary
