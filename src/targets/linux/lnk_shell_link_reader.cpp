#include "targets/linux/lnk_shell_link_reader.h"

#include <fcntl.h>
#include <libbfio.h>
#include <liblnk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "targets/linux/id_list_path.h"
#include "targets/linux/lnk_strings.h"

namespace quillary {
namespace {

// The longest path the shell's GetPath returns: its buffer holds 1024 characters.
constexpr std::size_t kMaxPathLength = 1023;
// An ID list's size is a 16-bit field.
constexpr std::size_t kMaxIdListSize = 0xFFFF;

// The whole of a regular file of at most limit bytes; nullopt for anything else. A FIFO or a
// device named like a shortcut is neither waited on nor read.
std::optional<std::vector<std::uint8_t>> ReadSmallFile(const std::filesystem::path& path,
                                                       std::size_t limit) {
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<std::vector<std::uint8_t>> result;
    if (::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
        static_cast<std::uint64_t>(info.st_size) <= limit) {
        // Read one byte past the size stat gave, to notice a file that grew meanwhile.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size) + 1);
        std::size_t filled = 0;
        bool failed = false;
        while (filled < bytes.size()) {
            ssize_t got = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                failed = true;
                break;
            }
            if (got == 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        if (!failed && filled <= limit && filled < bytes.size()) {
            bytes.resize(filled);
            result = std::move(bytes);
        }
    }
    ::close(descriptor);
    return result;
}

// The bytes of a shortcut as a libbfio handle. libbfio's own memory range reads past the end
// of its memory when asked for more than is left, so reads are bounded here: a read near the
// end returns what is left, and one past the end returns nothing.
struct BoundedBytes {
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
    bool open = false;
};

BoundedBytes* BytesOf(intptr_t* ioHandle) {
    return reinterpret_cast<BoundedBytes*>(ioHandle);
}

int BoundedFree(intptr_t**, libbfio_error_t**) {
    return 1;  // the caller owns them
}

int BoundedOpen(intptr_t* ioHandle, int accessFlags, libbfio_error_t**) {
    if (accessFlags != LIBBFIO_OPEN_READ)
        return -1;
    BytesOf(ioHandle)->open = true;
    BytesOf(ioHandle)->offset = 0;
    return 1;
}

int BoundedClose(intptr_t* ioHandle, libbfio_error_t**) {
    BytesOf(ioHandle)->open = false;
    return 0;
}

ssize_t BoundedRead(intptr_t* ioHandle, uint8_t* buffer, size_t size, libbfio_error_t**) {
    BoundedBytes& source = *BytesOf(ioHandle);
    if (!source.open || buffer == nullptr)
        return -1;
    if (source.offset >= source.bytes.size())
        return 0;
    std::size_t count = std::min(size, source.bytes.size() - source.offset);
    count = std::min<std::size_t>(count, SSIZE_MAX);
    std::memcpy(buffer, source.bytes.data() + source.offset, count);
    source.offset += count;
    return static_cast<ssize_t>(count);
}

ssize_t BoundedWrite(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) {
    return -1;
}

off64_t BoundedSeek(intptr_t* ioHandle, off64_t offset, int whence, libbfio_error_t**) {
    BoundedBytes& source = *BytesOf(ioHandle);
    off64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off64_t>(source.offset);
    } else if (whence == SEEK_END) {
        base = static_cast<off64_t>(source.bytes.size());
    } else if (whence != SEEK_SET) {
        return -1;
    }
    // Offsets are kept within the size of a file this reader accepts, so nothing overflows.
    constexpr off64_t kLimit = static_cast<off64_t>(CLnkShellLinkReader::kMaxFileSize) * 2;
    if (offset < -kLimit || offset > kLimit || base + offset < 0)
        return -1;
    source.offset = static_cast<std::size_t>(base + offset);
    return base + offset;
}

int BoundedExists(intptr_t*, libbfio_error_t**) {
    return 1;
}

int BoundedIsOpen(intptr_t* ioHandle, libbfio_error_t**) {
    return BytesOf(ioHandle)->open ? 1 : 0;
}

int BoundedSize(intptr_t* ioHandle, size64_t* size, libbfio_error_t**) {
    *size = BytesOf(ioHandle)->bytes.size();
    return 1;
}

struct LnkFileDeleter {
    void operator()(liblnk_file_t* file) const {
        liblnk_file_close(file, nullptr);
        liblnk_file_free(&file, nullptr);
    }
};
struct BfioHandleDeleter {
    void operator()(libbfio_handle_t* handle) const { libbfio_handle_free(&handle, nullptr); }
};
using LnkFile = std::unique_ptr<liblnk_file_t, LnkFileDeleter>;
using BfioHandle = std::unique_ptr<libbfio_handle_t, BfioHandleDeleter>;

using SizeGetter = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);
using TextGetter = int (*)(liblnk_file_t*, uint16_t*, size_t, liblnk_error_t**);

// One of the file's strings; empty when it lacks it, cannot give it or it is too long to be
// a path.
std::u16string ReadText(liblnk_file_t* file, SizeGetter getSize, TextGetter getText) {
    liblnk_error_t* error = nullptr;
    size_t size = 0;
    if (getSize(file, &size, &error) != 1 || size == 0 || size > kMaxPathLength + 1) {
        liblnk_error_free(&error);
        return {};
    }
    std::vector<uint16_t> units(size, 0);
    if (getText(file, units.data(), units.size(), &error) != 1) {
        liblnk_error_free(&error);
        return {};
    }
    std::u16string text;
    for (uint16_t unit : units) {
        if (unit == 0)
            break;
        text += static_cast<char16_t>(unit);
    }
    return text;
}

// A string the file holds in UTF-16, as read from its bytes: liblnk's UTF-16 getters decode
// and re-encode it, which pairs a lone high surrogate with the unit after it and loses that
// unit. liblnk's own string when the file holds it in the ANSI code page or its place cannot
// be read.
std::u16string ReadFileOrLibraryText(liblnk_file_t* file,
                                     const std::optional<std::u16string>& fromBytes,
                                     SizeGetter getSize, TextGetter getText) {
    if (!fromBytes)
        return ReadText(file, getSize, getText);
    if (fromBytes->size() > kMaxPathLength)
        return {};
    return *fromBytes;
}

// A base path and the common path suffix joined as liblnk joins them: with a backslash
// between them unless the base is empty or ends in one or the suffix is empty. nullopt
// unless the file holds both in UTF-16.
std::optional<std::u16string> JoinPath(const std::optional<std::u16string>& base,
                                       const std::optional<std::u16string>& suffix) {
    if (!base || !suffix)
        return std::nullopt;
    std::u16string path = *base;
    if (!path.empty() && path.back() != u'\\' && !suffix->empty())
        path += u'\\';
    return path + *suffix;
}

std::u16string ReadIdListPath(liblnk_file_t* file) {
    liblnk_error_t* error = nullptr;
    size_t size = 0;
    if (liblnk_file_get_link_target_identifier_data_size(file, &size, &error) != 1 || size == 0 ||
        size > kMaxIdListSize) {
        liblnk_error_free(&error);
        return {};
    }
    std::vector<std::uint8_t> data(size);
    if (liblnk_file_copy_link_target_identifier_data(file, data.data(), data.size(), &error) != 1) {
        liblnk_error_free(&error);
        return {};
    }
    return PathFromIdList(data).value_or(std::u16string());
}

}  // namespace

std::optional<ShellLinkLocations> ReadShellLinkLocations(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > CLnkShellLinkReader::kMaxFileSize)
        return std::nullopt;
    BoundedBytes source{bytes};
    libbfio_error_t* bfioError = nullptr;
    libbfio_handle_t* rawHandle = nullptr;
    if (libbfio_handle_initialize(
            &rawHandle, reinterpret_cast<intptr_t*>(&source), BoundedFree, nullptr, BoundedOpen,
            BoundedClose, BoundedRead, BoundedWrite, BoundedSeek, BoundedExists, BoundedIsOpen,
            BoundedSize,
            LIBBFIO_FLAG_IO_HANDLE_NON_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_REFERENCE,
            &bfioError) != 1) {
        libbfio_error_free(&bfioError);
        return std::nullopt;
    }
    BfioHandle handle(rawHandle);
    liblnk_error_t* error = nullptr;
    liblnk_file_t* rawFile = nullptr;
    if (liblnk_file_initialize(&rawFile, &error) != 1) {
        liblnk_error_free(&error);
        return std::nullopt;
    }
    if (liblnk_file_open_file_io_handle(rawFile, handle.get(), LIBLNK_OPEN_READ, &error) != 1) {
        liblnk_error_free(&error);
        liblnk_file_free(&rawFile, nullptr);
        return std::nullopt;
    }
    LnkFile file(rawFile);

    const ShellLinkStrings strings = ReadShellLinkStrings(bytes);
    ShellLinkLocations locations;
    locations.environmentPath =
        ReadFileOrLibraryText(file.get(), strings.environmentTarget,
                              liblnk_file_get_utf16_environment_variables_location_size,
                              liblnk_file_get_utf16_environment_variables_location);
    locations.networkPath = ReadFileOrLibraryText(
        file.get(), JoinPath(strings.netName, strings.commonPathSuffix),
        liblnk_file_get_utf16_network_path_size, liblnk_file_get_utf16_network_path);
    locations.localPath = ReadFileOrLibraryText(
        file.get(), JoinPath(strings.localBasePath, strings.commonPathSuffix),
        liblnk_file_get_utf16_local_path_size, liblnk_file_get_utf16_local_path);
    locations.idListPath = ReadIdListPath(file.get());
    return locations;
}

std::u16string CLnkShellLinkReader::GetPath(std::u16string_view linkPath) {
    std::optional<std::filesystem::path> unixPath = files_.UnixPathOf(linkPath);
    if (!unixPath)
        return {};
    std::optional<std::vector<std::uint8_t>> bytes = ReadSmallFile(*unixPath, kMaxFileSize);
    if (!bytes)
        return {};
    std::optional<ShellLinkLocations> locations = ReadShellLinkLocations(*bytes);
    if (!locations)
        return {};
    std::u16string path;
    if (!locations->environmentPath.empty()) {
        path = files_.ExpandEnvironmentStringsW(locations->environmentPath);
    } else if (!locations->networkPath.empty()) {
        path = locations->networkPath;
    } else if (!locations->localPath.empty()) {
        path = locations->localPath;
    } else {
        path = locations->idListPath;
    }
    if (path.size() > kMaxPathLength)
        return {};
    return path;
}

}  // namespace quillary
