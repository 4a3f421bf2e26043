#pragma once

// The program's options, counters and dates of its last actions, kept as values under one key
// of the current user in the program's own registry. The main values are held here, loaded at
// start-up and written back as a whole; a second family ("profile values") is read and written
// one at a time in sub-keys ("sections") of the same key.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform_queries.h"
#include "platform/registry.h"

namespace quillary {

// The settings key under HKEY_CURRENT_USER; other parts of the program keep values of their
// own in it too.
inline constexpr std::u16string_view kSettingsKeyPath = u"Software\\Kestrow\\ORV";

// Where the category selection of a scan is kept: a profile value, bit 2^i for category i and
// 0x4000 for the registry tweaks row.
inline constexpr std::u16string_view kSelectionSection = u"Settings";
inline constexpr std::u16string_view kSelectionValueName = u"SelectedCategories";
inline constexpr std::uint32_t kDefaultCategorySelection = 0x7FFF;

// The settings as the rest of the program uses them, with their defaults. The fields carry the
// names of their registry values.
struct SettingsValues {
    // Stored under the settings key.
    std::uint32_t StartWhenWinBoots = 1;
    // 1: file references on drives other than fixed disks are not judged.
    std::uint32_t SetChkREmovableMedia = 1;
    // 1: the empty-key search and the scanners' empty-key checks are skipped.
    std::uint32_t SetChkSkipEmptyKeys = 1;
    std::uint32_t ImprovementProgram = 1;
    std::uint32_t ConfirmBkUps = 1;
    std::uint32_t StartScan = 0;
    std::uint32_t StartMinimized = 0;
    std::uint32_t AutoRepair = 0;
    std::u16string StrLastScan;
    std::u16string StrLastOptimizeTime;
    std::u16string StrLatestRegDefrag;
    std::u16string StrLatestRestorePoint;
    std::u16string StrLastStartupOpt;
    std::uint32_t RegErrFoundTillDate = 0;
    std::uint32_t RegErrsFixedTillDate = 0;
    std::uint32_t RegErrsFixedLast = 0;
    std::u16string ScheduledTime;

    // Stored as the profile value Settings\SelectedCategories. It mirrors the stored value
    // after loading, so a save made before the settings page changes it keeps the user's
    // choice; the settings page sets it to its ticked rows.
    std::uint32_t SelectedCategories = kDefaultCategorySelection;

    // Kept across runs by the platform library; the number formatted with "%d".
    std::u16string LastScanProblemCount;

    // Never stored: governs the system-protection tests, the built-in rules and the safety
    // list. On at every start.
    bool PreferSafetyOverCount = true;

    bool operator==(const SettingsValues&) const = default;
};

class CSettings {
public:
    // Starts with the defaults of every value.
    CSettings(IRegistry& configStore, IPlatformQueries& platform);

    SettingsValues& Values() { return values_; }
    const SettingsValues& Values() const { return values_; }

    // Reads every main value that is stored with its type, the category selection and the last
    // scan's problem count; an absent or mistyped value keeps its current contents. Creates
    // the settings key when it is missing and reads it read-only when it may not be written.
    // False when the key could not be opened: the values then stay as they were.
    bool LoadSettings();

    // Stores the category selection, writes every main value and hands the last scan's problem
    // count back to the platform library. False when anything could not be written; what
    // could be written is written.
    [[nodiscard]] bool SaveSettings();

    // The REG_DWORD value name of the section (the settings key itself for an empty section),
    // or defaultValue when the key or the value is missing or the value is not a REG_DWORD.
    // Never creates a key.
    std::uint32_t GetProfileInt(std::u16string_view section, std::u16string_view name,
                                std::uint32_t defaultValue);
    // Writes value as a REG_DWORD, creating the section's key when it is missing.
    [[nodiscard]] bool SetProfileInt(std::u16string_view section, std::u16string_view name,
                                     std::uint32_t value);

private:
    bool LoadMainValues();
    bool SaveMainValues();

    IRegistry& configStore_;
    IPlatformQueries& platform_;
    SettingsValues values_;
};

}  // namespace quillary
