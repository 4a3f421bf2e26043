#include "platform/write_faults.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quillary {
namespace {

long StepNumberFrom(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr)
        return 0;
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && number > 0 ? number : 0;
}

struct FaultPlan {
    long failAt = StepNumberFrom("QUILLARY_FAIL_WRITE");
    long exitAfter = StepNumberFrom("QUILLARY_EXIT_AFTER_WRITE");
    // Steps started (for failures) and steps taken (for exits), counted separately so that a
    // failed step is not counted as taken.
    std::atomic<long> started = 0;
    std::atomic<long> taken = 0;
    const char* holdFile = std::getenv("QUILLARY_HOLD_AFTER_DELETION");
    std::atomic<bool> held = false;
};

FaultPlan& Plan() {
    static FaultPlan plan;
    return plan;
}

}  // namespace

std::optional<std::string> InjectedWriteFailure(WriteStep) {
    FaultPlan& plan = Plan();
    if (plan.failAt == 0)
        return std::nullopt;
    if (++plan.started == plan.failAt) {
        // Said apart from the program's own words, so that a test can tell that the failure
        // reached the user.
        std::fprintf(stderr, "write step %ld fails as injected\n", plan.failAt);
        return std::string("No space left on device (injected)");
    }
    return std::nullopt;
}

void WriteStepTaken(WriteStep step) {
    FaultPlan& plan = Plan();
    if (plan.exitAfter != 0 && ++plan.taken == plan.exitAfter)
        std::_Exit(137);  // no destructor runs, no buffer is flushed: as a kill would leave it
    if (step == WriteStep::FileDeletion && plan.holdFile != nullptr && *plan.holdFile != '\0' &&
        !plan.held.exchange(true)) {
        const std::filesystem::path hold = plan.holdFile;
        std::ofstream(std::filesystem::path(hold) += ".held").put('\n');
        std::error_code error;
        while (std::filesystem::exists(hold, error))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace quillary
