#pragma once

// The file-system path an item ID list names, as a shortcut stores its target: the "My
// Computer" root, a drive, then one file-entry item per folder and file. Only that shape is a
// path; an ID list of a control panel item, a virtual folder or a shell extension is not.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillary {

// The path of an ID list as stored in a shortcut file (items only, without the list's own
// size field). nullopt when the list is damaged or names no file-system path. The bytes are
// untrusted: every size is checked, item counts and the path length are capped, and names
// that could climb out of their folder ("..", a separator) are refused.
std::optional<std::u16string> PathFromIdList(std::span<const std::uint8_t> items);

}  // namespace quillary
