#include "services/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/text_encoding.h"
#include "services/local_date.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// The date in UTC, so that tests do not depend on the machine's time zone.
CalendarDate UtcDate(system_clock::time_point time) {
    const year_month_day date(floor<days>(time));
    return CalendarDate{static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                        static_cast<int>(unsigned(date.day()))};
}

std::string Utf16Le(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

std::u16string ReadText(const fs::path& path) {
    const std::string bytes = ReadBytes(path);
    std::u16string text;
    for (std::size_t pos = 0; pos + 1 < bytes.size(); pos += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[pos]) |
                                             static_cast<unsigned char>(bytes[pos + 1]) << 8));
    }
    return text;
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
    std::vector<std::u16string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(u"\r\n", start), text.size());
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() /
            ("quillary-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::unique_ptr<CLog> MakeLog(const fs::path& folder) {
        return std::make_unique<CLog>(folder, clock_, UtcDate);
    }
    std::unique_ptr<CLog> MakeLog() { return MakeLog(folder_); }

    fs::path DayFile() const { return folder_ / "log_07-29-2010.log"; }

    fs::path folder_;
    CManualClock clock_{sys_days(2010y / July / 29) + 12h};
};

TEST_F(LogTest, WritesNumberedUtf16LinesAndClosesOnce) {
    auto log = MakeLog();
    log->WriteLogLine(u"Invalid Entry Found");
    log->WriteLogLine(u"Gr\u00FC\u00DFe \u05E9");
    EXPECT_EQ(log->LogFilePath(), DayFile());
    log->CloseLog();
    log->WriteLogLine(u"after closing");
    log.reset();  // closing again writes nothing
    EXPECT_EQ(ReadBytes(DayFile()), Utf16Le(u"1   Invalid Entry Found\r\n"
                                            u"2   Gr\u00FC\u00DFe \u05E9\r\n"
                                            u"3   Closing Log\r\n\r\n\r\n"));
}

TEST_F(LogTest, SecondRunOfTheDayContinuesItsFile) {
    MakeLog()->WriteLogLine(u"first run");
    auto second = MakeLog();
    second->WriteLogLine(u"second run");
    second->WriteLogLine(u"again");
    second.reset();
    EXPECT_EQ(ReadText(DayFile()),
              u"1   first run\r\n"
              u"2   Closing Log\r\n\r\n\r\n"
              u"1   second run\r\n"
              u"2   again\r\n"
              u"3   Closing Log\r\n\r\n\r\n");
}

TEST_F(LogTest, EmptyTextWritesNothingAndUsesNoNumber) {
    auto log = MakeLog();
    log->WriteLogLine(u"");
    EXPECT_TRUE(Names(folder_).empty()) << "no file for an empty first line";
    log->WriteLogLine(u"a");
    log->WriteLogLine(u"");
    log->WriteLogLine(u"b");
    log.reset();
    EXPECT_EQ(ReadText(DayFile()), u"1   a\r\n2   b\r\n3   Closing Log\r\n\r\n\r\n");
}

TEST_F(LogTest, RunPastMidnightKeepsTheFileOfItsFirstDay) {
    clock_.Set(sys_days(2011y / January / 5) + 23h + 59min);
    auto log = MakeLog();
    log->WriteLogLine(u"before midnight");
    clock_.Advance(2min);
    log->WriteLogLine(u"after midnight");
    log.reset();
    EXPECT_EQ(Names(folder_), std::set<std::string>{"log_01-05-2011.log"});
}

TEST_F(LogTest, DataFolderProblems) {
    std::ofstream(folder_ / "file") << "not a folder";
    const struct {
        const char* name;
        fs::path folder;
        bool logs;
    } cases[] = {
        {"no data folder", fs::path(), false},
        {"a file in the way", folder_ / "file" / "data", false},
        {"missing folders are made", folder_ / "made" / "data", true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        auto log = MakeLog(row.folder);
        log->WriteLogLine(u"line");
        EXPECT_EQ(!log->LogFilePath().empty(), row.logs);
        log.reset();
        EXPECT_EQ(fs::exists(row.folder / "log_07-29-2010.log"), row.logs);
    }
}

TEST_F(LogTest, RetentionKeepsTheFiveNewestLogs) {
    enum class Kind { File, Folder, Link };
    struct Entry {
        const char* name;
        Kind kind;
        int ageHours;
    };
    const Entry fiveLogs[] = {{"a.log", Kind::File, 1},
                              {"b.log", Kind::File, 2},
                              {"c.log", Kind::File, 3},
                              {"d.log", Kind::File, 4},
                              {"e.log", Kind::File, 5}};
    const std::set<std::string> fiveNames = {"a.log", "b.log", "c.log", "d.log", "e.log"};
    const std::string today = "log_07-29-2010.log";
    const auto with = [&fiveNames](std::initializer_list<std::string> more) {
        std::set<std::string> names = fiveNames;
        names.insert(more);
        return names;
    };
    const struct {
        const char* name;
        std::vector<Entry> extra;
        std::set<std::string> remaining;
    } cases[] = {
        {"six: the oldest goes", {{"old.log", Kind::File, 6}}, with({today})},
        {"five: none goes", {}, with({today})},
        {"the extension in any case counts", {{"OLD.LOG", Kind::File, 6}}, with({today})},
        {"a system entry is neither counted nor deleted",
         {{"system.log", Kind::Folder, 9}},
         with({"system.log", today})},
        {"links are skipped",
         {{"target.txt", Kind::File, 9}, {"link.log", Kind::Link, 9}, {"old.log", Kind::File, 6}},
         with({"target.txt", "link.log", today})},
        {"other files do not count",
         {{"notes.txt", Kind::File, 9}, {"log.old", Kind::File, 9}},
         with({"notes.txt", "log.old", today})},
        {"the day's file of an earlier run is the newest",
         {{"log_07-29-2010.log", Kind::File, 0}},
         {"a.log", "b.log", "c.log", "d.log", today}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        std::vector<Entry> entries(std::begin(fiveLogs), std::end(fiveLogs));
        entries.insert(entries.end(), row.extra.begin(), row.extra.end());
        for (const Entry& entry : entries) {
            const fs::path path = folder_ / entry.name;
            if (entry.kind == Kind::Folder) {
                fs::create_directory(path);
            } else if (entry.kind == Kind::Link) {
                fs::create_symlink("target.txt", path);
                continue;
            } else {
                std::ofstream(path) << "x";
            }
            fs::last_write_time(path, fs::file_time_type::clock::now() - hours(entry.ageHours));
        }
        MakeLog()->WriteLogLine(u"line");
        EXPECT_EQ(Names(folder_), row.remaining);
    }
}

TEST_F(LogTest, ConcurrentLinesStayWholeAndNumberedInOrder) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 250;
    auto log = MakeLog();
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&log, thread] {
                for (int line = 0; line < kLinesEach; ++line) {
                    log->WriteLogLine(
                        Utf8ToUtf16(std::to_string(thread) + " " + std::to_string(line)));
                }
            });
        }
    }
    log.reset();
    const std::vector<std::u16string> lines = SplitLines(ReadText(DayFile()));
    ASSERT_EQ(lines.size(), kThreads * kLinesEach + 3u);
    std::vector<int> nextLine(kThreads, 0);
    for (int number = 1; number <= kThreads * kLinesEach; ++number) {
        const std::string line = Utf16ToUtf8(lines[number - 1]);
        SCOPED_TRACE(line);
        int thread = -1;
        int index = -1;
        int read = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d   %d %d", &read, &thread, &index), 3);
        EXPECT_EQ(read, number);
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(index, nextLine[thread]++) << "a thread's lines keep their order";
    }
    EXPECT_EQ(lines[kThreads * kLinesEach],
              Utf8ToUtf16(std::to_string(kThreads * kLinesEach + 1) + "   Closing Log"));
}

// Two logs on one day's file stand for two processes: each long line must arrive whole.
TEST_F(LogTest, TwoWritersOfOneFileNeverSplitALine) {
    constexpr int kLines = 200;
    const std::u16string texts[] = {std::u16string(3000, u'a'), std::u16string(3000, u'b')};
    {
        std::vector<std::jthread> writers;
        for (const std::u16string& text : texts) {
            writers.emplace_back([this, &text] {
                auto log = MakeLog();
                for (int line = 0; line < kLines; ++line) {
                    log->WriteLogLine(text);
                }
            });
        }
    }
    int whole = 0;
    for (const std::u16string& line : SplitLines(ReadText(DayFile()))) {
        const std::size_t blanks = line.find(u"   ");
        if (line.empty() || line.substr(blanks + 3) == u"Closing Log") {
            continue;
        }
        const std::u16string_view text = std::u16string_view(line).substr(blanks + 3);
        EXPECT_TRUE(text == texts[0] || text == texts[1]) << "a line was split";
        ++whole;
    }
    EXPECT_EQ(whole, 2 * kLines);
}

// Sets TZ for one test and puts the old value back.
class LogLocalDateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) {
            saved_ = zone;
        }
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    std::optional<std::string> saved_;
};

TEST_F(LogLocalDateTest, LocalDateFollowsTheZone) {
    const struct {
        const char* zone;
        system_clock::time_point time;
        int year, month, day;
    } cases[] = {
        {"UTC0", sys_days(2010y / July / 29) + 23h + 30min, 2010, 7, 29},
        {"EAST-10", sys_days(2010y / July / 29) + 20h, 2010, 7, 30},
        {"EAST-10", sys_days(2010y / July / 29) + 13h + 59min, 2010, 7, 29},
        {"WEST+10", sys_days(2010y / July / 29) + 5h, 2010, 7, 28},
        {"LINE-14", sys_days(2010y / December / 31) + 10h, 2011, 1, 1},
        {"WEST+10", sys_days(2011y / January / 1) + 9h, 2010, 12, 31},
        // Summer time: two hours ahead in July, one in January.
        {"CET-1CEST,M3.5.0,M10.5.0/3", sys_days(2010y / July / 29) + 22h + 30min, 2010, 7, 30},
        {"CET-1CEST,M3.5.0,M10.5.0/3", sys_days(2010y / January / 29) + 22h + 30min, 2010, 1, 29},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.zone);
        UseZone(row.zone);
        const CalendarDate date = LocalDateOf(row.time);
        EXPECT_EQ(date.year, row.year);
        EXPECT_EQ(date.month, row.month);
        EXPECT_EQ(date.day, row.day);
    }
}

}  // namespace
}  // namespace quillary
