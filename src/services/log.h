#pragma once

// The daily activity log: what a scan found and what repairs changed, one numbered line at a
// time, in one file per calendar day in the data folder. Logging is best effort: when the
// file cannot be opened, lines are dropped and callers never learn of it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

#include "platform/clock.h"
#include "services/local_date.h"

namespace quillary {

class CLog {
public:
    // dataFolder is the program's data folder; an empty path means there is none and nothing
    // is logged. The clock and localDate give the day whose file is written.
    CLog(std::filesystem::path dataFolder, const IClock& clock,
         LocalDateFunction localDate = LocalDateOf);
    // Closes the log as CloseLog does.
    ~CLog();

    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Appends "<number>   <text>" and CR LF, in UTF-16LE, numbered from 1 in each run. The
    // first line of a run trims the old logs and chooses the file of the current local day,
    // "log_MM-DD-YYYY.log", continuing it when it exists; a run that passes midnight keeps
    // that file. An empty text writes nothing and uses no number. Safe from any thread:
    // lines never interleave and their numbers increase in file order.
    void WriteLogLine(std::u16string_view text);

    // Ends the log with a numbered "Closing Log" line and two empty lines, and closes the
    // file. Later lines are dropped. Does nothing the second time.
    void CloseLog();

    // The file lines go to; empty before the first line and when it could not be opened.
    std::filesystem::path LogFilePath() const;

private:
    void ChooseFileOnce();
    std::filesystem::path DayFilePath() const;
    void OpenLog(const std::filesystem::path& path);
    void AppendLine(std::u16string_view text);

    const std::filesystem::path dataFolder_;
    const IClock& clock_;
    const LocalDateFunction localDate_;

    mutable std::mutex mutex_;  // guards everything below; held while a line is written
    bool fileChosen_ = false;
    std::filesystem::path openPath_;
    std::ofstream file_;
    std::int64_t lineCounter_ = 1;  // wider than any run needs, so it never overflows
};

}  // namespace quillary
