#pragma once

#include "core/registry_access.h"

namespace quillary {

// Lets the scanning thread dispatch its pending window messages, when the target asks for it.
inline void PumpMessages(const RegistryTarget& target) {
    if (target.pumpMessages)
        target.pumpMessages();
}

}  // namespace quillary
