#pragma once

// `quillary-cli schedule`: a scheduled scan of the prefix as a systemd user timer (made,
// replaced, listed or removed), `autostart on|off`: a scan at each log-on, and the scan a
// scheduled start runs.

#include <filesystem>
#include <optional>
#include <string>

#include "scan_command.h"

namespace quillary::cli {

struct ScheduleOptions {
    std::optional<std::string> once;  // YYYY-MM-DD
    bool daily = false;
    std::optional<std::string> weekly;   // day names separated by commas: mon,wed
    std::optional<std::string> monthly;  // days of the month separated by commas: 3,17
    std::optional<std::string> at;       // HH:MM
    std::string every = "1";
    bool replace = false;
    bool list = false;
    bool json = false;
    bool remove = false;
};

// program: the command-line program the timers start.
int RunScheduleCommand(COpenTarget& target, const ScheduleOptions& options,
                       const std::filesystem::path& program);
int RunAutostartCommand(COpenTarget& target, bool on, const std::filesystem::path& program);

// The scan of a scheduled start: scans, saves the results, writes the log, and repairs only
// when the AutoRepair setting asks for it, through the cleaning run and its partial backup.
int RunScheduledScan(COpenTarget& target, const ScanOptions& options);

}  // namespace quillary::cli
