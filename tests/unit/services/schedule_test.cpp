#include "services/schedule.h"

#include <gtest/gtest.h>

#include "core/registry_access.h"
#include "core/settings.h"
#include "core/text_encoding.h"
#include "targets/memory/memory_registry.h"

namespace quillary {
namespace {

// Each text is its own identifier, so the tests see which text went where.
std::u16string IdentifierText(std::u16string_view identifier) {
    return std::u16string(identifier);
}

ScheduledTaskWriter Request(ScheduleKind kind, LocalDateTime start,
                            std::initializer_list<int> flags = {}) {
    ScheduledTaskWriter request;
    request.taskName = u"Quillary";
    request.start = start;
    request.startValid = true;
    request.kind = static_cast<std::uint32_t>(kind);
    for (int flag : flags)
        request.dayFlags[static_cast<std::size_t>(flag)] = 1;
    return request;
}

TEST(DescribeScheduleTest, FormatsEachKind) {
    const LocalDateTime friday{2026, 12, 11, 19, 5};
    struct Case {
        const char* name;
        ScheduledTaskWriter request;
        std::string expected;
    } cases[] = {
        {"once", Request(ScheduleKind::Once, friday),
         "IDS_RUNONCE; Fri. December 11, 2026. 07:05 PM"},
        {"daily at midnight", Request(ScheduleKind::Daily, {2026, 1, 1, 0, 0}),
         "IDS_EVERYDAY; 12:00 AM"},
        {"daily at noon", Request(ScheduleKind::Daily, {2026, 1, 1, 12, 30}),
         "IDS_EVERYDAY; 12:30 PM"},
        // Monday first, Sunday last, no trailing separator.
        {"weekly", Request(ScheduleKind::Weekly, friday, {6, 0, 3}),
         "IDS_EVERYWEEK; 07:05 PM; IDS_MONDAY, IDS_THURSDAY, IDS_SUNDAY"},
        {"weekly without a day", Request(ScheduleKind::Weekly, friday), ""},
        // The day-text comes first only when day 1 is among the days.
        {"monthly with day 1", Request(ScheduleKind::Monthly, friday, {0, 16}),
         "IDS_EVERYMONTH; Fri. December 11, 2026. 07:05 PM; IDS_DAY1, 17"},
        {"monthly without day 1", Request(ScheduleKind::Monthly, friday, {2, 30}),
         "IDS_EVERYMONTH; Fri. December 11, 2026. 07:05 PM; 3, 31"},
        {"monthly without a day", Request(ScheduleKind::Monthly, friday), ""},
        {"unknown kind", Request(static_cast<ScheduleKind>(4), friday), ""},
        {"impossible date", Request(ScheduleKind::Once, {2026, 2, 30, 8, 0}), ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Utf16ToUtf8(DescribeSchedule(row.request, IdentifierText)), row.expected);
    }
    ScheduledTaskWriter noStart = Request(ScheduleKind::Daily, friday);
    noStart.startValid = false;
    EXPECT_EQ(DescribeSchedule(noStart, IdentifierText), u"");
}

TEST(DecideScheduleTest, ChecksThePageAsApplyDoes) {
    const LocalDateTime now{2026, 12, 11, 10, 30};
    auto page = [](PageSelection selection, LocalDateTime date, LocalDateTime time) {
        SchedulePage result;
        result.selection = static_cast<std::uint32_t>(selection);
        result.date = date;
        result.time = time;
        return result;
    };
    SchedulePage weekly = page(PageSelection::Weekly, {}, {0, 0, 0, 7, 0});
    weekly.weekdays[2] = true;
    SchedulePage badInterval = page(PageSelection::Daily, {}, {0, 0, 0, 7, 0});
    badInterval.intervalText = u"x3";
    struct Case {
        const char* name;
        SchedulePage page;
        std::u16string scheduledTime;
        ScheduleAction action;
        std::u16string messageId;
    } cases[] = {
        {"once yesterday", page(PageSelection::Once, {2026, 12, 10}, {0, 0, 0, 23, 0}), u"",
         ScheduleAction::Refuse, u"IDS_DATE_ALREADY_ELAPSED"},
        {"once last year", page(PageSelection::Once, {2025, 12, 31}, {0, 0, 0, 23, 0}), u"",
         ScheduleAction::Refuse, u"IDS_DATE_ALREADY_ELAPSED"},
        {"once earlier today", page(PageSelection::Once, {2026, 12, 11}, {0, 0, 0, 10, 29}), u"",
         ScheduleAction::Refuse, u"IDS_TIME_ALREADY_ELAPSED"},
        {"once later today", page(PageSelection::Once, {2026, 12, 11}, {0, 0, 0, 10, 31}), u"",
         ScheduleAction::Create, u""},
        // An earlier hour on a later day is not in the past.
        {"once tomorrow early", page(PageSelection::Once, {2026, 12, 12}, {0, 0, 0, 1, 0}), u"",
         ScheduleAction::Create, u""},
        {"daily", page(PageSelection::Daily, {}, {0, 0, 0, 7, 0}), u"", ScheduleAction::Create,
         u""},
        {"weekly without a day", page(PageSelection::Weekly, {}, {0, 0, 0, 7, 0}), u"",
         ScheduleAction::Refuse, u"IDS_NODAY"},
        {"weekly", weekly, u"", ScheduleAction::Create, u""},
        {"no schedule in force", page(PageSelection::NoSchedule, {}, {}), u"",
         ScheduleAction::Nothing, u"IDS_NOSCHEDULE_YET"},
        {"no schedule, same text other case", page(PageSelection::NoSchedule, {}, {}),
         u"ids_noschedule_yet", ScheduleAction::Nothing, u"IDS_NOSCHEDULE_YET"},
        {"no schedule replaces one", page(PageSelection::NoSchedule, {}, {}), u"IDS_EVERYDAY; x",
         ScheduleAction::Delete, u"IDS_NOSCHEDULE_YET"},
        {"unknown selection", page(static_cast<PageSelection>(7), {}, {}), u"",
         ScheduleAction::Refuse, u"IDS_DATAERROR"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const ScheduleDecision decision =
            DecideSchedule(row.page, now, row.scheduledTime, u"Quillary", IdentifierText);
        EXPECT_EQ(decision.action, row.action);
        EXPECT_EQ(Utf16ToUtf8(decision.messageId), Utf16ToUtf8(row.messageId));
        if (decision.action == ScheduleAction::Create) {
            EXPECT_EQ(decision.request.taskName, u"Quillary");
            EXPECT_EQ(decision.request.kind, row.page.selection);
            EXPECT_EQ(decision.description, DescribeSchedule(decision.request, IdentifierText));
        }
    }
    const ScheduleDecision wednesday =
        DecideSchedule(weekly, now, u"", u"Quillary", IdentifierText);
    EXPECT_EQ(wednesday.request.dayFlags[2], 1);
    EXPECT_EQ(wednesday.request.interval, 1u);
    EXPECT_EQ(DecideSchedule(badInterval, now, u"", u"Quillary", IdentifierText).request.interval,
              0u);
}

TEST(ScheduleTest, ParsesTheIntervalAsItsLeadingDigits) {
    EXPECT_EQ(ParseInterval(u"12"), 12u);
    EXPECT_EQ(ParseInterval(u"3 weeks"), 3u);
    EXPECT_EQ(ParseInterval(u""), 0u);
    EXPECT_EQ(ParseInterval(u"-2"), 0u);
    EXPECT_EQ(ParseInterval(u"99999999999999999999"), UINT32_MAX);
}

TEST(ScheduleTest, StoresThePageValuesUnderTheSettingsKey) {
    CMemoryRegistry registry;
    SchedulePage page;
    page.selection = 2;
    page.weekdays[3] = true;
    page.date = {2026, 1, 2};
    page.time = {0, 0, 0, 7, 5};
    ASSERT_TRUE(StorePageValues(registry, page));

    ConfigKey key(registry, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, kSettingsKeyPath, false));
    std::uint32_t value = 9;
    EXPECT_TRUE(key.ReadDword(u"m_rBtnEvery", value));
    EXPECT_EQ(value, 2u);
    EXPECT_TRUE(key.ReadDword(u"Thrusday", value));  // the name the page has always used
    EXPECT_EQ(value, 1u);
    EXPECT_TRUE(key.ReadDword(u"Monday", value));
    EXPECT_EQ(value, 0u);
    std::u16string text;
    EXPECT_TRUE(key.ReadString(u"Date", text));
    EXPECT_EQ(text, u"2026-01-02");
    EXPECT_TRUE(key.ReadString(u"Time", text));
    EXPECT_EQ(text, u"07:05:00");
}

TEST(ScheduleTest, FirstRunMonthlyScanRunsTheDayAfterToday) {
    const ScheduledTaskWriter request = FirstRunMonthlyRequest({2026, 12, 11, 9, 0}, u"Quillary");
    EXPECT_EQ(request.taskName, u"Quillary_MONTHLY");
    EXPECT_EQ(request.kind, 3u);
    for (std::size_t i = 0; i < request.dayFlags.size(); ++i)
        EXPECT_EQ(request.dayFlags[i], i == 11 ? 1 : 0) << i;
    // On the 31st no day is set, so no task is described.
    EXPECT_EQ(
        DescribeSchedule(FirstRunMonthlyRequest({2026, 12, 31, 9, 0}, u"Quillary"), IdentifierText),
        u"");
}

}  // namespace
}  // namespace quillary
