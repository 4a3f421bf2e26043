#pragma once

// Whole-file reading and writing for the program's data files. Files are replaced, not
// written in place: a temporary file in the same folder is written, flushed to the disk and
// renamed over the old one, so a crash or a full disk leaves the previous version whole. (A
// file with several hard links is the exception: see ReplaceFileAtomically.)

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// Puts bytes into the files ReplaceFileAtomically writes. This one writes to the disk; a test
// derives one that fails part way, as a full disk does, to see what a failure leaves behind.
class CFileWriter {
public:
    virtual ~CFileWriter() = default;
    // Writes all of bytes at the file's current position; path names the file in the error.
    [[nodiscard]] virtual FileError Write(NativeFile file, const std::filesystem::path& path,
                                          std::span<const std::uint8_t> bytes);
};

// Replaces path's contents with bytes; whatever fails, the file afterwards holds either its
// old contents or the new ones, whole. A new file gets mode 0644 less the umask; a replaced
// one keeps its mode, and its owner when this process may give files away. When path is a symbolic
// link, the file it points to is replaced and the link is kept. When the file has several hard
// links, it is rewritten in place so that every link keeps seeing it: the new contents are first
// written to a temporary file (so a full disk is found before the file is touched), and if the
// rewrite fails all the same, the old contents are written back. No temporary file is left behind.
[[nodiscard]] FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                              std::span<const std::uint8_t> bytes);
// The same, with the bytes put into files by writer. (A name of its own keeps
// ReplaceFileAtomically one function, which callers pass around as a value.)
[[nodiscard]] FileError ReplaceFileAtomicallyWith(const std::filesystem::path& path,
                                                  std::span<const std::uint8_t> bytes,
                                                  CFileWriter& writer);

// Reads a file in pieces of at most pieceBytes, handing each to onPiece in order, until the end
// of the file or until onPiece returns false. A path that is not a regular file (a folder, a
// FIFO, a device) is refused without waiting on it, and a file larger than maxBytes before
// its first piece is read (or, should it grow meanwhile, once it passes maxBytes).
[[nodiscard]] FileError ReadFileInPieces(
    const std::filesystem::path& path, std::size_t maxBytes, std::size_t pieceBytes,
    const std::function<bool(std::span<const std::uint8_t> piece)>& onPiece);

// Reads a whole file, refusing one larger than maxBytes and a path that is not a regular file.
// On failure bytes is empty.
[[nodiscard]] FileError ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                                      std::vector<std::uint8_t>& bytes);

// Makes the names in a folder durable: a file created, renamed or removed in it stays so after
// a crash only once its folder is flushed.
void FlushFolder(const std::filesystem::path& folder);

// Appends bytes to a file, creating it when missing, and flushes them.
[[nodiscard]] FileError AppendToFile(const std::filesystem::path& path,
                                     std::span<const std::uint8_t> bytes);

}  // namespace quillary
