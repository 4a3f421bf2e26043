#pragma once

// A file that only grows: each append is on the disk before Append returns. While one is
// open, the file is held: another holder (a second process, or a second object in this one)
// cannot take it, which is how a reader tells a file that is still being written from one
// whose writer died.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "platform/file_io.h"

namespace quillary {

class CAppendFile {
public:
    // Creates the file, which must not exist yet, and holds it. Null, with *error set, when it
    // cannot be created.
    static std::unique_ptr<CAppendFile> Create(const std::filesystem::path& path,
                                               std::string* error);
    ~CAppendFile();
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Appends bytes and flushes them. On failure the file is cut back to what it held before,
    // so it never ends in half a record; if even that fails, every later append fails too.
    [[nodiscard]] FileError Append(std::span<const std::uint8_t> bytes);

    const std::filesystem::path& Path() const { return path_; }

private:
    CAppendFile(std::filesystem::path path, std::intptr_t handle)
        : path_(std::move(path)), handle_(handle) {}

    std::filesystem::path path_;
    std::intptr_t handle_;
    std::uint64_t size_ = 0;
    bool broken_ = false;
};

// Whether a live CAppendFile holds path right now. False for a missing file.
bool IsAppendFileHeld(const std::filesystem::path& path);

}  // namespace quillary
