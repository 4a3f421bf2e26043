#include "categories/classes_key.h"

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

LStatus CClassesKey::OpenSubkey(RegKey& key, std::u16string_view subKey) const {
    if (IsOpen())
        return key.Open(Handle(), subKey, kMaskReadWrite | view_);
    return key.Open(HKeyClassesRoot, path_ + u"\\" + std::u16string(subKey),
                    kMaskReadWrite | view_);
}

std::u16string CClassesKey::ReadText(std::u16string_view valueName) {
    return IsOpen() ? ReadKeyText(key_, valueName) : std::u16string();
}

}  // namespace quillary
