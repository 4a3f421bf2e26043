#pragma once

// Little-endian integers and hexadecimal digits: the byte order of the registry's binary
// values, of shell link items and of the data files, and the digits the text formats use.
// The readers trust their caller to have checked the length; every parser checks lengths
// against the file's own fields first and only then reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillary {

// --- Little-endian integers ------------------------------------------------------------------

// The unsigned integer stored little-endian in bytes (at most 8 of them; an empty span is 0).
constexpr std::uint64_t ReadLittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t index = bytes.size(); index-- > 0;) {
        value = (value << 8) | bytes[index];
    }
    return value;
}

// The integer at offset; bytes must hold its 2, 4 or 8 bytes there.
constexpr std::uint16_t ReadUInt16Le(std::span<const std::uint8_t> bytes, std::size_t offset = 0) {
    return static_cast<std::uint16_t>(ReadLittleEndian(bytes.subspan(offset, 2)));
}
constexpr std::uint32_t ReadUInt32Le(std::span<const std::uint8_t> bytes, std::size_t offset = 0) {
    return static_cast<std::uint32_t>(ReadLittleEndian(bytes.subspan(offset, 4)));
}
constexpr std::uint64_t ReadUInt64Le(std::span<const std::uint8_t> bytes, std::size_t offset = 0) {
    return ReadLittleEndian(bytes.subspan(offset, 8));
}

// Appends the low size bytes of value (at most 8), lowest first.
inline void AppendLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value,
                               std::size_t size) {
    for (std::size_t index = 0; index < size; ++index) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
}

// The low size bytes of value (at most 8), lowest first: a DWORD's registry data is
// LittleEndianBytes(value, 4).
inline std::vector<std::uint8_t> LittleEndianBytes(std::uint64_t value, std::size_t size) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size);
    AppendLittleEndian(bytes, value, size);
    return bytes;
}

// --- Hexadecimal digits ----------------------------------------------------------------------

// The value of a hexadecimal digit (0-9, a-f, A-F), or nothing for any other character. Takes
// char32_t so that char, char16_t and char32_t text all convert without narrowing; a negative
// char becomes a huge value and is no digit.
constexpr std::optional<unsigned> HexDigitValue(char32_t ch) {
    if (ch >= U'0' && ch <= U'9') {
        return static_cast<unsigned>(ch - U'0');
    }
    if (ch >= U'a' && ch <= U'f') {
        return static_cast<unsigned>(ch - U'a' + 10);
    }
    if (ch >= U'A' && ch <= U'F') {
        return static_cast<unsigned>(ch - U'A' + 10);
    }
    return std::nullopt;
}

constexpr bool IsHexDigit(char32_t ch) {
    return HexDigitValue(ch).has_value();
}

// The lower-case hexadecimal digit of the low four bits of value.
constexpr char HexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0xF];
}

}  // namespace quillary
