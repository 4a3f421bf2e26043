#include "targets/win32/win32_append_file.h"

#include <windows.h>

#include <algorithm>

#include "targets/win32/win32_file_io.h"

namespace quillary {

std::unique_ptr<CAppendFile> CWin32AppendFile::Create(const std::filesystem::path& path,
                                                      std::string* error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = DescribeFileError("create", path, GetLastError());
        return nullptr;
    }
    return std::unique_ptr<CAppendFile>(
        new CWin32AppendFile(path, reinterpret_cast<NativeFile>(file)));
}

bool CWin32AppendFile::IsHeld(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

CWin32AppendFile::~CWin32AppendFile() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FileError CWin32AppendFile::WriteAtEnd(std::span<const std::uint8_t> bytes, std::uint64_t size,
                                       bool* cutBack) {
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD chunk = 0;
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (!WriteFile(file, bytes.data() + written, want, &chunk, nullptr) ||
            !FlushFileBuffers(file)) {
            const DWORD code = GetLastError();
            LARGE_INTEGER end{};
            end.QuadPart = static_cast<LONGLONG>(size);
            *cutBack = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
            return DescribeFileError("write", Path(), code);
        }
        written += chunk;
    }
    if (!FlushFileBuffers(file))
        return DescribeFileError("flush", Path(), GetLastError());
    return std::nullopt;
}

}  // namespace quillary
