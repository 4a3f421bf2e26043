#pragma once

// `quillary-cli report`: the scan report of the saved results written as an XML document,
// then opened with the desktop's program for it or mailed to the address the user stored.

#include <optional>
#include <string>

#include "app/target_factory.h"

namespace quillary::cli {

// The report could not be written, or the desktop could not open or mail it.
inline constexpr int kExitReportFailed = 1;

struct ReportOptions {
    std::optional<std::string> output;  // default: KVLscanlog.xml in the data folder
    bool open = false;
    bool mail = false;
    std::optional<std::string> mailTo;  // stored as the address reports are mailed to
};

// Stores the address when one is given, writes the report (replacing the file atomically)
// and prints its path, then opens or mails it as asked. Mailing with no stored address sends
// nothing and says how to store one (exit code 2). Without a graphical session opening and
// mailing are skipped with a message.
int RunReportCommand(COpenTarget& target, const ReportOptions& options);

}  // namespace quillary::cli
