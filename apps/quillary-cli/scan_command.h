#pragma once

// `quillary-cli scan`: a scan of the chosen categories on the scan engine's worker thread,
// with progress on a terminal, a table or a JSON document of what it found, and the results
// saved as the program saves them at exit.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/target_factory.h"

namespace quillary::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitTargetUnavailable = 3;
inline constexpr int kExitTargetBusy = 4;
inline constexpr int kExitInternalError = 70;
inline constexpr int kExitInterrupted = 130;

// The prefix's registry files: quillary-cli opens Wine prefixes only.
inline CWinePrefixRegistry& PrefixRegistry(COpenTarget& target) {
    return *target.PrefixStore();
}

// A list of categories, by index (0-13) or by name (ActiveX, AppPaths, FileTypes, Fonts,
// HelpFiles, HistoryLists, SharedFiles, Shortcuts, Software, Sounds, StartMenu, Startup,
// DeepScanLM, DeepScanCU; any case), separated by commas; "all" selects every one. The OR
// of their bits, or nullopt with *error naming what is unknown.
std::optional<std::uint32_t> ParseCategoryList(std::string_view list, std::string* error);

struct ScanOptions {
    std::optional<std::string> categories;  // default: the stored selection
    bool json = false;
    bool saveResults = true;  // false for a second instance, which writes nothing
};

// Scans the selected categories on the engine's worker thread and waits for the end; an
// interrupt (Ctrl-C) ends the scan between two items. The scan's time and the problems it
// found are recorded in the settings. True when it was stopped.
bool ScanToEnd(CAppContext& context, std::uint32_t selection);

int RunScanCommand(COpenTarget& target, const ScanOptions& options);

}  // namespace quillary::cli
