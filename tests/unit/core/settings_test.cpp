// The settings store against the in-memory registry and a platform library that only keeps
// the last scan's problem count.

#include "core/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

using testing::FakePlatformQueries;
using testing::KeyExists;
using testing::MakeRegistry;
using testing::ValueBytes;

constexpr std::u16string_view kSelectionKeyPath = u"Software\\Kestrow\\ORV\\Settings";

std::optional<RegType> StoredType(IRegistry& registry, std::u16string_view name) {
    HKey key = HKey::None;
    if (registry.RegOpenKeyExW(HKeyCurrentUser, kSettingsKeyPath, 0, kMaskReadOnly, &key) !=
        ErrorSuccess) {
        return std::nullopt;
    }
    RegType type = RegNone;
    const bool found =
        registry.RegQueryValueExW(key, name, &type, nullptr, nullptr) == ErrorSuccess;
    registry.RegCloseKey(key);
    return found ? std::optional<RegType>(type) : std::nullopt;
}

std::vector<std::u16string> StoredValueNames(IRegistry& registry, std::u16string_view path) {
    std::vector<std::u16string> names;
    RegKey key(registry);
    if (key.Open(HKeyCurrentUser, path, kMaskReadOnly) == ErrorSuccess) {
        ListValueNames(registry, key.Handle(), names);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every value with something other than its default.
SettingsValues ChangedValues() {
    SettingsValues values;
    values.StartWhenWinBoots = 0;
    values.SetChkREmovableMedia = 0;
    values.SetChkSkipEmptyKeys = 0;
    values.ImprovementProgram = 0;
    values.ConfirmBkUps = 0;
    values.StartScan = 1;
    values.StartMinimized = 1;
    values.AutoRepair = 1;
    values.StrLastScan = u"Tue. March 04, 2025. 09:15 AM";
    values.StrLastOptimizeTime = u"optimized";
    values.StrLatestRegDefrag = u"defragmented";
    values.StrLatestRestorePoint = u"restore point";
    values.StrLastStartupOpt = u"startup";
    values.RegErrFoundTillDate = 0x01020304;
    values.RegErrsFixedTillDate = 1234;
    values.RegErrsFixedLast = 56;
    values.ScheduledTime = u"Every Monday at 10:00";
    values.SelectedCategories = 0x0FFF;
    values.LastScanProblemCount = u"17";
    values.PreferSafetyOverCount = false;
    return values;
}

// --- LoadSettings / SaveSettings -------------------------------------------------------------

TEST(SettingsTest, LoadWithoutTheKeyYieldsTheDefaultsAndCreatesTheEmptyKey) {
    CMemoryRegistry registry;
    FakePlatformQueries platform;
    CSettings settings(registry, platform);

    ASSERT_TRUE(settings.LoadSettings());

    const SettingsValues& values = settings.Values();
    for (std::uint32_t on :
         {values.StartWhenWinBoots, values.SetChkREmovableMedia, values.SetChkSkipEmptyKeys,
          values.ImprovementProgram, values.ConfirmBkUps}) {
        EXPECT_EQ(on, 1u);
    }
    for (std::uint32_t off :
         {values.StartScan, values.StartMinimized, values.AutoRepair, values.RegErrFoundTillDate,
          values.RegErrsFixedTillDate, values.RegErrsFixedLast}) {
        EXPECT_EQ(off, 0u);
    }
    for (const std::u16string* text :
         {&values.StrLastScan, &values.StrLastOptimizeTime, &values.StrLatestRegDefrag,
          &values.StrLatestRestorePoint, &values.StrLastStartupOpt, &values.ScheduledTime}) {
        EXPECT_TRUE(text->empty());
    }
    EXPECT_EQ(values.SelectedCategories, 0x7FFFu);
    EXPECT_TRUE(values.PreferSafetyOverCount);
    EXPECT_EQ(values.LastScanProblemCount, u"0");

    EXPECT_TRUE(KeyExists(registry, HKeyCurrentUser, kSettingsKeyPath));
    EXPECT_TRUE(StoredValueNames(registry, kSettingsKeyPath).empty());
    EXPECT_FALSE(KeyExists(registry, HKeyCurrentUser, kSelectionKeyPath));
}

TEST(SettingsTest, EveryValueRoundTripsThroughTheStore) {
    CMemoryRegistry registry;
    FakePlatformQueries platform;
    CSettings saved(registry, platform);
    saved.Values() = ChangedValues();

    ASSERT_TRUE(saved.SaveSettings());

    // The names exactly as other parts and earlier runs know them.
    std::vector<std::u16string> expectedNames = {
        u"StartWhenWinBoots",   u"SetChkREmovableMedia", u"SetChkSkipEmptyKeys",
        u"ImprovementProgram",  u"ConfirmBkUps",         u"StartScan",
        u"StartMinimized",      u"AutoRepair",           u"StrLastScan",
        u"StrLastOptimizeTime", u"StrLatestRegDefrag",   u"StrLatestRestorePoint",
        u"StrLastStartupOpt",   u"RegErrFoundTillDate",  u"RegErrsFixedTillDate",
        u"RegErrsFixedLast",    u"ScheduledTime",
    };
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(StoredValueNames(registry, kSettingsKeyPath), expectedNames);

    EXPECT_EQ(StoredType(registry, u"RegErrFoundTillDate"), RegDword);
    EXPECT_EQ(ValueBytes(registry, HKeyCurrentUser, kSettingsKeyPath, u"RegErrFoundTillDate"),
              std::vector<std::uint8_t>({0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(StoredType(registry, u"StrLastOptimizeTime"), RegSz);
    const std::u16string_view text = u"optimized";
    std::vector<std::uint8_t> textBytes;
    for (char16_t ch : text) {
        textBytes.push_back(static_cast<std::uint8_t>(ch));
        textBytes.push_back(0);
    }
    textBytes.insert(textBytes.end(), {0, 0});
    EXPECT_EQ(ValueBytes(registry, HKeyCurrentUser, kSettingsKeyPath, u"StrLastOptimizeTime"),
              textBytes);
    EXPECT_EQ(ValueBytes(registry, HKeyCurrentUser, kSelectionKeyPath, u"SelectedCategories"),
              std::vector<std::uint8_t>({0xFF, 0x0F, 0, 0}));

    CSettings loaded(registry, platform);
    ASSERT_TRUE(loaded.LoadSettings());
    // The safety option is never stored: every start has it on.
    EXPECT_TRUE(loaded.Values().PreferSafetyOverCount);
    loaded.Values().PreferSafetyOverCount = false;
    EXPECT_EQ(loaded.Values(), ChangedValues());
}

TEST(SettingsTest, LoadKeepsTheCurrentContentsOfMistypedValues) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        "SetChkSkipEmptyKeys"="0"
        "StrLastScan"=dword:00000001
        "RegErrFoundTillDate"=dword:00000005
        "StrLatestRegDefrag"=str(2):"expandable"
        [HKEY_CURRENT_USER\Software\Kestrow\ORV\Settings]
        "SelectedCategories"="3"
    )");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);
    settings.Values().SetChkSkipEmptyKeys = 7;
    settings.Values().StrLastScan = u"current";
    settings.Values().SelectedCategories = 0x21;

    ASSERT_TRUE(settings.LoadSettings());

    EXPECT_EQ(settings.Values().SetChkSkipEmptyKeys, 7u);
    EXPECT_EQ(settings.Values().StrLastScan, u"current");
    EXPECT_EQ(settings.Values().SelectedCategories, 0x21u);
    EXPECT_EQ(settings.Values().RegErrFoundTillDate, 5u);
    EXPECT_EQ(settings.Values().StrLatestRegDefrag, u"expandable");
}

TEST(SettingsTest, SaveReplacesAMistypedValueWithItsOwnType) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        "StrLastScan"=dword:00000001
        "RegErrsFixedLast"="12"
    )");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);
    ASSERT_TRUE(settings.LoadSettings());
    EXPECT_TRUE(settings.Values().StrLastScan.empty());
    EXPECT_EQ(settings.Values().RegErrsFixedLast, 0u);

    ASSERT_TRUE(settings.SaveSettings());

    EXPECT_EQ(StoredType(*registry, u"StrLastScan"), RegSz);
    EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, kSettingsKeyPath, u"StrLastScan"),
              std::vector<std::uint8_t>({0, 0}));
    EXPECT_EQ(StoredType(*registry, u"RegErrsFixedLast"), RegDword);
}

TEST(SettingsTest, TheLastScanCountGoesToAndFromThePlatformLibrary) {
    CMemoryRegistry registry;
    FakePlatformQueries platform;
    platform.storedCount = 42;
    CSettings settings(registry, platform);
    ASSERT_TRUE(settings.LoadSettings());
    EXPECT_EQ(settings.Values().LastScanProblemCount, u"42");

    struct Case {
        std::u16string_view text;
        std::optional<int> handedOver;
    } cases[] = {
        {u"17", 17},
        {u"0", 0},
        {u"-3", -3},
        // Not a count: the library keeps the one it has.
        {u"", std::nullopt},
        {u"12 problems", std::nullopt},
        {u"99999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        platform.storedCount.reset();
        settings.Values().LastScanProblemCount = std::u16string(c.text);
        EXPECT_TRUE(settings.SaveSettings());
        EXPECT_EQ(platform.storedCount, c.handedOver);
    }
}

TEST(SettingsTest, AKeyThatCannotBeOpenedKeepsTheDefaultsAndFailsTheSave) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        #deny=all
        "SetChkSkipEmptyKeys"=dword:00000000
        "StrLastScan"="unreadable"
    )");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);

    EXPECT_FALSE(settings.LoadSettings());
    EXPECT_EQ(settings.Values().SetChkSkipEmptyKeys, 1u);
    EXPECT_TRUE(settings.Values().StrLastScan.empty());

    settings.Values().StrLastScan = u"changed";
    EXPECT_FALSE(settings.SaveSettings());
    registry->SetAccessDenial(HKeyCurrentUser, kSettingsKeyPath, AccessDenial::None);
    EXPECT_EQ(StoredType(*registry, u"SetChkSkipEmptyKeys"), RegDword);
    EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, kSettingsKeyPath, u"SetChkSkipEmptyKeys"),
              std::vector<std::uint8_t>({0, 0, 0, 0}));
}

TEST(SettingsTest, AReadOnlyKeyIsLoadedButNotSaved) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        #deny=write
        "SetChkSkipEmptyKeys"=dword:00000000
        "StrLastScan"="Mon. March 03, 2025. 08:00 AM"
    )");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);

    EXPECT_TRUE(settings.LoadSettings());
    EXPECT_EQ(settings.Values().SetChkSkipEmptyKeys, 0u);
    EXPECT_EQ(settings.Values().StrLastScan, u"Mon. March 03, 2025. 08:00 AM");

    settings.Values().StrLastScan = u"changed";
    EXPECT_FALSE(settings.SaveSettings());
    EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, kSettingsKeyPath, u"StrLastScan")->size(),
              std::u16string_view(u"Mon. March 03, 2025. 08:00 AM").size() * 2 + 2);
}

// --- profile values --------------------------------------------------------------------------

TEST(SettingsProfileTest, GetProfileIntFallsBackToTheDefault) {
    struct Case {
        const char* name;
        const char* registryText;
        std::u16string_view section;
        std::uint32_t expected;
    } cases[] = {
        {"no settings key", "", u"Settings", 0x7FFF},
        {"no section key", R"([HKEY_CURRENT_USER\Software\Kestrow\ORV])", u"Settings", 0x7FFF},
        {"stored",
         R"([HKEY_CURRENT_USER\Software\Kestrow\ORV\Settings]
            "SelectedCategories"=dword:00000005)",
         u"Settings", 5},
        {"stored as text",
         R"([HKEY_CURRENT_USER\Software\Kestrow\ORV\Settings]
            "SelectedCategories"="5")",
         u"Settings", 0x7FFF},
        {"empty section reads the settings key",
         R"([HKEY_CURRENT_USER\Software\Kestrow\ORV]
            "SelectedCategories"=dword:00000009)",
         u"", 9},
        {"unreadable section key",
         R"([HKEY_CURRENT_USER\Software\Kestrow\ORV\Settings]
            #deny=all
            "SelectedCategories"=dword:00000005)",
         u"Settings", 0x7FFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto registry = MakeRegistry(c.registryText);
        FakePlatformQueries platform;
        CSettings settings(*registry, platform);
        EXPECT_EQ(settings.GetProfileInt(c.section, u"SelectedCategories", 0x7FFF), c.expected);
    }
}

TEST(SettingsProfileTest, GetProfileIntNeverCreatesTheSection) {
    auto registry = MakeRegistry(R"([HKEY_CURRENT_USER\Software\Kestrow\ORV])");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);
    EXPECT_EQ(settings.GetProfileInt(u"Settings", u"SelectedCategories", 0x7FFF), 0x7FFFu);
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, kSelectionKeyPath));
}

TEST(SettingsProfileTest, SetProfileIntCreatesTheSectionAndStoresADword) {
    CMemoryRegistry registry;
    FakePlatformQueries platform;
    CSettings settings(registry, platform);

    ASSERT_TRUE(settings.SetProfileInt(u"Settings", u"SelectedCategories", 0x6FFF));

    EXPECT_EQ(ValueBytes(registry, HKeyCurrentUser, kSelectionKeyPath, u"SelectedCategories"),
              std::vector<std::uint8_t>({0xFF, 0x6F, 0, 0}));
    EXPECT_EQ(settings.GetProfileInt(u"Settings", u"SelectedCategories", 0x7FFF), 0x6FFFu);
    // Loading takes the stored selection, so the next save keeps it.
    ASSERT_TRUE(settings.LoadSettings());
    EXPECT_EQ(settings.Values().SelectedCategories, 0x6FFFu);
}

TEST(SettingsProfileTest, SetProfileIntFailsOnADeniedSection) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV\Settings]
        #deny=write
        "SelectedCategories"=dword:00000005
    )");
    FakePlatformQueries platform;
    CSettings settings(*registry, platform);

    EXPECT_FALSE(settings.SetProfileInt(u"Settings", u"SelectedCategories", 0x6FFF));
    EXPECT_EQ(settings.GetProfileInt(u"Settings", u"SelectedCategories", 0x7FFF), 5u);
}

}  // namespace
}  // namespace quillary
