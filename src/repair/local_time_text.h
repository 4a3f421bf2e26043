#pragma once

// Moments shown to the user in the local time zone: the dates of partial backups and the
// time stamps of archive entries.

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

namespace quillary {

// The broken-down local time of a moment, under the process's time zone.
std::tm LocalTimeOf(std::chrono::system_clock::time_point time);

// The moment formatted by strftime's conversions (%a, %B, %d, %Y, %I, %M, %p …) in the
// process's locale; empty when the result does not fit a generous buffer.
std::u16string FormatLocalTime(std::string_view format, std::chrono::system_clock::time_point time);

}  // namespace quillary
