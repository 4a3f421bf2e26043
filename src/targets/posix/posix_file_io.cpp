#include "targets/posix/posix_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "targets/posix/posix_append_file.h"

namespace quillary {

std::string DescribeFileError(const std::string& action, const std::filesystem::path& path,
                              int error) {
    return "cannot " + action + " " + path.string() + ": " + std::system_category().message(error);
}

namespace {

std::string NotARegularFile(const std::filesystem::path& path) {
    return path.string() + " is not a regular file";
}

}  // namespace

FileError CPosixFileIo::Failed(const std::string& action, const std::filesystem::path& path,
                               int error) {
    return SystemFailure(DescribeFileError(action, path, error), error);
}

FileError CPosixFileIo::OpenDescriptor(const std::filesystem::path& path, int flags,
                                       NativeFile* file) {
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return Failed("open", path, errno);
    }
    *file = fd;
    return std::nullopt;
}

void CPosixFileIo::FlushFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::unique_ptr<CAppendFile> CPosixFileIo::CreateAppendFile(const std::filesystem::path& path,
                                                            std::string* error) {
    std::unique_ptr<CAppendFile> file = CPosixAppendFile::Create(path, error);
    if (file) {
        FlushFolder(path.parent_path());
    }
    return file;
}

bool CPosixFileIo::IsAppendFileHeld(const std::filesystem::path& path) {
    return CPosixAppendFile::IsHeld(path);
}

FileError CPosixFileIo::Write(NativeFile file, const std::filesystem::path& path,
                              std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk =
            ::write(static_cast<int>(file), bytes.data() + written, bytes.size() - written);
        if (chunk < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failed("write", path, errno);
        }
        written += static_cast<std::size_t>(chunk);
    }
    return std::nullopt;
}

FileError CPosixFileIo::CloseFile(NativeFile file, const std::filesystem::path& path) {
    if (::close(static_cast<int>(file)) != 0) {
        return Failed("close", path, errno);
    }
    return std::nullopt;
}

// A replaced registry file must stay as readable, and no more, as it was, and stay its owner's.
FileError CPosixFileIo::CreateNewFile(const std::filesystem::path& path,
                                      const std::filesystem::path& like, NativeFile* file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Failed("create", path, errno);
    }
    struct stat old {};
    if (::stat(like.c_str(), &old) == 0) {
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            return Failed("set the permissions of", path, error);
        }
        // Only a privileged process may give the file away. Any other keeps it as its own, as
        // a rename by it always has, so a refusal here is no failure.
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    }
    *file = fd;
    return std::nullopt;
}

FileError CPosixFileIo::OpenForRewrite(const std::filesystem::path& path, NativeFile* file) {
    return OpenDescriptor(path, O_WRONLY | O_CLOEXEC, file);
}

FileError CPosixFileIo::OpenForAppending(const std::filesystem::path& path, NativeFile* file) {
    return OpenDescriptor(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, file);
}

// The path is looked at before it is opened, and opened without waiting, so that a FIFO (whose
// open waits for a writer) is refused at once; the opened file is looked at again in case the
// path changed in between.
FileError CPosixFileIo::OpenForReading(const std::filesystem::path& path, NativeFile* file,
                                       std::uint64_t* size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return Failed("open", path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return NotARegularFile(path);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Failed("open", path, errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return NotARegularFile(path);
    }
    *size = static_cast<std::uint64_t>(info.st_size);
    *file = fd;
    return std::nullopt;
}

FileError CPosixFileIo::Seek(NativeFile file, const std::filesystem::path& path,
                             std::uint64_t offset) {
    if (::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Failed("seek in", path, errno);
    }
    return std::nullopt;
}

FileError CPosixFileIo::CutAtPosition(NativeFile file, const std::filesystem::path& path) {
    const off_t position = ::lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(static_cast<int>(file), position) != 0) {
        return Failed("set the size of", path, errno);
    }
    return std::nullopt;
}

FileError CPosixFileIo::Flush(NativeFile file, const std::filesystem::path& path) {
    if (::fsync(static_cast<int>(file)) != 0) {
        return Failed("flush", path, errno);
    }
    return std::nullopt;
}

FileError CPosixFileIo::RenameOver(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Failed("replace", to, errno);
    }
    FlushFolder(to.parent_path());
    return std::nullopt;
}

std::uintmax_t CPosixFileIo::HardLinkCount(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_nlink : 1;
}

FileError CPosixFileIo::ReadUpTo(NativeFile file, const std::filesystem::path& path,
                                 std::uint8_t* buffer, std::size_t size, std::size_t* got) {
    *got = 0;
    while (*got < size) {
        const ssize_t chunk = ::read(static_cast<int>(file), buffer + *got, size - *got);
        if (chunk < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failed("read", path, errno);
        }
        if (chunk == 0) {
            break;
        }
        *got += static_cast<std::size_t>(chunk);
    }
    return std::nullopt;
}

}  // namespace quillary
