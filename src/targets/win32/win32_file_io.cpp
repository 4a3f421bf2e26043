#include "targets/win32/win32_file_io.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

#include "targets/win32/win32_append_file.h"

namespace quillary {

std::string DescribeFileError(const std::string& action, const std::filesystem::path& path,
                              unsigned long error) {
    return "cannot " + action + " " + path.string() + ": " +
           std::system_category().message(static_cast<int>(error));
}

namespace {

HANDLE AsHandle(NativeFile file) {
    return reinterpret_cast<HANDLE>(file);
}

std::string NotARegularFile(const std::filesystem::path& path) {
    return path.string() + " is not a regular file";
}

FileError OpenHandle(const std::filesystem::path& path, DWORD access, DWORD share,
                     DWORD disposition, const char* action, NativeFile* file) {
    HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return DescribeFileError(action, path, GetLastError());
    }
    *file = reinterpret_cast<NativeFile>(handle);
    return std::nullopt;
}

}  // namespace

std::unique_ptr<CAppendFile> CWin32FileIo::CreateAppendFile(const std::filesystem::path& path,
                                                            std::string* error) {
    return CWin32AppendFile::Create(path, error);
}

bool CWin32FileIo::IsAppendFileHeld(const std::filesystem::path& path) {
    return CWin32AppendFile::IsHeld(path);
}

FileError CWin32FileIo::Write(NativeFile file, const std::filesystem::path& path,
                              std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD chunk = 0;
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (!WriteFile(AsHandle(file), bytes.data() + written, want, &chunk, nullptr)) {
            return DescribeFileError("write", path, GetLastError());
        }
        written += chunk;
    }
    return std::nullopt;
}

FileError CWin32FileIo::CloseFile(NativeFile file, const std::filesystem::path& path) {
    if (!CloseHandle(AsHandle(file))) {
        return DescribeFileError("close", path, GetLastError());
    }
    return std::nullopt;
}

FileError CWin32FileIo::CreateNewFile(const std::filesystem::path& path,
                                      const std::filesystem::path&, NativeFile* file) {
    return OpenHandle(path, GENERIC_WRITE, 0, CREATE_NEW, "create", file);
}

FileError CWin32FileIo::OpenForRewrite(const std::filesystem::path& path, NativeFile* file) {
    return OpenHandle(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, "open", file);
}

FileError CWin32FileIo::OpenForAppending(const std::filesystem::path& path, NativeFile* file) {
    return OpenHandle(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, "open", file);
}

FileError CWin32FileIo::OpenForReading(const std::filesystem::path& path, NativeFile* file,
                                       std::uint64_t* size) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return NotARegularFile(path);
    }
    NativeFile opened{};
    if (FileError failure =
            OpenHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       OPEN_EXISTING, "open", &opened)) {
        return failure;
    }
    HANDLE handle = AsHandle(opened);
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return NotARegularFile(path);
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handle, &length)) {
        const DWORD failure = GetLastError();
        CloseHandle(handle);
        return DescribeFileError("read", path, failure);
    }
    *size = static_cast<std::uint64_t>(length.QuadPart);
    *file = opened;
    return std::nullopt;
}

FileError CWin32FileIo::Seek(NativeFile file, const std::filesystem::path& path,
                             std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) {
        return DescribeFileError("seek in", path, GetLastError());
    }
    return std::nullopt;
}

FileError CWin32FileIo::CutAtPosition(NativeFile file, const std::filesystem::path& path) {
    if (!SetEndOfFile(AsHandle(file))) {
        return DescribeFileError("set the size of", path, GetLastError());
    }
    return std::nullopt;
}

FileError CWin32FileIo::Flush(NativeFile file, const std::filesystem::path& path) {
    if (!FlushFileBuffers(AsHandle(file))) {
        return DescribeFileError("flush", path, GetLastError());
    }
    return std::nullopt;
}

FileError CWin32FileIo::RenameOver(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return DescribeFileError("replace", to, GetLastError());
    }
    return std::nullopt;
}

std::uintmax_t CWin32FileIo::HardLinkCount(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t count = std::filesystem::hard_link_count(path, error);
    return error ? 1 : count;
}

FileError CWin32FileIo::ReadUpTo(NativeFile file, const std::filesystem::path& path,
                                 std::uint8_t* buffer, std::size_t size, std::size_t* got) {
    *got = 0;
    while (*got < size) {
        DWORD chunk = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(size - *got, 1u << 30));
        if (!ReadFile(AsHandle(file), buffer + *got, want, &chunk, nullptr)) {
            return DescribeFileError("read", path, GetLastError());
        }
        if (chunk == 0) {
            break;
        }
        *got += chunk;
    }
    return std::nullopt;
}

}  // namespace quillary
