#pragma once

// A key below HKEY_CLASSES_ROOT in one view, held open while a scanner looks at the keys
// below it. Opening those relative to its handle spares a walk from the root for each; when
// the key itself did not open (a key may deny access to itself and not to its subkeys) they
// are opened by their full path instead, so both ways find the same keys.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_access.h"

namespace quillary {

class CClassesKey {
public:
    // Opens HKEY_CLASSES_ROOT\path in the view.
    CClassesKey(IRegistry& store, RegSam view, std::u16string path);
    // Opens the subkey name of parent, in parent's view.
    CClassesKey(const CClassesKey& parent, std::u16string_view name);

    // The path below HKEY_CLASSES_ROOT.
    const std::u16string& Path() const { return path_; }
    RegSam View() const { return view_; }
    // Open for reading. Whether the key may be changed is the repair's question.
    bool IsOpen() const { return key_.IsOpen(); }
    // The handle of an open key; the enumeration helpers take it.
    HKey Handle() const { return key_.Handle(); }

    // Lists the subkeys once, so that opening a part the key does not have costs no walk
    // through the store. Only for a key below the point where the views part (a class, an
    // interface, a type library), whose relative opens find exactly what it lists.
    void KnowSubkeys();
    // Where subKey is opened from: this key's handle and subKey, or HKEY_CLASSES_ROOT and the
    // full path when this key did not open.
    struct Place {
        HKey parent;
        std::u16string name;
    };
    Place PlaceOf(std::u16string_view subKey) const;
    // Opens subKey below this key for reading.
    LStatus OpenSubkey(RegKey& key, std::u16string_view subKey) const;
    // The trimmed text of one of this key's values; empty when the key did not open or the
    // value is missing or not a string.
    std::u16string ReadText(std::u16string_view valueName = {});

private:
    // Opens name below parent for reading.
    void Open(HKey parent, std::u16string_view name);

    RegKey key_;
    RegSam view_;
    std::u16string path_;
    // The subkey names, once KnowSubkeys ran.
    std::optional<std::vector<std::u16string>> knownSubkeys_;
};

}  // namespace quillary
