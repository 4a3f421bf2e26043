// The registry scanners on the demo prefix: both views of a 64-bit Wine prefix are walked,
// every planted broken entry is reported in the view it lives in, and nothing else is. Each
// category runs with the default settings, and again with the search for empty keys on.

#include <gtest/gtest.h>

#include <algorithm>

#include "categories/category_factory.h"
#include "core/text_case.h"
#include "core/text_encoding.h"
#include "demo_target.h"
#include "planted_entries.h"

namespace quillary {
namespace {

struct ExpectedProblem {
    std::u16string key;
    std::u16string valueName;
    bool is32BitEntry = false;
};

// Where a scanner reports a planted entry: an entry of the 32-bit view with its view-neutral
// key (Wow6432Node left out) and the 32-bit flag.
ExpectedProblem ExpectedFor(const demo::PlantedEntry& entry) {
    std::u16string key = entry.reportedAt.empty() ? entry.key : entry.reportedAt;
    for (std::u16string_view parent : {u"HKEY_CLASSES_ROOT\\", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\"}) {
        const std::u16string redirected = std::u16string(parent) + u"Wow6432Node\\";
        if (StartsWithNoCase(key, redirected))
            return {std::u16string(parent) + key.substr(redirected.size()), entry.valueName, true};
    }
    return {key, entry.valueName, false};
}

// A problem is the planted entry's when it names the same key in the same view and, when both
// name a value, the same value.
bool Matches(const CProblem& problem, const ExpectedProblem& expected) {
    return EqualsNoCaseInvariant(problem.Key, expected.key) &&
           problem.is32BitEntry == expected.is32BitEntry &&
           (problem.ValueName.empty() || expected.valueName.empty() ||
            EqualsNoCaseInvariant(problem.ValueName, expected.valueName));
}

// The deep scans walk the machine's software key and the user's whole key, so they also see
// the broken entries planted for the other categories, where those hold a path: classes under
// the machine's Classes key rather than the merged HKEY_CLASSES_ROOT.
bool IsOtherCategorysEntry(const CProblem& problem, int category) {
    return std::any_of(
        demo::PlantedEntries().begin(), demo::PlantedEntries().end(),
        [&](const demo::PlantedEntry& entry) {
            if (entry.category == category || entry.verdict != demo::Verdict::Reported)
                return false;
            ExpectedProblem expected = ExpectedFor(entry);
            const std::u16string_view classesRoot = u"HKEY_CLASSES_ROOT\\";
            if (expected.key.starts_with(classesRoot)) {
                expected.key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" +
                               expected.key.substr(classesRoot.size());
            }
            return Matches(problem, expected);
        });
}

bool IsDeepScan(int category) {
    return category == 12 || category == 13;
}

std::string Describe(const CProblem& problem) {
    return std::to_string(problem.EntryType) + " " + Utf16ToUtf8(problem.Key) + " [" +
           Utf16ToUtf8(problem.ValueName) + "] " + Utf16ToUtf8(problem.ValueData) +
           (problem.is32BitEntry ? " (32-bit)" : "");
}

class DemoRegistryScansTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DemoRegistryScansTest, ReportThePlantedBrokenEntriesAndNothingElse) {
    const auto [category, searchEmptyKeys] = GetParam();
    testing::CTempFolder folder;
    std::unique_ptr<COpenTarget> demo = testing::OpenDemoTarget(folder);
    ASSERT_TRUE(demo);
    ASSERT_TRUE(demo->Context().Target().is64Bit);
    ScanEnvironment& environment = demo->Context().ScanServices();
    demo->Context().Settings().Values().SetChkSkipEmptyKeys = searchEmptyKeys ? 0 : 1;
    std::unique_ptr<CCategory> scanner = MakeCategory(category, environment);
    ASSERT_TRUE(scanner);
    ASSERT_EQ(scanner->Scan(), CCategory::kScanDone);

    std::vector<const CProblem*> unexplained;
    for (const auto& problem : scanner->Problems())
        unexplained.push_back(problem.get());
    int judged = 0;
    for (const demo::PlantedEntry& entry : demo::PlantedEntries()) {
        if (entry.category != category)
            continue;
        ++judged;
        SCOPED_TRACE(entry.why);
        const ExpectedProblem expected = ExpectedFor(entry);
        const bool planted = entry.verdict == demo::Verdict::Reported &&
                             (searchEmptyKeys || !entry.onlyWhenSearchingEmptyKeys);
        const auto found = std::find_if(unexplained.begin(), unexplained.end(),
                                        [&](const CProblem* p) { return Matches(*p, expected); });
        EXPECT_EQ(found != unexplained.end(), planted) << Utf16ToUtf8(expected.key);
        if (found != unexplained.end())
            unexplained.erase(found);
    }
    EXPECT_GE(judged, 4);
    if (IsDeepScan(category)) {
        std::erase_if(unexplained,
                      [&](const CProblem* p) { return IsOtherCategorysEntry(*p, category); });
    }
    // Nothing beyond the planted problems: the rest of the prefix is a healthy registry.
    std::string list;
    for (const CProblem* problem : unexplained)
        list += Describe(*problem) + "\n";
    EXPECT_EQ(list, "");
}

// Every category but those of shortcuts and start-up entries, which demo_shortcuts_test
// covers.
INSTANTIATE_TEST_SUITE_P(RegistryCategories, DemoRegistryScansTest,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 5, 6, 8, 9, 12, 13),
                                            ::testing::Bool()));

}  // namespace
}  // namespace quillary
