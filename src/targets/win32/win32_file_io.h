#pragma once

// The program's file I/O on Windows: handles, FlushFileBuffers, MoveFileExW with write-through,
// and a share mode that keeps the files that only grow held.

#include "platform/native_file_io.h"

namespace quillary {

class CWin32FileIo : public CNativeFileIo {
public:
    // Windows makes a rename durable through MOVEFILE_WRITE_THROUGH; folders cannot be flushed.
    void FlushFolder(const std::filesystem::path&) override {}
    [[nodiscard]] std::unique_ptr<CAppendFile> CreateAppendFile(const std::filesystem::path& path,
                                                                std::string* error) override;
    [[nodiscard]] bool IsAppendFileHeld(const std::filesystem::path& path) override;

protected:
    [[nodiscard]] FileError Write(NativeFile file, const std::filesystem::path& path,
                                  std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] FileError CloseFile(NativeFile file, const std::filesystem::path& path) override;
    // Windows files have no mode to copy from the file they replace.
    [[nodiscard]] FileError CreateNewFile(const std::filesystem::path& path,
                                          const std::filesystem::path& like,
                                          NativeFile* file) override;
    [[nodiscard]] FileError OpenForRewrite(const std::filesystem::path& path,
                                           NativeFile* file) override;
    [[nodiscard]] FileError OpenForAppending(const std::filesystem::path& path,
                                             NativeFile* file) override;
    [[nodiscard]] FileError OpenForReading(const std::filesystem::path& path, NativeFile* file,
                                           std::uint64_t* size) override;
    [[nodiscard]] FileError Seek(NativeFile file, const std::filesystem::path& path,
                                 std::uint64_t offset) override;
    [[nodiscard]] FileError CutAtPosition(NativeFile file,
                                          const std::filesystem::path& path) override;
    [[nodiscard]] FileError Flush(NativeFile file, const std::filesystem::path& path) override;
    [[nodiscard]] FileError RenameOver(const std::filesystem::path& from,
                                       const std::filesystem::path& to) override;
    std::uintmax_t HardLinkCount(const std::filesystem::path& path) override;
    [[nodiscard]] FileError ReadUpTo(NativeFile file, const std::filesystem::path& path,
                                     std::uint8_t* buffer, std::size_t size,
                                     std::size_t* got) override;
};

// "cannot <action> <path>: <what the system says of error>", for a GetLastError code.
std::string DescribeFileError(const std::string& action, const std::filesystem::path& path,
                              unsigned long error);

}  // namespace quillary
