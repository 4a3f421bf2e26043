#include "platform/append_file.h"

#include <cerrno>
#include <system_error>

#include "platform/write_faults.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace quillary {
namespace {

std::string Describe(const char* action, const std::filesystem::path& path, int error) {
    return std::string("cannot ") + action + " " + path.string() + ": " +
           std::system_category().message(error);
}

}  // namespace

#ifdef _WIN32

std::unique_ptr<CAppendFile> CAppendFile::Create(const std::filesystem::path& path,
                                                 std::string* error) {
    // Shared for reading only: nobody else may write it while it is held.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = Describe("create", path, static_cast<int>(GetLastError()));
        return nullptr;
    }
    return std::unique_ptr<CAppendFile>(
        new CAppendFile(path, reinterpret_cast<std::intptr_t>(file)));
}

CAppendFile::~CAppendFile() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileError CAppendFile::Append(std::span<const std::uint8_t> bytes) {
    if (broken_)
        return "cannot write " + path_.string() + ": an earlier write failed";
    if (std::optional<std::string> injected = InjectedWriteFailure(WriteStep::JournalAppend))
        return "cannot write " + path_.string() + ": " + *injected;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD chunk = 0;
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (!WriteFile(file, bytes.data() + written, want, &chunk, nullptr) ||
            !FlushFileBuffers(file)) {
            const auto code = static_cast<int>(GetLastError());
            LARGE_INTEGER end{};
            end.QuadPart = static_cast<LONGLONG>(size_);
            broken_ = !SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file);
            return Describe("write", path_, code);
        }
        written += chunk;
    }
    if (!FlushFileBuffers(file))
        return Describe("flush", path_, static_cast<int>(GetLastError()));
    size_ += bytes.size();
    WriteStepTaken(WriteStep::JournalAppend);
    return std::nullopt;
}

bool IsAppendFileHeld(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

#else

std::unique_ptr<CAppendFile> CAppendFile::Create(const std::filesystem::path& path,
                                                 std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = Describe("create", path, errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = Describe("hold", path, errno);
        ::close(fd);
        return nullptr;
    }
    FlushFolder(path.parent_path());
    return std::unique_ptr<CAppendFile>(new CAppendFile(path, fd));
}

CAppendFile::~CAppendFile() {
    ::close(static_cast<int>(handle_));
}

FileError CAppendFile::Append(std::span<const std::uint8_t> bytes) {
    if (broken_)
        return "cannot write " + path_.string() + ": an earlier write failed";
    if (std::optional<std::string> injected = InjectedWriteFailure(WriteStep::JournalAppend))
        return "cannot write " + path_.string() + ": " + *injected;
    const int fd = static_cast<int>(handle_);
    std::size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0) {
            error = chunk < 0 ? errno : ENOSPC;
            break;
        }
        written += static_cast<std::size_t>(chunk);
    }
    if (error == 0 && ::fdatasync(fd) != 0)
        error = errno;
    if (error != 0) {
        broken_ = ::ftruncate(fd, static_cast<off_t>(size_)) != 0;
        return Describe("write", path_, error);
    }
    size_ += bytes.size();
    WriteStepTaken(WriteStep::JournalAppend);
    return std::nullopt;
}

bool IsAppendFileHeld(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

#endif

}  // namespace quillary
