#include "services/local_date.h"

#include <array>
#include <ctime>
#include <optional>

namespace quillary {
namespace {

CalendarDate ToCalendarDate(std::chrono::year_month_day date) {
    return CalendarDate{static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                        static_cast<int>(unsigned(date.day()))};
}

// The moment local midnight starts date, or nullopt when the runtime cannot tell. A zone
// that skips midnight starts the day at the first local time that exists.
std::optional<std::time_t> LocalMidnight(std::chrono::year_month_day date) {
    std::tm midnight{};
    midnight.tm_year = static_cast<int>(date.year()) - 1900;
    midnight.tm_mon = static_cast<int>(unsigned(date.month())) - 1;
    midnight.tm_mday = static_cast<int>(unsigned(date.day()));
    midnight.tm_isdst = -1;  // let the runtime decide whether summer time applies
    const std::time_t start = std::mktime(&midnight);
    if (start == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return start;
}

}  // namespace

// GCC 12 has no time-zone database in <chrono>, and std::localtime hands back a buffer shared
// by the whole process. std::mktime converts the other way, local to universal time, and
// works on the caller's own struct. Every zone is less than a day from UTC, so the local
// date is the UTC date or a neighbour of it: the latest of the three whose local midnight
// has passed.
CalendarDate LocalDateOf(std::chrono::system_clock::time_point time) {
    using std::chrono::days;
    const auto utcDay = std::chrono::floor<days>(time);
    const std::time_t now = std::chrono::system_clock::to_time_t(time);
    const std::array<std::chrono::year_month_day, 3> neighbours{
        std::chrono::year_month_day(utcDay + days(1)), std::chrono::year_month_day(utcDay),
        std::chrono::year_month_day(utcDay - days(1))};
    for (const std::chrono::year_month_day& date : neighbours) {
        const std::optional<std::time_t> midnight = LocalMidnight(date);
        if (!midnight) {
            break;
        }
        if (*midnight <= now) {
            return ToCalendarDate(date);
        }
    }
    return ToCalendarDate(std::chrono::year_month_day(utcDay));
}

}  // namespace quillary
