#pragma once

// Windows path syntax, taken apart the way Win32 normalizes a path before it reaches the file
// system: '/' is a separator, "." and ".." are folded, trailing dots and blanks of a name are
// dropped, and a relative path is completed from the current folder.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace quillary {

struct WindowsPath {
    char16_t drive = 0;  // upper-case drive letter
    std::vector<std::u16string> components;
    bool endsWithSeparator = false;  // "C:\\windows\\" names a folder only
};

// Parses path against currentDirectory (an absolute drive path). UNC and device paths
// ("\\\\server\\share", "\\\\.\\COM1") give ERROR_BAD_NETPATH: no drive of the target maps
// them. A name holding a character Windows forbids gives ERROR_INVALID_NAME; with
// wildcardLast, '*' and '?' are allowed in the last component.
std::optional<WindowsPath> ParseWindowsPath(std::u16string_view path,
                                            std::u16string_view currentDirectory, bool wildcardLast,
                                            LStatus* error);

// "C:\\a\\b" from its parts.
std::u16string FormatWindowsPath(char16_t drive, const std::vector<std::u16string>& components,
                                 std::size_t count);

// Whether name matches a FindFirstFileW pattern ('*' any run, '?' one character), compared
// without regard to case. "*.*" matches every name, with or without a dot.
bool MatchesFilePattern(std::u16string_view pattern, std::u16string_view name);

}  // namespace quillary
