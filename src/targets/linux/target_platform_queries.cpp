#include "targets/linux/target_platform_queries.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <utility>

#include "core/bytes.h"
#include "core/registry_access.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

// --- the config store ------------------------------------------------------------------------

constexpr std::u16string_view kLanguageKey = u"Software\\Kestrow\\ORV\\LANG";
constexpr std::u16string_view kLanguageValue = u"LangID";
constexpr std::uint32_t kLanguageCount = 14;

// What this backend remembers between runs, apart from the settings other parts own.
constexpr std::u16string_view kPlatformKey = u"Software\\Kestrow\\ORV\\Platform";
constexpr std::u16string_view kFirstRunValue = u"FirstRunSeen";
constexpr std::u16string_view kStartScanValue = u"StartScanRequested";
constexpr std::u16string_view kLastScanProblemsValue = u"LastScanProblems";

// The DWORD values of one key of HKEY_CURRENT_USER in the config store.
class CUserDwords {
public:
    CUserDwords(IRegistry& store, std::u16string_view keyPath) : store_(store), keyPath_(keyPath) {}

    // nullopt when the key or the value is missing or the value is not a REG_DWORD.
    std::optional<std::uint32_t> Read(std::u16string_view name) const {
        ConfigKey key(store_, HKeyCurrentUser);
        key.SetAccessMask(kMaskReadOnly);
        std::uint32_t value = 0;
        if (!key.Open(HKeyCurrentUser, keyPath_, false) || !key.ReadDword(name, value)) {
            return std::nullopt;
        }
        return value;
    }

    // Creates the key when it is missing.
    void Write(std::u16string_view name, std::uint32_t value) {
        ConfigKey key(store_, HKeyCurrentUser);
        if (key.Open(HKeyCurrentUser, keyPath_, true)) {
            key.WriteDword(name, value);
        }
    }

    // Never creates the key.
    void Delete(std::u16string_view name) {
        ConfigKey key(store_, HKeyCurrentUser);
        if (key.Open(HKeyCurrentUser, keyPath_, false)) {
            key.DeleteValue(name);
        }
    }

private:
    IRegistry& store_;
    std::u16string_view keyPath_;
};

// --- the target ------------------------------------------------------------------------------

constexpr std::u16string_view kEnvironmentKey =
    u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::u16string_view kWindowsNtKey = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kWow6432NodeKey = u"Software\\Wow6432Node";

// The target's HKEY_LOCAL_MACHINE as its own programs see it: the 64-bit view on a 64-bit
// system, no view on a 32-bit one.
class CMachineValues {
public:
    CMachineValues(IRegistry& store, bool is64Bit) : target_{&store, is64Bit, {}} {}

    // The trimmed text of a REG_SZ or REG_EXPAND_SZ value; empty when there is none.
    std::u16string ReadText(std::u16string_view subKey, std::u16string_view name) const {
        std::u16string text;
        if (target_.is64Bit) {
            ReadValueText64(target_, HKeyLocalMachine, subKey, name, text);
        } else {
            ReadValueText(target_, HKeyLocalMachine, subKey, name, text);
        }
        return text;
    }

    // nullopt when the key or the value is missing or the value is not a 4-byte REG_DWORD.
    std::optional<std::uint32_t> ReadDword(std::u16string_view subKey,
                                           std::u16string_view name) const {
        RegKey key(*target_.store);
        if (key.Open(HKeyLocalMachine, subKey, kMaskReadOnly | View()) != ErrorSuccess) {
            return std::nullopt;
        }
        RegType type = RegNone;
        std::array<std::uint8_t, 4> data{};
        std::uint32_t size = data.size();
        if (key.Store().RegQueryValueExW(key.Handle(), name, &type, data.data(), &size) !=
                ErrorSuccess ||
            type != RegDword || size != data.size()) {
            return std::nullopt;
        }
        return ReadUInt32Le(data);
    }

    bool HasKey(std::u16string_view subKey) const {
        RegKey key(*target_.store);
        return key.Open(HKeyLocalMachine, subKey, kMaskReadOnly | View()) == ErrorSuccess;
    }

private:
    RegSam View() const { return ViewMask(target_, false); }

    RegistryTarget target_;
};

// The bitness PROCESSOR_ARCHITECTURE names; nullopt for a name it does not know.
std::optional<bool> Is64BitArchitecture(std::u16string_view name) {
    for (std::u16string_view wide : {u"AMD64", u"IA64", u"ARM64"}) {
        if (EqualsNoCase(name, wide)) {
            return true;
        }
    }
    for (std::u16string_view narrow : {u"x86", u"ARM"}) {
        if (EqualsNoCase(name, narrow)) {
            return false;
        }
    }
    return std::nullopt;
}

// A version part: one to four decimal digits, nothing else.
std::optional<int> ParseVersionPart(std::u16string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    int value = 0;
    for (char16_t ch : text) {
        if (ch < u'0' || ch > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (ch - u'0');
    }
    return value;
}

// --- files -----------------------------------------------------------------------------------

// The UTF-8 form of a path, or nullopt when the file system could not hold it exactly: it is
// empty, holds a NUL (which would cut it short) or a lone surrogate (which would become
// U+FFFD and so name another file).
std::optional<std::string> ExactUtf8(std::u16string_view text) {
    if (text.empty() || text.find(u'\0') != std::u16string_view::npos) {
        return std::nullopt;
    }
    std::string utf8 = Utf16ToUtf8(text);
    if (Utf8ToUtf16(utf8) != text) {
        return std::nullopt;
    }
    return utf8;
}

// The UTF-16 form of a native path, or nullopt when its bytes are not UTF-8.
std::optional<std::u16string> ExactUtf16(std::string_view native) {
    std::u16string text = Utf8ToUtf16(native);
    if (Utf16ToUtf8(text) != native) {
        return std::nullopt;
    }
    return text;
}

// True when the target id names one folder inside the program's folder and nothing else.
bool IsPlainFolderName(std::u16string_view id) {
    constexpr std::u16string_view kSeparators(u"/\\", 2);
    return id != u"." && id != u".." &&
           id.find_first_of(kSeparators) == std::u16string_view::npos && ExactUtf8(id).has_value();
}

std::filesystem::path AbsolutePathIn(const EnvironmentLookup& environment, const char* name) {
    const std::optional<std::string> value = environment(name);
    if (!value || value->empty()) {
        return {};
    }
    std::filesystem::path path(*value);
    return path.is_absolute() ? path : std::filesystem::path();
}

// --- the interface ---------------------------------------------------------------------------

constexpr std::int32_t kInterfaceFontHeight = -12;
constexpr std::int32_t kInterfaceFontWeight = 400;
constexpr std::u16string_view kInterfaceFontFace = u"Sans Serif";
// The average advance of a proportional sans-serif face, as a share of its character height.
constexpr double kCharacterWidthPerHeight = 0.55;

constexpr std::u16string_view kUserGuideAddress = u"file:///usr/share/doc/quillary/README.md";

bool IsHighSurrogate(char16_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(char16_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

// Characters as a reader counts them: a surrogate pair is one.
std::size_t CountCharacters(std::u16string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(IsLowSurrogate(text[i]) && i > 0 && IsHighSurrogate(text[i - 1]))) {
            ++count;
        }
    }
    return count;
}

}  // namespace

std::filesystem::path DataHomeFrom(const EnvironmentLookup& environment) {
    if (!environment) {
        return {};
    }
    if (std::filesystem::path dataHome = AbsolutePathIn(environment, "XDG_DATA_HOME");
        !dataHome.empty()) {
        return dataHome;
    }
    const std::filesystem::path home = AbsolutePathIn(environment, "HOME");
    return home.empty() ? home : home / ".local" / "share";
}

std::filesystem::path DefaultDataHome() {
    return DataHomeFrom([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
}

CTargetPlatformQueries::CTargetPlatformQueries(IRegistry& targetStore, IRegistry& configStore,
                                               std::u16string targetId,
                                               std::filesystem::path dataHome)
    : configStore_(configStore),
      targetId_(std::move(targetId)),
      dataHome_(std::move(dataHome)),
      is64Bit_(ReadIs64Bit(targetStore)),
      version_(ReadVersion(targetStore, is64Bit_)) {}

bool CTargetPlatformQueries::ReadIs64Bit(IRegistry& targetStore) {
    // Read in the 64-bit view before the bitness is known: a 32-bit store ignores view bits.
    const CMachineValues machine(targetStore, true);
    const std::optional<bool> named =
        Is64BitArchitecture(machine.ReadText(kEnvironmentKey, u"PROCESSOR_ARCHITECTURE"));
    return named.value_or(machine.HasKey(kWow6432NodeKey));
}

CTargetPlatformQueries::WindowsVersion CTargetPlatformQueries::ReadVersion(IRegistry& targetStore,
                                                                           bool is64Bit) {
    // Windows 8.1 and later tell an unmanifested program that it runs on 6.2; so does this
    // answer when the version text is missing or malformed, since the target is then most
    // likely a current system that keeps its version elsewhere.
    constexpr WindowsVersion kUnmanifestedCeiling{6, 2};
    const CMachineValues machine(targetStore, is64Bit);
    const std::optional<std::uint32_t> newStyleMajor =
        machine.ReadDword(kWindowsNtKey, u"CurrentMajorVersionNumber");
    if (newStyleMajor && *newStyleMajor >= 10) {
        return kUnmanifestedCeiling;
    }
    const std::u16string text = machine.ReadText(kWindowsNtKey, u"CurrentVersion");
    const std::size_t dot = text.find(u'.');
    if (dot == std::u16string::npos) {
        return kUnmanifestedCeiling;
    }
    const std::optional<int> major = ParseVersionPart(std::u16string_view(text).substr(0, dot));
    const std::optional<int> minor = ParseVersionPart(std::u16string_view(text).substr(dot + 1));
    if (!major || !minor || *major == 0) {
        return kUnmanifestedCeiling;
    }
    if (std::pair(*major, *minor) >
        std::pair(kUnmanifestedCeiling.major, kUnmanifestedCeiling.minor)) {
        return kUnmanifestedCeiling;
    }
    return {*major, *minor};
}

int CTargetPlatformQueries::CurrentLanguageIndex() const {
    const std::optional<std::uint32_t> index =
        CUserDwords(configStore_, kLanguageKey).Read(kLanguageValue);
    return index && *index < kLanguageCount ? static_cast<int>(*index) : 0;
}

BaseFont CTargetPlatformQueries::InterfaceFont() const {
    return BaseFont{kInterfaceFontHeight, kInterfaceFontWeight, std::u16string(kInterfaceFontFace)};
}

std::u16string CTargetPlatformQueries::DataFolder() {
    if (dataHome_.empty() || !IsPlainFolderName(targetId_)) {
        return {};
    }
    const std::filesystem::path folder = dataHome_ / "quillary" / Utf16ToUtf8(targetId_);
    const std::optional<std::u16string> text = ExactUtf16(folder.native());
    if (!text) {
        return {};
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error) ? *text : std::u16string();
}

void CTargetPlatformQueries::CreateFolder(std::u16string_view path) {
    const std::optional<std::string> native = ExactUtf8(path);
    if (!native) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(*native, error);
}

int CTargetPlatformQueries::TextWidth(std::u16string_view text, std::int32_t fontHeight,
                                      int limit) const {
    const double height =
        std::abs(static_cast<double>(fontHeight == 0 ? kInterfaceFontHeight : fontHeight));
    const double width =
        std::round(static_cast<double>(CountCharacters(text)) * height * kCharacterWidthPerHeight);
    constexpr int kWidest = std::numeric_limits<int>::max();
    const int estimate = width >= kWidest ? kWidest : static_cast<int>(width);
    return limit > 0 ? std::min(estimate, limit) : estimate;
}

std::u16string CTargetPlatformQueries::WebAddress(int /*selector*/) const {
    return std::u16string(kUserGuideAddress);
}

bool CTargetPlatformQueries::IsFirstRun() {
    if (firstRunAnswered_) {
        return false;
    }
    firstRunAnswered_ = true;
    CUserDwords platformValues(configStore_, kPlatformKey);
    if (platformValues.Read(kFirstRunValue).value_or(0) != 0) {
        return false;
    }
    platformValues.Write(kFirstRunValue, 1);
    return true;
}

bool CTargetPlatformQueries::IsStartScanRequested() {
    return CUserDwords(configStore_, kPlatformKey).Read(kStartScanValue).value_or(0) != 0;
}

void CTargetPlatformQueries::AcknowledgeStartScan() {
    CUserDwords(configStore_, kPlatformKey).Delete(kStartScanValue);
}

void CTargetPlatformQueries::StoreLastScanProblemCount(int count) {
    CUserDwords(configStore_, kPlatformKey)
        .Write(kLastScanProblemsValue, static_cast<std::uint32_t>(std::max(count, 0)));
}

int CTargetPlatformQueries::LastScanProblemCount() const {
    const std::uint32_t count =
        CUserDwords(configStore_, kPlatformKey).Read(kLastScanProblemsValue).value_or(0);
    constexpr auto kLargest = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
    return static_cast<int>(std::min(count, kLargest));
}

}  // namespace quillary
