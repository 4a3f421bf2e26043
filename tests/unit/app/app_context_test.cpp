// One run's shared state, assembled from the subsystems as start-up assembles it.

#include "app/app_context.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "core/text.h"
#include "platform/linux/target_platform_queries.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

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
                               *config,
                               platform,
                               clock_,
                               fs::current_path() / "lang" / "quillary",
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

}  // namespace
}  // namespace quillary
