#include "platform/native_file_io.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <random>
#include <system_error>

#include "platform/write_faults.h"

namespace quillary {
namespace {

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

// The code of the last failed call of the system on this thread, as errno is kept: the calls
// answer in words, and the code travels beside them to ReplaceFileFrom.
thread_local int lastSystemCode = 0;

}  // namespace

FileError CNativeFileIo::SystemFailure(std::string words, int systemCode) {
    lastSystemCode = systemCode;
    return words;
}

// Closes a file when it goes out of scope, unless it was closed (with its error) before.
class CNativeFileIo::COpenFile {
public:
    COpenFile(CNativeFileIo& io, NativeFile file) : io_(io), file_(file) {}
    ~COpenFile() {
        if (open_) {
            static_cast<void>(io_.CloseFile(file_, {}));
        }
    }
    COpenFile(const COpenFile&) = delete;
    COpenFile& operator=(const COpenFile&) = delete;

    FileError Close(const std::filesystem::path& path) {
        open_ = false;
        return io_.CloseFile(file_, path);
    }

private:
    CNativeFileIo& io_;
    NativeFile file_;
    bool open_ = true;
};

FileFiller CNativeFileIo::FillerOf(std::span<const std::uint8_t> bytes) {
    return [bytes](const ContentWriter& write) { return write(bytes); };
}

// Runs fill with a writer that puts each piece at the file's current position.
FileError CNativeFileIo::Fill(NativeFile file, const std::filesystem::path& path,
                              const FileFiller& fill) {
    return fill([this, file, &path](std::span<const std::uint8_t> piece) {
        return Write(file, path, piece);
    });
}

// Writes a new file beside like (whose mode it takes) and flushes it; on failure the file is
// removed again.
FileError CNativeFileIo::WriteNewFile(const std::filesystem::path& path,
                                      const std::filesystem::path& like, const FileFiller& fill) {
    NativeFile handle{};
    if (FileError failure = CreateNewFile(path, like, &handle)) {
        return failure;
    }
    FileError failure;
    {
        COpenFile file(*this, handle);
        failure = Fill(handle, path, fill);
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

// Writes new contents over the start of an open file, cuts the file to their end and flushes it.
FileError CNativeFileIo::OverwriteWith(NativeFile file, const std::filesystem::path& path,
                                       const FileFiller& fill) {
    if (FileError failure = Seek(file, path, 0)) {
        return failure;
    }
    if (FileError failure = Fill(file, path, fill)) {
        return failure;
    }
    if (FileError failure = CutAtPosition(file, path)) {
        return failure;
    }
    return Flush(file, path);
}

// Rewrites a file that has other hard links in place, so that they all keep seeing it.
FileError CNativeFileIo::RewriteInPlace(const std::filesystem::path& path, const FileFiller& fill) {
    std::vector<std::uint8_t> old;
    if (FileError failure = ReadWholeFile(path, std::numeric_limits<std::size_t>::max(), old)) {
        return failure;
    }
    // A trial copy beside the file finds a full disk before the file is touched. It is removed
    // before the rewrite, which then has the room the copy took.
    const std::filesystem::path trial = TemporaryPathFor(path);
    if (FileError failure = WriteNewFile(trial, path, fill)) {
        return failure;
    }
    std::error_code ignored;
    std::filesystem::remove(trial, ignored);

    NativeFile handle{};
    if (FileError failure = OpenForRewrite(path, &handle)) {
        return failure;
    }
    COpenFile file(*this, handle);
    if (FileError failure = OverwriteWith(handle, path, fill)) {
        // The old contents fit in the room the file held before, so they can go back.
        if (FileError restore = OverwriteWith(handle, path, FillerOf(old))) {
            return *failure + "; its old contents could not be put back either (" + *restore + ")";
        }
        return failure;
    }
    return file.Close(path);
}

FileError CNativeFileIo::ReplaceFileAtomically(const std::filesystem::path& path,
                                               std::span<const std::uint8_t> bytes) {
    if (std::optional<std::string> injected = InjectedWriteFailure(WriteStep::FileReplace))
        return "cannot write " + path.string() + ": " + *injected;
    FileError failure = Replace(path, FillerOf(bytes));
    if (!failure)
        WriteStepTaken(WriteStep::FileReplace);
    return failure;
}

std::optional<NativeFileFailure> CNativeFileIo::ReplaceFileFrom(const std::filesystem::path& path,
                                                                const FileFiller& fill) {
    lastSystemCode = 0;
    if (FileError failure = Replace(path, fill)) {
        return NativeFileFailure{std::move(*failure), lastSystemCode};
    }
    return std::nullopt;
}

FileError CNativeFileIo::Replace(const std::filesystem::path& path, const FileFiller& fill) {
    std::error_code error;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, error)) {
        // The link stays: the file it leads to is replaced, by a temporary file beside it.
        target = std::filesystem::canonical(path, error);
        if (error) {
            return SystemFailure("cannot follow the link " + path.string() + ": " + error.message(),
                                 error.value());
        }
    }
    if (HardLinkCount(target) > 1) {
        return RewriteInPlace(target, fill);
    }
    const std::filesystem::path temporary = TemporaryPathFor(target);
    if (FileError failure = WriteNewFile(temporary, target, fill)) {
        return failure;
    }
    if (FileError failure = RenameOver(temporary, target)) {
        std::filesystem::remove(temporary, error);
        return failure;
    }
    return std::nullopt;
}

FileError CNativeFileIo::ReadFileInPieces(
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
    COpenFile file(*this, handle);
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

FileError CNativeFileIo::AppendToFile(const std::filesystem::path& path,
                                      std::span<const std::uint8_t> bytes) {
    NativeFile handle{};
    if (FileError failure = OpenForAppending(path, &handle)) {
        return failure;
    }
    COpenFile file(*this, handle);
    if (FileError failure = Write(handle, path, bytes)) {
        return failure;
    }
    return file.Close(path);
}

}  // namespace quillary
