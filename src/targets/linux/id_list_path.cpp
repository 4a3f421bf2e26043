#include "targets/linux/id_list_path.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/bytes.h"

namespace quillary {
namespace {

// The root item of "My Computer": type 0x1F, a sort byte, then its class identifier
// {20D04FE0-3AEA-1069-A2D8-08002B30309D} in stored byte order.
constexpr std::uint8_t kRootItemType = 0x1F;
constexpr std::array<std::uint8_t, 16> kMyComputerClsid = {
    0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr std::size_t kRootClsidOffset = 4;

// Item classes are told apart by the bits 0x70 of the type byte.
constexpr std::uint8_t kClassMask = 0x70;
constexpr std::uint8_t kDriveClass = 0x20;
constexpr std::uint8_t kFileEntryClass = 0x30;
constexpr std::uint8_t kFileEntryUnicodeName = 0x04;
constexpr std::size_t kDriveNameOffset = 3;
// Size, type, a spare byte, file size, DOS date and time, attributes: then the name.
constexpr std::size_t kFileEntryNameOffset = 14;

// The extension block that follows a file entry's short name carries the long name. Windows
// marks it with a signature and places the name by version; Wine writes the older layout
// with neither version nor signature.
constexpr std::uint32_t kFileEntryExtensionSignature = 0xBEEF0004;
constexpr std::size_t kExtensionHeaderSize = 8;

// An ID list is at most 64 KB; a path deeper than this is no real shortcut.
constexpr std::size_t kMaxItems = 128;
// The longest path the shell's GetPath can return (its buffer holds 1024 characters).
constexpr std::size_t kMaxPathLength = 1023;

// A NUL-terminated UTF-16 name inside bytes from offset on; nullopt without a terminator.
std::optional<std::u16string> ReadUtf16Name(std::span<const std::uint8_t> bytes, std::size_t offset,
                                            std::size_t* end = nullptr) {
    std::u16string name;
    for (std::size_t at = offset; at + 1 < bytes.size(); at += 2) {
        char16_t unit = ReadUInt16Le(bytes, at);
        if (unit == 0) {
            if (end)
                *end = at + 2;
            return name;
        }
        name += unit;
    }
    return std::nullopt;
}

// A NUL-terminated name in the system code page; *end is set past its terminator. Only an
// ASCII name is returned: the code page the file was written in is unknown, and a guessed
// name would name the wrong file.
std::optional<std::u16string> ReadAsciiName(std::span<const std::uint8_t> bytes, std::size_t offset,
                                            std::size_t* end) {
    std::u16string name;
    bool ascii = true;
    for (std::size_t at = offset; at < bytes.size(); ++at) {
        if (bytes[at] == 0) {
            *end = at + 1;
            return ascii ? std::optional<std::u16string>(name) : std::nullopt;
        }
        ascii = ascii && bytes[at] < 0x80;
        name += static_cast<char16_t>(bytes[at]);
    }
    return std::nullopt;
}

// Where the long name starts in a file entry's extension block, or 0 when the block is not
// one whose layout is known.
std::size_t LongNameOffset(std::uint16_t version, std::uint32_t signature) {
    if (signature == 0 && version == 0)
        return 20;  // Wine's layout
    if (signature != kFileEntryExtensionSignature || version < 3)
        return 0;
    if (version >= 9)
        return 46;
    if (version == 8)
        return 42;
    if (version == 7)
        return 38;
    return 20;
}

std::optional<std::u16string> LongNameOf(std::span<const std::uint8_t> item, std::size_t offset) {
    if (offset % 2 != 0)
        ++offset;
    if (offset + kExtensionHeaderSize > item.size())
        return std::nullopt;
    std::size_t size = ReadUInt16Le(item, offset);
    if (size < kExtensionHeaderSize || offset + size > item.size())
        return std::nullopt;
    std::size_t nameOffset =
        LongNameOffset(ReadUInt16Le(item, offset + 2), ReadUInt32Le(item, offset + 4));
    if (nameOffset == 0 || nameOffset >= size)
        return std::nullopt;
    return ReadUtf16Name(item.subspan(offset, size), nameOffset);
}

// A file entry's name: the long name of its extension block, else its short name.
std::optional<std::u16string> FileEntryName(std::span<const std::uint8_t> item) {
    if (item.size() <= kFileEntryNameOffset)
        return std::nullopt;
    std::size_t end = 0;
    std::optional<std::u16string> shortName = (item[2] & kFileEntryUnicodeName)
                                                  ? ReadUtf16Name(item, kFileEntryNameOffset, &end)
                                                  : ReadAsciiName(item, kFileEntryNameOffset, &end);
    std::optional<std::u16string> longName =
        end != 0 ? LongNameOf(item, end) : std::optional<std::u16string>();
    if (longName && !longName->empty())
        return longName;
    return shortName;
}

// A name that stays inside its folder.
bool IsPlainName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char16_t ch) {
        return ch < 0x20 || ch == u'\\' || ch == u'/' || ch == u':';
    });
}

std::optional<std::u16string> DriveOf(std::span<const std::uint8_t> item) {
    if (item.size() < kDriveNameOffset + 3)
        return std::nullopt;
    char16_t letter = item[kDriveNameOffset];
    if (letter >= u'a' && letter <= u'z')
        letter = static_cast<char16_t>(letter - u'a' + u'A');
    if (letter < u'A' || letter > u'Z' || item[kDriveNameOffset + 1] != ':' ||
        item[kDriveNameOffset + 2] != '\\') {
        return std::nullopt;
    }
    return std::u16string{letter, u':', u'\\'};
}

}  // namespace

std::optional<std::u16string> PathFromIdList(std::span<const std::uint8_t> items) {
    std::vector<std::span<const std::uint8_t>> list;
    for (std::size_t offset = 0;;) {
        if (offset + 2 > items.size())
            return std::nullopt;  // no terminating zero size
        std::size_t size = ReadUInt16Le(items, offset);
        if (size == 0)
            break;
        if (size < 3 || offset + size > items.size() || list.size() == kMaxItems)
            return std::nullopt;
        list.push_back(items.subspan(offset, size));
        offset += size;
    }
    if (list.size() < 2)
        return std::nullopt;

    std::span<const std::uint8_t> root = list[0];
    if (root[2] != kRootItemType || root.size() < kRootClsidOffset + kMyComputerClsid.size() ||
        !std::equal(kMyComputerClsid.begin(), kMyComputerClsid.end(),
                    root.begin() + kRootClsidOffset)) {
        return std::nullopt;
    }
    if ((list[1][2] & kClassMask) != kDriveClass)
        return std::nullopt;
    std::optional<std::u16string> path = DriveOf(list[1]);
    if (!path)
        return std::nullopt;

    for (std::size_t index = 2; index < list.size(); ++index) {
        std::span<const std::uint8_t> item = list[index];
        if ((item[2] & kClassMask) != kFileEntryClass)
            return std::nullopt;
        std::optional<std::u16string> name = FileEntryName(item);
        if (!name || !IsPlainName(*name))
            return std::nullopt;
        if (index > 2)
            *path += u'\\';
        *path += *name;
        if (path->size() > kMaxPathLength)
            return std::nullopt;
    }
    return path;
}

}  // namespace quillary
