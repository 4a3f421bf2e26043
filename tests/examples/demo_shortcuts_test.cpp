// The shortcut, Start menu and startup scanners on the demo prefix, with its shortcut files
// read by liblnk: every planted broken entry of the three categories is reported, and nothing
// else is.

#include <gtest/gtest.h>

#include <set>

#include "categories/shortcuts.h"
#include "categories/start_menu.h"
#include "categories/startup.h"
#include "core/text_case.h"
#include "demo_target.h"
#include "engine/scan_driver.h"
#include "planted_entries.h"

namespace quillary {
namespace {

constexpr int kShortcutsIndex = 7;
constexpr int kStartMenuIndex = 10;
constexpr int kStartupIndex = 11;

// What identifies an entry across the planted table and the results: the shortcut file, or
// the key and value name, lower-cased (the scanners spell the Run key's "Software" their own
// way, and report the folder part of a shortcut path in lower case).
std::u16string IdentityOf(std::u16string_view fileOrKey, std::u16string_view valueName = u"") {
    return ToLower(fileOrKey) + u"|" + ToLower(valueName);
}

TEST(DemoShortcutsTest, ScannersReportThePlantedEntriesAndNoOthers) {
    testing::CTempFolder folder;
    std::unique_ptr<COpenTarget> demo = testing::OpenDemoTarget(folder);
    ASSERT_TRUE(demo);
    ScanEnvironment& environment = demo->Context().ScanServices();
    ASSERT_NE(environment.shellLinks, nullptr);
    IShellLinkReader& links = *environment.shellLinks;
    CScanDriver driver(
        [&](int index) -> std::unique_ptr<CCategory> {
            switch (index) {
                case kShortcutsIndex:
                    return std::make_unique<CShortcuts>(environment, links);
                case kStartMenuIndex:
                    return std::make_unique<CStartMenu>(environment, links);
                case kStartupIndex:
                    return std::make_unique<CStartup>(environment);
                default:
                    return nullptr;
            }
        },
        ScanDriverOptions{});

    ASSERT_TRUE(driver.StartScan((1u << kShortcutsIndex) | (1u << kStartMenuIndex) |
                                 (1u << kStartupIndex)));
    driver.WaitForScan();

    for (int index : {kShortcutsIndex, kStartMenuIndex, kStartupIndex}) {
        SCOPED_TRACE(demo::CategoryLabel(index));
        std::set<std::u16string> found;
        for (const auto& problem : driver.ProblemsOf(1u << index)) {
            bool isFile = problem->EntryType == CShortcuts::kEntryType ||
                          problem->EntryType == CStartMenu::kShortcutEntryType;
            found.insert(isFile ? IdentityOf(problem->DetailLine(1))
                                : IdentityOf(problem->Key, problem->ValueName));
        }
        std::set<std::u16string> planted;
        int leftAlone = 0;
        for (const demo::PlantedEntry& entry : demo::PlantedEntries()) {
            if (entry.category != index)
                continue;
            std::u16string identity = entry.shortcut ? IdentityOf(entry.shortcut->path)
                                                     : IdentityOf(entry.key, entry.valueName);
            if (entry.verdict == demo::Verdict::Reported) {
                planted.insert(identity);
            } else {
                ++leftAlone;
                EXPECT_EQ(found.count(identity), 0u) << entry.why;
            }
        }
        EXPECT_FALSE(planted.empty());
        EXPECT_GT(leftAlone, 0);
        EXPECT_EQ(found, planted);
    }
    EXPECT_FALSE(demo->PrefixStore()->HasUnsavedChanges());
}

}  // namespace
}  // namespace quillary
