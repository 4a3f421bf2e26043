#pragma once

// The binary encoding of the program's own data files (exclusion lists, saved results, partial
// backup list files, the compaction summary). Everything is little-endian:
//
//   integer      4 bytes (or 8 for a 64-bit value), signed
//   array count  16 bits below 0xFFFF; else 0xFFFF followed by 32 bits
//   string       FF, FFFE (marks UTF-16), the length in UTF-16 units, the units, no terminator.
//                The length takes one byte below 0xFF; else FF and 16 bits below 0xFFFE; else
//                FF FFFF and 32 bits below 0xFFFFFFFF; else FF FFFF FFFFFFFF and 64 bits.
//
// Older files may hold 8-bit strings: the same length forms without the FF FFFE marker, then
// one byte per character in the system code page.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// The fewest bytes one string record can take (an 8-bit record of length 0), for the
// plausibility test of a count of strings.
inline constexpr std::size_t kMinStringRecordBytes = 1;

// Appends encoded fields to a byte buffer.
class CArchiveWriter {
public:
    void WriteInt32(std::int32_t value);
    void WriteInt64(std::int64_t value);
    void WriteCount(std::uint32_t count);
    // Always written as UTF-16.
    void WriteString(std::u16string_view text);
    void WriteBytes(std::span<const std::uint8_t> bytes);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    void WriteUInt8(std::uint8_t value);
    void WriteUInt16(std::uint16_t value);
    void WriteUInt32(std::uint32_t value);
    void WriteUInt64(std::uint64_t value);
    void WriteStringLength(std::uint64_t length);

    std::vector<std::uint8_t> bytes_;
};

// Reads encoded fields from bytes that may be damaged or hostile. Every read checks what is
// left before it touches or allocates anything. The first failure is kept: the read returns
// nullopt, Error() says what was being read, at which offset and why, and every later read
// fails too, so a caller may read a whole record and test once.
class CArchiveReader {
public:
    explicit CArchiveReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::int32_t> ReadInt32();
    std::optional<std::int64_t> ReadInt64();
    // An array count of elements that take at least minBytesPerElement bytes each (taken as
    // 1 when 0); a count the remaining bytes cannot hold fails.
    std::optional<std::uint32_t> ReadCount(std::size_t minBytesPerElement);
    // A string record. 8-bit text is decoded as Windows-1252, the code page of the English
    // systems that wrote such files. UTF-16 units are kept as stored, a lone surrogate too,
    // since registry names may hold one.
    std::optional<std::u16string> ReadString();
    std::optional<std::vector<std::uint8_t>> ReadBytes(std::size_t count);

    // For counts stored as plain integers: fails, like ReadCount, when count elements of at
    // least minBytesPerElement bytes cannot fit in what is left. countOffset is where the
    // count was read, for the message.
    bool CheckCount(std::int64_t count, std::size_t minBytesPerElement, std::size_t countOffset);

    std::size_t Offset() const { return offset_; }
    std::size_t Remaining() const { return bytes_.size() - offset_; }
    bool AtEnd() const { return offset_ == bytes_.size(); }
    bool Failed() const { return !error_.empty(); }
    // Empty while no read has failed.
    const std::string& Error() const { return error_; }

private:
    struct StringLength {
        std::uint64_t length = 0;
        bool wide = false;
    };

    // Take the next bytes when at least count are left; on failure record what was being read.
    std::optional<std::span<const std::uint8_t>> Take(std::size_t count, std::string_view what,
                                                      std::size_t fieldOffset);
    std::optional<std::uint64_t> ReadUnsigned(std::size_t size, std::string_view what,
                                              std::size_t fieldOffset);
    std::optional<StringLength> ReadStringLength(std::size_t fieldOffset);
    void Fail(std::size_t fieldOffset, std::string_view what, std::string_view reason);

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
    std::string error_;
};

}  // namespace quillary
