#pragma once

// Scheduled scans without the system's scheduler: the description of a schedule request, the
// schedule page's checks (a run once in the past, a week without a day) and the page values it
// keeps under the settings key.

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/task_scheduler.h"

namespace quillary {

// A language text by its identifier.
using TextLookup = std::function<std::u16string(std::u16string_view identifier)>;

// The request in words, e.g. "Weekly; 07:30 AM; Monday, Thursday". Empty when the request is
// incomplete (a week or a month without a day) or of an unknown kind.
std::u16string DescribeSchedule(const ScheduledTaskWriter& request, const TextLookup& text);

// The schedule page's choice, stored as "m_rBtnEvery".
enum class PageSelection : std::uint32_t { Once = 0, Daily = 1, Weekly = 2, NoSchedule = 3 };

struct SchedulePage {
    std::uint32_t selection = 0;     // a PageSelection; any other value is refused
    std::array<bool, 7> weekdays{};  // Monday to Sunday
    LocalDateTime date;              // the date picker: its year, month and day count
    LocalDateTime time;              // the time picker: its hour and minute count
    std::u16string intervalText = u"1";
};

// Stores the page values ("m_rBtnEvery", the weekday boxes, "Date", "Time") under the settings
// key; the page does so before it checks them. False when a value could not be written.
[[nodiscard]] bool StorePageValues(IRegistry& configStore, const SchedulePage& page);

enum class ScheduleAction {
    Refuse,   // messageId says why; nothing changes
    Create,   // create request; description becomes "ScheduledTime"
    Delete,   // delete the task named by the title; "ScheduledTime" becomes IDS_NOSCHEDULE_YET
    Nothing,  // no schedule was in force
};

struct ScheduleDecision {
    ScheduleAction action = ScheduleAction::Refuse;
    std::u16string messageId;
    ScheduledTaskWriter request;
    std::u16string description;
};

// What applying the page does. now is the present local time, scheduledTime the schedule in
// force as "ScheduledTime" holds it, title the task name.
ScheduleDecision DecideSchedule(const SchedulePage& page, LocalDateTime now,
                                std::u16string_view scheduledTime, std::u16string_view title,
                                const TextLookup& text);

// The monthly scan made on the first run: on the day of the month after today's (today's own
// day when today is the 31st), at the present time. The update check is not scheduled: the
// system's package manager brings updates.
ScheduledTaskWriter FirstRunMonthlyRequest(LocalDateTime now, std::u16string_view title);

// The interval edit's text as a decimal number: its leading digits, 0 when there are none.
std::uint32_t ParseInterval(std::u16string_view text);

}  // namespace quillary
