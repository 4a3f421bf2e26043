#pragma once

// The system's task scheduler: tasks that start the program later in its scheduled-scan mode,
// and the program's start at log-on. Each host system implements ITaskScheduler once, for one
// target of the program (the tasks it makes scan that target).

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// A local date and time to the minute.
struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;   // 0-23
    int minute = 0;
    // NOLINTNEXTLINE(modernize-use-nullptr): the check misreads the defaulted comparison
    auto operator<=>(const LocalDateTime&) const = default;
};

enum class ScheduleKind : std::uint32_t { Once = 0, Daily = 1, Weekly = 2, Monthly = 3 };

// A schedule request: which task runs when.
struct ScheduledTaskWriter {
    std::u16string taskName;
    // The first run; for the daily and weekly kinds only its time of day matters.
    LocalDateTime start;
    bool startValid = false;
    std::uint32_t kind = 0;  // a ScheduleKind; any other value is refused
    // Days (daily) or weeks (weekly) between runs; 0 counts as 1.
    std::uint32_t interval = 0;
    // Weekly: entries 0 to 6 are Monday to Sunday. Monthly: entry i is day i+1 of the month.
    std::array<std::uint8_t, 31> dayFlags{};
};

enum class TaskOutcome {
    Done,
    Exists,       // a task of that name exists and replacing it was not asked for
    InvalidName,  // the name cannot name a task
    Failed,
};

struct TaskReport {
    TaskOutcome outcome = TaskOutcome::Done;
    // What failed, or a remark a user should read even on success (when the task starts).
    std::string detail;
};

struct ScheduledTaskInfo {
    std::u16string name;
    std::string when;  // the trigger in the system's own notation
    bool enabled = false;
};

class ITaskScheduler {
public:
    virtual ~ITaskScheduler() = default;

    // Creates the task the request names. An existing task of that name is replaced only when
    // replace is set; otherwise the outcome is Exists and nothing changes. On failure nothing
    // this call wrote is left behind.
    [[nodiscard]] virtual TaskReport CreateTask(const ScheduledTaskWriter& request,
                                                bool replace) = 0;
    // Deletes the named task; a missing one counts as deleted.
    [[nodiscard]] virtual TaskReport DeleteTask(std::u16string_view taskName) = 0;
    // The tasks this program has for its target.
    virtual std::vector<ScheduledTaskInfo> ListTasks() = 0;

    // Starts the program (in its scheduled-scan mode) when the user logs on, or stops doing so.
    [[nodiscard]] virtual TaskReport SetStartAtLogon(bool on) = 0;
    virtual bool StartsAtLogon() = 0;
};

}  // namespace quillary
