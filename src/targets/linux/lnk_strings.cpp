#include "targets/linux/lnk_strings.h"

#include <utility>

#include "core/bytes.h"

namespace quillary {
namespace {

using Bytes = std::span<const std::uint8_t>;

// The header: its size, then the link flags that say which parts follow it.
constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::size_t kLinkFlagsOffset = 0x14;
constexpr std::uint32_t kHasLinkTargetIdList = 0x01;
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasRelativePath = 0x08;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;

// The link information. Only its longer header carries the offsets of the UTF-16 paths.
constexpr std::size_t kLinkInfoHeaderSizeOffset = 0x04;
constexpr std::size_t kLinkInfoFlagsOffset = 0x08;
constexpr std::size_t kNetworkLinkOffsetOffset = 0x14;
constexpr std::size_t kLocalBasePathUnicodeOffsetOffset = 0x1C;
constexpr std::size_t kCommonPathSuffixUnicodeOffsetOffset = 0x20;
constexpr std::uint32_t kUnicodeLinkInfoHeaderSize = 0x24;
constexpr std::uint32_t kHasVolumeIdAndLocalBasePath = 0x01;
constexpr std::uint32_t kHasNetworkLink = 0x02;

// The network link inside the link information. A name offset past the short header means the
// longer one, with the offset of the UTF-16 name, is there.
constexpr std::size_t kNetNameOffsetOffset = 0x08;
constexpr std::size_t kNetNameUnicodeOffsetOffset = 0x14;
constexpr std::uint32_t kShortNetworkLinkHeaderSize = 0x14;
constexpr std::uint32_t kUnicodeNetworkLinkHeaderSize = 0x1C;

// The extra data blocks: each starts with its size and signature; a size below 4 ends them.
constexpr std::uint32_t kMinExtraDataBlockSize = 4;
constexpr std::size_t kExtraDataSignatureOffset = 4;
constexpr std::uint32_t kEnvironmentBlockSignature = 0xA0000001;
constexpr std::uint32_t kEnvironmentBlockSize = 0x314;
// Size and signature, the ANSI target (260 bytes), then the UTF-16 target (260 units).
constexpr std::size_t kEnvironmentUnicodeTargetOffset = 0x10C;
constexpr std::size_t kEnvironmentUnicodeTargetSize = 520;

std::optional<std::uint16_t> U16At(Bytes bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        return std::nullopt;
    return ReadUInt16Le(bytes, offset);
}

std::optional<std::uint32_t> U32At(Bytes bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return std::nullopt;
    return ReadUInt32Le(bytes, offset);
}

// The size bytes at offset; nullopt when they do not all lie within bytes.
std::optional<Bytes> Slice(Bytes bytes, std::size_t offset, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset)
        return std::nullopt;
    return bytes.subspan(offset, size);
}

// The little-endian UTF-16 units of bytes up to the first null unit, or all of them.
std::u16string Utf16Units(Bytes bytes) {
    std::u16string text;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto unit = static_cast<char16_t>(ReadUInt16Le(bytes, at));
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

// The null-terminated string at offset; nullopt when it or its terminator lies outside bytes.
std::optional<std::u16string> TerminatedUtf16At(Bytes bytes, std::size_t offset) {
    if (offset > bytes.size())
        return std::nullopt;
    std::u16string text = Utf16Units(bytes.subspan(offset));
    if (2 * text.size() + 2 > bytes.size() - offset)
        return std::nullopt;
    return text;
}

// The string at the offset that the field at offsetField of block gives. Strings follow the
// block's header, so an offset of zero (no string) or one inside the header gives nullopt.
std::optional<std::u16string> StringAtOffsetIn(Bytes block, std::size_t offsetField,
                                               std::size_t headerSize) {
    std::optional<std::uint32_t> offset = U32At(block, offsetField);
    if (!offset || *offset < headerSize)
        return std::nullopt;
    return TerminatedUtf16At(block, *offset);
}

std::optional<std::u16string> ReadNetName(Bytes linkInfo, std::uint32_t linkInfoHeaderSize) {
    std::optional<std::uint32_t> offset = U32At(linkInfo, kNetworkLinkOffsetOffset);
    if (!offset || *offset < linkInfoHeaderSize)
        return std::nullopt;
    std::optional<std::uint32_t> size = U32At(linkInfo, *offset);
    std::optional<Bytes> networkLink = size ? Slice(linkInfo, *offset, *size) : std::nullopt;
    if (!networkLink)
        return std::nullopt;
    std::optional<std::uint32_t> ansiNameOffset = U32At(*networkLink, kNetNameOffsetOffset);
    if (!ansiNameOffset || *ansiNameOffset <= kShortNetworkLinkHeaderSize)
        return std::nullopt;
    return StringAtOffsetIn(*networkLink, kNetNameUnicodeOffsetOffset,
                            kUnicodeNetworkLinkHeaderSize);
}

void ReadLinkInfoStrings(Bytes linkInfo, ShellLinkStrings& strings) {
    std::optional<std::uint32_t> headerSize = U32At(linkInfo, kLinkInfoHeaderSizeOffset);
    std::optional<std::uint32_t> flags = U32At(linkInfo, kLinkInfoFlagsOffset);
    if (!headerSize || !flags || *headerSize < kUnicodeLinkInfoHeaderSize)
        return;
    if (*flags & kHasVolumeIdAndLocalBasePath) {
        strings.localBasePath =
            StringAtOffsetIn(linkInfo, kLocalBasePathUnicodeOffsetOffset, *headerSize);
    }
    if (*flags & kHasNetworkLink)
        strings.netName = ReadNetName(linkInfo, *headerSize);
    strings.commonPathSuffix =
        StringAtOffsetIn(linkInfo, kCommonPathSuffixUnicodeOffsetOffset, *headerSize);
}

// Reads the string data at offset and moves offset past it. Each string is a 16-bit count of
// characters, UTF-16 units or ANSI bytes as the link flags say, then the characters. False
// when a string runs past the end of the file: its place says nothing of what follows.
bool ReadStringData(Bytes bytes, std::uint32_t linkFlags, std::size_t& offset,
                    ShellLinkStrings& strings) {
    const std::pair<std::uint32_t, std::optional<std::u16string> ShellLinkStrings::*> fields[] = {
        {kHasName, &ShellLinkStrings::name},
        {kHasRelativePath, &ShellLinkStrings::relativePath},
        {kHasWorkingDir, &ShellLinkStrings::workingDir},
        {kHasArguments, &ShellLinkStrings::arguments},
        {kHasIconLocation, &ShellLinkStrings::iconLocation},
    };
    const bool isUnicode = (linkFlags & kIsUnicode) != 0;
    for (const auto& [flag, field] : fields) {
        if (!(linkFlags & flag))
            continue;
        std::optional<std::uint16_t> count = U16At(bytes, offset);
        std::optional<Bytes> characters =
            count ? Slice(bytes, offset + 2, isUnicode ? 2 * std::size_t{*count} : *count)
                  : std::nullopt;
        if (!characters)
            return false;
        if (isUnicode)
            strings.*field = Utf16Units(*characters);
        offset += 2 + characters->size();
    }
    return true;
}

// The UTF-16 target of the first environment variables block among the extra data blocks
// that start at offset.
std::optional<std::u16string> ReadEnvironmentTarget(Bytes bytes, std::size_t offset) {
    for (;;) {
        std::optional<std::uint32_t> size = U32At(bytes, offset);
        if (!size || *size < kMinExtraDataBlockSize)
            return std::nullopt;
        std::optional<Bytes> block = Slice(bytes, offset, *size);
        if (!block)
            return std::nullopt;
        if (U32At(*block, kExtraDataSignatureOffset) == kEnvironmentBlockSignature &&
            *size >= kEnvironmentBlockSize) {
            return TerminatedUtf16At(
                block->subspan(kEnvironmentUnicodeTargetOffset, kEnvironmentUnicodeTargetSize), 0);
        }
        offset += *size;
    }
}

}  // namespace

ShellLinkStrings ReadShellLinkStrings(std::span<const std::uint8_t> bytes) {
    ShellLinkStrings strings;
    std::optional<std::uint32_t> headerSize = U32At(bytes, 0);
    std::optional<std::uint32_t> flags = U32At(bytes, kLinkFlagsOffset);
    if (headerSize != kHeaderSize || !flags)
        return strings;
    std::size_t offset = kHeaderSize;
    if (*flags & kHasLinkTargetIdList) {
        // The ID list's own 16-bit size, then its items.
        std::optional<std::uint16_t> idListSize = U16At(bytes, offset);
        if (!idListSize)
            return strings;
        offset += 2 + std::size_t{*idListSize};
    }
    if (*flags & kHasLinkInfo) {
        std::optional<std::uint32_t> size = U32At(bytes, offset);
        std::optional<Bytes> linkInfo = size ? Slice(bytes, offset, *size) : std::nullopt;
        if (!linkInfo || linkInfo->size() < sizeof(std::uint32_t))
            return strings;
        ReadLinkInfoStrings(*linkInfo, strings);
        offset += linkInfo->size();
    }
    if (ReadStringData(bytes, *flags, offset, strings))
        strings.environmentTarget = ReadEnvironmentTarget(bytes, offset);
    return strings;
}

}  // namespace quillary
