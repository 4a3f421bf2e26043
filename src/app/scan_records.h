#pragma once

// What every scan leaves in the settings, whichever program ran it: when the last scan
// started, and the running total of problems found.

#include <chrono>
#include <cstddef>

#include "core/settings.h"

namespace quillary {

// A scan starts: its local time becomes StrLastScan, and the count of problems repaired
// since the last scan starts again at 0 (written at once, as the cleaning run writes it).
void RecordScanStart(CSettings& settings, std::chrono::system_clock::time_point now);

// A scan ended, finished or stopped: its problem count becomes the last scan's, and joins the
// running total.
void RecordScanEnd(CSettings& settings, std::size_t found);

}  // namespace quillary
