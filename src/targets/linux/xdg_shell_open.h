#pragma once

// Opening and mailing files on a Linux desktop through xdg-utils: `xdg-open FILE` starts the
// program the desktop associates with the file's type, and `xdg-email --attach FILE --subject
// SUBJECT RECIPIENT` a new mail in the user's mail program.

#include <string>
#include <vector>

#include "platform/shell_open.h"

namespace quillary {

// Whether this process runs in a graphical session (DISPLAY or WAYLAND_DISPLAY is set).
bool HasGraphicalSession();

// Runs a program found in PATH with arguments (no shell reads them) and waits for it to end.
// Done when it exits with status 0; otherwise Failed, saying why.
ShellResult RunDesktopProgram(const std::vector<std::string>& argv);

class CXdgShellOpen final : public IShellOpen {
public:
    // Without a graphical session nothing is started: the programs xdg-utils would start
    // need one, and a text-mode fallback would take over the terminal.
    explicit CXdgShellOpen(bool hasDesktop = HasGraphicalSession()) : hasDesktop_(hasDesktop) {}

    ShellResult OpenFile(const std::filesystem::path& path) override;
    ShellResult MailFile(std::u16string_view recipient, std::u16string_view subject,
                         const std::filesystem::path& attachment) override;

private:
    bool hasDesktop_;
};

}  // namespace quillary
