#include "categories/classes_key.h"

#include <algorithm>
#include <array>

#include "core/text.h"

namespace quillary {

CClassesKey::CClassesKey(IRegistry& store, RegSam view, std::u16string path)
    : key_(store), view_(view), path_(std::move(path)) {
    Open(HKeyClassesRoot, path_);
}

CClassesKey::CClassesKey(const CClassesKey& parent, std::u16string_view name)
    : key_(parent.key_.Store()), view_(parent.view_), path_(parent.path_ + u"\\") {
    path_ += name;
    if (parent.IsOpen()) {
        Open(parent.Handle(), name);
    } else {
        Open(HKeyClassesRoot, path_);
    }
}

void CClassesKey::Open(HKey parent, std::u16string_view name) {
    const LStatus status = key_.Open(parent, name, kMaskReadWrite | view_);
    opensReadWrite_ = status == ErrorSuccess;
    if (status == ErrorAccessDenied)
        key_.Open(parent, name, kMaskReadOnly | view_);
}

void CClassesKey::KnowSubkeys() {
    if (!IsOpen() || knownSubkeys_)
        return;
    IRegistry& store = key_.Store();
    RegKeyInfo info;
    if (store.RegQueryInfoKeyW(Handle(), &info) != ErrorSuccess)
        return;
    std::vector<std::u16string> names;
    std::array<char16_t, 256> buffer;
    for (std::uint32_t index = 0; index < info.subKeys; ++index) {
        auto length = static_cast<std::uint32_t>(buffer.size());
        // A name that cannot be read leaves the list unknown: every open asks the store.
        if (store.RegEnumKeyExW(Handle(), index, buffer.data(), &length, nullptr) != ErrorSuccess)
            return;
        names.push_back(ToUpperInvariant(std::u16string_view(buffer.data(), length)));
    }
    knownSubkeys_ = std::move(names);
}

LStatus CClassesKey::OpenSubkey(RegKey& key, std::u16string_view subKey) const {
    const std::u16string_view first = subKey.substr(0, subKey.find(u'\\'));
    if (knownSubkeys_ && !first.empty() &&
        std::find(knownSubkeys_->begin(), knownSubkeys_->end(), ToUpperInvariant(first)) ==
            knownSubkeys_->end()) {
        return ErrorFileNotFound;
    }
    if (IsOpen())
        return key.Open(Handle(), subKey, kMaskReadWrite | view_);
    return key.Open(HKeyClassesRoot, path_ + u"\\" + std::u16string(subKey),
                    kMaskReadWrite | view_);
}

std::u16string CClassesKey::ReadText(std::u16string_view valueName) {
    return IsOpen() ? ReadKeyText(key_, valueName) : std::u16string();
}

}  // namespace quillary
