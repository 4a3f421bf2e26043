#include "xdg_shell_open.h"

#include <cstdlib>

#include "core/text_encoding.h"
#include "targets/linux/child_process.h"

namespace quillary {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

ShellResult NoDesktop(const std::string& what) {
    return {ShellOutcome::NoDesktop,
            "no graphical session (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set): " +
                what + " is left to you"};
}

ShellResult Failure(std::string message) {
    return {ShellOutcome::Failed, std::move(message)};
}

// An absolute path, so that a file name starting with '-' is never read as an option.
std::string PathArgument(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return (error ? path : absolute).string();
}

}  // namespace

bool HasGraphicalSession() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

ShellResult RunDesktopProgram(const std::vector<std::string>& argv) {
    if (std::optional<std::string> failure = RunProgram(argv)) {
        if (failure->ends_with(" was not found"))
            return Failure(*failure + " (it comes with xdg-utils)");
        return Failure(*failure);
    }
    return {};
}

ShellResult CXdgShellOpen::OpenFile(const std::filesystem::path& path) {
    if (!hasDesktop_)
        return NoDesktop("opening " + path.string());
    return RunDesktopProgram({"xdg-open", PathArgument(path)});
}

ShellResult CXdgShellOpen::MailFile(std::u16string_view recipient, std::u16string_view subject,
                                    const std::filesystem::path& attachment) {
    const std::string address = Utf16ToUtf8(recipient);
    // The address is the last argument: one that starts like an option would be read as one.
    if (address.empty() || address.front() == '-')
        return Failure("\"" + address + "\" is not a mail address");
    if (!hasDesktop_)
        return NoDesktop("mailing " + attachment.string());
    return RunDesktopProgram({"xdg-email", "--attach", PathArgument(attachment), "--subject",
                              Utf16ToUtf8(subject), address});
}

}  // namespace quillary
