#pragma once

// The reader of the Start-menu usage history Windows keeps for the user: two keys whose value
// names record what was started, encoded by rotating each letter 13 places (ROT13) unless the
// user's settings say the names are kept plain.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace quillary {

// One value of a usage history key.
struct ValuePair {
    std::u16string storedName;   // as the registry holds it: the repair deletes this value
    std::u16string decodedName;  // what it records, for matching and for display

    bool operator==(const ValuePair&) const = default;
};

// Rotates every ASCII letter 13 places within its own case; other characters stay. The
// rotation is its own inverse.
std::u16string DecodeRot13(std::u16string_view text);

class CUserAssSpy {
public:
    static constexpr std::u16string_view kSettingsKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\Settings";
    // The two history keys, in the order they are read.
    static constexpr std::array<std::u16string_view, 2> kCountKeys = {
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
        u"{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count",
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
        u"{75048700-EF1F-11D0-9888-006097DEACF9}\\Count",
    };

    // Reads the user's keys of store (HKEY_CURRENT_USER, no view: both views share them).
    explicit CUserAssSpy(IRegistry& store) : store_(store) {}

    // Reads the encoding setting and every value name of both keys. A key that does not open
    // gives no pairs; a value whose name or data is too long to be a history entry, or that
    // cannot be enumerated, is passed over.
    void Read();

    // Whether the names were taken as ROT13-encoded (the setting "NoEncrypt" is not set).
    bool DecodesNames() const { return decodesNames_; }
    // The pairs of the key at keyIndex (of kCountKeys) whose decoded name begins with prefix
    // (exact comparison), in reading order.
    std::vector<ValuePair> PairsWithPrefix(std::size_t keyIndex, std::u16string_view prefix) const;

private:
    bool NamesAreEncoded();
    void ReadKey(std::u16string_view keyPath, std::vector<ValuePair>& pairs);

    IRegistry& store_;
    bool decodesNames_ = true;
    std::array<std::vector<ValuePair>, kCountKeys.size()> pairs_;
};

}  // namespace quillary
