#pragma once

// The task scheduler of a Linux desktop: each scheduled scan is a timer of the user's systemd
// instance with the service it starts, and the start at log-on is an XDG autostart entry. The
// files are written into the user's config folder, so a schedule made while systemd does not
// run for the user takes effect at the next log-on.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_io.h"
#include "platform/task_scheduler.h"

namespace quillary {

struct SystemdSchedulerSetup {
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME, or ~/.config
    std::filesystem::path runtimeDir;  // $XDG_RUNTIME_DIR; may be empty
    std::filesystem::path program;     // the command-line program the tasks start
    std::filesystem::path prefix;      // the target the tasks scan
    std::string targetId;              // names the files of this target
};

// The setup of this process's user, for program and prefix.
SystemdSchedulerSetup SystemdSetupOfProcess(std::filesystem::path program,
                                            std::filesystem::path prefix, std::string targetId);

// A command line argument as a unit file's ExecStart needs it: in double quotes, with \, " and
// control characters escaped and % and $ doubled.
std::string QuoteForUnitFile(std::string_view argument);
// A command line argument as a desktop entry's Exec key needs it: in double quotes with ", `,
// $ and \ escaped, then the string escapes of the file applied, and % doubled.
std::string QuoteForDesktopEntry(std::string_view argument);

// The timer's OnCalendar expression for a request, or nullopt with *error saying why the
// request has none (an unknown kind, or a repetition every few days or weeks).
std::optional<std::string> CalendarOf(const ScheduledTaskWriter& request, std::string* error);

class CSystemdTaskScheduler final : public ITaskScheduler {
public:
    CSystemdTaskScheduler(SystemdSchedulerSetup setup, IFileIo& files);

    TaskReport CreateTask(const ScheduledTaskWriter& request, bool replace) override;
    TaskReport DeleteTask(std::u16string_view taskName) override;
    std::vector<ScheduledTaskInfo> ListTasks() override;
    TaskReport SetStartAtLogon(bool on) override;
    bool StartsAtLogon() override;

    // The unit name (without .timer or .service) of a task: "quillary-scan-<target id>" for
    // the title itself, with "-<suffix>" added for a name ending in "_<suffix>". nullopt for a
    // name that cannot name a unit.
    std::optional<std::string> UnitNameOf(std::u16string_view taskName) const;
    std::filesystem::path UnitFolder() const;
    std::filesystem::path AutostartFile() const;

private:
    // Whether the user's systemd instance answers, so that a new timer can start at once.
    bool SystemdReachable() const;
    std::string ServiceText() const;

    SystemdSchedulerSetup setup_;
    IFileIo& files_;
};

}  // namespace quillary
