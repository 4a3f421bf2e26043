#pragma once

// Text encodings. The core keeps text as std::u16string because the stored formats, the
// length limits and the comparisons all count UTF-16 units; UTF-8 appears only at the edges
// (console, Unix paths, JSON), UTF-16LE bytes in the registry's values and the data files.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// --- Conversion at the edges -------------------------------------------------------------

// Decodes UTF-8. Every ill-formed sequence (stray continuation byte, overlong form, encoded
// surrogate, value above U+10FFFF, truncated sequence) becomes one U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Encodes UTF-16 as UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// --- UTF-16LE bytes, as the registry and the data files store text ----------------------

// The text's units as little-endian bytes, followed by a NUL unit when terminate is set.
std::vector<std::uint8_t> ToUtf16LeBytes(std::u16string_view text, bool terminate);
// The units of little-endian bytes; an odd last byte is left out.
std::u16string FromUtf16LeBytes(std::span<const std::uint8_t> bytes);

// One byte of text in Windows-1252, the code page of the English systems that wrote 8-bit
// files (old data files, "REGEDIT4" exports).
char16_t Windows1252ToUtf16(std::uint8_t byte);

}  // namespace quillary
