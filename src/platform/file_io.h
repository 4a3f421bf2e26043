#pragma once

// Whole-file reading and writing for the program's data files and the registry files it
// keeps. Files are replaced, not written in place: a temporary file in the same folder is
// written, flushed to the disk and renamed over the old one, so a crash or a full disk leaves
// the previous version whole. (A file with several hard links is the exception: see
// IFileIo::ReplaceFileAtomically.) Each host system implements IFileIo once; the code that
// keeps files takes one from its caller, so that a test can hand it a disk that fails.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillary {

// What went wrong, in words a user can act on ("cannot write /x/y.tmp: No space left on
// device"). Empty optional means success.
using FileError = std::optional<std::string>;

// An open file as the operating system knows it: a descriptor, or a Windows HANDLE.
using NativeFile = std::intptr_t;

class CAppendFile;

class IFileIo {
public:
    virtual ~IFileIo() = default;

    // Replaces path's contents with bytes; whatever fails, the file afterwards holds either its
    // old contents or the new ones, whole. A new file gets mode 0644 less the umask; a replaced
    // one keeps its mode, and its owner when this process may give files away. When path is a
    // symbolic link, the file it points to is replaced and the link is kept. When the file has
    // several hard links, it is rewritten in place so that every link keeps seeing it: the new
    // contents are first written to a temporary file (so a full disk is found before the file is
    // touched), and if the rewrite fails all the same, the old contents are written back. No
    // temporary file is left behind.
    [[nodiscard]] virtual FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                                          std::span<const std::uint8_t> bytes) = 0;

    // Reads a file in pieces of at most pieceBytes, handing each to onPiece in order, until the
    // end of the file or until onPiece returns false. A path that is not a regular file (a
    // folder, a FIFO, a device) is refused without waiting on it, and a file larger than
    // maxBytes before its first piece is read (or, should it grow meanwhile, once it passes
    // maxBytes).
    [[nodiscard]] virtual FileError ReadFileInPieces(
        const std::filesystem::path& path, std::size_t maxBytes, std::size_t pieceBytes,
        const std::function<bool(std::span<const std::uint8_t> piece)>& onPiece) = 0;

    // Reads a whole file, refusing one larger than maxBytes and a path that is not a regular
    // file. On failure bytes is empty.
    [[nodiscard]] FileError ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                                          std::vector<std::uint8_t>& bytes);

    // Appends bytes to a file, creating it when missing, and hands them to the system.
    [[nodiscard]] virtual FileError AppendToFile(const std::filesystem::path& path,
                                                 std::span<const std::uint8_t> bytes) = 0;

    // Makes the names in a folder durable: a file created, renamed or removed in it stays so
    // after a crash only once its folder is flushed.
    virtual void FlushFolder(const std::filesystem::path& folder) = 0;

    // Creates a file that only grows (see CAppendFile), which must not exist yet, and holds it.
    // Null, with *error set, when it cannot be created.
    [[nodiscard]] virtual std::unique_ptr<CAppendFile> CreateAppendFile(
        const std::filesystem::path& path, std::string* error) = 0;

    // Whether a live CAppendFile holds path right now. False for a missing file.
    [[nodiscard]] virtual bool IsAppendFileHeld(const std::filesystem::path& path) = 0;
};

}  // namespace quillary
