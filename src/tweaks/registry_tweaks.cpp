#include "tweaks/registry_tweaks.h"

#include "core/text_case.h"

namespace quillary {

const std::array<TweakRow, kTweakCount> kTweaks = {{
    {u"IDS_TWEAK_IMPROVE_NTFS", u"IDS_TWEAK_IMPROVE_NTFS_DESC",
     u"SYSTEM\\CurrentControlSet\\Control\\Filesystem", u"NtfsDisableLastAccessUpdate", false, 1},
    {u"IDS_TWEAK_IMPROVE_cORE_KERNAL", u"IDS_TWEAK_IMPROVE_cORE_KERNAL_DESC",
     u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
     u"DisablePagingExecutive", false, 1},
    {u"IDS_TWEAK_INC_CPUPRIORITY", u"IDS_TWEAK_INC_CPUPRIORITY_DESC",
     u"System\\CurrentControlSet\\Control\\PriorityControl", u"Win32PrioritySeparation", false, 24},
    {u"IDS_TWEAK_INC_CRITICAL_THREADS", u"IDS_TWEAK_INC_CRITICAL_THREADS_DESC",
     u"System\\CurrentControlSet\\Control\\Session Manager\\Executive",
     u"AdditionalCriticalWorkerThreads", false, 4},
    {u"IDS_TWEAK_SPEEDUP_WINSTARTUP", u"IDS_TWEAK_SPEEDUP_WINSTARTUP_DESC",
     u"SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction", u"Enable", true, 0},
}};

namespace {

constexpr std::u16string_view kRecommendedText = u"Y";
// The priority separation counts as applied only at exactly this value; the others at any
// value but 0.
constexpr int kPriorityTweak = 2;

}  // namespace

CRegistryTweaks::CRegistryTweaks(const RegistryTarget& target, CSettings& settings)
    : target_(target), settings_(settings) {}

bool CRegistryTweaks::IsHonoured(int n) const {
    return (target_.honouredTweaks >> n & 1u) != 0;
}

bool CRegistryTweaks::IsTweakApplied(int n) const {
    const TweakRow& tweak = kTweaks[static_cast<std::size_t>(n)];
    ConfigKey key(*target_.store, HKeyLocalMachine);
    key.SetAccessMask(kMaskReadOnly | ViewMask(target_, false));
    if (!key.Open(HKeyLocalMachine, tweak.subKey, false))
        return false;
    if (tweak.isText) {
        std::u16string text;
        return key.ReadString(tweak.valueName, text) && EqualsNoCase(text, kRecommendedText);
    }
    std::uint32_t value = 0;
    (void)key.ReadDword(tweak.valueName, value);  // missing or of another type: 0
    return n == kPriorityTweak ? value == tweak.recommended : value != 0;
}

bool CRegistryTweaks::ApplyTweak(int n, CBackup& backup) const {
    const TweakRow& tweak = kTweaks[static_cast<std::size_t>(n)];
    RecordValue value{
        std::u16string(tweak.valueName), RecordValueKind::Dword, {}, tweak.recommended};
    if (tweak.isText) {
        value.kind = RecordValueKind::Text;
        value.text = kRecommendedText;
    }
    const RegistryView view = target_.is64Bit ? RegistryView::Bits64 : RegistryView::Bits32;
    return backup.AddOperation(
        SetValueRecord{HKeyLocalMachine, std::u16string(tweak.subKey), std::move(value), view});
}

int CRegistryTweaks::ApplyTickedTweaks(CBackup& backup) {
    int applied = 0;
    for (int n = 0; n < kTweakCount; ++n) {
        if (IsTicked(n) && IsHonoured(n) && !IsTweakApplied(n) && ApplyTweak(n, backup))
            ++applied;
    }
    return applied;
}

void CRegistryTweaks::ResetTicksIfRequested() {
    if (!tickReset_)
        return;
    tickReset_ = false;
    for (int n = 0; n < kTweakCount; ++n)
        SetTicked(n, IsHonoured(n) && !IsTweakApplied(n));
}

int CRegistryTweaks::CountTweaksToApply() {
    ResetTicksIfRequested();
    int count = 0;
    for (int n = 0; n < kTweakCount; ++n) {
        if (IsHonoured(n) && !IsTweakApplied(n))
            ++count;
    }
    (void)settings_.SetProfileInt(u"", u"RegTweaksFound", static_cast<std::uint32_t>(count));
    return count;
}

int CRegistryTweaks::CountTicked() const {
    int count = 0;
    for (int n = 0; n < kTweakCount; ++n)
        count += IsTicked(n) ? 1 : 0;
    return count;
}

}  // namespace quillary
