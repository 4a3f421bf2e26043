#include "repair/reg_export.h"

#include <algorithm>
#include <optional>

#include "core/bytes.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n";
// Windows nests keys at most 512 deep; deeper is a link cycle in a hostile registry.
constexpr int kMaxKeyDepth = 512;
constexpr std::size_t kWrapColumn = 77;
// How many key blocks pass between two progress reports.
constexpr std::uint64_t kProgressInterval = 4096;
// The largest text the importer reads back. Links that lead to the same keys again and again
// could make a walk write more than that, and such a text would be of no use.
constexpr std::size_t kMaxTextBytes = std::size_t{1} << 30;
constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

// "HKEY_LOCAL_MACHINE\\SOFTWARE\\x", or the root name alone for an empty sub-key path.
std::u16string FullKeyPath(HKey root, std::u16string_view subKey) {
    std::u16string path(RootKeyName(root));
    if (!subKey.empty()) {
        path += u'\\';
        path += subKey;
    }
    return path;
}

// Line breaks are escaped too, so that a string of several lines stays on its line.
std::u16string Escape(std::u16string_view text) {
    std::u16string escaped;
    for (char16_t ch : text) {
        switch (ch) {
            case u'\\':
            case u'"':
                escaped += u'\\';
                escaped += ch;
                break;
            // Line breaks are written as escapes, so that a text of several lines stays on
            // its one line.
            case u'\n':
                escaped += u"\\n";
                break;
            case u'\r':
                escaped += u"\\r";
                break;
            default:
                escaped += ch;
        }
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

// Names are compared as the registry compares them.
std::u16string LowerCased(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& ch : lower)
        ch = ToLowerInvariant(ch);
    return lower;
}

// Where a root's keys live, as link targets name them; empty for a root whose place the walk
// cannot know (the current user's key, the classes' merged view).
std::u16string_view PlaceOfRoot(HKey root) {
    if (root == HKeyLocalMachine)
        return u"\\registry\\machine";
    if (root == HKeyUsers)
        return u"\\registry\\user";
    return {};
}

// The key a symbolic link leads to, lower-cased; nullopt when link (opened without following
// it) is an ordinary key.
std::optional<std::u16string> LinkTargetOf(IRegistry& store, HKey link) {
    RegType type = RegNone;
    std::uint32_t size = 0;
    if (store.RegQueryValueExW(link, kLinkValueName, &type, nullptr, &size) != ErrorSuccess ||
        type != RegLink) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(std::max<std::uint32_t>(size, 1));
    if (store.RegQueryValueExW(link, kLinkValueName, &type, data.data(), &size) != ErrorSuccess)
        return std::u16string();
    std::u16string target = LowerCased(FromUtf16LeBytes(std::span(data.data(), size)));
    while (!target.empty() && (target.back() == u'\\' || target.back() == u'\0'))
        target.pop_back();
    return target;
}

}  // namespace

// One key on the path from the walk's start to the key being written.
struct CRegExport::WalkStep {
    const WalkStep* parent = nullptr;
    std::u16string_view name;  // below the parent
    // Where the key lives, lower-cased ("\registry\machine\software"), for the start and for
    // a followed link; empty: the parent's place and the name.
    std::u16string place;
    int depth = 0;

    // The places of the keys from the start to this one, as far as they are known.
    std::vector<std::u16string> PlacesOnPath() const {
        std::vector<const WalkStep*> steps;
        for (const WalkStep* step = this; step != nullptr; step = step->parent)
            steps.push_back(step);
        std::reverse(steps.begin(), steps.end());
        std::vector<std::u16string> places;
        for (const WalkStep* step : steps) {
            if (!step->place.empty())
                places.push_back(step->place);
            else if (!places.empty())
                places.push_back(places.back() + u'\\' + LowerCased(step->name));
        }
        return places;
    }

    // True when a link named linkName below this key leads to itself or to a key on the path
    // to it: following it would never end.
    bool LinkCloses(std::u16string_view linkName, std::u16string_view target) const {
        std::vector<std::u16string> places = PlacesOnPath();
        if (!places.empty())
            places.push_back(places.back() + u'\\' + LowerCased(linkName));
        return std::find(places.begin(), places.end(), target) != places.end();
    }
};

CRegExport::CRegExport(const RegistryTarget& target, Walk walk) : target_(target), walk_(walk) {
    bytes_ = {0xFF, 0xFE};
    Append(kHeader);
}

void CRegExport::Append(std::u16string_view text) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + text.size() * 2);
    std::uint8_t* out = bytes_.data() + at;
    for (char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xFFu);
        *out++ = static_cast<std::uint8_t>(unit >> 8u);
    }
}

RegSam CRegExport::MaskFor(bool in64BitView) const {
    if (!target_.is64Bit)
        return kMaskReadOnly;
    return kMaskReadOnly | (in64BitView ? KeyWow64_64Key : KeyWow64_32Key);
}

void CRegExport::AppendKeyBlock(std::u16string_view path) {
    Append(u"\r\n[");
    Append(path);
    Append(u"]\r\n");
    ++keysWritten_;
}

void CRegExport::SetProgress(std::function<void(std::uint64_t)> progress) {
    progress_ = std::move(progress);
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
    if (walk_ == Walk::OneView &&
        LowerCased(JoinKeyPath(u"", subKey)).find(u"\\wow6432node") != std::u16string::npos) {
        return false;
    }
    RegKey key(*target_.store);
    RegSam mask = MaskFor(in64BitView);
    if (key.Open(root, subKey, mask) != ErrorSuccess)
        return false;
    WalkStep start;
    // In the 32-bit view a key may live below a Wow6432Node its path does not show.
    if (in64BitView || !target_.is64Bit) {
        start.place = LowerCased(PlaceOfRoot(root));
        if (!start.place.empty() && !subKey.empty())
            start.place += u'\\' + LowerCased(subKey);
    }
    const bool walked = ExportOpenKey(key.Handle(), FullKeyPath(root, subKey), mask, start);
    if (progress_)
        progress_(keysWritten_);
    return walked && failure_.empty();
}

bool CRegExport::ExportOpenKey(HKey key, const std::u16string& path, RegSam mask,
                               const WalkStep& step) {
    if (step.depth > kMaxKeyDepth || !failure_.empty())
        return false;
    if (bytes_.size() > kMaxTextBytes) {
        failure_ = "the registry's links lead to more keys than an export file can hold";
        return false;
    }
    AppendKeyBlock(path);
    if (progress_ && keysWritten_ % kProgressInterval == 0)
        progress_(keysWritten_);
    IRegistry& store = *target_.store;
    RegKeyInfo info;
    bool haveInfo = store.RegQueryInfoKeyW(key, &info) == ErrorSuccess;
    ExportValues(key, info);

    HKey self = HKey::None;
    if (store.RegOpenKeyExW(key, u"", 0, mask, &self) != ErrorSuccess)
        return true;
    if (haveInfo)
        ExportSubkeys(self, info, path, mask, step);
    store.RegCloseKey(self);
    return haveInfo;
}

void CRegExport::ExportValues(HKey key, const RegKeyInfo& info) {
    // Every value, whatever its size: a copy that silently missed one could not undo.
    IRegistry& store = *target_.store;
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
        Append(FormatValue(std::u16string_view(name.data(), nameLength), type,
                           std::span(data.data(), dataSize)));
    }
}

void CRegExport::ExportSubkeys(HKey self, const RegKeyInfo& info, const std::u16string& path,
                               RegSam mask, const WalkStep& step) {
    IRegistry& store = *target_.store;
    std::vector<char16_t> childName(std::max<std::uint32_t>(info.maxSubKeyLength, 519) + 1);
    for (std::uint32_t index = 0; index < info.subKeys && failure_.empty(); ++index) {
        std::uint32_t length = static_cast<std::uint32_t>(childName.size());
        if (store.RegEnumKeyExW(self, index, childName.data(), &length, nullptr) != ErrorSuccess) {
            continue;
        }
        const std::u16string_view child(childName.data(), length);
        if (walk_ == Walk::OneView && LowerCased(child) == u"wow6432node")
            continue;
        const std::u16string childPath = JoinKeyPath(path, child);
        // A key block ends at its line's end: a name that holds a line break cannot be written.
        if (child.find_first_of(u"\r\n") != std::u16string_view::npos) {
            failure_ = "the key name \"" + Utf16ToUtf8(childPath) +
                       "\" holds a line break, which an export file cannot hold";
            return;
        }
        HKey childKey = HKey::None;
        if (store.RegOpenKeyExW(self, child, RegOptionOpenLink, mask, &childKey) != ErrorSuccess)
            continue;
        WalkStep childStep{&step, child, {}, step.depth + 1};
        if (std::optional<std::u16string> target = LinkTargetOf(store, childKey)) {
            store.RegCloseKey(childKey);
            if (step.LinkCloses(child, *target) ||
                store.RegOpenKeyExW(self, child, 0, mask, &childKey) != ErrorSuccess) {
                continue;
            }
            childStep.place = std::move(*target);
        }
        ExportOpenKey(childKey, childPath, mask, childStep);
        store.RegCloseKey(childKey);
    }
}

bool CRegExport::ExportValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                             bool in64BitView) {
    if (root == HKeyCurrentConfig || !IsPredefinedKey(root) || root == HKeyPerformanceData) {
        return false;
    }
    RegKey key(*target_.store);
    if (key.Open(root, subKey, MaskFor(in64BitView)) != ErrorSuccess)
        return false;
    AppendKeyBlock(FullKeyPath(root, subKey));

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
    Append(FormatValue(valueName, type, std::span(data.data(), size)));
    return true;
}

void CRegExport::ExportKeyDeletion(HKey root, std::u16string_view subKey) {
    Append(u"\r\n[-");
    Append(FullKeyPath(root, subKey));
    Append(u"]\r\n");
}

void CRegExport::ExportValueDeletion(HKey root, std::u16string_view subKey,
                                     std::u16string_view valueName) {
    AppendKeyBlock(FullKeyPath(root, subKey));
    Append(NameField(valueName) + u"=-\r\n");
}

std::u16string CRegExport::Text() const {
    return FromUtf16LeBytes(std::span(bytes_).subspan(2));
}

FileError CRegExport::SaveToFile(IFileIo& fileIo, const std::filesystem::path& path) const {
    return fileIo.ReplaceFileAtomically(path, bytes_);
}

}  // namespace quillary
