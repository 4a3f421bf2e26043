#include "services/schedule.h"

#include <chrono>
#include <cstdio>

#include "core/registry_access.h"
#include "core/settings.h"
#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::array<std::u16string_view, 7> kWeekdayTextIds = {
    u"IDS_MONDAY", u"IDS_TUSDAY",   u"IDS_WEDNESDAY", u"IDS_THURSDAY",
    u"IDS_FRIDAY", u"IDS_SATURDAY", u"IDS_SUNDAY"};

// The page's weekday values; Thursday's is spelled as the page has always stored it.
constexpr std::array<std::u16string_view, 7> kWeekdayValueNames = {
    u"Monday", u"Tuesday", u"Wednesday", u"Thrusday", u"Friday", u"Saturday", u"Sunday"};

// Dates are formatted in the C locale's English names.
constexpr std::array<const char*, 7> kShortWeekdays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

std::u16string Ascii(const char* text) {
    std::u16string result;
    for (; *text != '\0'; ++text)
        result += static_cast<char16_t>(static_cast<unsigned char>(*text));
    return result;
}

bool IsValidDate(const LocalDateTime& moment) {
    using namespace std::chrono;
    return year_month_day{year{moment.year}, month{static_cast<unsigned>(moment.month)},
                          day{static_cast<unsigned>(moment.day)}}
        .ok();
}

// "%I:%M %p".
std::u16string FormatTime(const LocalDateTime& moment) {
    const int hour12 = moment.hour % 12 == 0 ? 12 : moment.hour % 12;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d %s", hour12, moment.minute % 60,
                  moment.hour < 12 ? "AM" : "PM");
    return Ascii(buffer);
}

// "%a. %B %d, %Y. %I:%M %p".
std::u16string FormatDateTime(const LocalDateTime& moment) {
    using namespace std::chrono;
    const year_month_day date{year{moment.year}, month{static_cast<unsigned>(moment.month)},
                              day{static_cast<unsigned>(moment.day)}};
    const unsigned weekday = std::chrono::weekday{sys_days{date}}.c_encoding();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s. %s %02d, %04d. ", kShortWeekdays[weekday],
                  kMonths[static_cast<std::size_t>(moment.month - 1)], moment.day, moment.year);
    return Ascii(buffer) + FormatTime(moment);
}

void CutTrailingSeparator(std::u16string& text) {
    if (text.ends_with(u", "))
        text.resize(text.size() - 2);
}

std::u16string DescribeWeekly(const ScheduledTaskWriter& request, const TextLookup& text) {
    std::u16string days;
    for (std::size_t i = 0; i < kWeekdayTextIds.size(); ++i) {
        if (request.dayFlags[i] != 0)
            days += text(kWeekdayTextIds[i]) + u", ";
    }
    if (days.empty())
        return {};
    std::u16string result =
        text(u"IDS_EVERYWEEK") + u"; " + FormatTime(request.start) + u"; " + days;
    CutTrailingSeparator(result);
    return result;
}

std::u16string DescribeMonthly(const ScheduledTaskWriter& request, const TextLookup& text) {
    std::u16string days;
    for (std::size_t i = 0; i < request.dayFlags.size(); ++i) {
        if (request.dayFlags[i] != 0)
            days += Ascii(std::to_string(i + 1).c_str()) + u", ";
    }
    if (days.empty())
        return {};
    if (request.dayFlags[0] != 0)
        days = text(u"IDS_DAY") + days;
    std::u16string result =
        text(u"IDS_EVERYMONTH") + u"; " + FormatDateTime(request.start) + u"; " + days;
    CutTrailingSeparator(result);
    return result;
}

std::u16string DateText(const LocalDateTime& date) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
    return Ascii(buffer);
}

std::u16string TimeText(const LocalDateTime& time) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:00", time.hour, time.minute);
    return Ascii(buffer);
}

ScheduleDecision Refusal(std::u16string_view messageId) {
    ScheduleDecision decision;
    decision.messageId = messageId;
    return decision;
}

}  // namespace

std::u16string DescribeSchedule(const ScheduledTaskWriter& request, const TextLookup& text) {
    if (!request.startValid || !IsValidDate(request.start))
        return {};
    switch (static_cast<ScheduleKind>(request.kind)) {
        case ScheduleKind::Once:
            return text(u"IDS_RUNONCE") + u"; " + FormatDateTime(request.start);
        case ScheduleKind::Daily:
            return text(u"IDS_EVERYDAY") + u"; " + FormatTime(request.start);
        case ScheduleKind::Weekly:
            return DescribeWeekly(request, text);
        case ScheduleKind::Monthly:
            return DescribeMonthly(request, text);
    }
    return {};
}

bool StorePageValues(IRegistry& configStore, const SchedulePage& page) {
    ConfigKey key(configStore, HKeyCurrentUser);
    if (!key.Open(HKeyCurrentUser, kSettingsKeyPath, true))
        return false;
    bool stored = key.WriteDword(u"m_rBtnEvery", page.selection);
    for (std::size_t i = 0; i < kWeekdayValueNames.size(); ++i)
        stored = key.WriteDword(kWeekdayValueNames[i], page.weekdays[i] ? 1 : 0) && stored;
    stored = key.WriteString(u"Date", DateText(page.date)) && stored;
    return key.WriteString(u"Time", TimeText(page.time)) && stored;
}

std::uint32_t ParseInterval(std::u16string_view text) {
    std::uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<std::uint32_t>(value);
}

ScheduleDecision DecideSchedule(const SchedulePage& page, LocalDateTime now,
                                std::u16string_view scheduledTime, std::u16string_view title,
                                const TextLookup& text) {
    ScheduleDecision decision;
    ScheduledTaskWriter& request = decision.request;
    request.taskName = title;
    request.startValid = true;
    request.start = {now.year, now.month, now.day, page.time.hour, page.time.minute};
    switch (static_cast<PageSelection>(page.selection)) {
        case PageSelection::Once: {
            request.start.year = page.date.year;
            request.start.month = page.date.month;
            request.start.day = page.date.day;
            const LocalDateTime today{now.year, now.month, now.day, 0, 0};
            const LocalDateTime day{page.date.year, page.date.month, page.date.day, 0, 0};
            if (day < today)
                return Refusal(u"IDS_DATE_ALREADY_ELAPSED");
            if (day == today && request.start < now)
                return Refusal(u"IDS_TIME_ALREADY_ELAPSED");
            break;
        }
        case PageSelection::Daily:
            break;
        case PageSelection::Weekly:
            for (std::size_t i = 0; i < page.weekdays.size(); ++i)
                request.dayFlags[i] = page.weekdays[i] ? 1 : 0;
            break;
        case PageSelection::NoSchedule:
            decision.messageId = u"IDS_NOSCHEDULE_YET";
            decision.action =
                scheduledTime.empty() || EqualsNoCase(scheduledTime, text(u"IDS_NOSCHEDULE_YET"))
                    ? ScheduleAction::Nothing
                    : ScheduleAction::Delete;
            return decision;
        default:
            return Refusal(u"IDS_DATAERROR");
    }
    request.kind = page.selection;
    request.interval = ParseInterval(page.intervalText);
    decision.description = DescribeSchedule(request, text);
    if (decision.description.empty())
        return Refusal(u"IDS_NODAY");
    decision.action = ScheduleAction::Create;
    return decision;
}

ScheduledTaskWriter FirstRunMonthlyRequest(LocalDateTime now, std::u16string_view title) {
    ScheduledTaskWriter request;
    request.taskName = std::u16string(title) + u"_MONTHLY";
    request.start = now;
    request.startValid = true;
    request.kind = static_cast<std::uint32_t>(ScheduleKind::Monthly);
    request.interval = 1;
    // Index today's day sets the flag of the next day. The 31st sets none, so the request has
    // no description and no task is made that month.
    if (now.day >= 1 && now.day < 31)
        request.dayFlags[static_cast<std::size_t>(now.day)] = 1;
    return request;
}

}  // namespace quillary
