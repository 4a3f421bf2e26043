#pragma once

// The steps of IFileIo in terms of a few calls of the operating system, which each host
// system's file I/O supplies: how a file is replaced safely (temporary file, flush, rename,
// folder flush; the symbolic-link and hard-link cases) is written once, here.

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/file_io.h"

namespace quillary {

// Puts a piece of a file's new contents after the pieces before it.
using ContentWriter = std::function<FileError(std::span<const std::uint8_t> piece)>;
// Hands the new contents of a file to write, in pieces; returns write's first failure, or its
// own.
using FileFiller = std::function<FileError(const ContentWriter& write)>;

// Why ReplaceFileFrom failed: the words, and the operating system's code for the call that
// failed (an errno value on a POSIX system, a Windows error code on Windows), so that a caller
// answering as a system function can give the code that fits. The code is 0 when the failure
// was not a call of the system (a limit of this program).
struct NativeFileFailure {
    std::string words;
    int systemCode = 0;
};

class CNativeFileIo : public IFileIo {
public:
    [[nodiscard]] FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                                  std::span<const std::uint8_t> bytes) override;
    // The same, with the new contents handed over by fill. fill runs twice for a file with
    // several hard links (once into the trial copy, once over the file). Unlike
    // ReplaceFileAtomically this is not a counted write step.
    [[nodiscard]] std::optional<NativeFileFailure> ReplaceFileFrom(
        const std::filesystem::path& path, const FileFiller& fill);
    [[nodiscard]] FileError ReadFileInPieces(
        const std::filesystem::path& path, std::size_t maxBytes, std::size_t pieceBytes,
        const std::function<bool(std::span<const std::uint8_t> piece)>& onPiece) override;
    [[nodiscard]] FileError AppendToFile(const std::filesystem::path& path,
                                         std::span<const std::uint8_t> bytes) override;

protected:
    // The failure of a call of the system, in words, whose code is systemCode. The calls below
    // answer their failures through it, so that ReplaceFileFrom can tell the code.
    [[nodiscard]] static FileError SystemFailure(std::string words, int systemCode);

    // Writes all of bytes at the file's current position. The seam where a test puts a disk
    // that fills up part way.
    [[nodiscard]] virtual FileError Write(NativeFile file, const std::filesystem::path& path,
                                          std::span<const std::uint8_t> bytes) = 0;

    // The operating system's side. Each answers the error in words, naming path.
    [[nodiscard]] virtual FileError CloseFile(NativeFile file,
                                              const std::filesystem::path& path) = 0;
    // Creates path, which must not exist yet, for writing. When like exists, the new file takes
    // its mode and, where this process may give it away, its owner.
    [[nodiscard]] virtual FileError CreateNewFile(const std::filesystem::path& path,
                                                  const std::filesystem::path& like,
                                                  NativeFile* file) = 0;
    [[nodiscard]] virtual FileError OpenForRewrite(const std::filesystem::path& path,
                                                   NativeFile* file) = 0;
    // Opens path for appending, creating it when missing.
    [[nodiscard]] virtual FileError OpenForAppending(const std::filesystem::path& path,
                                                     NativeFile* file) = 0;
    // Opens a regular file for reading, refusing anything else without waiting on it.
    [[nodiscard]] virtual FileError OpenForReading(const std::filesystem::path& path,
                                                   NativeFile* file, std::uint64_t* size) = 0;
    [[nodiscard]] virtual FileError Seek(NativeFile file, const std::filesystem::path& path,
                                         std::uint64_t offset) = 0;
    // Ends the file at the current position.
    [[nodiscard]] virtual FileError CutAtPosition(NativeFile file,
                                                  const std::filesystem::path& path) = 0;
    [[nodiscard]] virtual FileError Flush(NativeFile file, const std::filesystem::path& path) = 0;
    // Renames from over to and makes the rename durable.
    [[nodiscard]] virtual FileError RenameOver(const std::filesystem::path& from,
                                               const std::filesystem::path& to) = 0;
    // 1 when the count cannot be learnt.
    virtual std::uintmax_t HardLinkCount(const std::filesystem::path& path) = 0;
    // Fills buffer from the file; *got is short only at the end of the file.
    [[nodiscard]] virtual FileError ReadUpTo(NativeFile file, const std::filesystem::path& path,
                                             std::uint8_t* buffer, std::size_t size,
                                             std::size_t* got) = 0;

private:
    class COpenFile;

    FileError Replace(const std::filesystem::path& path, const FileFiller& fill);
    FileError Fill(NativeFile file, const std::filesystem::path& path, const FileFiller& fill);
    FileError WriteNewFile(const std::filesystem::path& path, const std::filesystem::path& like,
                           const FileFiller& fill);
    FileError OverwriteWith(NativeFile file, const std::filesystem::path& path,
                            const FileFiller& fill);
    FileError RewriteInPlace(const std::filesystem::path& path, const FileFiller& fill);
    FileFiller FillerOf(std::span<const std::uint8_t> bytes);
};

}  // namespace quillary
