// The COM scanner on the demo prefix: both views of a 64-bit Wine prefix are walked, every
// planted broken registration is reported in the view it lives in, and nothing else is.

#include <gtest/gtest.h>

#include <algorithm>

#include "categories/activex.h"
#include "core/text_encoding.h"
#include "demo_target.h"
#include "planted_entries.h"

namespace quillary {
namespace {

constexpr int kActiveXCategory = 0;
constexpr std::u16string_view kClassesRoot = u"HKEY_CLASSES_ROOT\\";
constexpr std::u16string_view kWow6432Node = u"Wow6432Node\\";

struct ExpectedProblem {
    std::u16string key;
    bool is32BitEntry = false;
};

// Where the scanner reports a planted entry: an entry of the 32-bit view is reported with
// its view-neutral key and the 32-bit flag.
ExpectedProblem ExpectedFor(const demo::PlantedEntry& entry) {
    std::u16string_view key = entry.key;
    if (key.starts_with(kClassesRoot) && key.substr(kClassesRoot.size()).starts_with(kWow6432Node))
        return {std::u16string(kClassesRoot) +
                    std::u16string(key.substr(kClassesRoot.size() + kWow6432Node.size())),
                true};
    return {entry.key, false};
}

TEST(DemoActiveXTest, ReportsThePlantedBrokenRegistrationsAndNothingElse) {
    testing::CTempFolder folder;
    std::unique_ptr<COpenTarget> demo = testing::OpenDemoTarget(folder);
    ASSERT_TRUE(demo);
    ASSERT_TRUE(demo->Context().Target().is64Bit);
    CActiveX scanner(demo->Context().ScanServices());
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);

    std::vector<ExpectedProblem> found;
    for (const auto& problem : scanner.Problems())
        found.push_back({problem->Key, problem->is32BitEntry});
    const auto wasFound = [&](const ExpectedProblem& expected) {
        return std::any_of(found.begin(), found.end(), [&](const ExpectedProblem& problem) {
            return problem.key == expected.key && problem.is32BitEntry == expected.is32BitEntry;
        });
    };

    int reported = 0;
    int judged = 0;
    for (const demo::PlantedEntry& entry : demo::PlantedEntries()) {
        if (entry.category != kActiveXCategory)
            continue;
        ++judged;
        SCOPED_TRACE(entry.why);
        ExpectedProblem expected = ExpectedFor(entry);
        EXPECT_EQ(wasFound(expected), entry.verdict == demo::Verdict::Reported)
            << Utf16ToUtf8(expected.key);
        if (entry.verdict == demo::Verdict::Reported)
            ++reported;
    }
    EXPECT_GE(judged, 8);
    // Nothing beyond the planted problems: the rest of the prefix is a healthy registry.
    std::string list;
    for (const ExpectedProblem& problem : found)
        list += Utf16ToUtf8(problem.key) + (problem.is32BitEntry ? " (32-bit)\n" : "\n");
    EXPECT_EQ(found.size(), static_cast<std::size_t>(reported)) << list;
}

}  // namespace
}  // namespace quillary
