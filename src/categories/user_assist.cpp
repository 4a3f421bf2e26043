#include "categories/user_assist.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quillary {
namespace {

// A history value name is read into a buffer of this many characters, its terminator
// included; a longer name is passed over.
constexpr std::uint32_t kNameBufferLength = 512;
// A history entry holds a few counters; a value with more data than this is something else.
constexpr std::uint32_t kLargestEntryData = 2045;
// The encoding setting is read into a buffer of this many bytes.
constexpr std::uint32_t kSettingBufferSize = 80;

char16_t RotateLetter(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(u'a' + (c - u'a' + 13) % 26);
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(u'A' + (c - u'A' + 13) % 26);
    return c;
}

// Closes a key opened here when the read is done.
class CKeyCloser {
public:
    CKeyCloser(IRegistry& store, HKey key) : store_(store), key_(key) {}
    ~CKeyCloser() { store_.RegCloseKey(key_); }
    CKeyCloser(const CKeyCloser&) = delete;
    CKeyCloser& operator=(const CKeyCloser&) = delete;

private:
    IRegistry& store_;
    HKey key_;
};

}  // namespace

std::u16string DecodeRot13(std::u16string_view text) {
    std::u16string decoded(text);
    for (char16_t& c : decoded)
        c = RotateLetter(c);
    return decoded;
}

void CUserAssSpy::Read() {
    decodesNames_ = NamesAreEncoded();
    for (std::size_t index = 0; index < kCountKeys.size(); ++index)
        ReadKey(kCountKeys[index], pairs_[index]);
}

// Names are encoded unless the setting holds a number other than 0 in its first four bytes.
bool CUserAssSpy::NamesAreEncoded() {
    HKey key = HKey::None;
    if (store_.RegOpenKeyExW(HKeyCurrentUser, kSettingsKey, 0, KeyQueryValue, &key) != ErrorSuccess)
        return true;
    CKeyCloser closer(store_, key);
    std::uint8_t data[kSettingBufferSize] = {};
    std::uint32_t size = sizeof data;
    if (store_.RegQueryValueExW(key, u"NoEncrypt", nullptr, data, &size) != ErrorSuccess)
        return true;
    std::uint32_t noEncrypt = 0;
    std::memcpy(&noEncrypt, data, sizeof noEncrypt);
    return noEncrypt == 0;
}

void CUserAssSpy::ReadKey(std::u16string_view keyPath, std::vector<ValuePair>& pairs) {
    pairs.clear();
    HKey key = HKey::None;
    if (store_.RegOpenKeyExW(HKeyCurrentUser, keyPath, 0, KeyEnumerateSubKeys | KeyQueryValue,
                             &key) != ErrorSuccess)
        return;
    CKeyCloser closer(store_, key);
    RegKeyInfo info;
    if (store_.RegQueryInfoKeyW(key, &info) != ErrorSuccess)
        return;
    for (std::uint32_t index = 0; index < info.values; ++index) {
        char16_t name[kNameBufferLength];
        std::uint32_t nameLength = kNameBufferLength;
        std::uint32_t dataSize = 0;
        const LStatus status =
            store_.RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, &dataSize);
        if (status == ErrorNoMoreItems)
            break;
        if (status != ErrorSuccess || dataSize > kLargestEntryData)
            continue;
        std::u16string stored(name, std::min(nameLength, kNameBufferLength - 1));
        std::u16string decoded = decodesNames_ ? DecodeRot13(stored) : stored;
        pairs.push_back({std::move(stored), std::move(decoded)});
    }
}

std::vector<ValuePair> CUserAssSpy::PairsWithPrefix(std::size_t keyIndex,
                                                    std::u16string_view prefix) const {
    std::vector<ValuePair> matching;
    if (keyIndex >= pairs_.size())
        return matching;
    for (const ValuePair& pair : pairs_[keyIndex]) {
        if (pair.decodedName.starts_with(prefix))
            matching.push_back(pair);
    }
    return matching;
}

}  // namespace quillary
