#pragma once

// Hands a file to the user's desktop: opens it with the program associated with its type, as
// the shell's "open" verb does, or starts a mail that carries it, as a simple mail interface
// does.

#include <filesystem>
#include <string>
#include <string_view>

namespace quillary {

enum class ShellOutcome {
    Done,
    // No graphical session to show a program in: nothing was started.
    NoDesktop,
    Failed,
};

struct ShellResult {
    ShellOutcome outcome = ShellOutcome::Done;
    // Why nothing was started, in words a user can act on; empty when done.
    std::string message;
};

class IShellOpen {
public:
    virtual ~IShellOpen() = default;

    // Opens path with the program the desktop associates with its type.
    [[nodiscard]] virtual ShellResult OpenFile(const std::filesystem::path& path) = 0;

    // Opens a new mail in the user's mail program, addressed to recipient, with subject and
    // attachment, for the user to send.
    [[nodiscard]] virtual ShellResult MailFile(std::u16string_view recipient,
                                               std::u16string_view subject,
                                               const std::filesystem::path& attachment) = 0;
};

}  // namespace quillary
