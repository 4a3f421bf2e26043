#pragma once

// The UTF-16 strings of a shortcut file, read straight from its bytes. Each code unit is kept
// as stored: a file name on Windows may hold a lone surrogate, and a decoder that pairs it
// with the unit after it would lose that unit.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillary {

// Each string is nullopt when the file lacks it, holds it in the ANSI code page only, or
// places it (or its terminator) outside the file or its block.
struct ShellLinkStrings {
    // The link information's paths: the local base path, the network share's name, and the
    // suffix that follows either of them.
    std::optional<std::u16string> localBasePath;
    std::optional<std::u16string> netName;
    std::optional<std::u16string> commonPathSuffix;
    // The string data: counted strings, each cut at a null unit should it hold one.
    std::optional<std::u16string> name;
    std::optional<std::u16string> relativePath;
    std::optional<std::u16string> workingDir;
    std::optional<std::u16string> arguments;
    std::optional<std::u16string> iconLocation;
    // The environment variables block's target, unexpanded.
    std::optional<std::u16string> environmentTarget;
};

// The UTF-16 strings of the shortcut file bytes. The bytes are untrusted: every offset, size
// and count is checked against the file and the block it lies in. A string whose offset or
// terminator is out of place is left out; a size or count out of place leaves out every
// string after it, since it decides where they lie.
ShellLinkStrings ReadShellLinkStrings(std::span<const std::uint8_t> bytes);

}  // namespace quillary
