#pragma once

// Whole-file reading and writing for the program's data files. Files are replaced, never
// written in place: a temporary file in the same folder is written, flushed to the disk and
// renamed over the old one, so a crash or a full disk leaves the previous version whole.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillary {

// What went wrong, in words a user can act on ("cannot write /x/y.tmp: No space left on
// device"). Empty optional means success.
using FileError = std::optional<std::string>;

// Replaces path's contents with bytes. When path is a symbolic link, the file it points to is
// replaced and the link is kept; when the file has several hard links, it is rewritten in
// place so that every link keeps seeing it. On failure the old file is untouched and no
// temporary file is left behind.
[[nodiscard]] FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                              std::span<const std::uint8_t> bytes);

// Reads a whole file, refusing one larger than maxBytes.
[[nodiscard]] FileError ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                                      std::vector<std::uint8_t>& bytes);

// Appends bytes to a file, creating it when missing, and flushes them.
[[nodiscard]] FileError AppendToFile(const std::filesystem::path& path,
                                     std::span<const std::uint8_t> bytes);

}  // namespace quillary
