#include "repair/cleaning_run.h"

#include <gtest/gtest.h>

#include "backup_fixture.h"
#include "support/fake_platform_queries.h"

namespace quillary {
namespace {

using testing::CBackupFixture;

class CHeldProblems : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
};

class StatusLog : public IScanObserver {
public:
    void OnStatus(std::u16string_view text) override { lines.emplace_back(text); }
    std::vector<std::u16string> lines;
};

TEST(CleaningRunTest, RepairsTheTickedProblemsAndHidesTheFailedOnes) {
    CBackupFixture fixture(R"(
        [HKEY_CURRENT_USER\Software\Vendor\Gone1]
        [HKEY_CURRENT_USER\Software\Vendor\Gone2]
        [HKEY_CURRENT_USER\Software\Vendor\Unticked]
    )");
    RegistryTarget target{&fixture.Registry(), true, {}};
    auto config = testing::MakeRegistry("");
    testing::FakePlatformQueries platform;
    CSettings settings(*config, platform);
    settings.Values().RegErrsFixedTillDate = 5;
    CExclusionLists exclusions;
    // The categories need a scan environment only to be made.
    CMappedFileSystem files(MappedFileSystemSetup{});
    SettingsValues scanSettings;
    testing::FakePlatformQueries scanPlatform;
    struct : ISystemProtection {
        std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
            return std::nullopt;
        }
        bool SfcIsFileProtected(std::u16string_view) override { return false; }
    } protection;
    CBuiltinRules rules(files, protection, scanPlatform, scanSettings);
    CFileReferenceResolver references(files, target, rules, scanSettings);
    ScanEnvironment environment{
        target, files, scanPlatform, scanSettings, rules, references, exclusions, {}, {}};
    CScanDriver scans([&](int) { return std::make_unique<CHeldProblems>(environment); }, {});
    scans.CreateCategories(0x1 | 0x20, 2);
    StatusLog status;
    CCategory& first = *scans.CategoryOf(0x1);
    first.Attach(nullptr, &status, nullptr);
    first.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone1", u"", u"", u"");
    first.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone2", u"", u"", u"");
    first.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Unticked", u"", u"", u"");
    first.MutableProblems()[2]->selected = false;
    CCategory& history = *scans.CategoryOf(0x20);
    int url = history.AddProblem(false, 32, u"HKEY_CURRENT_USER\\Software\\History", u"", u"", u"");
    history.AddDetailLine(url, u"label");
    history.AddDetailLine(url, u"C:\\old page.htm");

    std::vector<std::u16string> log;
    CleaningEnvironment cleaning{
        scans,
        target,
        settings,
        exclusions,
        fixture.Environment(),
        u"Quillary",
        {},
        [](std::u16string_view id) {
            return id == u"IDS_ERRORS_PROCESSED" ? std::u16string(u"%d of %d") : std::u16string();
        },
        [&](std::u16string_view line) { log.emplace_back(line); }};
    CCleaningRun run(cleaning);
    CleaningResult result = run.Run();

    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.attempted, 3);
    EXPECT_EQ(result.repaired, 2);
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(result.backupSaved);
    EXPECT_EQ(result.listFile.filename(), "00000001.rmx");
    EXPECT_EQ(status.lines, (std::vector<std::u16string>{u"0 of 2", u"1 of 2", u"2 of 2"}));
    EXPECT_FALSE(
        testing::KeyExists(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\Gone1"));
    EXPECT_TRUE(
        testing::KeyExists(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\Unticked"));
    // The unticked problem stays; the one whose repair failed moves to the hide list.
    EXPECT_EQ(scans.ProblemsOf(0x1).size(), 1u);
    EXPECT_TRUE(scans.ProblemsOf(0x20).empty());
    EXPECT_EQ(exclusions.HistoryList().Entries().size(), 1u);
    EXPECT_EQ(settings.Values().RegErrsFixedTillDate, 8u);
    EXPECT_EQ(settings.Values().RegErrsFixedLast, 3u);
    EXPECT_EQ(log.front(), u"\r\n\r\n CLEANING STARTED \r\n\r\n");
    EXPECT_NE(std::find(log.begin(), log.end(), u"The Above Entry Could not be Fixed!"), log.end());
}

}  // namespace
}  // namespace quillary
