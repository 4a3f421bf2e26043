// quillary-cli schedule, autostart and the scan a timer starts, run as a user runs them.

#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace quillary::testing {
namespace {

namespace fs = std::filesystem;

// Every file and folder below root, as paths relative to it.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error))
        names.push_back(entry.path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
}

// The log's lines are UTF-16LE; ASCII text in that form.
std::string Utf16Le(std::string_view ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

class CliScheduleTest : public CliTest {
protected:
    fs::path Units() const { return folder_.Path() / "config" / "systemd" / "user"; }
    fs::path Autostart() const { return folder_.Path() / "config" / "autostart"; }
    // The ExecStart line of the one service written.
    std::string ExecStart() {
        for (const std::string& name : Tree(Units())) {
            if (name.ends_with(".service")) {
                const std::string text = ReadBytes(Units() / name);
                const std::size_t begin = text.find("ExecStart=");
                return text.substr(begin + 10, text.find('\n', begin) - begin - 10);
            }
        }
        return {};
    }
};

TEST_F(CliScheduleTest, SchedulesListsAndRemovesATimer) {
    CommandResult made = Cli({"schedule", "--weekly", "mon,thu", "--at", "07:30"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_NE(made.out.find("Weekly; 07:30 AM; Monday, Thursday"), std::string::npos);
    EXPECT_NE(made.out.find("next log-on"), std::string::npos);
    EXPECT_NE(ExecStart().find(" --prefix \"" + Prefix().string() + "\" scan --scheduled"),
              std::string::npos);

    // The same name again changes nothing unless replacing is asked for.
    CommandResult again = Cli({"schedule", "--daily", "--at", "08:00"});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_NE(again.err.find("--replace"), std::string::npos);
    EXPECT_NE(Cli({"schedule", "--list"}).out.find("Mon,Thu *-*-* 07:30:00"), std::string::npos);
    ASSERT_EQ(Cli({"schedule", "--daily", "--at", "08:00", "--replace"}).exitCode, 0);

    const nlohmann::json listed = nlohmann::json::parse(Cli({"schedule", "--list", "--json"}).out);
    EXPECT_EQ(listed["scheduled"], "Daily; 08:00 AM");
    ASSERT_EQ(listed["timers"].size(), 1u);
    EXPECT_EQ(listed["timers"][0]["calendar"], "*-*-* 08:00:00");
    EXPECT_EQ(listed["timers"][0]["enabled"], true);
    EXPECT_NE(listed["updates"].get<std::string>().find("package manager"), std::string::npos);

    CommandResult removed = Cli({"schedule", "--remove"});
    ASSERT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(Tree(Units()), std::vector<std::string>{"timers.target.wants"});
    EXPECT_NE(Cli({"schedule", "--list"}).out.find("No scan scheduled"), std::string::npos);
}

TEST_F(CliScheduleTest, RefusesWhatThePageRefusesAndWritesNoTimer) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"schedule", "--once", "2001-01-01", "--at", "08:00"}, "date has already passed"},
        {{"schedule", "--weekly", "someday", "--at", "08:00"}, "day names"},
        {{"schedule", "--daily", "--at", "25:00"}, "HH:MM"},
        {{"schedule", "--daily"}, "HH:MM"},
        {{"schedule", "--monthly", "0", "--at", "08:00"}, "days of the month"},
        {{"schedule", "--once", "2099-02-30", "--at", "08:00"}, "YYYY-MM-DD"},
        {{"schedule", "--daily", "--every", "3", "--at", "08:00"}, "every 3 days"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.arguments[1] + " " + row.arguments.back());
        CommandResult result = Cli(row.arguments);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(Units() / "timers.target.wants"));
}

TEST_F(CliScheduleTest, ScheduledScanSavesAndLogsButDoesNotRepair) {
    ASSERT_EQ(Cli({"schedule", "--daily", "--at", "08:00"}).exitCode, 0);
    const std::string before = Export("before.reg");
    // The command line the timer runs, with the program and prefix it names.
    CommandResult scan = Cli({"--prefix", Prefix().string(), "scan", "--scheduled"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.out.find("problems found"), std::string::npos);
    EXPECT_EQ(Export("after.reg"), before);

    std::string log;
    for (const auto& entry : fs::recursive_directory_iterator(DataHome())) {
        if (entry.path().extension() == ".log")
            log += ReadBytes(entry.path());
    }
    EXPECT_NE(log.find(Utf16Le("Scheduled scan started")), std::string::npos);
    EXPECT_NE(log.find(Utf16Le("Scheduled scan ended")), std::string::npos);
}

TEST_F(CliScheduleTest, AutostartWritesAndRemovesTheLogonEntry) {
    CommandResult on = Cli({"autostart", "on"});
    ASSERT_EQ(on.exitCode, 0) << on.err;
    const std::vector<std::string> entries = Tree(Autostart());
    ASSERT_EQ(entries.size(), 1u);
    const std::string entry = ReadBytes(Autostart() / entries[0]);
    EXPECT_NE(entry.find("scan --autorun\n"), std::string::npos);
    EXPECT_NE(Cli({"schedule", "--list"}).out.find("Start at log-on: on"), std::string::npos);
    ASSERT_EQ(Cli({"autostart", "off"}).exitCode, 0);
    EXPECT_TRUE(Tree(Autostart()).empty());
    EXPECT_NE(Cli({"autostart", "maybe"}).exitCode, 0);
}

}  // namespace
}  // namespace quillary::testing
