#include "targets/linux/systemd_task_scheduler.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "core/text_encoding.h"
#include "targets/linux/child_process.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUnitPrefix = "quillary-scan-";
constexpr std::array<const char*, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string TwoDigits(int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string TimeOfDay(const LocalDateTime& start) {
    return TwoDigits(start.hour) + ":" + TwoDigits(start.minute) + ":00";
}

bool IsUnitNameCharacter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_' || c == u'.';
}

// Runs systemctl --user with the arguments; true when it exits with 0.
bool RunSystemctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"systemctl", "--user", "--quiet"});
    return !RunProgram(arguments);
}

// What one operation wrote, so that a failure can take all of it back: files it replaced get
// their old contents again, files, links and folders it created are removed.
class CFileChanges {
public:
    explicit CFileChanges(IFileIo& files) : files_(files) {}

    FileError CreateFolders(const fs::path& folder) {
        std::vector<fs::path> missing;
        for (fs::path part = folder; !part.empty() && !fs::exists(part);
             part = part.parent_path()) {
            missing.push_back(part);
            if (part == part.parent_path())
                break;
        }
        std::reverse(missing.begin(), missing.end());
        for (const fs::path& part : missing) {
            std::error_code error;
            if (!fs::create_directory(part, error) && error)
                return "cannot create " + part.string() + ": " + error.message();
            createdFolders_.push_back(part);
        }
        if (!fs::is_directory(folder))
            return "cannot create " + folder.string() + ": a file of that name is in the way";
        return std::nullopt;
    }

    FileError Write(const fs::path& path, const std::string& text) {
        std::vector<std::uint8_t> old;
        Written entry{path, std::nullopt};
        if (fs::exists(path)) {
            if (FileError error = files_.ReadWholeFile(path, 1 << 20, old))
                return error;
            entry.oldBytes = std::move(old);
        }
        if (FileError error = files_.ReplaceFileAtomically(path, Bytes(text)))
            return error;
        written_.push_back(std::move(entry));
        return std::nullopt;
    }

    // Makes link point at target, replacing a link of that name.
    FileError Link(const fs::path& link, const fs::path& target) {
        std::error_code error;
        if (fs::is_symlink(link) && fs::read_symlink(link, error) == target)
            return std::nullopt;
        const fs::path temporary = link.string() + ".new";
        fs::remove(temporary, error);
        fs::create_symlink(target, temporary, error);
        if (!error)
            fs::rename(temporary, link, error);
        if (error) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return "cannot link " + link.string() + ": " + error.message();
        }
        links_.push_back(link);
        return std::nullopt;
    }

    void Commit() {
        written_.clear();
        links_.clear();
        createdFolders_.clear();
    }

    ~CFileChanges() {
        std::error_code ignored;
        for (const fs::path& link : links_)
            fs::remove(link, ignored);
        // Last change first.
        std::reverse(written_.begin(), written_.end());
        for (const Written& file : written_) {
            if (file.oldBytes)
                (void)files_.ReplaceFileAtomically(file.path, *file.oldBytes);
            else
                fs::remove(file.path, ignored);
        }
        std::reverse(createdFolders_.begin(), createdFolders_.end());
        for (const fs::path& folder : createdFolders_)
            fs::remove(folder, ignored);  // only when empty again
    }

private:
    struct Written {
        fs::path path;
        std::optional<std::vector<std::uint8_t>> oldBytes;
    };
    IFileIo& files_;
    std::vector<Written> written_;
    std::vector<fs::path> links_;
    std::vector<fs::path> createdFolders_;
};

TaskReport Failure(std::string detail) {
    return {TaskOutcome::Failed, std::move(detail)};
}

// A start that systemd may only pick up at the next log-on.
std::string StartRemark(bool started, const std::string& timer) {
    if (started)
        return "the timer " + timer + " is active";
    return "the user's systemd instance is not running: the timer " + timer +
           " starts at the next log-on";
}

// The prefix's folder name for a description line: control characters would end the line,
// and % starts a specifier in a unit file, so they become blanks.
std::string DescriptionName(const fs::path& prefix) {
    std::string name = prefix.filename().string();
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '%')
            c = ' ';
    }
    return name;
}

std::string OnCalendarOf(const fs::path& timerFile) {
    std::ifstream stream(timerFile);
    for (std::string line; std::getline(stream, line);) {
        if (line.starts_with("OnCalendar="))
            return line.substr(11);
    }
    return {};
}

}  // namespace

SystemdSchedulerSetup SystemdSetupOfProcess(fs::path program, fs::path prefix,
                                            std::string targetId) {
    SystemdSchedulerSetup setup{{}, {}, std::move(program), std::move(prefix), std::move(targetId)};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && *config == '/')
        setup.configHome = config;
    else if (home != nullptr && *home != '\0')
        setup.configHome = fs::path(home) / ".config";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr)
        setup.runtimeDir = runtime;
    return setup;
}

std::string QuoteForUnitFile(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        switch (c) {
            case '\\':
                quoted += "\\\\";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '%':
                quoted += "%%";
                break;
            case '$':
                quoted += "$$";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(c));
                    quoted += buffer;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string QuoteForDesktopEntry(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        switch (c) {
            // Escaped once for the Exec quoting and once more for the string value.
            case '\\':
                quoted += "\\\\\\\\";
                break;
            case '"':
                quoted += "\\\\\"";
                break;
            case '`':
                quoted += "\\\\`";
                break;
            case '$':
                quoted += "\\\\$";
                break;
            case '%':
                quoted += "%%";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '\r':
                quoted += "\\r";
                break;
            default:
                quoted += c;
        }
    }
    return quoted + "\"";
}

std::optional<std::string> CalendarOf(const ScheduledTaskWriter& request, std::string* error) {
    using namespace std::chrono;
    const LocalDateTime& start = request.start;
    const year_month_day date{year{start.year}, month{static_cast<unsigned>(start.month)},
                              day{static_cast<unsigned>(start.day)}};
    if (!request.startValid || !date.ok() || start.hour < 0 || start.hour > 23 ||
        start.minute < 0 || start.minute > 59) {
        *error = "the schedule has no valid start";
        return std::nullopt;
    }
    const std::string time = TimeOfDay(start);
    if (request.interval > 1 &&
        (request.kind == static_cast<std::uint32_t>(ScheduleKind::Daily) ||
         request.kind == static_cast<std::uint32_t>(ScheduleKind::Weekly))) {
        *error = "a systemd timer's calendar cannot repeat every " +
                 std::to_string(request.interval) + (request.kind == 1 ? " days" : " weeks") +
                 "; choose an interval of 1";
        return std::nullopt;
    }
    switch (static_cast<ScheduleKind>(request.kind)) {
        case ScheduleKind::Once:
            return std::to_string(start.year) + "-" + TwoDigits(start.month) + "-" +
                   TwoDigits(start.day) + " " + time;
        case ScheduleKind::Daily:
            return "*-*-* " + time;
        case ScheduleKind::Weekly: {
            std::string days;
            for (std::size_t i = 0; i < kDayNames.size(); ++i) {
                if (request.dayFlags[i] != 0)
                    days += std::string(days.empty() ? "" : ",") + kDayNames[i];
            }
            if (days.empty())  // the weekday of the start
                days = kDayNames[(weekday{sys_days{date}}.iso_encoding() - 1)];
            return days + " *-*-* " + time;
        }
        case ScheduleKind::Monthly: {
            std::string days;
            for (std::size_t i = 0; i < request.dayFlags.size(); ++i) {
                if (request.dayFlags[i] != 0)
                    days += (days.empty() ? "" : ",") + std::to_string(i + 1);
            }
            if (days.empty())  // the day of the start
                days = std::to_string(start.day);
            return "*-*-" + days + " " + time;
        }
    }
    *error = "unknown schedule kind " + std::to_string(request.kind);
    return std::nullopt;
}

CSystemdTaskScheduler::CSystemdTaskScheduler(SystemdSchedulerSetup setup, IFileIo& files)
    : setup_(std::move(setup)), files_(files) {}

fs::path CSystemdTaskScheduler::UnitFolder() const {
    return setup_.configHome / "systemd" / "user";
}

fs::path CSystemdTaskScheduler::AutostartFile() const {
    return setup_.configHome / "autostart" / ("quillary-" + setup_.targetId + ".desktop");
}

std::optional<std::string> CSystemdTaskScheduler::UnitNameOf(std::u16string_view taskName) const {
    if (taskName.empty() || setup_.targetId.empty())
        return std::nullopt;
    for (char c : setup_.targetId) {
        if (!IsUnitNameCharacter(static_cast<char16_t>(static_cast<unsigned char>(c))))
            return std::nullopt;
    }
    std::string name = std::string(kUnitPrefix) + setup_.targetId;
    const std::size_t underscore = taskName.rfind(u'_');
    if (underscore == std::u16string_view::npos)
        return name;
    std::string suffix;
    for (char16_t c : taskName.substr(underscore + 1)) {
        if (!IsUnitNameCharacter(c))
            return std::nullopt;
        suffix += static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
    }
    return suffix.empty() ? std::nullopt : std::optional(name + "-" + suffix);
}

bool CSystemdTaskScheduler::SystemdReachable() const {
    std::error_code error;
    return !setup_.runtimeDir.empty() &&
           fs::is_socket(setup_.runtimeDir / "systemd" / "private", error);
}

std::string CSystemdTaskScheduler::ServiceText() const {
    return "[Unit]\nDescription=Quillary scheduled scan of " + DescriptionName(setup_.prefix) +
           "\n\n[Service]\nType=oneshot\nExecStart=" + QuoteForUnitFile(setup_.program.string()) +
           " --prefix " + QuoteForUnitFile(setup_.prefix.string()) + " scan --scheduled\n";
}

TaskReport CSystemdTaskScheduler::CreateTask(const ScheduledTaskWriter& request, bool replace) {
    const std::optional<std::string> unit = UnitNameOf(request.taskName);
    if (!unit)
        return {TaskOutcome::InvalidName, "the task name cannot name a systemd unit"};
    std::string error;
    const std::optional<std::string> calendar = CalendarOf(request, &error);
    if (!calendar)
        return Failure(error);
    const fs::path folder = UnitFolder();
    const fs::path timer = folder / (*unit + ".timer");
    const fs::path service = folder / (*unit + ".service");
    if (!replace && (fs::exists(timer) || fs::exists(service)))
        return {TaskOutcome::Exists, "the timer " + timer.string() + " exists"};

    const std::string timerText = "[Unit]\nDescription=Quillary scheduled scan of " +
                                  DescriptionName(setup_.prefix) +
                                  "\n\n[Timer]\nOnCalendar=" + *calendar +
                                  "\nPersistent=true\n\n[Install]\nWantedBy=timers.target\n";
    CFileChanges changes(files_);
    if (FileError failure = changes.CreateFolders(folder / "timers.target.wants"))
        return Failure(*failure);
    if (FileError failure = changes.Write(service, ServiceText()))
        return Failure(*failure);
    if (FileError failure = changes.Write(timer, timerText))
        return Failure(*failure);
    // What `systemctl --user enable` makes: the wants link to the timer.
    if (FileError failure =
            changes.Link(folder / "timers.target.wants" / (*unit + ".timer"), timer))
        return Failure(*failure);
    changes.Commit();

    bool started = false;
    if (SystemdReachable()) {
        started = RunSystemctl({"daemon-reload"}) &&
                  RunSystemctl({replace ? "restart" : "start", *unit + ".timer"});
    }
    return {TaskOutcome::Done, StartRemark(started, *unit + ".timer")};
}

TaskReport CSystemdTaskScheduler::DeleteTask(std::u16string_view taskName) {
    const std::optional<std::string> unit = UnitNameOf(taskName);
    if (!unit)
        return {TaskOutcome::InvalidName, "the task name cannot name a systemd unit"};
    const bool reachable = SystemdReachable();
    if (reachable)
        RunSystemctl({"stop", *unit + ".timer"});
    const fs::path folder = UnitFolder();
    for (const fs::path& path : {folder / "timers.target.wants" / (*unit + ".timer"),
                                 folder / (*unit + ".timer"), folder / (*unit + ".service")}) {
        std::error_code error;
        fs::remove(path, error);
        if (error)
            return Failure("cannot remove " + path.string() + ": " + error.message());
    }
    files_.FlushFolder(folder);
    if (reachable)
        RunSystemctl({"daemon-reload"});
    return {};
}

std::vector<ScheduledTaskInfo> CSystemdTaskScheduler::ListTasks() {
    std::vector<ScheduledTaskInfo> tasks;
    const std::string own = std::string(kUnitPrefix) + setup_.targetId;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(UnitFolder(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(".timer") || !name.starts_with(own))
            continue;
        const std::string rest = name.substr(own.size(), name.size() - own.size() - 6);
        if (!rest.empty() && !rest.starts_with("-"))
            continue;  // another target whose id begins with this one's
        std::error_code ignored;
        tasks.push_back({Utf8ToUtf16(name.substr(0, name.size() - 6)), OnCalendarOf(entry.path()),
                         fs::exists(UnitFolder() / "timers.target.wants" / name, ignored)});
    }
    return tasks;
}

TaskReport CSystemdTaskScheduler::SetStartAtLogon(bool on) {
    const fs::path file = AutostartFile();
    if (!on) {
        std::error_code error;
        fs::remove(file, error);
        if (error)
            return Failure("cannot remove " + file.string() + ": " + error.message());
        return {};
    }
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=Quillary scan of " +
        DescriptionName(setup_.prefix) +
        "\nComment=Scans the Wine prefix for registry entries that point at nothing\nExec=" +
        QuoteForDesktopEntry(setup_.program.string()) + " --prefix " +
        QuoteForDesktopEntry(setup_.prefix.string()) +
        " scan --autorun\nTerminal=false\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n";
    CFileChanges changes(files_);
    if (FileError failure = changes.CreateFolders(file.parent_path()))
        return Failure(*failure);
    if (FileError failure = changes.Write(file, entry))
        return Failure(*failure);
    changes.Commit();
    return {TaskOutcome::Done, "starts at the next log-on: " + file.string()};
}

bool CSystemdTaskScheduler::StartsAtLogon() {
    std::error_code error;
    return fs::is_regular_file(AutostartFile(), error);
}

}  // namespace quillary
