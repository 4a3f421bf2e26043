#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/write_faults.h"

namespace quillary {
namespace {

std::string Describe(const std::string& action, const std::filesystem::path& path, int error) {
    return "cannot " + action + " " + path.string() + ": " + std::system_category().message(error);
}

std::string NotARegularFile(const std::filesystem::path& path) {
    return path.string() + " is not a regular file";
}

std::FILE* OpenStream(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

// A temporary name beside the file, unlikely to meet another writer's.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& path) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp",
                  static_cast<unsigned long long>(generator()));
    std::filesystem::path temporary = path;
    temporary += suffix;
    return temporary;
}

// --- the operating system's side: the same small steps for Windows and for POSIX -----------

#ifdef _WIN32

HANDLE AsHandle(NativeFile file) {
    return reinterpret_cast<HANDLE>(file);
}

int LastError() {
    return static_cast<int>(GetLastError());
}

FileError CloseFile(NativeFile file, const std::filesystem::path& path) {
    if (!CloseHandle(AsHandle(file))) {
        return Describe("close", path, LastError());
    }
    return std::nullopt;
}

// Creates path, which must not exist yet, for writing. (Windows files have no mode to copy
// from the file they replace.)
FileError CreateNewFile(const std::filesystem::path& path, const std::filesystem::path&,
                        NativeFile* file) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Describe("create", path, LastError());
    }
    *file = reinterpret_cast<NativeFile>(handle);
    return std::nullopt;
}

FileError OpenForRewrite(const std::filesystem::path& path, NativeFile* file) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Describe("open", path, LastError());
    }
    *file = reinterpret_cast<NativeFile>(handle);
    return std::nullopt;
}

FileError Seek(NativeFile file, const std::filesystem::path& path, std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) {
        return Describe("seek in", path, LastError());
    }
    return std::nullopt;
}

FileError SetLength(NativeFile file, const std::filesystem::path& path, std::uint64_t size) {
    if (FileError failure = Seek(file, path, size)) {
        return failure;
    }
    if (!SetEndOfFile(AsHandle(file))) {
        return Describe("set the size of", path, LastError());
    }
    return std::nullopt;
}

FileError Flush(NativeFile file, const std::filesystem::path& path) {
    if (!FlushFileBuffers(AsHandle(file))) {
        return Describe("flush", path, LastError());
    }
    return std::nullopt;
}

FileError RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Describe("replace", to, LastError());
    }
    return std::nullopt;
}

std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t count = std::filesystem::hard_link_count(path, error);
    return error ? 1 : count;
}

FileError OpenForReading(const std::filesystem::path& path, NativeFile* file, std::uint64_t* size) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return NotARegularFile(path);
    }
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Describe("open", path, LastError());
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return NotARegularFile(path);
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handle, &length)) {
        const int failure = LastError();
        CloseHandle(handle);
        return Describe("read", path, failure);
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    *file = reinterpret_cast<NativeFile>(handle);
    return std::nullopt;
}

// Fills buffer from the file; *got is short only at the end of the file.
FileError ReadUpTo(NativeFile file, const std::filesystem::path& path, std::uint8_t* buffer,
                   std::size_t size, std::size_t* got) {
    *got = 0;
    while (*got < size) {
        DWORD chunk = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(size - *got, 1u << 30));
        if (!ReadFile(AsHandle(file), buffer + *got, want, &chunk, nullptr)) {
            return Describe("read", path, LastError());
        }
        if (chunk == 0) {
            break;
        }
        *got += chunk;
    }
    return std::nullopt;
}

#else

FileError CloseFile(NativeFile file, const std::filesystem::path& path) {
    if (::close(static_cast<int>(file)) != 0) {
        return Describe("close", path, errno);
    }
    return std::nullopt;
}

// Creates path, which must not exist yet, for writing. When like exists, the new file takes
// its mode and, where this process may give it away (as root may), its owner: a replaced
// registry file must stay as readable, and no more, as it was, and stay its owner's.
FileError CreateNewFile(const std::filesystem::path& path, const std::filesystem::path& like,
                        NativeFile* file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Describe("create", path, errno);
    }
    struct stat old {};
    if (::stat(like.c_str(), &old) == 0) {
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            return Describe("set the permissions of", path, error);
        }
        // Only a privileged process may give the file away. Any other keeps it as its own, as
        // a rename by it always has, so a refusal here is no failure.
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    }
    *file = fd;
    return std::nullopt;
}

FileError OpenForRewrite(const std::filesystem::path& path, NativeFile* file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return Describe("open", path, errno);
    }
    *file = fd;
    return std::nullopt;
}

FileError Seek(NativeFile file, const std::filesystem::path& path, std::uint64_t offset) {
    if (::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Describe("seek in", path, errno);
    }
    return std::nullopt;
}

FileError SetLength(NativeFile file, const std::filesystem::path& path, std::uint64_t size) {
    if (::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) != 0) {
        return Describe("set the size of", path, errno);
    }
    return std::nullopt;
}

FileError Flush(NativeFile file, const std::filesystem::path& path) {
    if (::fsync(static_cast<int>(file)) != 0) {
        return Describe("flush", path, errno);
    }
    return std::nullopt;
}

FileError RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Describe("replace", to, errno);
    }
    FlushFolder(to.parent_path());
    return std::nullopt;
}

std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_nlink : 1;
}

// Opens a regular file for reading. The path is looked at before it is opened, and opened
// without waiting, so that a FIFO (whose open waits for a writer) is refused at once; the
// opened file is looked at again in case the path changed in between.
FileError OpenForReading(const std::filesystem::path& path, NativeFile* file, std::uint64_t* size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return Describe("open", path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return NotARegularFile(path);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Describe("open", path, errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return NotARegularFile(path);
    }
    *size = static_cast<std::uint64_t>(info.st_size);
    *file = fd;
    return std::nullopt;
}

// Fills buffer from the file; *got is short only at the end of the file.
FileError ReadUpTo(NativeFile file, const std::filesystem::path& path, std::uint8_t* buffer,
                   std::size_t size, std::size_t* got) {
    *got = 0;
    while (*got < size) {
        const ssize_t chunk = ::read(static_cast<int>(file), buffer + *got, size - *got);
        if (chunk < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Describe("read", path, errno);
        }
        if (chunk == 0) {
            break;
        }
        *got += static_cast<std::size_t>(chunk);
    }
    return std::nullopt;
}

#endif

// Closes a file when it goes out of scope, unless it was closed (with its error) before.
class COpenFile {
public:
    explicit COpenFile(NativeFile file) : file_(file) {}
    ~COpenFile() {
        if (open_) {
            static_cast<void>(CloseFile(file_, {}));
        }
    }
    COpenFile(const COpenFile&) = delete;
    COpenFile& operator=(const COpenFile&) = delete;

    FileError Close(const std::filesystem::path& path) {
        open_ = false;
        return CloseFile(file_, path);
    }

private:
    NativeFile file_;
    bool open_ = true;
};

// Writes a new file beside like (whose mode it takes) and flushes it; on failure the file is
// removed again.
FileError WriteNewFile(const std::filesystem::path& path, const std::filesystem::path& like,
                       std::span<const std::uint8_t> bytes, CFileWriter& writer) {
    NativeFile handle{};
    if (FileError failure = CreateNewFile(path, like, &handle)) {
        return failure;
    }
    FileError failure;
    {
        COpenFile file(handle);
        failure = writer.Write(handle, path, bytes);
        if (!failure) {
            failure = Flush(handle, path);
        }
        if (!failure) {
            failure = file.Close(path);
        }
    }
    if (failure) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return failure;
}

// Writes bytes over the start of an open file, cuts the file to their length and flushes it.
FileError OverwriteWith(NativeFile file, const std::filesystem::path& path,
                        std::span<const std::uint8_t> bytes, CFileWriter& writer) {
    if (FileError failure = Seek(file, path, 0)) {
        return failure;
    }
    if (FileError failure = writer.Write(file, path, bytes)) {
        return failure;
    }
    if (FileError failure = SetLength(file, path, bytes.size())) {
        return failure;
    }
    return Flush(file, path);
}

// Rewrites a file that has other hard links in place, so that they all keep seeing it.
FileError RewriteInPlace(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         CFileWriter& writer) {
    std::vector<std::uint8_t> old;
    if (FileError failure = ReadWholeFile(path, std::numeric_limits<std::size_t>::max(), old)) {
        return failure;
    }
    // A trial copy beside the file finds a full disk before the file is touched. It is removed
    // before the rewrite, which then has the room the copy took.
    const std::filesystem::path trial = TemporaryPathFor(path);
    if (FileError failure = WriteNewFile(trial, path, bytes, writer)) {
        return failure;
    }
    std::error_code ignored;
    std::filesystem::remove(trial, ignored);

    NativeFile handle{};
    if (FileError failure = OpenForRewrite(path, &handle)) {
        return failure;
    }
    COpenFile file(handle);
    if (FileError failure = OverwriteWith(handle, path, bytes, writer)) {
        // The old contents fit in the room the file held before, so they can go back.
        if (FileError restore = OverwriteWith(handle, path, old, writer)) {
            return *failure + "; its old contents could not be put back either (" + *restore + ")";
        }
        return failure;
    }
    return file.Close(path);
}

}  // namespace

void FlushFolder(const std::filesystem::path& folder) {
#ifdef _WIN32
    // Windows makes a rename durable through MOVEFILE_WRITE_THROUGH; folders cannot be flushed.
    (void)folder;
#else
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

#ifdef _WIN32

FileError CFileWriter::Write(NativeFile file, const std::filesystem::path& path,
                             std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD chunk = 0;
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (!WriteFile(AsHandle(file), bytes.data() + written, want, &chunk, nullptr)) {
            return Describe("write", path, LastError());
        }
        written += chunk;
    }
    return std::nullopt;
}

#else

FileError CFileWriter::Write(NativeFile file, const std::filesystem::path& path,
                             std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk =
            ::write(static_cast<int>(file), bytes.data() + written, bytes.size() - written);
        if (chunk < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Describe("write", path, errno);
        }
        written += static_cast<std::size_t>(chunk);
    }
    return std::nullopt;
}

#endif

FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes) {
    if (std::optional<std::string> injected = InjectedWriteFailure(WriteStep::FileReplace))
        return "cannot write " + path.string() + ": " + *injected;
    CFileWriter disk;
    FileError failure = ReplaceFileAtomicallyWith(path, bytes, disk);
    if (!failure)
        WriteStepTaken(WriteStep::FileReplace);
    return failure;
}

FileError ReplaceFileAtomicallyWith(const std::filesystem::path& path,
                                    std::span<const std::uint8_t> bytes, CFileWriter& writer) {
    std::error_code error;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, error)) {
        // The link stays: the file it leads to is replaced, by a temporary file beside it.
        target = std::filesystem::canonical(path, error);
        if (error) {
            return "cannot follow the link " + path.string() + ": " + error.message();
        }
    }
    if (HardLinkCount(target) > 1) {
        return RewriteInPlace(target, bytes, writer);
    }
    const std::filesystem::path temporary = TemporaryPathFor(target);
    if (FileError failure = WriteNewFile(temporary, target, bytes, writer)) {
        return failure;
    }
    if (FileError failure = RenameOver(temporary, target)) {
        std::filesystem::remove(temporary, error);
        return failure;
    }
    return std::nullopt;
}

FileError ReadFileInPieces(
    const std::filesystem::path& path, std::size_t maxBytes, std::size_t pieceBytes,
    const std::function<bool(std::span<const std::uint8_t> piece)>& onPiece) {
    const auto tooLarge = [&path, maxBytes] {
        return "cannot read " + path.string() + ": the file is larger than " +
               std::to_string(maxBytes) + " bytes";
    };
    NativeFile handle{};
    std::uint64_t size = 0;
    if (FileError failure = OpenForReading(path, &handle, &size)) {
        return failure;
    }
    COpenFile file(handle);
    if (size > maxBytes) {
        return tooLarge();
    }
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(pieceBytes, 1));
    std::size_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if (FileError failure = ReadUpTo(handle, path, buffer.data(), buffer.size(), &got)) {
            return failure;
        }
        if (got == 0) {
            return std::nullopt;
        }
        // The file may have grown since it was opened.
        if (got > maxBytes - total) {
            return tooLarge();
        }
        total += got;
        if (!onPiece(std::span(buffer.data(), got))) {
            return std::nullopt;
        }
    }
}

FileError ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                        std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    FileError failure = ReadFileInPieces(path, maxBytes, 1u << 16, [&bytes](auto piece) {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return true;
    });
    if (failure) {
        bytes.clear();
    }
    return failure;
}

FileError AppendToFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::FILE* stream = OpenStream(path, "ab");
    if (stream == nullptr) {
        return Describe("open", path, errno);
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
                         std::fflush(stream) == 0;
    const int error = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        return Describe("write", path, error);
    }
    return std::nullopt;
}

}  // namespace quillary
