// The scan engine from end to end on the demo prefix: a scan on the worker thread finds the
// planted broken application paths and none of the valid ones, and the saved results come
// back after a restart.

#include <gtest/gtest.h>

#include <algorithm>

#include "demo_target.h"
#include "engine/saved_results.h"
#include "engine/scan_driver.h"
#include "planted_entries.h"

namespace quillary {
namespace {

constexpr std::u16string_view kAppPaths =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// A small application-paths check: the program each machine-wide entry names must exist.
class CAppPathsProbe : public CCategory {
public:
    using CCategory::CCategory;
    int CountItems() override { return static_cast<int>(Names().size()); }
    int Scan() override {
        std::vector<std::u16string> names = Names();
        progressTotal_ = static_cast<int>(names.size());
        for (const std::u16string& name : names) {
            if (IsStopRequested())
                return kScanStopped;
            std::u16string subKey = std::u16string(kAppPaths) + u"\\" + name;
            ShowStatus(subKey);
            std::u16string program;
            ReadValueText64(environment_.target, HKeyLocalMachine, subKey, u"", program);
            FileReferenceOptions options;
            options.builtinFileExclusions = true;
            options.safetyList = true;
            std::u16string path = environment_.references.ExtractValuePath(program);
            if (!program.empty() &&
                !environment_.references.FileReferenceIsValid(SystemDirectory(), path, options)) {
                int index =
                    AddProblem(false, 13, u"HKEY_LOCAL_MACHINE\\" + subKey, u"", program, u"");
                AddDetailLine(index, name);
            }
            StepProgress();
        }
        FinishProgress();
        SortProblems();
        return kScanDone;
    }

private:
    std::vector<std::u16string> Names() {
        RegKey key(*environment_.target.store);
        std::vector<std::u16string> names;
        if (key.Open(HKeyLocalMachine, kAppPaths, kMaskReadOnly | KeyWow64_64Key) == ErrorSuccess) {
            ListSubkeyNames(environment_.target, key.Handle(), names);
        }
        return names;
    }
};

TEST(DemoScanTest, ScanFindsThePlantedProblemsAndTheyOutliveARestart) {
    testing::CTempFolder folder;
    std::unique_ptr<COpenTarget> demo = testing::OpenDemoTarget(folder);
    ASSERT_TRUE(demo);
    ScanEnvironment& environment = demo->Context().ScanServices();
    auto makeDriver = [&] {
        return std::make_unique<CScanDriver>(
            [&](int index) -> std::unique_ptr<CCategory> {
                if (index != 1)
                    return nullptr;
                return std::make_unique<CAppPathsProbe>(environment);
            },
            ScanDriverOptions{});
    };

    auto driver = makeDriver();
    ASSERT_TRUE(driver->StartScan(0x2));
    driver->WaitForScan();
    std::vector<std::u16string> found;
    for (const auto& problem : driver->ProblemsOf(0x2))
        found.push_back(problem->Key);

    // Every machine-wide application path the demo plants with a program is judged as planted.
    int judged = 0;
    for (const demo::PlantedEntry& entry : demo::PlantedEntries()) {
        if (entry.category != 1 || !entry.valueText ||
            !entry.key.starts_with(u"HKEY_LOCAL_MACHINE\\")) {
            continue;
        }
        ++judged;
        bool reported = std::find(found.begin(), found.end(), entry.key) != found.end();
        EXPECT_EQ(reported, entry.verdict == demo::Verdict::Reported) << entry.why;
    }
    EXPECT_GE(judged, 2);

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
