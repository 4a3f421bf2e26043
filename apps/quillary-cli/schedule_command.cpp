#include "schedule_command.h"

#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>

#include "core/text_encoding.h"
#include "repair_commands.h"
#include "services/schedule.h"
#include "targets/linux/systemd_task_scheduler.h"

namespace quillary::cli {
namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"mon", "tue", "wed", "thu",
                                                       "fri", "sat", "sun"};

LocalDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
}

std::string Text(CAppContext& context, std::u16string_view id) {
    return Utf16ToUtf8(context.Language().LookupText(id));
}

// Splits a list at its commas.
std::vector<std::string> Items(const std::string& list) {
    std::vector<std::string> items;
    std::size_t begin = 0;
    for (std::size_t comma; (comma = list.find(',', begin)) != std::string::npos; begin = comma + 1)
        items.push_back(list.substr(begin, comma - begin));
    items.push_back(list.substr(begin));
    return items;
}

// A whole decimal number within [low, high], or nullopt.
std::optional<int> Number(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

bool ParseTime(const std::string& text, LocalDateTime& time) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    std::optional<int> hour = Number(text.substr(0, colon), 0, 23);
    std::optional<int> minute = Number(text.substr(colon + 1), 0, 59);
    if (!hour || !minute)
        return false;
    time.hour = *hour;
    time.minute = *minute;
    return true;
}

bool ParseDate(const std::string& text, LocalDateTime& date) {
    const std::vector<std::string> parts =
        Items(text.size() == 10 && text[4] == '-' && text[7] == '-'
                  ? text.substr(0, 4) + "," + text.substr(5, 2) + "," + text.substr(8)
                  : std::string());
    if (parts.size() != 3)
        return false;
    std::optional<int> year = Number(parts[0], 1, 9999);
    std::optional<int> month = Number(parts[1], 1, 12);
    std::optional<int> day = Number(parts[2], 1, 31);
    if (!year || !month || !day)
        return false;
    using namespace std::chrono;
    if (!year_month_day{std::chrono::year{*year}, std::chrono::month{static_cast<unsigned>(*month)},
                        std::chrono::day{static_cast<unsigned>(*day)}}
             .ok())
        return false;
    date.year = *year;
    date.month = *month;
    date.day = *day;
    return true;
}

bool ParseWeekdays(const std::string& list, std::array<bool, 7>& days) {
    for (std::string item : Items(list)) {
        for (char& c : item)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto found =
            std::find_if(kDayNames.begin(), kDayNames.end(), [&](std::string_view day) {
                return item.size() >= 3 && day == std::string_view(item).substr(0, 3);
            });
        if (found == kDayNames.end())
            return false;
        days[static_cast<std::size_t>(found - kDayNames.begin())] = true;
    }
    return true;
}

// The request of --monthly, which the page does not offer: its days, at the time given.
std::optional<ScheduledTaskWriter> MonthlyRequest(const ScheduleOptions& options, LocalDateTime at,
                                                  std::u16string title) {
    ScheduledTaskWriter request;
    request.taskName = std::move(title);
    request.start = LocalNow();
    request.start.hour = at.hour;
    request.start.minute = at.minute;
    request.startValid = true;
    request.kind = static_cast<std::uint32_t>(ScheduleKind::Monthly);
    request.interval = 1;
    for (const std::string& item : Items(*options.monthly)) {
        std::optional<int> day = Number(item, 1, 31);
        if (!day)
            return std::nullopt;
        request.dayFlags[static_cast<std::size_t>(*day - 1)] = 1;
    }
    return request;
}

std::unique_ptr<CSystemdTaskScheduler> SchedulerOf(COpenTarget& target,
                                                   const std::filesystem::path& program) {
    return std::make_unique<CSystemdTaskScheduler>(
        SystemdSetupOfProcess(program, target.Folder(), Utf16ToUtf8(target.TargetId())),
        target.FileIo());
}

int Refuse(CAppContext& context, std::u16string_view messageId) {
    std::cerr << "quillary-cli: " << Text(context, messageId) << "\n";
    return kExitBadArguments;
}

int ListSchedule(COpenTarget& target, ITaskScheduler& scheduler, bool json) {
    CAppContext& context = target.Context();
    std::string scheduled = Utf16ToUtf8(context.Settings().Values().ScheduledTime);
    if (scheduled.empty())
        scheduled = Text(context, u"IDS_NOSCHEDULE_YET");
    const std::string updates = Text(context, u"IDS_UPDATES_BY_PACKAGES");
    const std::vector<ScheduledTaskInfo> tasks = scheduler.ListTasks();
    if (json) {
        nlohmann::ordered_json document;
        document["scheduled"] = scheduled;
        document["timers"] = nlohmann::ordered_json::array();
        for (const ScheduledTaskInfo& task : tasks)
            document["timers"].push_back({{"name", Utf16ToUtf8(task.name)},
                                          {"calendar", task.when},
                                          {"enabled", task.enabled}});
        document["autostart"] = scheduler.StartsAtLogon();
        document["updates"] = updates;
        std::cout << document.dump(2) << "\n";
        return kExitDone;
    }
    std::cout << "Scheduled: " << scheduled << "\n";
    for (const ScheduledTaskInfo& task : tasks)
        std::cout << "  " << Utf16ToUtf8(task.name) << ".timer  " << task.when
                  << (task.enabled ? "" : "  (not enabled)") << "\n";
    std::cout << "Start at log-on: " << (scheduler.StartsAtLogon() ? "on" : "off") << "\n"
              << updates << "\n";
    return kExitDone;
}

int RemoveSchedule(CAppContext& context, ITaskScheduler& scheduler) {
    // The user's schedule goes, and the first-run monthly scan with it.
    const std::u16string title = context.Language().LookupText(u"AFX_IDS_APP_TITLE");
    for (const std::u16string& name : {title, title + u"_MONTHLY"}) {
        const TaskReport report = scheduler.DeleteTask(name);
        if (report.outcome != TaskOutcome::Done) {
            std::cerr << "quillary-cli: " << report.detail << "\n";
            return kExitTargetUnavailable;
        }
    }
    context.Settings().Values().ScheduledTime =
        context.Language().LookupText(u"IDS_NOSCHEDULE_YET");
    std::cout << Text(context, u"IDS_NOSCHEDULE_YET") << "\n";
    return context.Settings().SaveSettings() ? kExitDone : kExitTargetUnavailable;
}

// Builds the request as the schedule page does; nullopt after saying why it was refused.
std::optional<ScheduledTaskWriter> RequestOf(COpenTarget& target, const ScheduleOptions& options,
                                             std::u16string* description) {
    CAppContext& context = target.Context();
    const std::u16string title = context.Language().LookupText(u"AFX_IDS_APP_TITLE");
    const TextLookup text = [&context](std::u16string_view id) {
        return context.Language().LookupText(id);
    };
    SchedulePage page;
    if (!options.at || !ParseTime(*options.at, page.time)) {
        std::cerr << "quillary-cli: --at needs a time as HH:MM\n";
        return std::nullopt;
    }
    page.intervalText = Utf8ToUtf16(options.every);
    if (options.monthly) {
        std::optional<ScheduledTaskWriter> request = MonthlyRequest(options, page.time, title);
        if (!request) {
            std::cerr << "quillary-cli: --monthly needs days of the month (1-31) separated by "
                         "commas\n";
            return std::nullopt;
        }
        *description = DescribeSchedule(*request, text);
        return request;
    }
    if (options.once) {
        page.selection = static_cast<std::uint32_t>(PageSelection::Once);
        if (!ParseDate(*options.once, page.date)) {
            std::cerr << "quillary-cli: --once needs a date as YYYY-MM-DD\n";
            return std::nullopt;
        }
    } else if (options.weekly) {
        page.selection = static_cast<std::uint32_t>(PageSelection::Weekly);
        if (!ParseWeekdays(*options.weekly, page.weekdays)) {
            std::cerr << "quillary-cli: --weekly needs day names (mon,tue,...) separated by "
                         "commas\n";
            return std::nullopt;
        }
    } else {
        page.selection = static_cast<std::uint32_t>(PageSelection::Daily);
    }
    // The page keeps what was asked for even when it is then refused.
    if (!StorePageValues(context.ConfigStore(), page))
        std::cerr << "quillary-cli: cannot store the schedule's values\n";
    const ScheduleDecision decision =
        DecideSchedule(page, LocalNow(), context.Settings().Values().ScheduledTime, title, text);
    if (decision.action != ScheduleAction::Create) {
        Refuse(context, decision.messageId);
        return std::nullopt;
    }
    *description = decision.description;
    return decision.request;
}

}  // namespace

int RunScheduleCommand(COpenTarget& target, const ScheduleOptions& options,
                       const std::filesystem::path& program) {
    CAppContext& context = target.Context();
    std::unique_ptr<CSystemdTaskScheduler> scheduler = SchedulerOf(target, program);
    if (options.list)
        return ListSchedule(target, *scheduler, options.json);
    if (options.remove)
        return RemoveSchedule(context, *scheduler);

    std::u16string description;
    std::optional<ScheduledTaskWriter> request = RequestOf(target, options, &description);
    if (!request)
        return kExitBadArguments;
    if (description.empty())
        return Refuse(context, u"IDS_NODAY");
    const TaskReport report = scheduler->CreateTask(*request, options.replace);
    switch (report.outcome) {
        case TaskOutcome::Done:
            break;
        case TaskOutcome::Exists:
            std::cerr << "quillary-cli: a schedule exists already (" << report.detail
                      << "); --replace replaces it\n";
            return kExitBadArguments;
        case TaskOutcome::InvalidName:
            return Refuse(context, u"IDS_VALIDFILE");
        case TaskOutcome::Failed:
            std::cerr << "quillary-cli: " << Text(context, u"IDS_NEWTASKERROR") << " "
                      << report.detail << "\n";
            return kExitTargetUnavailable;
    }
    context.Settings().Values().ScheduledTime = description;
    std::cout << Text(context, u"IDS_TASKCREATED") << " " << Utf16ToUtf8(description) << "\n"
              << report.detail << "\n";
    return context.Settings().SaveSettings() ? kExitDone : kExitTargetUnavailable;
}

int RunAutostartCommand(COpenTarget& target, bool on, const std::filesystem::path& program) {
    const TaskReport report = SchedulerOf(target, program)->SetStartAtLogon(on);
    if (report.outcome != TaskOutcome::Done) {
        std::cerr << "quillary-cli: " << report.detail << "\n";
        return kExitTargetUnavailable;
    }
    if (on)
        std::cout << "A scan of this prefix " << report.detail << "\n";
    else
        std::cout << "No scan at log-on\n";
    return kExitDone;
}

int RunScheduledScan(COpenTarget& target, const ScanOptions& options) {
    CAppContext& context = target.Context();
    context.Log().WriteLogLine(u"Scheduled scan started");
    int status = RunScanCommand(target, options);
    context.Log().WriteLogLine(u"Scheduled scan ended");
    if (status != kExitDone || context.Settings().Values().AutoRepair == 0)
        return status;
    context.Log().WriteLogLine(u"Scheduled scan: repairing, as AutoRepair asks");
    return RunRepairCommand(target, RepairOptions{});
}

}  // namespace quillary::cli
