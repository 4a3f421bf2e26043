#include "app/startup.h"

#include <gtest/gtest.h>

#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

class FakeGuard : public IInstanceGuard {
public:
    bool Acquire(std::chrono::milliseconds wait) override {
        waited = wait;
        return first;
    }
    bool Listen(std::function<void(InstanceRequest)>) override { return true; }
    bool SendToFirst(InstanceRequest request) override {
        sent.push_back(request);
        return true;
    }
    bool first = true;
    std::chrono::milliseconds waited{0};
    std::vector<InstanceRequest> sent;
};

class NothingProtected : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
        return std::nullopt;
    }
    bool SfcIsFileProtected(std::u16string_view) override { return false; }
};

class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        platform_.dataFolder = folder_.Path().u16string();
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.MakeFolder("c"), DriveFixed, {}}};
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        context_ =
            std::make_unique<CAppContext>(AppEnvironment{*target_,
                                                         *files_,
                                                         protection_,
                                                         *config_,
                                                         platform_,
                                                         clock_,
                                                         fileIo_,
                                                         "/nonexistent/quillary",
                                                         {},
                                                         false,
                                                         [](int, const char*) { return true; }});
    }

    bool Loaded() const { return context_->Settings().Values().SetChkSkipEmptyKeys == 0; }

    testing::CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> target_ = testing::MakeRegistry("");
    std::unique_ptr<CMemoryRegistry> config_ = testing::MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        "SetChkSkipEmptyKeys"=dword:00000000
    )");
    testing::FakePlatformQueries platform_;
    NothingProtected protection_;
    CManualClock clock_{FromFileTime(0x1dd900000000000)};
    CPosixFileIo fileIo_;
    std::unique_ptr<CMappedFileSystem> files_;
    std::unique_ptr<CAppContext> context_;
};

TEST_F(StartupTest, TheFirstInstanceLoadsAndOffersTheCommandLine) {
    FakeGuard guard;
    std::vector<std::u16string> arguments = {u"-S", u"x"};
    StartupResult result = StartUp(arguments, guard, *context_, {});
    EXPECT_EQ(result.outcome, StartupOutcome::Run);
    EXPECT_TRUE(result.commandLine.scheduledScan);
    EXPECT_EQ(guard.waited, std::chrono::milliseconds(6144));
    EXPECT_TRUE(Loaded());
    EXPECT_EQ(platform_.hookLine, u"-S x ");
    EXPECT_TRUE(guard.sent.empty());

    platform_.hookAnswer = 1;
    FakeGuard again;
    EXPECT_EQ(StartUp({}, again, *context_, {}).outcome, StartupOutcome::Quit);
    EXPECT_EQ(again.waited, std::chrono::milliseconds(1024));
}

TEST_F(StartupTest, ASecondInstanceOnlyReachesTheFirst) {
    FakeGuard guard;
    guard.first = false;
    std::vector<std::u16string> scheduled = {u"-s"};
    EXPECT_EQ(StartUp(scheduled, guard, *context_, {}).outcome, StartupOutcome::SecondInstance);
    EXPECT_EQ(StartUp({}, guard, *context_, {}).outcome, StartupOutcome::SecondInstance);
    EXPECT_EQ(guard.sent, (std::vector<InstanceRequest>{InstanceRequest::ScheduledScan,
                                                        InstanceRequest::BringForward}));
    EXPECT_FALSE(Loaded());
    EXPECT_TRUE(platform_.hookLine.empty());

    FakeGuard quiet;
    quiet.first = false;
    StartUp({}, quiet, *context_, {false, false});
    EXPECT_TRUE(quiet.sent.empty());
}

}  // namespace
}  // namespace quillary
