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

// Two categories of held problems over a partial backup's fixture.
class CleaningRunTest : public ::testing::Test {
protected:
    CleaningRunTest()
        : fixture_(R"(
              [HKEY_CURRENT_USER\Software\Vendor\Gone1]
              [HKEY_CURRENT_USER\Software\Vendor\Gone2]
              [HKEY_CURRENT_USER\Software\Vendor\Unticked]
          )"),
          target_{&fixture_.Registry(), true, {}},
          settings_(*config_, platform_),
          rules_(files_, protection_, platform_, scanSettings_),
          references_(files_, target_, rules_, scanSettings_),
          environment_{target_,     files_, platform_, scanSettings_, rules_, references_,
                       exclusions_, {},     {}},
          scans_([this](int) { return std::make_unique<CHeldProblems>(environment_); }, {}) {
        settings_.Values().RegErrsFixedTillDate = 5;
        scans_.CreateCategories(0x1 | 0x20, 2);
    }

    CleaningResult Run(std::function<std::optional<std::string>()> writeRefusal = {},
                       std::function<void()> createRestorePoint = {},
                       const std::function<void(CleaningEnvironment&)>& adjust = {}) {
        CleaningEnvironment cleaning{scans_,
                                     target_,
                                     settings_,
                                     exclusions_,
                                     fixture_.Environment(),
                                     u"Quillary",
                                     std::move(createRestorePoint),
                                     [](std::u16string_view id) {
                                         return id == u"IDS_ERRORS_PROCESSED"
                                                    ? std::u16string(u"%d of %d")
                                                    : std::u16string();
                                     },
                                     [this](std::u16string_view line) {
                                         log_.emplace_back(line);
                                         if (onLog_)
                                             onLog_(line);
                                     },
                                     nullptr,
                                     std::move(writeRefusal),
                                     nullptr,
                                     nullptr,
                                     false};
        if (adjust)
            adjust(cleaning);
        CCleaningRun run(cleaning);
        return run.Run();
    }

    struct NothingProtected : ISystemProtection {
        std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
            return std::nullopt;
        }
        bool SfcIsFileProtected(std::u16string_view) override { return false; }
    };

    CBackupFixture fixture_;
    RegistryTarget target_;
    std::unique_ptr<CMemoryRegistry> config_ = testing::MakeRegistry("");
    testing::FakePlatformQueries platform_;
    CSettings settings_;
    CExclusionLists exclusions_{fixture_.FileIo()};
    CMappedFileSystem files_{MappedFileSystemSetup{}};
    SettingsValues scanSettings_;
    NothingProtected protection_;
    CBuiltinRules rules_;
    CFileReferenceResolver references_;
    ScanEnvironment environment_;
    CScanDriver scans_;
    std::vector<std::u16string> log_;
    // Called on the worker thread with each log line.
    std::function<void(std::u16string_view)> onLog_;
};

TEST_F(CleaningRunTest, RepairsTheTickedProblemsAndHidesTheFailedOnes) {
    CScanDriver& scans = scans_;
    auto& fixture = fixture_;
    auto& settings = settings_;
    auto& exclusions = exclusions_;
    auto& log = log_;
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

    CleaningResult result = Run();

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

// A disk that fills up while the run stores a deleted file: the file stays, the registry
// changes keep their undo copy beside the archive, and the run says the backup failed.
// A disk that is full from the start: the journal cannot be made, so nothing is tried. A disk
// that fills before the end: the file deleted before is kept in the journal, and the run says
// that its registry changes have no copy on disk.
TEST_F(CleaningRunTest, AFullDiskLosesNothing) {
    for (bool fullFromTheStart : {true, false}) {
        SCOPED_TRACE(fullFromTheStart ? "full from the start" : "full at the end");
        CBackupFixture& fixture = fixture_;
        std::filesystem::remove_all(fixture.UndoFolder());
        fixture.WriteFile("Desktop/old.lnk", "L");
        fixture.failJournalAppends = fullFromTheStart;
        fixture.FileIo().failWritesEndingIn = fullFromTheStart ? "" : ".rxb";
        CCategory& shortcuts = *scans_.CategoryOf(0x1);
        shortcuts.MutableProblems().clear();
        int link = shortcuts.AddProblem(false, 34, u"", u"", u"", u"");
        shortcuts.AddDetailLine(link, u"old.lnk");
        shortcuts.AddDetailLine(link, u"C:\\Desktop\\old.lnk");

        CleaningResult result = Run();
        EXPECT_FALSE(result.backupSaved);
        EXPECT_NE(result.backupFailure.find("disk full"), std::string::npos);
        EXPECT_EQ(result.attempted, fullFromTheStart ? 0 : 1);
        EXPECT_EQ(result.filesDeleted, fullFromTheStart ? 0 : 1);
        EXPECT_EQ(std::filesystem::exists(fixture.Root() / "c/Desktop/old.lnk"), fullFromTheStart);
        // What was deleted is in the journal, which the next command completes.
        EXPECT_EQ(result.listFile.extension(), fullFromTheStart ? "" : ".rjl");
    }
}

// Another program changes the target part-way: the run ends there and says why.
TEST_F(CleaningRunTest, ARefusingTargetEndsTheRun) {
    CCategory& keys = *scans_.CategoryOf(0x20);
    keys.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone1", u"", u"", u"");
    keys.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone2", u"", u"", u"");
    int asked = 0;
    CleaningResult result = Run([&asked]() -> std::optional<std::string> {
        if (++asked > 1)
            return "the files changed";
        return std::nullopt;
    });
    EXPECT_EQ(result.refusal, "the files changed");
    EXPECT_EQ(result.attempted, 1);
    EXPECT_EQ(keys.Problems().size(), 1u);  // the one not tried stays, and joins no hide list
}

// The user asks to stop while the restore point is made: no repair is tried.
TEST_F(CleaningRunTest, AStopBeforeTheFirstRepairEndsTheRun) {
    CCategory& keys = *scans_.CategoryOf(0x20);
    keys.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone1", u"", u"", u"");
    CleaningResult result = Run({}, [this] { scans_.StopEvent().Set(); });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.attempted, 0);
    EXPECT_EQ(keys.Problems().size(), 1u);
}

// A finished run applies the ticked tweaks into its own partial backup, before it closes, and
// refreshes the undo list; undoing the run then undoes the tweaks too.
TEST_F(CleaningRunTest, AFinishedRunAppliesTheTweaksInItsBackup) {
    CCategory& keys = *scans_.CategoryOf(0x1);
    keys.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone1", u"", u"", u"");
    const std::string before = fixture_.RegistryText();
    int refreshes = 0;
    CleaningResult result = Run({}, {}, [&](CleaningEnvironment& cleaning) {
        cleaning.applyTickedTweaks = [](CBackup& backup) {
            return backup.SetTextValue(HKeyLocalMachine, u"Software\\Tweak", u"Enable", u"Y",
                                       RegistryView::Bits64)
                       ? 1
                       : 0;
        };
        cleaning.refreshUndoList = [&refreshes] { ++refreshes; };
    });
    EXPECT_EQ(result.tweaksApplied, 1);
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(testing::KeyExists(fixture_.Registry(), HKeyLocalMachine, u"Software\\Tweak"));
    ASSERT_TRUE(fixture_.LoadBackup(result.listFile)->UndoAll());
    EXPECT_EQ(fixture_.RegistryText(), before);
}

// A stop during the second category: the first is repaired, the second only up to the stop;
// the found-till-date count grows by every problem tried, the count of the last run only by
// the categories that finished; no tweak is applied and nothing joins the hide list.
TEST_F(CleaningRunTest, AStopInTheMiddleKeepsTheCounters) {
    scans_.CategoryOf(0x1)->AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone1",
                                       u"", u"", u"");
    CCategory& second = *scans_.CategoryOf(0x20);
    second.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Gone2", u"", u"", u"");
    second.AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Vendor\\Unticked", u"", u"", u"");
    onLog_ = [this](std::u16string_view line) {
        if (line.find(u"Key:HKEY_CURRENT_USER\\Software\\Vendor\\Gone2") != line.npos)
            scans_.StopEvent().Set();
    };
    bool tweaksAsked = false;
    int refreshes = 0;
    CleaningResult result = Run({}, {}, [&](CleaningEnvironment& cleaning) {
        cleaning.applyTickedTweaks = [&tweaksAsked](CBackup&) {
            tweaksAsked = true;
            return 0;
        };
        cleaning.refreshUndoList = [&refreshes] { ++refreshes; };
    });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.attempted, 2);
    EXPECT_EQ(result.remaining, 1u);
    EXPECT_EQ(settings_.Values().RegErrsFixedTillDate, 5u + 2u);
    EXPECT_EQ(settings_.Values().RegErrsFixedLast, 1u);
    EXPECT_EQ(settings_.GetProfileInt(u"", u"RegErrsFixedLast", 99), 1u);
    EXPECT_FALSE(tweaksAsked);
    EXPECT_EQ(refreshes, 0);
    EXPECT_TRUE(exclusions_.HistoryList().Entries().empty());
    EXPECT_TRUE(result.backupSaved);  // what was repaired before the stop can be undone
}

}  // namespace
}  // namespace quillary
