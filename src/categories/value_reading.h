#pragma once

// Small readings every registry scanner makes: a string value read the way the scanners
// read them (into a buffer of fixed size, so an overlong value counts as unreadable), and
// the shape test of a class identifier.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/registry_access.h"

namespace quillary {

// The buffer most scanners read a value into, its terminator included.
inline constexpr std::size_t kShortValueLength = 260;

// Reads a string value into a buffer of bufferLength characters. The text is the data up to
// its first NUL. The status of the read: ERROR_FILE_NOT_FOUND when the value is missing,
// ERROR_MORE_DATA when it does not fit; on failure text is left unchanged.
LStatus QueryText(RegKey& key, std::u16string_view valueName, std::size_t bufferLength,
                  std::u16string& text);
// QueryText into the common buffer; true when the read succeeded.
bool QueryShortText(RegKey& key, std::u16string_view valueName, std::u16string& text);

// A reference worth following as a class or library identifier looks braced at one end.
bool IsBracedLooking(std::u16string_view text);

}  // namespace quillary
