#include "categories/classes_key.h"

#include <algorithm>
#include <array>

#include "core/text_case.h"

namespace quillary {

CClassesKey::CClassesKey(IRegistry& store, RegSam view, std::u16string path)
    : key_(store), view_(view), path_(std::move(path)) {
    Open(HKeyClassesRoot, path_);
}

CClassesKey::CClassesKey(const CClassesKey& parent, std::u16string_view name)
    : key_(parent.key_.Store()), view_(parent.view_), path_(parent.path_) {
    // Below HKEY_CLASSES_ROOT itself the path is the name alone.
    if (!path_.empty())
        path_ += u'\\';
    path_ += name;
    if (parent.IsOpen()) {
        Open(parent.Handle(), name);
    } else {
        Open(HKeyClassesRoot, path_);
    }
}

void CClassesKey::Open(HKey parent, std::u16string_view name) {
    key_.Open(parent, name, kMaskReadOnly | view_);
}

void CClassesKey::KnowSubkeys() {
    if (!IsOpen() || knownSubkeys_)
        return;
    IRegistry& store = key_.Store();
    std::vector<std::u16string> names;
    std::array<char16_t, 256> buffer;
    for (std::uint32_t index = 0;; ++index) {
        auto length = static_cast<std::uint32_t>(buffer.size());
        const LStatus status =
            store.RegEnumKeyExW(Handle(), index, buffer.data(), &length, nullptr);
        if (status == ErrorNoMoreItems)
            break;
        // A name that cannot be read leaves the list unknown: every open asks the store.
        if (status != ErrorSuccess)
            return;
        names.emplace_back(buffer.data(), length);
    }
    knownSubkeys_ = std::move(names);
}

LStatus CClassesKey::OpenSubkey(RegKey& key, std::u16string_view subKey) const {
    const std::u16string_view first = subKey.substr(0, subKey.find(u'\\'));
    if (knownSubkeys_ && !first.empty() &&
        std::none_of(knownSubkeys_->begin(), knownSubkeys_->end(), [&](const std::u16string& name) {
            return EqualsNoCaseInvariant(name, first);
        })) {
        return ErrorFileNotFound;
    }
    // Through the handle without copying the name: this is the scanners' most frequent open.
    if (IsOpen())
        return key.Open(Handle(), subKey, kMaskReadOnly | view_);
    const Place place = PlaceOf(subKey);
    return key.Open(place.parent, place.name, kMaskReadOnly | view_);
}

CClassesKey::Place CClassesKey::PlaceOf(std::u16string_view subKey) const {
    if (IsOpen())
        return {Handle(), std::u16string(subKey)};
    return {HKeyClassesRoot, path_ + u"\\" + std::u16string(subKey)};
}

std::u16string CClassesKey::ReadText(std::u16string_view valueName) {
    return IsOpen() ? ReadKeyText(key_, valueName) : std::u16string();
}

}  // namespace quillary
