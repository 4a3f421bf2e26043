#include "targets/linux/systemd_task_scheduler.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/temp_folder.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

// Runs a shell command line; its exit code, its output in *output.
int Shell(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        *output += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const fs::path& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

// Every file and folder below root.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error))
        names.push_back(entry.path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
}

ScheduledTaskWriter Weekly() {
    ScheduledTaskWriter request;
    request.taskName = u"Quillary";
    request.start = {2026, 12, 11, 7, 5};
    request.startValid = true;
    request.kind = 2;
    request.dayFlags[0] = request.dayFlags[2] = 1;
    return request;
}

class SystemdTaskSchedulerTest : public ::testing::Test {
protected:
    SystemdTaskSchedulerTest() {
        fs::create_directories(Config());
        fs::create_directories(Runtime());
        fs::permissions(Runtime(), fs::perms::owner_all, fs::perm_options::replace);
    }
    fs::path Config() const { return folder_.Path() / "config"; }
    fs::path Runtime() const { return folder_.Path() / "run"; }
    // A prefix path with every character the unit and desktop files must quote.
    fs::path Prefix() const { return folder_.Path() / "my prefix %h $HOME \\ \"q\" `x`\nline two"; }
    CSystemdTaskScheduler Scheduler(fs::path program = "/bin/true") {
        return CSystemdTaskScheduler({Config(), Runtime(), program, Prefix(), "prefix-1a2b"},
                                     files_);
    }

    testing::CTempFolder folder_;
    CPosixFileIo files_;
};

TEST(SystemdCalendarTest, MapsEachKind) {
    ScheduledTaskWriter request = Weekly();
    auto calendar = [&](std::uint32_t kind, std::uint32_t interval,
                        std::initializer_list<int> flags) {
        request.kind = kind;
        request.interval = interval;
        request.dayFlags = {};
        for (int flag : flags)
            request.dayFlags[static_cast<std::size_t>(flag)] = 1;
        std::string error;
        return CalendarOf(request, &error).value_or("error: " + error);
    };
    EXPECT_EQ(calendar(0, 0, {}), "2026-12-11 07:05:00");
    EXPECT_EQ(calendar(1, 0, {}), "*-*-* 07:05:00");
    EXPECT_EQ(calendar(1, 1, {}), "*-*-* 07:05:00");
    EXPECT_EQ(calendar(2, 1, {0, 2, 6}), "Mon,Wed,Sun *-*-* 07:05:00");
    EXPECT_EQ(calendar(2, 1, {}), "Fri *-*-* 07:05:00");  // the start's weekday
    EXPECT_EQ(calendar(3, 1, {2, 16}), "*-*-3,17 07:05:00");
    EXPECT_EQ(calendar(3, 1, {}), "*-*-11 07:05:00");  // the start's day
    EXPECT_EQ(calendar(1, 3, {}).substr(0, 6), "error:");
    EXPECT_EQ(calendar(2, 2, {0}).substr(0, 6), "error:");
    EXPECT_EQ(calendar(5, 1, {}).substr(0, 6), "error:");
    request.start.month = 13;
    EXPECT_EQ(calendar(1, 1, {}).substr(0, 6), "error:");
}

TEST(SystemdQuotingTest, EscapesWhatEachFileFormatRequires) {
    EXPECT_EQ(QuoteForUnitFile("/a b/%h$x\\\"q\""), R"("/a b/%%h$$x\\\"q\"")");
    EXPECT_EQ(QuoteForDesktopEntry("/a b/%h$x\\\"`"), R"("/a b/%%h\\$x\\\\\\"\\`")");
}

TEST_F(SystemdTaskSchedulerTest, WritesUnitsThatSystemdAccepts) {
    CSystemdTaskScheduler scheduler = Scheduler();
    const TaskReport report = scheduler.CreateTask(Weekly(), false);
    ASSERT_EQ(report.outcome, TaskOutcome::Done) << report.detail;
    // No systemd runs for this folder: the timer waits for the next log-on.
    EXPECT_NE(report.detail.find("next log-on"), std::string::npos);

    const fs::path units = Config() / "systemd" / "user";
    EXPECT_EQ(Tree(units),
              (std::vector<std::string>{"quillary-scan-prefix-1a2b.service",
                                        "quillary-scan-prefix-1a2b.timer", "timers.target.wants",
                                        "timers.target.wants/quillary-scan-prefix-1a2b.timer"}));
    EXPECT_EQ(fs::read_symlink(units / "timers.target.wants" / "quillary-scan-prefix-1a2b.timer"),
              units / "quillary-scan-prefix-1a2b.timer");
    EXPECT_NE(Read(units / "quillary-scan-prefix-1a2b.timer")
                  .find("OnCalendar=Mon,Wed *-*-* 07:05:00\nPersistent=true"),
              std::string::npos);

    std::string output;
    const int status = Shell("XDG_RUNTIME_DIR='" + Runtime().string() + "' XDG_CONFIG_HOME='" +
                                 Config().string() + "' systemd-analyze verify --user '" +
                                 (units / "quillary-scan-prefix-1a2b.timer").string() + "' '" +
                                 (units / "quillary-scan-prefix-1a2b.service").string() + "'",
                             &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");

    const std::vector<ScheduledTaskInfo> tasks = scheduler.ListTasks();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].name, u"quillary-scan-prefix-1a2b");
    EXPECT_EQ(tasks[0].when, "Mon,Wed *-*-* 07:05:00");
    EXPECT_TRUE(tasks[0].enabled);
}

TEST_F(SystemdTaskSchedulerTest, ReplacesOnlyWhenAskedAndRemovesEverything) {
    CSystemdTaskScheduler scheduler = Scheduler();
    ASSERT_EQ(scheduler.CreateTask(Weekly(), false).outcome, TaskOutcome::Done);
    ScheduledTaskWriter daily = Weekly();
    daily.kind = 1;
    EXPECT_EQ(scheduler.CreateTask(daily, false).outcome, TaskOutcome::Exists);
    EXPECT_EQ(scheduler.ListTasks().at(0).when, "Mon,Wed *-*-* 07:05:00");
    EXPECT_EQ(scheduler.CreateTask(daily, true).outcome, TaskOutcome::Done);
    EXPECT_EQ(scheduler.ListTasks().at(0).when, "*-*-* 07:05:00");

    ScheduledTaskWriter monthly = Weekly();
    monthly.taskName = u"Quillary_MONTHLY";
    monthly.kind = 3;
    ASSERT_EQ(scheduler.CreateTask(monthly, false).outcome, TaskOutcome::Done);
    EXPECT_EQ(scheduler.ListTasks().size(), 2u);

    EXPECT_EQ(scheduler.DeleteTask(u"Quillary").outcome, TaskOutcome::Done);
    EXPECT_EQ(scheduler.DeleteTask(u"Quillary_MONTHLY").outcome, TaskOutcome::Done);
    EXPECT_EQ(Tree(Config() / "systemd" / "user"), std::vector<std::string>{"timers.target.wants"});
    EXPECT_EQ(scheduler.DeleteTask(u"Quillary").outcome, TaskOutcome::Done);  // already gone
}

TEST_F(SystemdTaskSchedulerTest, FailureLeavesNothingBehind) {
    // The wants folder is a file: the units are written, then the link cannot be made.
    fs::create_directories(Config() / "systemd" / "user");
    std::ofstream(Config() / "systemd" / "user" / "timers.target.wants") << "in the way";
    CSystemdTaskScheduler scheduler = Scheduler();
    EXPECT_EQ(scheduler.CreateTask(Weekly(), false).outcome, TaskOutcome::Failed);
    EXPECT_EQ(Tree(Config()), (std::vector<std::string>{"systemd", "systemd/user",
                                                        "systemd/user/timers.target.wants"}));

    // A replacement that fails puts the old units back.
    fs::remove(Config() / "systemd" / "user" / "timers.target.wants");
    ASSERT_EQ(scheduler.CreateTask(Weekly(), false).outcome, TaskOutcome::Done);
    const fs::path link =
        Config() / "systemd" / "user" / "timers.target.wants" / "quillary-scan-prefix-1a2b.timer";
    fs::remove(link);
    fs::create_directory(link.string() + ".new");  // the link's temporary name is taken
    std::ofstream(fs::path(link.string() + ".new") / "x") << "x";
    ScheduledTaskWriter daily = Weekly();
    daily.kind = 1;
    EXPECT_EQ(scheduler.CreateTask(daily, true).outcome, TaskOutcome::Failed);
    EXPECT_EQ(scheduler.ListTasks().at(0).when, "Mon,Wed *-*-* 07:05:00");
}

TEST_F(SystemdTaskSchedulerTest, RefusesNamesAndSchedulesItCannotExpress) {
    CSystemdTaskScheduler scheduler = Scheduler();
    ScheduledTaskWriter request = Weekly();
    request.taskName = u"Quillary_a/b";
    EXPECT_EQ(scheduler.CreateTask(request, false).outcome, TaskOutcome::InvalidName);
    request.taskName = u"Quillary";
    request.interval = 2;
    const TaskReport report = scheduler.CreateTask(request, false);
    EXPECT_EQ(report.outcome, TaskOutcome::Failed);
    EXPECT_NE(report.detail.find("every 2 weeks"), std::string::npos);
    EXPECT_FALSE(fs::exists(Config() / "systemd"));
}

TEST_F(SystemdTaskSchedulerTest, AutostartEntryIsAValidDesktopEntry) {
    CSystemdTaskScheduler scheduler = Scheduler("/opt/q cli/quillary-cli");
    EXPECT_FALSE(scheduler.StartsAtLogon());
    ASSERT_EQ(scheduler.SetStartAtLogon(true).outcome, TaskOutcome::Done);
    EXPECT_TRUE(scheduler.StartsAtLogon());
    const fs::path entry = Config() / "autostart" / "quillary-prefix-1a2b.desktop";
    const std::string text = Read(entry);
    EXPECT_NE(text.find("Exec=\"/opt/q cli/quillary-cli\" --prefix \""), std::string::npos);
    EXPECT_NE(text.find("scan --autorun\n"), std::string::npos);
    EXPECT_NE(text.find("X-GNOME-Autostart-enabled=true\n"), std::string::npos);

    std::string output;
    if (Shell("command -v desktop-file-validate", &output) == 0) {
        output.clear();
        EXPECT_EQ(Shell("desktop-file-validate '" + entry.string() + "'", &output), 0) << output;
        EXPECT_EQ(output, "");
    }
    ASSERT_EQ(scheduler.SetStartAtLogon(false).outcome, TaskOutcome::Done);
    EXPECT_FALSE(fs::exists(entry));
}

}  // namespace
}  // namespace quillary
