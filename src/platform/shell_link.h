#pragma once

// Shortcut (.lnk) files as the shell's link object reads them: what IShellLinkW::GetPath
// answers after IPersistFile::Load of the file. Each target implements it: a Linux target
// parses the file itself, the Windows build asks the shell.

#include <string>
#include <string_view>

namespace quillary {

class IShellLinkReader {
public:
    virtual ~IShellLinkReader() = default;

    // The target path of the shortcut file at linkPath (a Windows path), with environment
    // strings expanded, as GetPath with SLGP_UNCPRIORITY gives it: a network path before a
    // local one. Empty when the file cannot be read, is no shortcut, or names no file-system
    // target (a shortcut to a control panel item or a virtual folder).
    virtual std::u16string GetPath(std::u16string_view linkPath) = 0;
};

}  // namespace quillary
