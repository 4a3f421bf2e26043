#pragma once

// System restore points made before the registry is changed in bulk (a cleaning run, the
// one-click scan and repair, a compaction). They are rationed: a new one is made only when the
// last one this program made is more than 24 whole hours old. The time of that last one is
// kept in the program's own registry, under the settings key's sub-key "SYSRES".

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/platform_queries.h"
#include "platform/registry.h"
#include "platform/restore_points.h"

namespace quillary {

inline constexpr std::u16string_view kRestorePointKeyName = u"SYSRES";
inline constexpr std::u16string_view kLastRestorePointTimeName = u"LastRestorePointTime";
// The longest description a request carries.
inline constexpr std::size_t kMaxRestorePointDescription = 63;

// Windows' SYSTEMTIME: a moment as calendar fields. Stored as eight 16-bit little-endian
// fields in this order.
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;      // 1-12
    std::uint16_t dayOfWeek = 0;  // 0 is Sunday
    std::uint16_t day = 0;        // 1-31
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

// The UTC calendar fields of a moment, as GetSystemTime answers them.
SystemTime SystemTimeOf(std::chrono::system_clock::time_point time);
std::array<std::uint8_t, 16> EncodeSystemTime(const SystemTime& time);
SystemTime DecodeSystemTime(std::span<const std::uint8_t, 16> bytes);
// Seconds since 1970 of the calendar fields (day of week and milliseconds aside); 0 for a
// year before 1900; nullopt when a field is out of its range (a month of 13, a 31st of April).
std::optional<std::int64_t> CalendarSeconds(const SystemTime& time);

// The description cut to at most kMaxRestorePointDescription units, never between the two
// halves of a surrogate pair.
std::u16string_view CutRestorePointDescription(std::u16string_view description);

// What the restore points are made with; the references must outlive the maker.
struct RestorePointEnvironment {
    // The program's own registry, which holds the SYSRES key.
    IRegistry& configStore;
    // The Windows version decides whether the system has restore points at all.
    IPlatformQueries& platform;
    const IClock& clock;
    // The system's restore-point service; null when the system has none.
    IRestorePoints* service = nullptr;
    // The application title, which starts the default description.
    std::u16string appTitle;
};

class CRestorePointMaker {
public:
    explicit CRestorePointMaker(RestorePointEnvironment environment);

    // Makes a restore point described by description (cut to 63 characters; when empty, the
    // default description) unless one is not due yet. True when one was made or none was due;
    // false when the system has no restore points or the service refused. The time is
    // recorded only after the restore point was begun and completed; a restore point that was
    // begun but could not be completed is cancelled, so false always means none was left.
    bool CreateRestorePoint(std::u16string_view description);

    // True when the last restore point this program made is more than 24 whole hours old,
    // when none is recorded, when the record is not 16 bytes or not a valid time, and when
    // it lies in the future (the clock was set back).
    bool RestorePointDue();

    // The application title, one blank and the local time as "Thu, Dec 10, 26  05:12"
    // (names of the process locale), cut as a description is.
    std::u16string DefaultDescription() const;

private:
    bool SystemHasRestorePoints() const;
    void RecordRestorePointTime();

    RestorePointEnvironment environment_;
};

}  // namespace quillary
