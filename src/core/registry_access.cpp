#include "core/registry_access.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "core/bytes.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

struct RootName {
    std::u16string_view name;
    HKey key;
};

constexpr std::array<RootName, 5> kRootNames = {{
    {u"HKEY_CLASSES_ROOT", HKeyClassesRoot},
    {u"HKEY_CURRENT_USER", HKeyCurrentUser},
    {u"HKEY_LOCAL_MACHINE", HKeyLocalMachine},
    {u"HKEY_USERS", HKeyUsers},
    {u"HKEY_CURRENT_CONFIG", HKeyCurrentConfig},
}};

constexpr std::u16string_view kWow6432Node = u"wow6432node";
constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

bool IsStringType(RegType type) {
    return type == RegSz || type == RegExpandSz;
}

// The text of UTF-16LE bytes up to the first NUL unit.
std::u16string TextUpToNul(std::span<const std::uint8_t> bytes) {
    std::u16string text = FromUtf16LeBytes(bytes);
    text.resize(std::min(text.find(u'\0'), text.size()));
    return text;
}

// Lists the names of a key's values, index by index; a failing index is skipped.
std::size_t CollectValueNames(IRegistry& store, HKey key, std::size_t bufferLength,
                              bool skipBlankFirst, std::vector<std::u16string>& names) {
    names.clear();
    const std::uint32_t count = CountValues(store, key);
    if (count == 0) {
        return 0;
    }
    // Left unfilled: each name is read into it before use.
    const auto buffer = std::make_unique_for_overwrite<char16_t[]>(bufferLength);
    for (std::uint32_t index = 0; index < count; ++index) {
        auto length = static_cast<std::uint32_t>(bufferLength);
        if (store.RegEnumValueW(key, index, buffer.get(), &length, nullptr, nullptr, nullptr) !=
            ErrorSuccess) {
            continue;
        }
        std::u16string name(buffer.get(), length);
        if (index == 0 && skipBlankFirst && TrimView(name).empty()) {
            continue;
        }
        names.push_back(std::move(name));
    }
    return names.size();
}

bool ReadValueTextInView(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                         std::u16string_view valueName, RegSam view, std::u16string& text) {
    RegKey key(*target.store);
    // Read-only, so that a key or a store that refuses changes is read all the same.
    if (key.Open(root, subKey, kMaskReadOnly | view) != ErrorSuccess) {
        return false;
    }
    text = ReadKeyText(key, valueName);
    return true;
}

}  // namespace

// --- root names and paths ------------------------------------------------------------------

std::optional<HKey> RootKeyFromName(std::u16string_view name) {
    for (const RootName& root : kRootNames) {
        if (root.name == name) {
            return root.key;
        }
    }
    return std::nullopt;
}

std::u16string_view RootKeyName(HKey root) {
    for (const RootName& entry : kRootNames) {
        if (entry.key == root) {
            return entry.name;
        }
    }
    return {};
}

RegistryPath SplitRegistryPath(std::u16string_view path) {
    const std::size_t cut = path.find(u'\\');
    if (cut == std::u16string_view::npos) {
        return RegistryPath{path, {}};
    }
    return RegistryPath{path.substr(0, cut), path.substr(cut + 1)};
}

std::u16string JoinKeyPath(std::u16string_view parent, std::u16string_view name) {
    std::u16string path(parent);
    path += u'\\';
    path += name;
    return path;
}

std::u16string_view FirstMissingKey(IRegistry& store, HKey root, std::u16string_view missingSubKey,
                                    RegSam mask) {
    std::u16string_view first = missingSubKey;
    for (std::size_t end = missingSubKey.rfind(u'\\'); end != std::u16string_view::npos;
         end = end == 0 ? std::u16string_view::npos : missingSubKey.rfind(u'\\', end - 1)) {
        RegKey key(store);
        if (key.Open(root, missingSubKey.substr(0, end), kMaskReadOnly | (mask & KeyWow64Res)) ==
            ErrorSuccess)
            break;
        first = missingSubKey.substr(0, end);
    }
    return first;
}

bool IsSymbolicLink(IRegistry& store, HKey parent, std::u16string_view name, RegSam mask) {
    HKey link = HKey::None;
    if (store.RegOpenKeyExW(parent, name, RegOptionOpenLink, kMaskReadOnly | (mask & KeyWow64Res),
                            &link) != ErrorSuccess) {
        return false;
    }
    RegType type = RegNone;
    const bool isLink =
        store.RegQueryValueExW(link, kLinkValueName, &type, nullptr, nullptr) == ErrorSuccess &&
        type == RegLink;
    store.RegCloseKey(link);
    return isLink;
}

RegSam ViewMask(const RegistryTarget& target, bool is32BitEntry) {
    if (!target.is64Bit) {
        return 0;
    }
    return is32BitEntry ? KeyWow64_32Key : KeyWow64_64Key;
}

// --- ConfigKey -------------------------------------------------------------------------------

ConfigKey::ConfigKey(IRegistry& store, HKey root) : store_(store), handle_(root) {}

ConfigKey::~ConfigKey() {
    Close();
}

bool ConfigKey::Open(HKey parent, std::u16string_view path, bool createIfMissing) {
    keyPath_ = std::u16string(path);
    HKey opened = HKey::None;
    LStatus status = store_.RegOpenKeyExW(parent, path, 0, accessMask_, &opened);
    if (status != ErrorSuccess && createIfMissing && accessMask_ != kMaskReadOnly) {
        status = store_.RegCreateKeyExW(parent, path, {}, RegOptionNonVolatile, accessMask_,
                                        &opened, nullptr);
    }
    if (status != ErrorSuccess) {
        return false;
    }
    Close();
    handle_ = opened;
    return true;
}

LStatus ConfigKey::Close() {
    if (handle_ == HKey::None || IsPredefinedKey(handle_)) {
        handle_ = HKey::None;
        return ErrorSuccess;
    }
    const LStatus status = store_.RegCloseKey(handle_);
    handle_ = HKey::None;
    return status;
}

bool ConfigKey::HasValue(std::u16string_view name) {
    return store_.RegQueryValueExW(handle_, name, nullptr, nullptr, nullptr) == ErrorSuccess;
}

bool ConfigKey::ReadString(std::u16string_view name, std::u16string& text) {
    RegType type = RegNone;
    std::uint32_t size = 0;
    if (store_.RegQueryValueExW(handle_, name, &type, nullptr, &size) != ErrorSuccess ||
        !IsStringType(type)) {
        return false;
    }
    // Room for a terminator the stored data may lack, and for an odd byte.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size) + 3, 0);
    auto bufferSize = static_cast<std::uint32_t>(buffer.size());
    if (store_.RegQueryValueExW(handle_, name, &type, buffer.data(), &bufferSize) != ErrorSuccess ||
        !IsStringType(type)) {
        return false;
    }
    // Read as the zero-filled buffer holds it, so an odd last byte still forms a unit.
    text = TextUpToNul(buffer);
    return true;
}

bool ConfigKey::WriteString(std::u16string_view name, std::u16string_view text) {
    const std::vector<std::uint8_t> bytes = ToUtf16LeBytes(text, true);
    return store_.RegSetValueExW(handle_, name, RegSz, bytes.data(),
                                 static_cast<std::uint32_t>(bytes.size())) == ErrorSuccess;
}

bool ConfigKey::ReadDword(std::u16string_view name, std::uint32_t& value) {
    std::array<std::uint8_t, 4> bytes{};
    RegType type = RegNone;
    std::uint32_t size = bytes.size();
    if (store_.RegQueryValueExW(handle_, name, &type, bytes.data(), &size) != ErrorSuccess ||
        type != RegDword) {
        return false;
    }
    value = ReadUInt32Le(bytes);
    return true;
}

bool ConfigKey::WriteDword(std::u16string_view name, std::uint32_t value) {
    const std::vector<std::uint8_t> bytes = LittleEndianBytes(value, 4);
    return store_.RegSetValueExW(handle_, name, RegDword, bytes.data(), 4) == ErrorSuccess;
}

bool ConfigKey::DeleteValue(std::u16string_view name) {
    return store_.RegDeleteValueW(handle_, name) == ErrorSuccess;
}

bool ConfigKey::ListValueNamesOf(std::u16string_view subKey, std::vector<std::u16string>& names) {
    names.clear();
    HKey opened = HKey::None;
    if (store_.RegOpenKeyExW(handle_, subKey, 0, accessMask_, &opened) != ErrorSuccess) {
        return false;
    }
    const std::uint32_t count = CountValues(store_, opened);
    std::array<char16_t, 512> buffer{};
    bool complete = true;
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t length = buffer.size();
        if (store_.RegEnumValueW(opened, index, buffer.data(), &length, nullptr, nullptr,
                                 nullptr) != ErrorSuccess) {
            complete = false;
            break;
        }
        names.emplace_back(buffer.data(), length);
    }
    store_.RegCloseKey(opened);
    return complete;
}

bool HasUserValue(IRegistry& store, std::u16string_view subKey, std::u16string_view valueName) {
    HKey opened = HKey::None;
    if (store.RegOpenKeyExW(HKeyCurrentUser, subKey, 0, kMaskReadOnly, &opened) != ErrorSuccess) {
        return false;
    }
    const bool found =
        store.RegQueryValueExW(opened, valueName, nullptr, nullptr, nullptr) == ErrorSuccess;
    store.RegCloseKey(opened);
    return found;
}

// --- RegKey ----------------------------------------------------------------------------------

RegKey::~RegKey() {
    Close();
}

RegKey::RegKey(RegKey&& other) noexcept
    : store_(other.store_),
      handle_(std::exchange(other.handle_, HKey::None)),
      viewBits_(std::exchange(other.viewBits_, 0)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        store_ = other.store_;
        handle_ = std::exchange(other.handle_, HKey::None);
        viewBits_ = std::exchange(other.viewBits_, 0);
    }
    return *this;
}

LStatus RegKey::Open(HKey parent, std::u16string_view path, RegSam mask) {
    HKey opened = HKey::None;
    const LStatus status = store_->RegOpenKeyExW(parent, path, 0, mask, &opened);
    if (status != ErrorSuccess) {
        return status;
    }
    Close();
    handle_ = opened;
    viewBits_ = mask & KeyWow64Res;
    return ErrorSuccess;
}

LStatus RegKey::Close() {
    if (handle_ == HKey::None) {
        return ErrorSuccess;
    }
    const LStatus status = store_->RegCloseKey(handle_);
    handle_ = HKey::None;
    viewBits_ = 0;
    return status;
}

LStatus RegKey::QueryString(std::u16string_view valueName, char16_t* buffer,
                            std::uint32_t* length) {
    if (length == nullptr) {
        return ErrorInvalidParameter;
    }
    // A length beyond what 32-bit byte counts can hold is offered as the largest such count.
    std::uint32_t bytes = *length > 0x7FFFFFFFu ? 0xFFFFFFFEu : *length * 2;
    RegType type = RegNone;
    const LStatus status = store_->RegQueryValueExW(
        handle_, valueName, &type, reinterpret_cast<std::uint8_t*>(buffer), &bytes);
    if (status != ErrorSuccess) {
        return status;
    }
    if (!IsStringType(type)) {
        return ErrorInvalidData;
    }
    if (buffer != nullptr) {
        if (bytes == 0) {
            if (*length > 0) {
                buffer[0] = u'\0';
            }
        } else if (bytes % 2 != 0 || buffer[bytes / 2 - 1] != u'\0') {
            return ErrorInvalidData;
        }
    }
    *length = bytes / 2;
    return ErrorSuccess;
}

LStatus RegKey::DeleteSelf() {
    if (store_->HasRegDeleteKeyExW()) {
        return store_->RegDeleteKeyExW(handle_, {}, viewBits_, 0);
    }
    return store_->RegDeleteKeyW(handle_, {});
}

// --- enumeration -------------------------------------------------------------------------------

bool ListSubkeyNames(const RegistryTarget& target, HKey key, std::vector<std::u16string>& names) {
    names.clear();
    if (target.pumpMessages) {
        target.pumpMessages();
    }
    IRegistry& store = *target.store;
    RegKeyInfo info;
    if (store.RegQueryInfoKeyW(key, &info) != ErrorSuccess) {
        return false;
    }
    std::array<char16_t, 255> buffer;
    for (std::uint32_t index = 0; index < info.subKeys; ++index) {
        std::uint32_t length = buffer.size();
        if (store.RegEnumKeyExW(key, index, buffer.data(), &length, nullptr) != ErrorSuccess) {
            continue;
        }
        std::u16string name(buffer.data(), length);
        if (target.is64Bit && StartsWithNoCase(TrimView(name), kWow6432Node)) {
            continue;
        }
        names.push_back(std::move(name));
    }
    return !names.empty();
}

std::size_t ListValueNames(IRegistry& store, HKey key, std::vector<std::u16string>& names) {
    return CollectValueNames(store, key, 1024, false, names);
}

std::size_t ListValueNamesNoBlankFirst(IRegistry& store, HKey key,
                                       std::vector<std::u16string>& names) {
    return CollectValueNames(store, key, 255, true, names);
}

std::uint32_t CountValues(IRegistry& store, HKey key) {
    RegKeyInfo info;
    return store.RegQueryInfoKeyW(key, &info) == ErrorSuccess ? info.values : 0;
}

// --- reading one value -----------------------------------------------------------------------

bool ReadValueText(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                   std::u16string_view valueName, std::u16string& text) {
    if (target.is64Bit) {
        return true;
    }
    return ReadValueTextInView(target, root, subKey, valueName, 0, text);
}

bool ReadValueText32(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                     std::u16string_view valueName, std::u16string& text) {
    return ReadValueTextInView(target, root, subKey, valueName, KeyWow64_32Key, text);
}

bool ReadValueText64(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                     std::u16string_view valueName, std::u16string& text) {
    return ReadValueTextInView(target, root, subKey, valueName, KeyWow64_64Key, text);
}

std::u16string ReadKeyText(RegKey& key, std::u16string_view valueName) {
    // Most texts fit the first buffer; a longer one is read again into a buffer of its size.
    const auto trimmed = [](const char16_t* units, std::uint32_t length) {
        const std::u16string_view read(units, length);
        return Trim(read.substr(0, read.find(u'\0')));
    };
    std::array<char16_t, 260> shortBuffer;
    auto length = static_cast<std::uint32_t>(shortBuffer.size());
    LStatus status = key.QueryString(valueName, shortBuffer.data(), &length);
    if (status == ErrorSuccess) {
        return trimmed(shortBuffer.data(), length);
    }
    RegType type = RegNone;
    std::uint32_t size = 0;
    if (status != ErrorMoreData || key.Store().RegQueryValueExW(key.Handle(), valueName, &type,
                                                                nullptr, &size) != ErrorSuccess) {
        return {};
    }
    std::u16string buffer(size / 2 + 1, u'\0');
    length = static_cast<std::uint32_t>(buffer.size());
    if (key.QueryString(valueName, buffer.data(), &length) != ErrorSuccess) {
        return {};
    }
    return trimmed(buffer.data(), length);
}

// --- deletion --------------------------------------------------------------------------------

LStatus DeleteKeyTree(const RegistryTarget& target, HKey parent, std::u16string_view name,
                      RegSam mask) {
    if (EqualsNoCase(name, kWow6432Node)) {
        return ErrorSuccess;
    }
    IRegistry& store = *target.store;
    // A link's own deletion removes only the link; walking into it would empty its target.
    if (!IsSymbolicLink(store, parent, name, mask)) {
        RegKey key(store);
        if (const LStatus status = key.Open(parent, name, mask); status != ErrorSuccess) {
            return status;
        }
        // Index 0 is read anew after every deletion: the next subkey moves into its place.
        std::array<char16_t, 256> buffer{};
        for (;;) {
            std::uint32_t length = buffer.size();
            if (store.RegEnumKeyExW(key.Handle(), 0, buffer.data(), &length, nullptr) !=
                ErrorSuccess) {
                break;
            }
            const std::u16string_view child(buffer.data(), length);
            if (EqualsNoCase(child, kWow6432Node) ||
                DeleteKeyTree(target, key.Handle(), child, mask) != ErrorSuccess) {
                break;
            }
        }
    }
    if (target.is64Bit) {
        if (store.HasRegDeleteKeyExW()) {
            return store.RegDeleteKeyExW(parent, name, mask, 0);
        }
        return store.RegDeleteKeyW(parent, name);
    }
    const LStatus status = store.RegDeleteKeyW(parent, name);
    if (status == ErrorSuccess) {
        return status;
    }
    return store.SHDeleteKeyW(parent, name);
}

}  // namespace quillary
