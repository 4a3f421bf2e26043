// The scan engine from end to end on the demo prefix: a scan on the worker thread finds the
// planted broken application paths, and the saved results come back after a restart.

#include <gtest/gtest.h>

#include <algorithm>

#include "categories/category_factory.h"
#include "demo_target.h"
#include "engine/saved_results.h"
#include "engine/scan_driver.h"

namespace quillary {
namespace {

TEST(DemoScanTest, ScanFindsThePlantedProblemsAndTheyOutliveARestart) {
    testing::CTempFolder folder;
    std::unique_ptr<COpenTarget> demo = testing::OpenDemoTarget(folder);
    ASSERT_TRUE(demo);
    ScanEnvironment& environment = demo->Context().ScanServices();
    auto makeDriver = [&] {
        return std::make_unique<CScanDriver>(
            [&](int index) { return MakeCategory(index, environment); }, ScanDriverOptions{});
    };

    auto driver = makeDriver();
    ASSERT_TRUE(driver->StartScan(0x2));
    driver->WaitForScan();
    std::vector<std::u16string> found;
    for (const auto& problem : driver->ProblemsOf(0x2))
        found.push_back(problem->Key);

    // The planted broken application paths; which ones, the scanner's own demo test checks.
    EXPECT_GE(found.size(), 5u);

    ASSERT_EQ(SaveResults(demo->FileIo(), *driver, folder.Path()), std::nullopt);
    auto restarted = makeDriver();
    LoadedResults loaded =
        LoadResults(demo->FileIo(), *restarted, folder.Path(), environment.target);
    EXPECT_EQ(loaded.error, "");
    EXPECT_EQ(loaded.savedTotal, static_cast<int>(found.size()));
    EXPECT_EQ(loaded.kept, static_cast<int>(found.size()));
    EXPECT_FALSE(demo->PrefixStore()->HasUnsavedChanges());
}

}  // namespace
}  // namespace quillary
