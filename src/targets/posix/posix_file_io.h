#pragma once

// The program's file I/O on a POSIX system: descriptors, fsync, rename, and flock for the
// files that only grow.

#include "platform/native_file_io.h"

namespace quillary {

class CPosixFileIo : public CNativeFileIo {
public:
    void FlushFolder(const std::filesystem::path& folder) override;
    [[nodiscard]] std::unique_ptr<CAppendFile> CreateAppendFile(const std::filesystem::path& path,
                                                                std::string* error) override;
    [[nodiscard]] bool IsAppendFileHeld(const std::filesystem::path& path) override;

protected:
    // DescribeFileError's words, given as the failure of a call of the system with that errno.
    [[nodiscard]] static FileError Failed(const std::string& action,
                                          const std::filesystem::path& path, int error);

    [[nodiscard]] FileError Write(NativeFile file, const std::filesystem::path& path,
                                  std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] FileError CloseFile(NativeFile file, const std::filesystem::path& path) override;
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

private:
    [[nodiscard]] static FileError OpenDescriptor(const std::filesystem::path& path, int flags,
                                                  NativeFile* file);
};

// "cannot <action> <path>: <what errno says>", the words every POSIX file error is given in.
std::string DescribeFileError(const std::string& action, const std::filesystem::path& path,
                              int error);

}  // namespace quillary
