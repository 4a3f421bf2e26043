#include "repair/restore_point.h"

#include <algorithm>

#include "core/bytes.h"
#include "core/registry_access.h"
#include "core/settings.h"
#include "repair/local_time_text.h"

namespace quillary {
namespace {

constexpr std::int64_t kSecondsPerHour = 3600;
// A restore point is due once the last one is more than this many whole hours old.
constexpr std::int64_t kHoursBetweenRestorePoints = 24;

std::u16string SysresKeyPath() {
    std::u16string path(kSettingsKeyPath);
    path += u'\\';
    path += kRestorePointKeyName;
    return path;
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

SystemTime SystemTimeOf(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> clock(floor<milliseconds>(time - day));
    SystemTime fields;
    fields.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
    fields.month = static_cast<std::uint16_t>(unsigned(date.month()));
    fields.dayOfWeek = static_cast<std::uint16_t>(weekday(day).c_encoding());
    fields.day = static_cast<std::uint16_t>(unsigned(date.day()));
    fields.hour = static_cast<std::uint16_t>(clock.hours().count());
    fields.minute = static_cast<std::uint16_t>(clock.minutes().count());
    fields.second = static_cast<std::uint16_t>(clock.seconds().count());
    fields.milliseconds = static_cast<std::uint16_t>(clock.subseconds().count());
    return fields;
}

std::array<std::uint8_t, 16> EncodeSystemTime(const SystemTime& time) {
    const std::uint16_t fields[8] = {time.year, time.month,  time.dayOfWeek, time.day,
                                     time.hour, time.minute, time.second,    time.milliseconds};
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        const std::vector<std::uint8_t> field = LittleEndianBytes(fields[i], 2);
        std::copy(field.begin(), field.end(), bytes.begin() + 2 * i);
    }
    return bytes;
}

SystemTime DecodeSystemTime(std::span<const std::uint8_t, 16> bytes) {
    const auto field = [&](std::size_t i) { return ReadUInt16Le(bytes, 2 * i); };
    return SystemTime{field(0), field(1), field(2), field(3),
                      field(4), field(5), field(6), field(7)};
}

std::optional<std::int64_t> CalendarSeconds(const SystemTime& time) {
    using namespace std::chrono;
    if (time.year < 1900) {
        return 0;
    }
    const year_month_day date{year(time.year), month(time.month), day(time.day)};
    if (!date.ok() || time.hour > 23 || time.minute > 59 || time.second > 59) {
        return std::nullopt;
    }
    const std::int64_t days = sys_days(date).time_since_epoch().count();
    return days * 86400 + time.hour * kSecondsPerHour + time.minute * 60 + time.second;
}

std::u16string_view CutRestorePointDescription(std::u16string_view description) {
    if (description.size() <= kMaxRestorePointDescription) {
        return description;
    }
    std::size_t length = kMaxRestorePointDescription;
    // Half a character would leave the text ill-formed.
    if (IsHighSurrogate(description[length - 1])) {
        --length;
    }
    return description.substr(0, length);
}

CRestorePointMaker::CRestorePointMaker(RestorePointEnvironment environment)
    : environment_(std::move(environment)) {}

bool CRestorePointMaker::CreateRestorePoint(std::u16string_view description) {
    try {
        if (!RestorePointDue()) {
            return true;
        }
        if (!SystemHasRestorePoints() || environment_.service == nullptr) {
            return false;
        }
        const std::u16string defaultDescription =
            description.empty() ? DefaultDescription() : std::u16string();
        const std::u16string_view text =
            CutRestorePointDescription(description.empty() ? defaultDescription : description);

        RestorePointInfo request{};
        request.eventType = BeginSystemChange;
        request.restorePointType = ApplicationInstall;
        request.sequenceNumber = 0;
        std::copy(text.begin(), text.end(), request.description.begin());
        StateMgrStatus status{};
        if (!environment_.service->SRSetRestorePointW(request, &status)) {
            return false;
        }

        request.eventType = EndSystemChange;
        request.sequenceNumber = status.sequenceNumber;
        StateMgrStatus endStatus{};
        if (!environment_.service->SRSetRestorePointW(request, &endStatus)) {
            // A change that cannot be ended is cancelled, so no half-made restore point is
            // left behind a failure.
            request.restorePointType = CancelledOperation;
            StateMgrStatus cancelStatus{};
            environment_.service->SRSetRestorePointW(request, &cancelStatus);
            return false;
        }
        RecordRestorePointTime();
        return true;
    } catch (...) {
        // Whatever a system service throws, the caller goes on without a restore point.
        return false;
    }
}

bool CRestorePointMaker::RestorePointDue() {
    IRegistry& store = environment_.configStore;
    HKey key = HKey::None;
    if (store.RegOpenKeyExW(HKeyCurrentUser, SysresKeyPath(), 0, kMaskReadOnly, &key) !=
        ErrorSuccess) {
        return true;
    }
    std::array<std::uint8_t, 16> bytes{};
    std::uint32_t size = bytes.size();
    const LStatus read =
        store.RegQueryValueExW(key, kLastRestorePointTimeName, nullptr, bytes.data(), &size);
    store.RegCloseKey(key);
    if (read != ErrorSuccess || size != bytes.size()) {
        return true;
    }
    const std::optional<std::int64_t> stored = CalendarSeconds(DecodeSystemTime(bytes));
    const std::optional<std::int64_t> now = CalendarSeconds(SystemTimeOf(environment_.clock.Now()));
    // A stored time that is no time at all must not stop restore points for good.
    if (!stored || !now || *now <= *stored) {
        return true;
    }
    return (*now - *stored) / kSecondsPerHour > kHoursBetweenRestorePoints;
}

std::u16string CRestorePointMaker::DefaultDescription() const {
    std::u16string description = environment_.appTitle;
    description += u' ';
    description += FormatLocalTime("%a, %b %d, %y  %H:%M", environment_.clock.Now());
    return std::u16string(CutRestorePointDescription(description));
}

// Restore points came with Windows Me (4.90) and XP (5.1); Windows 2000 (5.0) has none.
bool CRestorePointMaker::SystemHasRestorePoints() const {
    const int major = environment_.platform.WindowsMajorVersion();
    const int minor = environment_.platform.WindowsMinorVersion();
    return (major == 4 && minor > 89) || (major == 5 && minor != 0) || major > 5;
}

// A time that cannot be recorded only means the next restore point comes sooner.
void CRestorePointMaker::RecordRestorePointTime() {
    IRegistry& store = environment_.configStore;
    HKey key = HKey::None;
    if (store.RegCreateKeyExW(HKeyCurrentUser, SysresKeyPath(), {}, RegOptionNonVolatile,
                              kMaskReadWrite, &key, nullptr) != ErrorSuccess) {
        return;
    }
    const std::array<std::uint8_t, 16> bytes =
        EncodeSystemTime(SystemTimeOf(environment_.clock.Now()));
    store.RegSetValueExW(key, kLastRestorePointTimeName, RegBinary, bytes.data(), bytes.size());
    store.RegCloseKey(key);
}

}  // namespace quillary
