#include "engine/scan_driver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "core/text_format.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;

// A scanner of HKEY_CURRENT_USER\Software\Apps: every subkey's "Path" value must name an
// existing file. The category of index 3 can be told to be stopped half-way.
class CAppsCategory : public CCategory {
public:
    CAppsCategory(ScanEnvironment& environment, CManualResetEvent* stopHalfWay)
        : CCategory(environment), stopHalfWay_(stopHalfWay) {}

    int CountItems() override {
        RegKey key(*environment_.target.store);
        if (key.Open(HKeyCurrentUser, u"Software\\Apps", kMaskReadOnly) != ErrorSuccess)
            return 0;
        std::vector<std::u16string> names;
        ListSubkeyNames(environment_.target, key.Handle(), names);
        return static_cast<int>(names.size());
    }

    int Scan() override {
        int total = CountItems();
        if (total >= 0)
            progressTotal_ = total;
        progressCount_ = 0;
        RegKey key(*environment_.target.store);
        std::vector<std::u16string> names;
        if (key.Open(HKeyCurrentUser, u"Software\\Apps", kMaskReadOnly) == ErrorSuccess) {
            ListSubkeyNames(environment_.target, key.Handle(), names);
        }
        for (const std::u16string& name : names) {
            if (stopHalfWay_)
                stopHalfWay_->Set();  // the user presses Stop now
            if (IsStopRequested())
                return kScanStopped;
            std::u16string subKey = u"Software\\Apps\\" + name;
            ShowStatus(subKey);
            std::u16string path;
            ReadValueText64(environment_.target, HKeyCurrentUser, subKey, u"Path", path);
            if (!environment_.references.FileReferenceIsValid(SystemDirectory(), path, {})) {
                int index =
                    AddProblem(false, 13, u"HKEY_CURRENT_USER\\" + subKey, u"Path", path, u"");
                AddDetailLine(index, name);
            }
            StepProgress();
        }
        FinishProgress();
        SortProblems();
        return IsStopRequested() ? kScanStopped : kScanDone;
    }

private:
    CManualResetEvent* stopHalfWay_;
};

// Records the observer calls as text, in order.
class CallLog : public IScanObserver {
public:
    void OnFoundChanged() override { Add(u"found"); }
    void OnCategoryStarting(std::uint32_t bit, bool isScan) override {
        Add(Format(u"start %x %d", bit, isScan ? 1 : 0));
    }
    void OnCategoryFinished(std::uint32_t bit) override { Add(Format(u"finish %x", bit)); }
    void OnScanEnded(bool stopped) override { Add(stopped ? u"stopped" : u"ended"); }
    void OnRowPicture(int index, int picture) override {
        if (picture != kRowPictureNone)
            Add(Format(u"picture %d %d", index, picture));
    }
    void OnRowLabel(int index, std::u16string_view label) override {
        Add(Format(u"label %d %s", index, label));
    }

    std::vector<std::u16string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    bool Has(std::u16string_view call) {
        auto calls = Calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

private:
    void Add(std::u16string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::u16string> calls_;
};

class ScanDriverTest : public ::testing::Test {
protected:
    ScanDriverTest()
        : fixture_(R"(
              [HKEY_CURRENT_USER\Software\Apps\Editor]
              "Path"="C:\\Apps\\editor.exe"
              [HKEY_CURRENT_USER\Software\Apps\Gone]
              "Path"="C:\\Apps\\gone.exe"
              [HKEY_CURRENT_USER\Software\Apps\Missing]
              "Path"="C:\\Apps\\missing.exe"
          )") {
        fixture_.Folder().Write("c/Apps/editor.exe", "MZ");
    }

    std::unique_ptr<CScanDriver> MakeDriver(int stopInCategory = -1) {
        auto driver = std::make_unique<CScanDriver>(
            [this, stopInCategory](int index) {
                return std::make_unique<CAppsCategory>(
                    fixture_.Environment(), index == stopInCategory ? stopEvent_ : nullptr);
            },
            ScanDriverOptions{
                false, [](std::u16string_view id) { return std::u16string(id); }, {}, {}});
        stopEvent_ = &driver->StopEvent();
        driver->SetObserver(&calls_);
        return driver;
    }

    CScanFixture fixture_;
    CallLog calls_;
    CManualResetEvent* stopEvent_ = nullptr;
};

TEST_F(ScanDriverTest, ScansTheSelectedCategoriesOnTheWorkerThread) {
    auto driver = MakeDriver();
    EXPECT_FALSE(driver->StartScan(0));
    ASSERT_TRUE(driver->StartScan(0x1 | 0x4));
    driver->WaitForScan();
    EXPECT_FALSE(driver->IsScanRunning());

    EXPECT_EQ(driver->CountFound(), 4u);
    std::span<const std::unique_ptr<CProblem>> problems = driver->ProblemsOf(0x4);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0]->DetailLine(0), u"Gone");
    EXPECT_EQ(problems[1]->Key, u"HKEY_CURRENT_USER\\Software\\Apps\\Missing");
    EXPECT_EQ(problems[1]->repairContext, &driver->RepairContext());
    EXPECT_TRUE(driver->ProblemsOf(0x2).empty());
    EXPECT_TRUE(driver->ProblemsOf(0x3).empty());

    std::vector<std::u16string> calls = calls_.Calls();
    std::vector<std::u16string> firstCategory(calls.begin(), calls.begin() + 9);
    EXPECT_EQ(firstCategory,
              (std::vector<std::u16string>{u"picture 0 48", u"found", u"start 1 1", u"found",
                                           u"found", u"finish 1", u"label 0 IDS_STR_ACTIVEX (2)",
                                           u"picture 0 260", u"picture 1 259"}));
    EXPECT_TRUE(calls_.Has(u"label 1 IDS_STR_APP_PATHS (0)"));
    EXPECT_TRUE(calls_.Has(u"label 2 IDS_FILE_TYPES (2)"));
    EXPECT_EQ(calls.back(), u"ended");
}

TEST_F(ScanDriverTest, StopDuringCategoryThreeLeavesTheRestUnrun) {
    auto driver = MakeDriver(3);
    ASSERT_TRUE(driver->StartScan(0x8 | 0x10 | 0x2000));
    driver->WaitForScan();

    EXPECT_EQ(driver->CountFound(), 0u);
    EXPECT_TRUE(calls_.Has(u"start 8 1"));
    EXPECT_FALSE(calls_.Has(u"finish 8"));
    EXPECT_FALSE(calls_.Has(u"start 10 1"));
    EXPECT_TRUE(calls_.Has(u"label 4 IDS_STR_HELP_SEC (0)"));
    EXPECT_TRUE(calls_.Has(u"picture 4 262"));
    EXPECT_TRUE(calls_.Has(u"label 13 IDS_STR_DEEP_SCAN_CU (0)"));
    EXPECT_TRUE(calls_.Has(u"picture 13 262"));
    EXPECT_FALSE(calls_.Has(u"picture 5 262"));
    EXPECT_EQ(calls_.Calls().back(), u"stopped");

    // The next scan starts afresh: the stop event is reset.
    ASSERT_TRUE(driver->StartScan(0x10));
    driver->WaitForScan();
    EXPECT_EQ(driver->CountFound(), 2u);
    EXPECT_EQ(calls_.Calls().back(), u"ended");
}

TEST_F(ScanDriverTest, StopScanSignalsAndWaits) {
    auto driver = MakeDriver();
    ASSERT_TRUE(driver->StartScan(0x3FFF));
    driver->StopScan();
    EXPECT_FALSE(driver->IsScanRunning());
    EXPECT_EQ(CategoryBitOfRow(0), 1u);
    EXPECT_EQ(CategoryBitOfRow(3), 8u);
    EXPECT_EQ(CategoryBitOfRow(14), 0x4000u);
    EXPECT_EQ(CategoryBitOfRow(15), 1u);
}

}  // namespace
}  // namespace quillary
