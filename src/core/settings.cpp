#include "core/settings.h"

#include <array>
#include <charconv>
#include <optional>
#include <variant>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "core/text_format.h"

namespace quillary {
namespace {

// One main value: its name under the settings key and the field that holds it. The field's
// type decides the registry type (REG_DWORD or REG_SZ).
template <typename T>
struct StoredValue {
    std::u16string_view name;
    T SettingsValues::*field;
};

using StoredSetting = std::variant<StoredValue<std::uint32_t>, StoredValue<std::u16string>>;

// Every main value, in the order they are written. Loading and saving both walk this table.
constexpr std::array<StoredSetting, 17> kStoredSettings = {{
    StoredValue<std::uint32_t>{u"StartWhenWinBoots", &SettingsValues::StartWhenWinBoots},
    StoredValue<std::uint32_t>{u"SetChkREmovableMedia", &SettingsValues::SetChkREmovableMedia},
    StoredValue<std::uint32_t>{u"SetChkSkipEmptyKeys", &SettingsValues::SetChkSkipEmptyKeys},
    StoredValue<std::uint32_t>{u"ImprovementProgram", &SettingsValues::ImprovementProgram},
    StoredValue<std::uint32_t>{u"ConfirmBkUps", &SettingsValues::ConfirmBkUps},
    StoredValue<std::uint32_t>{u"StartScan", &SettingsValues::StartScan},
    StoredValue<std::uint32_t>{u"StartMinimized", &SettingsValues::StartMinimized},
    StoredValue<std::uint32_t>{u"AutoRepair", &SettingsValues::AutoRepair},
    StoredValue<std::u16string>{u"StrLastScan", &SettingsValues::StrLastScan},
    StoredValue<std::u16string>{u"StrLastOptimizeTime", &SettingsValues::StrLastOptimizeTime},
    StoredValue<std::u16string>{u"StrLatestRegDefrag", &SettingsValues::StrLatestRegDefrag},
    StoredValue<std::u16string>{u"StrLatestRestorePoint", &SettingsValues::StrLatestRestorePoint},
    StoredValue<std::u16string>{u"StrLastStartupOpt", &SettingsValues::StrLastStartupOpt},
    StoredValue<std::uint32_t>{u"RegErrFoundTillDate", &SettingsValues::RegErrFoundTillDate},
    StoredValue<std::uint32_t>{u"RegErrsFixedTillDate", &SettingsValues::RegErrsFixedTillDate},
    StoredValue<std::uint32_t>{u"RegErrsFixedLast", &SettingsValues::RegErrsFixedLast},
    StoredValue<std::u16string>{u"ScheduledTime", &SettingsValues::ScheduledTime},
}};

// Both readers leave the value untouched when it is absent or of another type.
void ReadStored(ConfigKey& key, std::u16string_view name, std::uint32_t& value) {
    key.ReadDword(name, value);
}
void ReadStored(ConfigKey& key, std::u16string_view name, std::u16string& value) {
    key.ReadString(name, value);
}

bool WriteStored(ConfigKey& key, std::u16string_view name, std::uint32_t value) {
    return key.WriteDword(name, value);
}
// As REG_SZ with its terminating null.
bool WriteStored(ConfigKey& key, std::u16string_view name, const std::u16string& value) {
    return key.WriteString(name, value);
}

std::u16string ProfileKeyPath(std::u16string_view section) {
    std::u16string path(kSettingsKeyPath);
    if (!section.empty()) {
        path += u'\\';
        path += section;
    }
    return path;
}

// The number a text made with "%d" holds; nullopt for any other text.
std::optional<int> ParseCount(std::u16string_view text) {
    const std::string narrow = Utf16ToUtf8(text);
    int count = 0;
    const char* end = narrow.data() + narrow.size();
    const auto [stop, error] = std::from_chars(narrow.data(), end, count);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return count;
}

}  // namespace

CSettings::CSettings(IRegistry& configStore, IPlatformQueries& platform)
    : configStore_(configStore), platform_(platform) {}

bool CSettings::LoadSettings() {
    values_.SelectedCategories =
        GetProfileInt(kSelectionSection, kSelectionValueName, values_.SelectedCategories);
    values_.LastScanProblemCount = Format(u"%d", platform_.LastScanProblemCount());
    return LoadMainValues();
}

bool CSettings::LoadMainValues() {
    ConfigKey key(configStore_, HKeyCurrentUser);
    if (!key.Open(HKeyCurrentUser, kSettingsKeyPath, true)) {
        // A key the user may read but not write still holds the user's choices.
        key.SetAccessMask(kMaskReadOnly);
        if (!key.Open(HKeyCurrentUser, kSettingsKeyPath, false)) {
            return false;
        }
    }
    for (const StoredSetting& setting : kStoredSettings) {
        std::visit([&](const auto& stored) { ReadStored(key, stored.name, values_.*stored.field); },
                   setting);
    }
    return true;
}

bool CSettings::SaveSettings() {
    const bool selectionSaved =
        SetProfileInt(kSelectionSection, kSelectionValueName, values_.SelectedCategories);
    const bool valuesSaved = SaveMainValues();
    // A text that is not a number leaves the library's count as it is.
    if (const std::optional<int> count = ParseCount(values_.LastScanProblemCount)) {
        platform_.StoreLastScanProblemCount(*count);
    }
    return selectionSaved && valuesSaved;
}

bool CSettings::SaveMainValues() {
    ConfigKey key(configStore_, HKeyCurrentUser);
    if (!key.Open(HKeyCurrentUser, kSettingsKeyPath, true)) {
        return false;
    }
    bool allWritten = true;
    for (const StoredSetting& setting : kStoredSettings) {
        // Every value is attempted, so one refused write does not lose the others.
        allWritten &= std::visit(
            [&](const auto& stored) {
                return WriteStored(key, stored.name, values_.*stored.field);
            },
            setting);
    }
    return allWritten;
}

std::uint32_t CSettings::GetProfileInt(std::u16string_view section, std::u16string_view name,
                                       std::uint32_t defaultValue) {
    ConfigKey key(configStore_, HKeyCurrentUser);
    key.SetAccessMask(kMaskReadOnly);
    std::uint32_t value = defaultValue;
    if (key.Open(HKeyCurrentUser, ProfileKeyPath(section), false)) {
        key.ReadDword(name, value);
    }
    return value;
}

bool CSettings::SetProfileInt(std::u16string_view section, std::u16string_view name,
                              std::uint32_t value) {
    ConfigKey key(configStore_, HKeyCurrentUser);
    key.SetAccessMask(KeyWrite);
    return key.Open(HKeyCurrentUser, ProfileKeyPath(section), true) && key.WriteDword(name, value);
}

}  // namespace quillary
