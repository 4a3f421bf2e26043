#pragma once

// The calendar date of a moment in the local time zone.

#include <chrono>
#include <functional>

namespace quillary {

struct CalendarDate {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
};

using LocalDateFunction = std::function<CalendarDate(std::chrono::system_clock::time_point)>;

// The local date of time under the process's time zone (TZ and the system's zone files).
// Falls back to the UTC date when the runtime cannot convert local times.
CalendarDate LocalDateOf(std::chrono::system_clock::time_point time);

}  // namespace quillary
