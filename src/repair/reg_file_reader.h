#pragma once

// Reading registry export text (.reg), one key block at a time: the program's own files and
// those of Wine's and Windows' Registry Editors. UTF-16LE with its byte-order mark, UTF-8 with
// its byte-order mark, or 8-bit "REGEDIT4" text (Windows-1252); CRLF or LF; every value form,
// hex continuation lines, "[-key]" and "name"=- deletions, comments and blank lines.
//
// A key block is a "[key]" or "[-key]" line and the value lines below it. The reader hands
// each block to its caller as soon as the block is complete, so the memory it uses is bounded
// by the largest block, not by the file: a caller that checks a whole file first and applies
// it afterwards reads it twice.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/registry.h"
#include "platform/win_types.h"

namespace quillary {

// The deepest key a registry holds: a key path of more names than this below its root is
// refused.
inline constexpr std::size_t kMaxKeyDepth = kMaxRegistryKeyDepth;

struct RegImportOperation {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    HKey root = HKey::None;
    std::u16string subKey;
    std::u16string valueName;  // empty: the default value
    RegType type = RegNone;
    std::vector<std::uint8_t> data;
    std::size_t line = 0;  // where the file states it
};

struct RegImportError {
    std::size_t line = 0;  // 0: the file as a whole
    std::string message;
};

// Called with each key block's operations in file order; a block's first operation is its
// key's CreateKey or DeleteKey. Returning a message stops the reading: the reader then
// returns that message with the line of the block's key.
using RegBlockHandler =
    std::function<std::optional<std::string>(std::span<const RegImportOperation> block)>;

// Reads text held in memory. nullopt when every block was read and handled; else the first
// thing that is wrong with the text (a damaged text is reported once its damage is reached:
// the blocks before it have been handled), or the handler's message.
[[nodiscard]] std::optional<RegImportError> ReadRegText(std::span<const std::uint8_t> bytes,
                                                        const RegBlockHandler& onBlock);

// Reads a file from the disk a piece at a time, as ReadRegText reads text. A path that is not
// a regular file (a folder, a FIFO, a device) is refused without being opened for reading.
[[nodiscard]] std::optional<RegImportError> ReadRegFile(IFileIo& fileIo,
                                                        const std::filesystem::path& path,
                                                        const RegBlockHandler& onBlock);

// The operations a text stands for, in file order; or the first thing that is wrong with it
// (then no operations). For texts whose operations are all needed at once.
struct RegImportParse {
    std::vector<RegImportOperation> operations;
    std::optional<RegImportError> error;
};
RegImportParse ParseRegFile(std::span<const std::uint8_t> bytes);

}  // namespace quillary
