#pragma once

// The registry tweaks: five performance settings of the Windows kernel, each one value under
// HKEY_LOCAL_MACHINE with one recommended value. The program tests which are applied, counts
// those still to apply, keeps the user's ticks, and applies the ticked ones at the end of a
// finished cleaning run, each old value first saved in the run's partial backup so that the
// run's undo puts it back (or removes a value that did not exist).
//
// Only the tweaks the target's system reads count (RegistryTarget::honouredTweaks): a Wine
// prefix reads none of these settings, so there none is ever to apply, ticked or applied.

#include <array>
#include <cstdint>
#include <string_view>

#include "core/registry_access.h"
#include "core/settings.h"
#include "repair/backup.h"

namespace quillary {

inline constexpr int kTweakCount = 5;

struct TweakRow {
    std::u16string_view nameId;  // language texts
    std::u16string_view descriptionId;
    std::u16string_view subKey;  // under HKEY_LOCAL_MACHINE
    std::u16string_view valueName;
    // Tweaks 0-3 are REG_DWORD values; the last one is the text "Y".
    bool isText = false;
    std::uint32_t recommended = 0;  // the DWORD written
};

// In the order of the tweaks view's rows, the tick flags and their application.
extern const std::array<TweakRow, kTweakCount> kTweaks;

class CRegistryTweaks {
public:
    // The settings store receives RegTweaksFound.
    CRegistryTweaks(const RegistryTarget& target, CSettings& settings);

    // Whether the target's system reads tweak n at all.
    bool IsHonoured(int n) const;
    // Whether tweak n's value is at its recommended value. A key or value that is missing or
    // unreadable, or a value of another type, counts as not applied.
    bool IsTweakApplied(int n) const;
    // Saves the old value (or, when it or its key is missing, what removes them again) in
    // backup's export text, then writes the recommended value. False when nothing was
    // written: the copy could not be made, or the key could not be created or written.
    bool ApplyTweak(int n, CBackup& backup) const;
    // Applies every ticked tweak that the target honours and that is not yet applied, in
    // order, into the backup of a cleaning run that is still open. The number applied.
    int ApplyTickedTweaks(CBackup& backup);
    // The number of honoured tweaks not yet applied, stored as RegTweaksFound. Resets the
    // ticks first when a reset was requested.
    int CountTweaksToApply();

    // The next count (or the tweaks view) ticks exactly the tweaks still to apply.
    void RequestTickReset() { tickReset_ = true; }
    // Applies a pending tick reset now, as the tweaks view does before it fills its rows.
    void ResetTicksIfRequested();
    bool IsTicked(int n) const { return ticks_[static_cast<std::size_t>(n)] != 0; }
    void SetTicked(int n, bool ticked) { ticks_[static_cast<std::size_t>(n)] = ticked ? 1 : 0; }
    // The number of ticked tweaks, which the cleaning page counts when no problem is ticked.
    int CountTicked() const;

private:
    const RegistryTarget& target_;
    CSettings& settings_;
    std::array<std::uint32_t, kTweakCount> ticks_{};
    bool tickReset_ = true;
};

}  // namespace quillary
