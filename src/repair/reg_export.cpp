#include "repair/reg_export.h"

#include <algorithm>

#include "core/bytes.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n";
// Windows nests keys at most 512 deep; deeper is a link cycle in a hostile registry.
constexpr int kMaxKeyDepth = 512;
constexpr std::size_t kWrapColumn = 77;

// "HKEY_LOCAL_MACHINE\\SOFTWARE\\x", or the root name alone for an empty sub-key path.
std::u16string FullKeyPath(HKey root, std::u16string_view subKey) {
    std::u16string path(RootKeyName(root));
    if (!subKey.empty()) {
        path += u'\\';
        path += subKey;
    }
    return path;
}

std::u16string Escape(std::u16string_view text) {
    std::u16string escaped;
    for (char16_t ch : text) {
        if (ch == u'\\' || ch == u'"')
            escaped += u'\\';
        escaped += ch;
    }
    return escaped;
}

// The name before '='. A value literally named "@" is quoted, so it cannot be taken for the
// default value on import.
std::u16string NameField(std::u16string_view name) {
    if (name.empty())
        return u"@";
    std::u16string field(1, u'"');
    field += Escape(name);
    field += u'"';
    return field;
}

// True when data is one string and its terminator: an even size, a final NUL unit and no
// NUL before it. Only such data survives the quoted form byte for byte.
bool IsCleanString(std::span<const std::uint8_t> data) {
    if (data.size() < 2 || data.size() % 2 != 0)
        return false;
    std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        bool nul = data[2 * i] == 0 && data[2 * i + 1] == 0;
        if (nul != (i == units - 1))
            return false;
    }
    return true;
}

void AppendHexDigits(std::u16string& text, std::uint32_t value, bool minimal) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(HexDigit(value)));
        value >>= 4;
    } while (value != 0);
    if (!minimal)
        digits.insert(0, 8 - std::min<std::size_t>(8, digits.size()), u'0');
    text += digits;
}

std::u16string HexValue(std::u16string prefix, std::span<const std::uint8_t> data) {
    std::u16string text = std::move(prefix);
    std::size_t count = text.size();
    text.reserve(count + data.size() * 3 + data.size() / 24 * 5 + 2);
    for (std::size_t i = 0; i < data.size(); ++i) {
        text += static_cast<char16_t>(HexDigit(data[i] >> 4u));
        text += static_cast<char16_t>(HexDigit(data[i]));
        count += 2;
        if (i + 1 == data.size())
            break;
        text += u',';
        count += 1;
        // The count runs on over line breaks, so the breaks follow from the whole length.
        if (count % kWrapColumn < 3) {
            text += u"\\\r\n  ";
            count += 5;
        }
    }
    text += u"\r\n";
    return text;
}

}  // namespace

CRegExport::CRegExport(const RegistryTarget& target) : target_(target) {
    lines_.emplace_back(kHeader);
}

RegSam CRegExport::MaskFor(bool in64BitView) const {
    if (!target_.is64Bit)
        return kMaskReadOnly;
    return kMaskReadOnly | (in64BitView ? KeyWow64_64Key : KeyWow64_32Key);
}

void CRegExport::AppendKeyBlock(std::u16string_view path) {
    std::u16string block = u"\r\n[";
    block += path;
    block += u"]\r\n";
    lines_.push_back(std::move(block));
}

std::u16string CRegExport::FormatValue(std::u16string_view name, RegType type,
                                       std::span<const std::uint8_t> data) {
    std::u16string field = NameField(name);
    if (type == RegSz && IsCleanString(data)) {
        std::u16string text = FromUtf16LeBytes(data.first(data.size() - 2));
        return field + u"=\"" + Escape(text) + u"\"\r\n";
    }
    if (type == RegDword && data.size() == 4) {
        const std::uint32_t value = ReadUInt32Le(data);
        std::u16string line = field + u"=dword:";
        AppendHexDigits(line, value, false);
        return line + u"\r\n";
    }
    if (type == RegBinary)
        return HexValue(field + u"=hex:", data);
    // Every other type, and string or DWORD data of an unusual shape, keeps its exact bytes.
    std::u16string prefix = field + u"=hex(";
    AppendHexDigits(prefix, type, true);
    return HexValue(prefix + u"):", data);
}

bool CRegExport::ExportKey(HKey root, std::u16string_view subKey, bool in64BitView) {
    if (root == HKeyCurrentConfig || !IsPredefinedKey(root) || root == HKeyPerformanceData) {
        return false;
    }
    RegKey key(*target_.store);
    RegSam mask = MaskFor(in64BitView);
    if (key.Open(root, subKey, mask) != ErrorSuccess)
        return false;
    std::u16string path = FullKeyPath(root, subKey);
    return ExportOpenKey(key.Handle(), path, mask, 0);
}

bool CRegExport::ExportOpenKey(HKey key, const std::u16string& path, RegSam mask, int depth) {
    if (ToLower(path).find(u"\\wow6432node") != std::u16string::npos || depth > kMaxKeyDepth) {
        return false;
    }
    AppendKeyBlock(path);
    IRegistry& store = *target_.store;
    RegKeyInfo info;
    bool haveInfo = store.RegQueryInfoKeyW(key, &info) == ErrorSuccess;

    // Every value, whatever its size: a copy that silently missed one could not undo.
    std::vector<char16_t> name(std::max<std::uint32_t>(info.maxValueNameLength, 16383) + 1);
    std::vector<std::uint8_t> data(std::max<std::uint32_t>(info.maxValueDataLength, 1));
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t nameLength = static_cast<std::uint32_t>(name.size());
        std::uint32_t dataSize = static_cast<std::uint32_t>(data.size());
        RegType type = RegNone;
        LStatus status = store.RegEnumValueW(key, index, name.data(), &nameLength, &type,
                                             data.data(), &dataSize);
        if (status == ErrorMoreData && dataSize > data.size()) {
            data.resize(dataSize);  // grown since the key was measured: read it again
            --index;
            continue;
        }
        if (status != ErrorSuccess)
            break;
        lines_.push_back(FormatValue(std::u16string_view(name.data(), nameLength), type,
                                     std::span(data.data(), dataSize)));
    }

    HKey self = HKey::None;
    if (store.RegOpenKeyExW(key, u"", 0, mask, &self) != ErrorSuccess)
        return true;
    if (!haveInfo) {
        store.RegCloseKey(self);
        return false;
    }
    std::vector<char16_t> childName(std::max<std::uint32_t>(info.maxSubKeyLength, 519) + 1);
    for (std::uint32_t index = 0; index < info.subKeys; ++index) {
        std::uint32_t length = static_cast<std::uint32_t>(childName.size());
        if (store.RegEnumKeyExW(self, index, childName.data(), &length, nullptr) != ErrorSuccess) {
            continue;
        }
        std::u16string child(childName.data(), length);
        if (ToLower(child) == u"wow6432node")
            continue;
        HKey childKey = HKey::None;
        if (store.RegOpenKeyExW(self, child, 0, mask, &childKey) != ErrorSuccess)
            continue;
        ExportOpenKey(childKey, path + u"\\" + child, mask, depth + 1);
        store.RegCloseKey(childKey);
    }
    store.RegCloseKey(self);
    return true;
}

bool CRegExport::ExportValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                             bool in64BitView) {
    if (root == HKeyCurrentConfig || !IsPredefinedKey(root) || root == HKeyPerformanceData) {
        return false;
    }
    RegKey key(*target_.store);
    if (key.Open(root, subKey, MaskFor(in64BitView)) != ErrorSuccess)
        return false;
    std::u16string path = FullKeyPath(root, subKey);
    AppendKeyBlock(path);

    std::uint32_t size = 0;
    RegType type = RegNone;
    IRegistry& store = *target_.store;
    if (store.RegQueryValueExW(key.Handle(), valueName, &type, nullptr, &size) != ErrorSuccess) {
        return false;
    }
    std::vector<std::uint8_t> data(std::max<std::uint32_t>(size, 1));
    if (store.RegQueryValueExW(key.Handle(), valueName, &type, data.data(), &size) !=
        ErrorSuccess) {
        return false;
    }
    lines_.push_back(FormatValue(valueName, type, std::span(data.data(), size)));
    return true;
}

void CRegExport::ExportKeyDeletion(HKey root, std::u16string_view subKey) {
    std::u16string block = u"\r\n[-";
    block += FullKeyPath(root, subKey);
    block += u"]\r\n";
    lines_.push_back(std::move(block));
}

void CRegExport::ExportValueDeletion(HKey root, std::u16string_view subKey,
                                     std::u16string_view valueName) {
    std::u16string path = FullKeyPath(root, subKey);
    AppendKeyBlock(path);
    lines_.push_back(NameField(valueName) + u"=-\r\n");
}

std::u16string CRegExport::Text() const {
    std::u16string text;
    for (const std::u16string& line : lines_)
        text += line;
    return text;
}

std::vector<std::uint8_t> CRegExport::FileBytes() const {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    std::vector<std::uint8_t> text = ToUtf16LeBytes(Text(), false);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

FileError CRegExport::SaveToFile(IFileIo& fileIo, const std::filesystem::path& path) const {
    return fileIo.ReplaceFileAtomically(path, FileBytes());
}

}  // namespace quillary
