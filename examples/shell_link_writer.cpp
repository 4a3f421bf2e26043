#include "shell_link_writer.h"

#include <array>
#include <span>

#include "core/bytes.h"
#include "core/text_encoding.h"

namespace quillary::demo {
namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
// CLSID_ShellLink {00021401-0000-0000-C000-000000000046} in its stored byte order.
constexpr std::array<std::uint8_t, 16> kShellLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeArchive = 0x20;
constexpr std::uint32_t kShowNormal = 1;

// A LinkInfo header that carries the offsets of the UTF-16 copies of the paths.
constexpr std::uint32_t kLinkInfoHeaderSize = 0x24;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr std::uint32_t kVolumeIdHeaderSize = 0x10;
constexpr std::uint32_t kDriveFixed = 3;
constexpr std::uint32_t kDemoVolumeSerial = 0x51A7D3E0;
constexpr std::size_t kMaxPath = 260;

class CByteWriter {
public:
    void U16(std::uint16_t value) { AppendLittleEndian(bytes_, value, 2); }
    void U32(std::uint32_t value) { AppendLittleEndian(bytes_, value, 4); }
    void U64(std::uint64_t value) { AppendLittleEndian(bytes_, value, 8); }
    void Bytes(std::span<const std::uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    // The system code page's form of the text: characters beyond ASCII become '?', as
    // Windows writes them when the code page lacks them.
    void AnsiZ(std::u16string_view text) {
        for (char16_t ch : text) {
            bytes_.push_back(ch < 0x80 ? static_cast<std::uint8_t>(ch) : std::uint8_t{'?'});
        }
        bytes_.push_back(0);
    }
    void Utf16(std::u16string_view text) { Bytes(ToUtf16LeBytes(text, false)); }
    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

bool IsLocalAbsolutePath(std::u16string_view path) {
    const auto isLetter = [](char16_t ch) {
        return (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z');
    };
    return path.size() >= 3 && isLetter(path[0]) && path[1] == u':' && path[2] == u'\\';
}

// The folder that holds path: "C:\a\b" gives "C:\a", "C:\a" gives "C:\".
std::u16string_view ParentFolder(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u'\\');
    return slash <= 2 ? path.substr(0, 3) : path.substr(0, slash);
}

void WriteHeader(CByteWriter& out, const ShellLinkTarget& target) {
    out.U32(kHeaderSize);
    out.Bytes(kShellLinkClsid);
    out.U32(kHasLinkInfo | kHasWorkingDir | kIsUnicode);
    out.U32(target.isFolder ? kAttributeDirectory : kAttributeArchive);
    out.U64(target.time);  // creation
    out.U64(target.time);  // last access
    out.U64(target.time);  // last write
    out.U32(0);            // file size: unknown to the link
    out.U32(0);            // icon index
    out.U32(kShowNormal);
    out.U16(0);  // hot key
    out.U16(0);  // reserved
    out.U32(0);  // reserved
    out.U32(0);  // reserved
}

void WriteLinkInfo(CByteWriter& out, std::u16string_view path) {
    const std::uint32_t volumeIdSize = kVolumeIdHeaderSize + 1;  // the empty volume label
    const std::uint32_t basePathOffset = kLinkInfoHeaderSize + volumeIdSize;
    const std::uint32_t suffixOffset = basePathOffset + static_cast<std::uint32_t>(path.size()) + 1;
    const std::uint32_t basePathUnicodeOffset = suffixOffset + 1;
    const std::uint32_t suffixUnicodeOffset =
        basePathUnicodeOffset + 2 * (static_cast<std::uint32_t>(path.size()) + 1);
    const std::uint32_t size = suffixUnicodeOffset + 2;

    out.U32(size);
    out.U32(kLinkInfoHeaderSize);
    out.U32(kVolumeIdAndLocalBasePath);
    out.U32(kLinkInfoHeaderSize);  // the volume id follows the header
    out.U32(basePathOffset);
    out.U32(0);  // no network location
    out.U32(suffixOffset);
    out.U32(basePathUnicodeOffset);
    out.U32(suffixUnicodeOffset);

    out.U32(volumeIdSize);
    out.U32(kDriveFixed);
    out.U32(kDemoVolumeSerial);
    out.U32(kVolumeIdHeaderSize);  // the label follows the volume id's header
    out.AnsiZ(u"");

    out.AnsiZ(path);
    out.AnsiZ(u"");  // the whole path is in the base path: the suffix is empty
    out.Utf16(path);
    out.U16(0);
    out.U16(0);
}

}  // namespace

std::vector<std::uint8_t> FormatShellLink(const ShellLinkTarget& target) {
    if (!IsLocalAbsolutePath(target.path) || target.path.size() >= kMaxPath) {
        return {};
    }
    CByteWriter out;
    WriteHeader(out, target);
    WriteLinkInfo(out, target.path);
    const std::u16string_view workingFolder = ParentFolder(target.path);
    out.U16(static_cast<std::uint16_t>(workingFolder.size()));
    out.Utf16(workingFolder);
    out.U32(0);  // terminal block: no extra data
    return out.Take();
}

}  // namespace quillary::demo
