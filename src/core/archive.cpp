#include "core/archive.h"

#include "core/bytes.h"
#include "core/text_encoding.h"

#include <algorithm>
#include <array>

namespace quillary {
namespace {

constexpr std::uint8_t kByteEscape = 0xFF;
constexpr std::uint16_t kWideMarker = 0xFFFE;
constexpr std::uint16_t kWordEscape = 0xFFFF;
constexpr std::uint32_t kDwordEscape = 0xFFFFFFFF;

}  // namespace

// --- CArchiveWriter ------------------------------------------------------------------------

void CArchiveWriter::WriteUInt8(std::uint8_t value) {
    bytes_.push_back(value);
}

void CArchiveWriter::WriteUInt16(std::uint16_t value) {
    AppendLittleEndian(bytes_, value, 2);
}

void CArchiveWriter::WriteUInt32(std::uint32_t value) {
    AppendLittleEndian(bytes_, value, 4);
}

void CArchiveWriter::WriteUInt64(std::uint64_t value) {
    AppendLittleEndian(bytes_, value, 8);
}

void CArchiveWriter::WriteInt32(std::int32_t value) {
    WriteUInt32(static_cast<std::uint32_t>(value));
}

void CArchiveWriter::WriteInt64(std::int64_t value) {
    WriteUInt64(static_cast<std::uint64_t>(value));
}

void CArchiveWriter::WriteCount(std::uint32_t count) {
    if (count < kWordEscape) {
        WriteUInt16(static_cast<std::uint16_t>(count));
        return;
    }
    WriteUInt16(kWordEscape);
    WriteUInt32(count);
}

void CArchiveWriter::WriteStringLength(std::uint64_t length) {
    if (length < kByteEscape) {
        WriteUInt8(static_cast<std::uint8_t>(length));
        return;
    }
    WriteUInt8(kByteEscape);
    if (length < kWideMarker) {
        WriteUInt16(static_cast<std::uint16_t>(length));
        return;
    }
    WriteUInt16(kWordEscape);
    if (length < kDwordEscape) {
        WriteUInt32(static_cast<std::uint32_t>(length));
        return;
    }
    WriteUInt32(kDwordEscape);
    WriteUInt64(length);
}

void CArchiveWriter::WriteString(std::u16string_view text) {
    WriteUInt8(kByteEscape);
    WriteUInt16(kWideMarker);
    WriteStringLength(text.size());
    bytes_.reserve(bytes_.size() + 2 * text.size());
    for (char16_t unit : text) {
        WriteUInt16(unit);
    }
}

void CArchiveWriter::WriteBytes(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

// --- CArchiveReader ------------------------------------------------------------------------

void CArchiveReader::Fail(std::size_t fieldOffset, std::string_view what, std::string_view reason) {
    error_.assign(what);
    error_ += " at offset " + std::to_string(fieldOffset) + ": ";
    error_ += reason;
}

std::optional<std::span<const std::uint8_t>> CArchiveReader::Take(std::size_t count,
                                                                  std::string_view what,
                                                                  std::size_t fieldOffset) {
    if (Failed()) {
        return std::nullopt;
    }
    if (count > Remaining()) {
        Fail(fieldOffset, what,
             "the data ends early (" + std::to_string(count) + " bytes needed at offset " +
                 std::to_string(offset_) + ", " + std::to_string(Remaining()) + " left)");
        return std::nullopt;
    }
    const auto taken = bytes_.subspan(offset_, count);
    offset_ += count;
    return taken;
}

std::optional<std::uint64_t> CArchiveReader::ReadUnsigned(std::size_t size, std::string_view what,
                                                          std::size_t fieldOffset) {
    const auto taken = Take(size, what, fieldOffset);
    if (!taken) {
        return std::nullopt;
    }
    return ReadLittleEndian(*taken);
}

std::optional<std::int32_t> CArchiveReader::ReadInt32() {
    const auto value = ReadUnsigned(4, "32-bit integer", offset_);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
}

std::optional<std::int64_t> CArchiveReader::ReadInt64() {
    const auto value = ReadUnsigned(8, "64-bit integer", offset_);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*value);
}

bool CArchiveReader::CheckCount(std::int64_t count, std::size_t minBytesPerElement,
                                std::size_t countOffset) {
    if (Failed()) {
        return false;
    }
    if (count < 0) {
        Fail(countOffset, "count", "negative count " + std::to_string(count));
        return false;
    }
    const std::size_t perElement = std::max<std::size_t>(minBytesPerElement, 1);
    if (static_cast<std::uint64_t>(count) > Remaining() / perElement) {
        Fail(countOffset, "count",
             std::to_string(count) + " elements cannot fit in the " + std::to_string(Remaining()) +
                 " bytes left");
        return false;
    }
    return true;
}

std::optional<std::uint32_t> CArchiveReader::ReadCount(std::size_t minBytesPerElement) {
    const std::size_t fieldOffset = offset_;
    auto count = ReadUnsigned(2, "array count", fieldOffset);
    if (count && *count == kWordEscape) {
        count = ReadUnsigned(4, "array count", fieldOffset);
    }
    if (!count || !CheckCount(static_cast<std::int64_t>(*count), minBytesPerElement, fieldOffset)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*count);
}

std::optional<CArchiveReader::StringLength> CArchiveReader::ReadStringLength(
    std::size_t fieldOffset) {
    constexpr std::string_view what = "string record";
    auto byte = ReadUnsigned(1, what, fieldOffset);
    if (!byte) {
        return std::nullopt;
    }
    if (*byte < kByteEscape) {
        return StringLength{*byte, false};
    }
    auto word = ReadUnsigned(2, what, fieldOffset);
    if (!word) {
        return std::nullopt;
    }
    bool wide = false;
    if (*word == kWideMarker) {
        // The marker is followed by a length in the same forms, starting again with one byte.
        wide = true;
        byte = ReadUnsigned(1, what, fieldOffset);
        if (!byte) {
            return std::nullopt;
        }
        if (*byte < kByteEscape) {
            return StringLength{*byte, true};
        }
        word = ReadUnsigned(2, what, fieldOffset);
        if (!word) {
            return std::nullopt;
        }
    }
    if (*word < kWideMarker) {
        return StringLength{*word, wide};
    }
    const auto dword = ReadUnsigned(4, what, fieldOffset);
    if (!dword) {
        return std::nullopt;
    }
    if (*dword < kDwordEscape) {
        return StringLength{*dword, wide};
    }
    const auto qword = ReadUnsigned(8, what, fieldOffset);
    if (!qword) {
        return std::nullopt;
    }
    return StringLength{*qword, wide};
}

std::optional<std::u16string> CArchiveReader::ReadString() {
    const std::size_t fieldOffset = offset_;
    const auto length = ReadStringLength(fieldOffset);
    if (!length) {
        return std::nullopt;
    }
    const std::size_t unitSize = length->wide ? 2 : 1;
    if (length->length > Remaining() / unitSize) {
        Fail(fieldOffset, "string record",
             "a length of " + std::to_string(length->length) +
                 " characters runs past the end of the data (" + std::to_string(Remaining()) +
                 " bytes left)");
        return std::nullopt;
    }
    const auto units = static_cast<std::size_t>(length->length);
    const auto taken = Take(units * unitSize, "string record", fieldOffset);
    if (!taken) {
        return std::nullopt;
    }
    std::u16string text(units, u'\0');
    for (std::size_t index = 0; index < units; ++index) {
        text[index] = length->wide ? static_cast<char16_t>(ReadUInt16Le(*taken, 2 * index))
                                   : Windows1252ToUtf16((*taken)[index]);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> CArchiveReader::ReadBytes(std::size_t count) {
    const auto taken = Take(count, "byte block", offset_);
    if (!taken) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(taken->begin(), taken->end());
}

}  // namespace quillary
