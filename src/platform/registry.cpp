#include "platform/registry.h"

#include <array>

namespace quillary {

LStatus IRegistry::SHDeleteKeyW(HKey key, std::u16string_view subKey) {
    HKey opened = HKey::None;
    LStatus status = RegOpenKeyExW(key, subKey, 0, KeyRead | AccessDelete, &opened);
    if (status != ErrorSuccess) {
        return status;
    }
    // Index 0 is read anew after every deletion: the next subkey moves into its place.
    std::array<char16_t, 512> name{};
    for (;;) {
        std::uint32_t length = name.size();
        if (RegEnumKeyExW(opened, 0, name.data(), &length, nullptr) != ErrorSuccess) {
            break;
        }
        status = SHDeleteKeyW(opened, std::u16string_view(name.data(), length));
        if (status != ErrorSuccess) {
            break;
        }
    }
    RegCloseKey(opened);
    if (status != ErrorSuccess) {
        return status;
    }
    return RegDeleteKeyW(key, subKey);
}

}  // namespace quillary
