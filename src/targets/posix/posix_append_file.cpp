#include "targets/posix/posix_append_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "targets/posix/posix_file_io.h"

namespace quillary {

std::unique_ptr<CAppendFile> CPosixAppendFile::Create(const std::filesystem::path& path,
                                                      std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = DescribeFileError("create", path, errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = DescribeFileError("hold", path, errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CAppendFile>(new CPosixAppendFile(path, fd));
}

bool CPosixAppendFile::IsHeld(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

CPosixAppendFile::~CPosixAppendFile() {
    ::close(fd_);
}

FileError CPosixAppendFile::WriteAtEnd(std::span<const std::uint8_t> bytes, std::uint64_t size,
                                       bool* cutBack) {
    std::size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0) {
            error = chunk < 0 ? errno : ENOSPC;
            break;
        }
        written += static_cast<std::size_t>(chunk);
    }
    if (error == 0 && ::fdatasync(fd_) != 0)
        error = errno;
    if (error != 0) {
        *cutBack = ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
        return DescribeFileError("write", Path(), error);
    }
    return std::nullopt;
}

}  // namespace quillary
