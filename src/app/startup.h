#pragma once

// Bringing the program up as far as its main window: the single-instance claim, a second
// instance's request to the first, the loading of the shared state in its order, the
// platform's command-line hook and the start mode.

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_context.h"
#include "app/command_line.h"
#include "platform/instance_guard.h"

namespace quillary {

// The name every instance of the program is known by.
inline constexpr std::string_view kInstanceName = "Local\\ORV_4E7965C1-F27A-44e1-90D1-46EBDFE07955";

// How long start-up waits for a previous instance to let go: an instance that restarts the
// program (an elevation verb, a scheduled task) is ending while the new one starts. 1024 ms
// for a start without arguments, 4096 + 2048 ms with them.
std::chrono::milliseconds StartupWait(bool hasArguments);

enum class StartupOutcome {
    Run,             // the first instance: show the main window
    SecondInstance,  // another instance runs; it was asked to come forward or to scan
    Quit,            // the platform's command-line hook asked to quit
};

struct StartupResult {
    StartupOutcome outcome = StartupOutcome::Run;
    CommandLine commandLine;
    // What the user should be told (damaged files) from loading.
    std::vector<std::string> problems;
};

struct StartupOptions {
    bool isAdministrator = false;
    // A window program asks the first instance to come forward (or to scan for "-s"); a
    // command-line program only learns that another instance runs.
    bool forwardToFirstInstance = true;
};

StartupResult StartUp(std::span<const std::u16string> arguments, IInstanceGuard& guard,
                      CAppContext& context, const StartupOptions& options);

}  // namespace quillary
