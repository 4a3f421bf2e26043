#include "platform/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

namespace quillary {
namespace {

std::string Describe(const std::string& action, const std::filesystem::path& path, int error) {
    return "cannot " + action + " " + path.string() + ": " +
           std::system_category().message(error);
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

#ifdef _WIN32

FileError WriteAndFlush(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                        bool createNew) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              createNew ? CREATE_NEW : TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Describe("create", path, static_cast<int>(GetLastError()));
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD chunk = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written,
                                                                   1u << 30));
        if (!WriteFile(file, bytes.data() + written, want, &chunk, nullptr)) {
            const auto error = static_cast<int>(GetLastError());
            CloseHandle(file);
            return Describe("write", path, error);
        }
        written += chunk;
    }
    const bool flushed = FlushFileBuffers(file) != 0;
    const auto error = static_cast<int>(GetLastError());
    CloseHandle(file);
    if (!flushed) {
        return Describe("flush", path, error);
    }
    return std::nullopt;
}

FileError RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Describe("replace", to, static_cast<int>(GetLastError()));
    }
    return std::nullopt;
}

std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t count = std::filesystem::hard_link_count(path, error);
    return error ? 1 : count;
}

#else

FileError WriteAndFlush(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                        bool createNew) {
    const int flags = O_WRONLY | O_CLOEXEC | (createNew ? (O_CREAT | O_EXCL) : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return Describe("create", path, errno);
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (chunk < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return Describe("write", path, error);
        }
        written += static_cast<std::size_t>(chunk);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return Describe("flush", path, error);
    }
    if (::close(fd) != 0) {
        return Describe("close", path, errno);
    }
    return std::nullopt;
}

FileError RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Describe("replace", to, errno);
    }
    // Make the rename itself durable.
    const int folder = ::open(to.parent_path().empty() ? "." : to.parent_path().c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_nlink : 1;
}

#endif

}  // namespace

FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes) {
    std::error_code error;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, error)) {
        target = std::filesystem::canonical(path, error);
        if (error) {
            return "cannot follow the link " + path.string() + ": " + error.message();
        }
    }
    if (std::filesystem::exists(target, error) && HardLinkCount(target) > 1) {
        return WriteAndFlush(target, bytes, false);
    }
    const std::filesystem::path temporary = TemporaryPathFor(target);
    if (FileError failure = WriteAndFlush(temporary, bytes, true)) {
        std::filesystem::remove(temporary, error);
        return failure;
    }
    if (FileError failure = RenameOver(temporary, target)) {
        std::filesystem::remove(temporary, error);
        return failure;
    }
    return std::nullopt;
}

FileError ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                        std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::FILE* stream = OpenStream(path, "rb");
    if (stream == nullptr) {
        return Describe("open", path, errno);
    }
    std::uint8_t buffer[65536];
    for (;;) {
        const std::size_t chunk = std::fread(buffer, 1, sizeof buffer, stream);
        if (bytes.size() + chunk > maxBytes) {
            std::fclose(stream);
            bytes.clear();
            return "cannot read " + path.string() + ": the file is larger than " +
                   std::to_string(maxBytes) + " bytes";
        }
        bytes.insert(bytes.end(), buffer, buffer + chunk);
        if (chunk < sizeof buffer) {
            break;
        }
    }
    const bool failed = std::ferror(stream) != 0;
    const int error = errno;
    std::fclose(stream);
    if (failed) {
        bytes.clear();
        return Describe("read", path, error);
    }
    return std::nullopt;
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
