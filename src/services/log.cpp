#include "services/log.h"

#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

#include "core/text_encoding.h"
#include "core/text_format.h"
#include "services/log_retention.h"

namespace quillary {
namespace {

constexpr std::u16string_view kClosingLine = u"Closing Log\r\n\r\n";

}  // namespace

CLog::CLog(std::filesystem::path dataFolder, const IClock& clock, LocalDateFunction localDate)
    : dataFolder_(std::move(dataFolder)), clock_(clock), localDate_(std::move(localDate)) {}

CLog::~CLog() {
    CloseLog();
}

void CLog::WriteLogLine(std::u16string_view text) {
    if (text.empty()) {
        return;
    }
    const std::lock_guard lock(mutex_);
    ChooseFileOnce();
    AppendLine(text);
}

void CLog::CloseLog() {
    const std::lock_guard lock(mutex_);
    fileChosen_ = true;
    if (file_.is_open()) {
        AppendLine(kClosingLine);
        file_.close();
        openPath_.clear();
    }
}

std::filesystem::path CLog::LogFilePath() const {
    const std::lock_guard lock(mutex_);
    return openPath_;
}

void CLog::ChooseFileOnce() {
    if (fileChosen_) {
        return;
    }
    fileChosen_ = true;
    if (dataFolder_.empty()) {
        return;
    }
    // Old logs are trimmed before the day's file is opened: after the first line, the five
    // newest older logs and the day's file remain.
    CKeepNumberofLogsLimited(dataFolder_).Trim();
    OpenLog(DayFilePath());
}

std::filesystem::path CLog::DayFilePath() const {
    const CalendarDate date = localDate_(clock_.Now());
    // Joined by the path type, not with a backslash: on Linux a backslash is an ordinary
    // character of a file name.
    return dataFolder_ / Format(u"log_%02i-%02i-%04i.log", date.month, date.day, date.year);
}

void CLog::OpenLog(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    // Unbuffered and appending: each line reaches the file as it is logged, in one write at
    // the file's end, so a crash loses no line and a second process logging to the same
    // day's file never splits one.
    file_.rdbuf()->pubsetbuf(nullptr, 0);
    file_.open(path, std::ios::binary | std::ios::app);
    if (file_.is_open()) {
        openPath_ = path;
        lineCounter_ = 1;
    }
}

void CLog::AppendLine(std::u16string_view text) {
    if (!file_.is_open()) {
        return;
    }
    const std::vector<std::uint8_t> bytes =
        ToUtf16LeBytes(Format(u"%d   %s\r\n", static_cast<long long>(lineCounter_), text), false);
    ++lineCounter_;
    file_.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    // A failed write (a full disk) is not reported; clearing the failure lets later lines try.
    file_.clear();
}

}  // namespace quillary
