#include "report_command.h"

#include <algorithm>
#include <iostream>

#include "core/text_encoding.h"
#include "scan_command.h"
#include "services/scan_report.h"
#include "targets/linux/xdg_shell_open.h"

namespace quillary::cli {
namespace {

// The project's version, set by the build.
constexpr std::u16string_view kProgramVersion = u"" QUILLARY_VERSION;

constexpr std::string_view kMailToGuidance =
    "no address to mail the report to: store one with `quillary-cli report --mail-to ADDRESS`";

// A single address: something@somewhere, with no blank or control character, and nothing a
// mail program would read as an option.
bool LooksLikeMailAddress(std::string_view address) {
    const std::size_t at = address.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < address.size() &&
           address.front() != '-' && std::none_of(address.begin(), address.end(), [](char ch) {
               return static_cast<unsigned char>(ch) <= ' ' || ch == ',';
           });
}

// Says what the desktop did not do; true when it did it.
bool Reported(const ShellResult& result) {
    if (result.outcome == ShellOutcome::Done)
        return true;
    std::cerr << "quillary-cli: " << result.message << "\n";
    return result.outcome == ShellOutcome::NoDesktop;
}

}  // namespace

int RunReportCommand(COpenTarget& target, const ReportOptions& options) {
    CAppContext& context = target.Context();
    if (options.mailTo) {
        if (!LooksLikeMailAddress(*options.mailTo)) {
            std::cerr << "quillary-cli: \"" << *options.mailTo << "\" is not a mail address\n";
            return kExitBadArguments;
        }
        if (!StoreReportRecipient(context.ConfigStore(), Utf8ToUtf16(*options.mailTo))) {
            std::cerr << "quillary-cli: cannot store the address reports are mailed to\n";
            return kExitReportFailed;
        }
        std::cout << "Reports are mailed to " << *options.mailTo << ".\n";
    }

    const std::filesystem::path path =
        options.output ? std::filesystem::path(*options.output)
                       : context.DataFolder() / std::filesystem::path(kScanReportFileName);
    const ScanReportSource source{
        context.Scans(), context.TextTables(), context.Settings().Values(),
        [&context](std::u16string_view id) { return context.Language().LookupText(id); },
        kProgramVersion};
    if (FileError failure = WriteScanReport(target.FileIo(), path, source)) {
        std::cerr << "quillary-cli: " << *failure << "\n";
        return kExitReportFailed;
    }
    std::cout << path.string() << "\n";

    CXdgShellOpen desktop;
    bool done = true;
    if (options.open)
        done &= Reported(desktop.OpenFile(path));
    if (options.mail) {
        const std::u16string recipient = ReadReportRecipient(context.ConfigStore());
        if (recipient.empty()) {
            std::cerr << "quillary-cli: " << kMailToGuidance << "\n";
            return kExitBadArguments;
        }
        done &= Reported(desktop.MailFile(
            recipient, context.Language().LookupText(u"IDS_SCAN_LOG_TITLE"), path));
    }
    return done ? kExitDone : kExitReportFailed;
}

}  // namespace quillary::cli
