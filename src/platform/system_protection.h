#pragma once

// Windows Resource Protection as sfc.dll answers it: whether the system owns a registry key
// or a file, so that no repair may touch it.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/win_types.h"

namespace quillary {

class ISystemProtection {
public:
    virtual ~ISystemProtection() = default;

    // SfcIsKeyProtected; nullopt when the system has no such function.
    virtual std::optional<bool> SfcIsKeyProtected(HKey root, std::u16string_view subKey,
                                                  RegSam access) = 0;
    // SfcIsFileProtected for a Windows path.
    virtual bool SfcIsFileProtected(std::u16string_view path) = 0;
};

}  // namespace quillary
