#pragma once

// CAppendFile on a POSIX system: a descriptor opened for appending, held with flock.

#include "platform/append_file.h"

namespace quillary {

class CPosixAppendFile final : public CAppendFile {
public:
    // Creates the file, which must not exist yet, and holds it. Null, with *error set, when it
    // cannot be created or held.
    static std::unique_ptr<CAppendFile> Create(const std::filesystem::path& path,
                                               std::string* error);
    // Whether another descriptor holds path right now. False for a missing file.
    static bool IsHeld(const std::filesystem::path& path);
    ~CPosixAppendFile() override;

private:
    CPosixAppendFile(std::filesystem::path path, int fd) : CAppendFile(std::move(path)), fd_(fd) {}
    [[nodiscard]] FileError WriteAtEnd(std::span<const std::uint8_t> bytes, std::uint64_t size,
                                       bool* cutBack) override;

    int fd_;
};

}  // namespace quillary
