#include "app/startup.h"

namespace quillary {

std::chrono::milliseconds StartupWait(bool hasArguments) {
    return std::chrono::milliseconds(hasArguments ? 4096 + 2048 : 1024);
}

StartupResult StartUp(std::span<const std::u16string> arguments, IInstanceGuard& guard,
                      CAppContext& context, const StartupOptions& options) {
    StartupResult result;
    result.commandLine = ParseCommandLine(arguments, options.isAdministrator);
    if (!guard.Acquire(StartupWait(result.commandLine.hasArguments))) {
        result.outcome = StartupOutcome::SecondInstance;
        if (options.forwardToFirstInstance) {
            guard.SendToFirst(result.commandLine.scheduledScan ? InstanceRequest::ScheduledScan
                                                               : InstanceRequest::BringForward);
        }
        return result;
    }
    result.problems = context.Load();
    if (context.Platform().CommandLineHook(result.commandLine.joined) != 0) {
        result.outcome = StartupOutcome::Quit;
    }
    return result;
}

}  // namespace quillary
