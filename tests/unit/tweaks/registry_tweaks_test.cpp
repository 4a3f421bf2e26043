#include "tweaks/registry_tweaks.h"

#include <gtest/gtest.h>

#include "backup_fixture.h"
#include "support/fake_platform_queries.h"

namespace quillary {
namespace {

using testing::CBackupFixture;

constexpr std::uint32_t kAllTweaks = 0x1F;

// The tweaks of a registry, on a target that reads the tweaks given by honoured.
class TweaksTest : public ::testing::Test {
protected:
    void Load(std::string_view registryText, std::uint32_t honoured = kAllTweaks) {
        fixture_ = std::make_unique<CBackupFixture>(registryText);
        target_ = {&fixture_->Registry(), true, {}, false, honoured};
        tweaks_ = std::make_unique<CRegistryTweaks>(target_, settings_);
    }
    std::uint32_t StoredCount() { return settings_.GetProfileInt(u"", u"RegTweaksFound", 99); }

    std::unique_ptr<CBackupFixture> fixture_;
    RegistryTarget target_;
    std::unique_ptr<CMemoryRegistry> config_ = testing::MakeRegistry("");
    testing::FakePlatformQueries platform_;
    CSettings settings_{*config_, platform_};
    std::unique_ptr<CRegistryTweaks> tweaks_;
};

TEST_F(TweaksTest, EachTweakIsTestedByItsValueAndType) {
    struct {
        const char* registry;
        int tweak;
        bool applied;
    } cases[] = {
        {R"([HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem]
            "NtfsDisableLastAccessUpdate"=dword:00000001)",
         0, true},
        {R"([HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem]
            "NtfsDisableLastAccessUpdate"=dword:00000000)",
         0, false},
        // A value of another type reads as 0, a missing value and a missing key too.
        {R"([HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem]
            "NtfsDisableLastAccessUpdate"="1")",
         0, false},
        {R"([HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem])", 0, false},
        {"", 1, false},
        {R"([HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\PriorityControl]
            "Win32PrioritySeparation"=dword:00000026)",
         2, false},
        {R"([HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\PriorityControl]
            "Win32PrioritySeparation"=dword:00000018)",
         2, true},
        {R"([HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Executive]
            "AdditionalCriticalWorkerThreads"=dword:00000002)",
         3, true},
        {R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Dfrg\BootOptimizeFunction]
            "Enable"="y")",
         4, true},
        {R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Dfrg\BootOptimizeFunction]
            "Enable"="N")",
         4, false},
        {R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Dfrg\BootOptimizeFunction]
            "Enable"=dword:00000001)",
         4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.registry);
        Load(c.registry);
        EXPECT_EQ(tweaks_->IsTweakApplied(c.tweak), c.applied);
    }
}

constexpr std::string_view kAllApplied = R"(
    [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem]
    "NtfsDisableLastAccessUpdate"=dword:00000001
    [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management]
    "DisablePagingExecutive"=dword:00000001
    [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\PriorityControl]
    "Win32PrioritySeparation"=dword:00000018
    [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Executive]
    "AdditionalCriticalWorkerThreads"=dword:00000004
    [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Dfrg\BootOptimizeFunction]
    "Enable"="Y"
)";

// The count is what is still to apply on a system that reads the tweaks; the tick reset
// ticks exactly those. A Wine prefix reads none, so there nothing is ever to apply.
TEST_F(TweaksTest, CountAndTicksFollowWhatTheSystemReads) {
    Load(kAllApplied);
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 0);
    EXPECT_EQ(StoredCount(), 0u);
    EXPECT_EQ(tweaks_->CountTicked(), 0);

    Load(R"([HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\PriorityControl]
            "Win32PrioritySeparation"=dword:00000018)");
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 4);
    EXPECT_EQ(StoredCount(), 4u);
    EXPECT_TRUE(tweaks_->IsTicked(0));
    EXPECT_FALSE(tweaks_->IsTicked(2));
    // Without a new reset request the user's ticks stay.
    tweaks_->SetTicked(0, false);
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 4);
    EXPECT_FALSE(tweaks_->IsTicked(0));

    Load("", 0);
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 0);
    EXPECT_EQ(tweaks_->CountTicked(), 0);
}

// Applying the ticked tweaks in a partial backup, then undoing it, gives back the registry
// exactly: a changed value its old data and type, a value that did not exist is removed, and
// keys the tweaks created are removed too.
TEST_F(TweaksTest, ApplyThenUndoRoundTripsExactly) {
    Load(R"(
        [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Filesystem]
        "Other"="kept"
        [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management]
        "DisablePagingExecutive"=hex:00,00,00,00
        [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\PriorityControl]
        "Win32PrioritySeparation"=dword:00000026
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft]
        "x"="y"
    )");
    const std::string before = fixture_->RegistryText();
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 5);
    tweaks_->SetTicked(3, false);

    auto backup = BeginPartialBackup(fixture_->Environment(), u"Quillary");
    EXPECT_EQ(tweaks_->ApplyTickedTweaks(*backup), 4);
    ASSERT_TRUE(EndPartialBackup(*backup));
    for (int n : {0, 1, 2, 4})
        EXPECT_TRUE(tweaks_->IsTweakApplied(n)) << n;
    EXPECT_FALSE(tweaks_->IsTweakApplied(3));
    EXPECT_EQ(tweaks_->CountTweaksToApply(), 1);

    ASSERT_TRUE(fixture_->LoadBackup(fixture_->UndoFolder() / "00000001.rmx")->UndoAll());
    EXPECT_EQ(fixture_->RegistryText(), before);
}

// A tweak that is applied already, or that the system does not read, is left alone.
TEST_F(TweaksTest, OnlyTickedHonouredTweaksStillToApplyAreWritten) {
    for (std::uint32_t honoured : {kAllTweaks, kAllTweaks & ~0x2u}) {
        const std::string_view registry = honoured == kAllTweaks ? kAllApplied : "";
        Load(registry, honoured);
        const std::string before = fixture_->RegistryText();
        for (int n = 0; n < kTweakCount; ++n)
            tweaks_->SetTicked(n, true);
        auto backup = BeginPartialBackup(fixture_->Environment(), u"Quillary");
        EXPECT_EQ(tweaks_->ApplyTickedTweaks(*backup), honoured == kAllTweaks ? 0 : 4);
        EXPECT_TRUE(EndPartialBackup(*backup));
        if (honoured == kAllTweaks) {
            EXPECT_EQ(fixture_->RegistryText(), before);
        }
        // The tweak the system does not read is never written.
        EXPECT_EQ(testing::KeyExists(fixture_->Registry(), HKeyLocalMachine, kTweaks[1].subKey),
                  honoured == kAllTweaks);
    }
}

}  // namespace
}  // namespace quillary
