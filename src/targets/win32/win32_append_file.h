#pragma once

// CAppendFile on Windows: a handle shared for reading only, so nobody else may write the file
// while it is held.

#include "platform/append_file.h"

namespace quillary {

class CWin32AppendFile final : public CAppendFile {
public:
    // Creates the file, which must not exist yet, and holds it. Null, with *error set, when it
    // cannot be created.
    static std::unique_ptr<CAppendFile> Create(const std::filesystem::path& path,
                                               std::string* error);
    // Whether another handle holds path right now. False for a missing file.
    static bool IsHeld(const std::filesystem::path& path);
    ~CWin32AppendFile() override;

private:
    CWin32AppendFile(std::filesystem::path path, NativeFile handle)
        : CAppendFile(std::move(path)), handle_(handle) {}
    [[nodiscard]] FileError WriteAtEnd(std::span<const std::uint8_t> bytes, std::uint64_t size,
                                       bool* cutBack) override;

    NativeFile handle_;
};

}  // namespace quillary
