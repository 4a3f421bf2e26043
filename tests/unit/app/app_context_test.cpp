// One run's shared state, assembled from the subsystems as start-up assembles it.

#include "app/app_context.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "core/text_case.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/linux/target_platform_queries.h"
#include "targets/posix/mapped_file_system.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

class NothingProtected : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
        return std::nullopt;
    }
    bool SfcIsFileProtected(std::u16string_view) override { return false; }
};

class AppContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataHome_ = fs::temp_directory_path() / ("quillary-app-" + std::to_string(::getpid()));
        fs::remove_all(dataHome_);
    }
    void TearDown() override {
        fs::remove_all(dataHome_);
        SetCaseLocale(CaseLocale::Classic);
    }

    fs::path dataHome_;
    CManualClock clock_{FromFileTime(0x1dd900000000000)};
    CPosixFileIo fileIo_;
    testing::CTempFolder drive_;
    CMappedFileSystem files_{[this] {
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', drive_.Path(), DriveFixed, {}}};
        return setup;
    }()};
    NothingProtected protection_;
};

// A scanner that finds one problem for each key below HKEY_CURRENT_USER\Software\Stale.
class CStaleKeys : public CCategory {
public:
    using CCategory::CCategory;
    int CountItems() override { return 0; }
    int Scan() override {
        RegKey key(*environment_.target.store);
        std::vector<std::u16string> names;
        if (key.Open(HKeyCurrentUser, u"Software\\Stale", kMaskReadOnly) == ErrorSuccess) {
            ListSubkeyNames(environment_.target, key.Handle(), names);
        }
        for (const std::u16string& name : names) {
            AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Stale\\" + name, u"", u"", u"");
        }
        return kScanDone;
    }
};

TEST_F(AppContextTest, LoadsEverySectionFromItsOwnSource) {
    auto target = testing::MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment]
        "PROCESSOR_ARCHITECTURE"="AMD64"
    )");
    auto config = testing::MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        "SetChkSkipEmptyKeys"=dword:00000000
    )");
    CTargetPlatformQueries platform(*target, *config, u"demo", dataHome_);
    std::vector<std::string> localeCalls;
    AppEnvironment environment{*target,
                               files_,
                               protection_,
                               *config,
                               platform,
                               clock_,
                               fileIo_,
                               fs::current_path() / "lang" / "quillary",
                               {},
                               false,
                               [&localeCalls](int, const char* name) {
                                   localeCalls.emplace_back(name);
                                   return true;
                               }};
    CAppContext context(environment);
    EXPECT_TRUE(context.Target().is64Bit);
    EXPECT_EQ(context.DataFolder(), dataHome_ / "quillary" / "demo");

    EXPECT_TRUE(context.Load().empty());
    EXPECT_FALSE(localeCalls.empty());
    // The text tables come from the English language file beside the program.
    EXPECT_FALSE(context.TextTables().CategoryName(0).empty());
    EXPECT_EQ(context.Language().LookupText(u"AFX_IDS_APP_TITLE"), u"Quillary");
    // The settings come from the config store, not from the target.
    EXPECT_EQ(context.Settings().Values().SetChkSkipEmptyKeys, 0u);

    // The exclusion lists and the log live in the target's data folder.
    ASSERT_TRUE(context.Exclusions().AddExclusion(u"HKEY_CURRENT_USER", u"Software\\Kept").done);
    EXPECT_TRUE(context.SaveExclusions().empty());
    EXPECT_TRUE(fs::exists(context.DataFolder() / "ExcludeList.kvl"));
    context.Log().WriteLogLine(u"started");
    EXPECT_EQ(context.Log().LogFilePath().parent_path(), context.DataFolder());
}

// A scanner that finds C:\\app\\tool.exe missing.
class CMissingTool : public CCategory {
public:
    using CCategory::CCategory;
    int CountItems() override { return 0; }
    int Scan() override {
        if (!environment_.references.FileReferenceIsValid(u"C:\\windows\\system32\\",
                                                          u"C:\\app\\tool.exe", {})) {
            AddProblem(false, 35, u"HKEY_CURRENT_USER\\Software\\Tool", u"", u"", u"");
        }
        return kScanDone;
    }
};

TEST_F(AppContextTest, EachScanLooksAtTheFilesAnew) {
    auto target = testing::MakeRegistry("");
    auto config = testing::MakeRegistry("");
    CTargetPlatformQueries platform(*target, *config, u"demo", dataHome_);
    CAppContext context(
        AppEnvironment{*target, files_, protection_, *config, platform, clock_, fileIo_, fs::path(),
                       [](int, ScanEnvironment& scan) -> std::unique_ptr<CCategory> {
                           return std::make_unique<CMissingTool>(scan);
                       },
                       false, [](int, const char*) { return true; }});
    context.Load();
    for (const std::size_t expected : {1u, 0u}) {
        ASSERT_TRUE(context.Scans().StartScan(0x100));
        context.Scans().WaitForScan();
        EXPECT_EQ(context.Scans().CountFound(), expected);
        drive_.Write("app/tool.exe", "MZ");
    }
}

TEST_F(AppContextTest, SavedResultsSurviveARestartButNotASecondInstance) {
    auto target = testing::MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Stale\One]
        [HKEY_CURRENT_USER\Software\Stale\Two]
    )");
    auto config = testing::MakeRegistry("");
    CTargetPlatformQueries platform(*target, *config, u"demo", dataHome_);
    auto makeEnvironment = [&] {
        return AppEnvironment{*target,
                              files_,
                              protection_,
                              *config,
                              platform,
                              clock_,
                              fileIo_,
                              fs::current_path() / "lang" / "quillary",
                              [](int, ScanEnvironment& scan) -> std::unique_ptr<CCategory> {
                                  return std::make_unique<CStaleKeys>(scan);
                              },
                              false,
                              [](int, const char*) { return true; }};
    };
    {
        CAppContext first(makeEnvironment());
        first.Load();
        ASSERT_TRUE(first.Scans().StartScan(0x100));
        first.Scans().WaitForScan();
        EXPECT_EQ(first.Scans().CountFound(), 2u);
        EXPECT_TRUE(first.Exit(false).empty());
    }
    ASSERT_EQ(target->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Stale\\Two"), ErrorSuccess);
    fs::path results = dataHome_ / "quillary" / "demo" / "results.kvl";
    auto savedTime = fs::last_write_time(results);
    {
        CAppContext second(makeEnvironment());
        second.Load();
        EXPECT_EQ(second.SavedResults().savedTotal, 2);
        EXPECT_EQ(second.SavedResults().kept, 1);
        ASSERT_EQ(second.Scans().ProblemsOf(0x100).size(), 1u);
        EXPECT_EQ(second.Scans().ProblemsOf(0x100)[0]->Key,
                  u"HKEY_CURRENT_USER\\Software\\Stale\\One");
        // A second instance leaves every file as it was.
        EXPECT_TRUE(second.Exit(true).empty());
    }
    EXPECT_EQ(fs::last_write_time(results), savedTime);
}

}  // namespace
}  // namespace quillary
