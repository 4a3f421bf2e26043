#pragma once

// The memory a process holds, read from /proc/self/status, so one phase of a run can be
// measured on its own.

#include <cstdint>

namespace quillary {

// The resident set size now and at its highest since the start or the last reset, in bytes.
// 0 when /proc cannot be read.
std::uint64_t ResidentBytes();
std::uint64_t PeakResidentBytes();

// Starts a new peak from the current resident size. False when the kernel does not allow it;
// the peak then still counts from the start of the process.
bool ResetPeakResidentBytes();

}  // namespace quillary
