#pragma once

// The one guard every deletion of a key passes: a repair, an import and an undo alike.

#include <string_view>

#include "platform/win_types.h"

namespace quillary {

// True when the key may be deleted: never a root, a key directly below a root (a user's hive
// below HKEY_USERS counts as a root) or one of the container keys the scanners walk, in
// either view. A parsing slip, or a hostile file, must never take a whole branch.
bool MayDeleteKey(HKey root, std::u16string_view subKey);

}  // namespace quillary
