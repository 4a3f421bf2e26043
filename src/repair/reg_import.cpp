#include "repair/reg_import.h"

#include <algorithm>

#include "core/text.h"
#include "platform/file_io.h"
#include "repair/reg_export.h"

namespace quillary {
namespace {

constexpr std::size_t kMaxRegFileBytes = 1024u * 1024 * 1024;
constexpr std::u16string_view kVersion5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kVersion4 = u"REGEDIT4";

using Kind = RegImportOperation::Kind;

// The file's text: UTF-16LE after FF FE, else 8-bit Windows-1252 (what the Registry Editor
// reads as ANSI). Split into lines at LF, a CR before it dropped.
std::vector<std::u16string> SplitLines(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text = FromUtf16LeBytes(bytes.subspan(2));
    } else {
        std::size_t start =
            bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        text.reserve(bytes.size());
        for (std::size_t i = start; i < bytes.size(); ++i)
            text += Windows1252ToUtf16(bytes[i]);
    }
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::optional<HKey> RootOf(std::u16string_view name) {
    struct Root {
        std::u16string_view longName;
        std::u16string_view shortName;
        HKey key;
    };
    static constexpr Root kRoots[] = {
        {u"HKEY_CLASSES_ROOT", u"HKCR", HKeyClassesRoot},
        {u"HKEY_CURRENT_USER", u"HKCU", HKeyCurrentUser},
        {u"HKEY_LOCAL_MACHINE", u"HKLM", HKeyLocalMachine},
        {u"HKEY_USERS", u"HKU", HKeyUsers},
        {u"HKEY_CURRENT_CONFIG", u"HKCC", HKeyCurrentConfig},
    };
    for (const Root& root : kRoots) {
        if (EqualsNoCase(name, root.longName) || EqualsNoCase(name, root.shortName)) {
            return root.key;
        }
    }
    return std::nullopt;
}

class CRegParser {
public:
    explicit CRegParser(std::vector<std::u16string> lines) : lines_(std::move(lines)) {}

    RegImportParse Parse() {
        std::size_t index = 0;
        while (index < lines_.size() && TrimView(lines_[index]).empty())
            ++index;
        std::u16string_view header =
            index < lines_.size() ? TrimView(lines_[index]) : std::u16string_view();
        if (header != kVersion5 && header != kVersion4) {
            return Fail(index + 1, "not a registry file: the first line is not \"" +
                                       Utf16ToUtf8(kVersion5) + "\" or \"REGEDIT4\"");
        }
        for (++index; index < lines_.size() && !result_.error; ++index)
            ParseLine(index);
        return std::move(result_);
    }

private:
    RegImportParse Fail(std::size_t line, std::string message) {
        result_.operations.clear();
        result_.error = RegImportError{line, std::move(message)};
        return std::move(result_);
    }
    void Error(std::size_t index, std::string message) {
        if (!result_.error) {
            result_.operations.clear();
            result_.error = RegImportError{index + 1, std::move(message)};
        }
    }

    void ParseLine(std::size_t& index) {
        std::u16string_view line = TrimLeftView(lines_[index]);
        if (line.empty() || line[0] == u';')
            return;
        if (line[0] == u'[') {
            ParseKeyLine(index, line);
        } else if (line[0] == u'"' || line[0] == u'@') {
            ParseValueLine(index);
        } else {
            Error(index, "a line that is neither a key, a value nor a comment");
        }
    }

    void ParseKeyLine(std::size_t index, std::u16string_view line) {
        std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos) {
            Error(index, "a key line without its closing ']'");
            return;
        }
        std::u16string_view path = line.substr(1, close - 1);
        bool deletion = !path.empty() && path[0] == u'-';
        if (deletion)
            path.remove_prefix(1);
        std::size_t backslash = path.find(u'\\');
        std::optional<HKey> root = RootOf(path.substr(0, backslash));
        if (!root) {
            Error(index, "unknown root key in \"" + Utf16ToUtf8(path) + "\"");
            return;
        }
        std::u16string subKey(backslash == std::u16string_view::npos ? std::u16string_view()
                                                                     : path.substr(backslash + 1));
        while (!subKey.empty() && subKey.back() == u'\\')
            subKey.pop_back();
        if (deletion && subKey.empty()) {
            Error(index, "a root key cannot be deleted");
            return;
        }
        currentRoot_ = *root;
        currentKey_ = subKey;
        haveKey_ = !deletion;
        RegImportOperation operation;
        operation.kind = deletion ? Kind::DeleteKey : Kind::CreateKey;
        operation.root = *root;
        operation.subKey = std::move(subKey);
        operation.line = index + 1;
        result_.operations.push_back(std::move(operation));
    }

    // A quoted text with \\ \" \n \r; the position after the closing quote, or nullopt.
    std::optional<std::size_t> ReadQuoted(std::u16string_view line, std::size_t start,
                                          std::u16string& text) {
        for (std::size_t i = start + 1; i < line.size(); ++i) {
            char16_t ch = line[i];
            if (ch == u'"')
                return i + 1;
            if (ch == u'\\' && i + 1 < line.size()) {
                char16_t next = line[++i];
                text += next == u'n' ? u'\n' : next == u'r' ? u'\r' : next;
                continue;
            }
            text += ch;
        }
        return std::nullopt;
    }

    void ParseValueLine(std::size_t& index) {
        std::u16string_view line = TrimLeftView(lines_[index]);
        if (!haveKey_) {
            Error(index, "a value before any key, or under a deleted key");
            return;
        }
        RegImportOperation operation;
        operation.root = currentRoot_;
        operation.subKey = currentKey_;
        operation.line = index + 1;
        std::size_t at = 0;
        if (line[0] == u'@') {
            at = 1;
        } else {
            std::optional<std::size_t> end = ReadQuoted(line, 0, operation.valueName);
            if (!end) {
                Error(index, "a value name without its closing quote");
                return;
            }
            at = *end;
        }
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t'))
            ++at;
        if (at >= line.size() || line[at] != u'=') {
            Error(index, "a value without '='");
            return;
        }
        ++at;
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t'))
            ++at;
        std::u16string_view data = line.substr(at);

        if (data.starts_with(u"-") && IsRestBlank(data.substr(1))) {
            operation.kind = Kind::DeleteValue;
        } else if (data.starts_with(u"\"")) {
            std::u16string text;
            std::optional<std::size_t> end = ReadQuoted(data, 0, text);
            if (!end || !IsRestBlank(data.substr(*end))) {
                Error(index, "a string value without its closing quote");
                return;
            }
            operation.kind = Kind::SetValue;
            operation.type = RegSz;
            operation.data = ToUtf16LeBytes(text, true);
        } else if (StartsWithNoCase(data, u"dword:")) {
            std::u16string_view digits = TrimView(CutComment(data.substr(6)));
            if (digits.empty() || digits.size() > 8 ||
                !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
                Error(index, "a dword value that is not 1 to 8 hexadecimal digits");
                return;
            }
            std::uint32_t value = 0;
            for (char16_t ch : digits)
                value = value << 4 | HexValue(ch);
            operation.kind = Kind::SetValue;
            operation.type = RegDword;
            operation.data = {
                static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        } else if (StartsWithNoCase(data, u"hex")) {
            if (!ParseHex(index, data, operation))
                return;
        } else {
            Error(index, "a value of a form the Registry Editor does not write");
            return;
        }
        result_.operations.push_back(std::move(operation));
    }

    // hex:..., hex(N):..., continued over lines that end in a backslash.
    bool ParseHex(std::size_t& index, std::u16string_view data, RegImportOperation& operation) {
        std::size_t colon = data.find(u':');
        if (colon == std::u16string_view::npos) {
            Error(index, "a hex value without ':'");
            return false;
        }
        std::u16string_view form = data.substr(0, colon);
        operation.type = RegBinary;
        if (form.size() > 3) {
            std::u16string_view type = form.substr(3);
            if (type.size() < 3 || type.front() != u'(' || type.back() != u')' ||
                type.size() > 10 || !std::all_of(type.begin() + 1, type.end() - 1, IsHexDigit)) {
                Error(index, "a hex value with a malformed type");
                return false;
            }
            std::uint32_t value = 0;
            for (char16_t ch : type.substr(1, type.size() - 2))
                value = value << 4 | HexValue(ch);
            operation.type = value;
        }
        operation.kind = Kind::SetValue;
        const std::size_t valueLine = index;
        std::u16string_view rest = data.substr(colon + 1);
        for (;;) {
            std::u16string_view bytes = TrimView(CutComment(rest));
            bool continues = !bytes.empty() && bytes.back() == u'\\';
            if (continues)
                bytes.remove_suffix(1);
            if (!AppendHexBytes(bytes, operation.data)) {
                Error(index, "hex data that is not two-digit bytes separated by commas");
                return false;
            }
            if (!continues)
                return true;
            // The data goes on in the next line that is neither blank nor a comment.
            do {
                if (++index >= lines_.size()) {
                    Error(valueLine, "hex data that ends in a backslash at the end of the file");
                    return false;
                }
                rest = TrimView(lines_[index]);
            } while (rest.empty() || rest[0] == u';');
        }
    }

    static bool AppendHexBytes(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
        while (!text.empty()) {
            std::size_t comma = text.find(u',');
            std::u16string_view item = TrimView(text.substr(0, comma));
            text.remove_prefix(comma == std::u16string_view::npos ? text.size() : comma + 1);
            if (item.empty() && comma == std::u16string_view::npos)
                break;
            if (item.size() < 1 || item.size() > 2 ||
                !std::all_of(item.begin(), item.end(), IsHexDigit)) {
                return false;
            }
            std::uint8_t value = 0;
            for (char16_t ch : item)
                value = static_cast<std::uint8_t>(value << 4 | HexValue(ch));
            bytes.push_back(value);
        }
        return true;
    }

    static std::u16string_view CutComment(std::u16string_view text) {
        std::size_t semicolon = text.find(u';');
        return semicolon == std::u16string_view::npos ? text : text.substr(0, semicolon);
    }
    static bool IsRestBlank(std::u16string_view text) { return TrimView(CutComment(text)).empty(); }
    static bool IsHexDigit(char16_t ch) {
        return (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') ||
               (ch >= u'A' && ch <= u'F');
    }
    static std::uint32_t HexValue(char16_t ch) {
        if (ch >= u'0' && ch <= u'9')
            return ch - u'0';
        if (ch >= u'a' && ch <= u'f')
            return ch - u'a' + 10u;
        return ch - u'A' + 10u;
    }

    std::vector<std::u16string> lines_;
    RegImportParse result_;
    HKey currentRoot_ = HKey::None;
    std::u16string currentKey_;
    bool haveKey_ = false;
};

std::string Describe(const RegImportOperation& operation, LStatus status) {
    return "line " + std::to_string(operation.line) + ": " +
           Utf16ToUtf8(std::u16string(RootKeyName(operation.root))) + "\\" +
           Utf16ToUtf8(operation.subKey) + ": Windows error " + std::to_string(status);
}

}  // namespace

RegImportParse ParseRegFile(std::span<const std::uint8_t> bytes) {
    return CRegParser(SplitLines(bytes)).Parse();
}

std::optional<std::string> ApplyRegOperations(const RegistryTarget& target, bool in64BitView,
                                              std::span<const RegImportOperation> operations) {
    IRegistry& store = *target.store;
    RegSam view = 0;
    if (target.is64Bit)
        view = in64BitView ? KeyWow64_64Key : KeyWow64_32Key;
    for (const RegImportOperation& operation : operations) {
        LStatus status = ErrorSuccess;
        switch (operation.kind) {
            case Kind::DeleteKey: {
                std::u16string_view parent = operation.subKey;
                std::size_t backslash = parent.rfind(u'\\');
                std::u16string_view name = operation.subKey;
                HKey parentKey = operation.root;
                RegKey opened(store);
                if (backslash != std::u16string_view::npos) {
                    name = parent.substr(backslash + 1);
                    status = opened.Open(operation.root, parent.substr(0, backslash),
                                         kMaskFullAccess | view);
                    parentKey = opened.Handle();
                }
                if (status == ErrorSuccess) {
                    status = DeleteKeyTree(target, parentKey, name, kMaskFullAccess | view);
                }
                // A key that is not there is already as the file wants it.
                if (status == ErrorFileNotFound)
                    status = ErrorSuccess;
                break;
            }
            case Kind::CreateKey: {
                HKey key = HKey::None;
                status = store.RegCreateKeyExW(operation.root, operation.subKey, u"", 0,
                                               kMaskReadWrite | view, &key, nullptr);
                if (status == ErrorSuccess)
                    store.RegCloseKey(key);
                break;
            }
            case Kind::SetValue:
            case Kind::DeleteValue: {
                HKey key = HKey::None;
                status = store.RegCreateKeyExW(operation.root, operation.subKey, u"", 0,
                                               kMaskReadWrite | view, &key, nullptr);
                if (status != ErrorSuccess)
                    break;
                if (operation.kind == Kind::SetValue) {
                    status = store.RegSetValueExW(
                        key, operation.valueName, operation.type, operation.data.data(),
                        static_cast<std::uint32_t>(operation.data.size()));
                } else {
                    status = store.RegDeleteValueW(key, operation.valueName);
                    if (status == ErrorFileNotFound)
                        status = ErrorSuccess;
                }
                store.RegCloseKey(key);
                break;
            }
        }
        if (status != ErrorSuccess)
            return Describe(operation, status);
    }
    return std::nullopt;
}

void RecordUndoOf(const RegistryTarget& target, bool in64BitView,
                  std::span<const RegImportOperation> operations, CRegExport& writer) {
    RegSam view = 0;
    if (target.is64Bit)
        view = in64BitView ? KeyWow64_64Key : KeyWow64_32Key;
    const auto keyExists = [&](HKey root, std::u16string_view subKey) {
        RegKey key(*target.store);
        return key.Open(root, subKey, kMaskReadOnly | view) == ErrorSuccess;
    };
    // Keys the file creates are deleted on undo only once, however often it names them.
    std::vector<std::pair<HKey, std::u16string>> created;
    const auto recordCreation = [&](HKey root, const std::u16string& subKey) {
        if (keyExists(root, subKey))
            return;
        for (const auto& [createdRoot, createdKey] : created) {
            if (createdRoot == root && EqualsNoCase(createdKey, subKey))
                return;
        }
        // The first missing key on the way is the one the import makes.
        std::u16string first = subKey;
        std::size_t end = 0;
        while ((end = subKey.find(u'\\', end + 1)) != std::u16string::npos) {
            if (!keyExists(root, subKey.substr(0, end))) {
                first = subKey.substr(0, end);
                break;
            }
        }
        created.emplace_back(root, subKey);
        writer.ExportKeyDeletion(root, first);
    };
    for (const RegImportOperation& operation : operations) {
        switch (operation.kind) {
            case Kind::CreateKey:
                recordCreation(operation.root, operation.subKey);
                break;
            case Kind::DeleteKey:
                writer.ExportKey(operation.root, operation.subKey, in64BitView);
                break;
            case Kind::SetValue:
            case Kind::DeleteValue:
                recordCreation(operation.root, operation.subKey);
                if (!writer.ExportValue(operation.root, operation.subKey, operation.valueName,
                                        in64BitView) &&
                    operation.kind == Kind::SetValue) {
                    writer.ExportValueDeletion(operation.root, operation.subKey,
                                               operation.valueName);
                }
                break;
        }
    }
}

std::optional<std::string> ImportRegFile(const RegistryTarget& target, bool in64BitView,
                                         const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes;
    if (FileError error = ReadWholeFile(path, kMaxRegFileBytes, bytes))
        return error;
    RegImportParse parsed = ParseRegFile(bytes);
    if (parsed.error) {
        std::string where =
            parsed.error->line ? ", line " + std::to_string(parsed.error->line) : "";
        return path.string() + where + ": " + parsed.error->message + "; nothing was imported";
    }
    if (std::optional<std::string> failure =
            ApplyRegOperations(target, in64BitView, parsed.operations)) {
        return path.string() + ", " + *failure;
    }
    return std::nullopt;
}

}  // namespace quillary
