#include "app/scan_records.h"

#include <algorithm>
#include <limits>

#include "core/text_format.h"
#include "repair/local_time_text.h"

namespace quillary {

void RecordScanStart(CSettings& settings, std::chrono::system_clock::time_point now) {
    SettingsValues& values = settings.Values();
    values.StrLastScan = FormatLocalTime("%a. %B %d, %Y. %I:%M %p", now);
    values.RegErrsFixedLast = 0;
    (void)settings.SetProfileInt(u"", u"RegErrsFixedLast", 0);
}

void RecordScanEnd(CSettings& settings, std::size_t found) {
    settings.Values().LastScanProblemCount = Format(u"%d", static_cast<int>(found));
    std::uint32_t& total = settings.Values().RegErrFoundTillDate;
    // A total that would pass the stored 32 bits stays at their largest value.
    const std::uint32_t room = std::numeric_limits<std::uint32_t>::max() - total;
    total += static_cast<std::uint32_t>(std::min<std::size_t>(found, room));
}

}  // namespace quillary
