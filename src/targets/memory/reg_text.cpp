#include "targets/memory/reg_text.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

// Reads exactly `count` hex digits at text[pos]; nullopt when they are not all there.
std::optional<std::uint32_t> ReadHexDigits(std::u16string_view text, std::size_t pos,
                                           std::size_t count) {
    if (pos + count > text.size()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto digit = HexDigitValue(text[pos + i]);
        if (!digit) {
            return std::nullopt;
        }
        value = value * 16 + *digit;
    }
    return value;
}

class CLineParser {
public:
    explicit CLineParser(std::u16string_view line) : line_(line) {}

    bool AtEnd() const { return pos_ >= line_.size(); }
    std::u16string_view Rest() const { return line_.substr(pos_); }
    bool Consume(std::u16string_view token) {
        if (line_.substr(pos_, token.size()) == token) {
            pos_ += token.size();
            return true;
        }
        return false;
    }
    void SkipBlanks() {
        while (pos_ < line_.size() && (line_[pos_] == u' ' || line_[pos_] == u'\t')) {
            ++pos_;
        }
    }

    // A quoted text with its escapes decoded; the opening quote is at the current position.
    std::optional<std::u16string> QuotedText(std::string* error) {
        if (!Consume(u"\"")) {
            *error = "a quoted text was expected";
            return std::nullopt;
        }
        std::u16string text;
        while (pos_ < line_.size()) {
            const char16_t ch = line_[pos_++];
            if (ch == u'"') {
                return text;
            }
            if (ch != u'\\') {
                text += ch;
                continue;
            }
            if (pos_ >= line_.size()) {
                break;
            }
            const char16_t escaped = line_[pos_++];
            switch (escaped) {
                case u'\\':
                    text += u'\\';
                    break;
                case u'"':
                    text += u'"';
                    break;
                case u'n':
                    text += u'\n';
                    break;
                case u'r':
                    text += u'\r';
                    break;
                case u't':
                    text += u'\t';
                    break;
                case u'0':
                    text += u'\0';
                    break;
                case u'x': {
                    const auto unit = ReadHexDigits(line_, pos_, 4);
                    if (!unit) {
                        *error = "\\x must be followed by four hex digits";
                        return std::nullopt;
                    }
                    text += static_cast<char16_t>(*unit);
                    pos_ += 4;
                    break;
                }
                default:
                    *error = "unknown escape \\" + Utf16ToUtf8(std::u16string(1, escaped));
                    return std::nullopt;
            }
        }
        *error = "the quoted text is not closed";
        return std::nullopt;
    }

    // A hexadecimal number of at most maxDigits digits.
    std::optional<std::uint64_t> HexNumber(std::size_t maxDigits) {
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (pos_ < line_.size()) {
            const auto digit = HexDigitValue(line_[pos_]);
            if (!digit) {
                break;
            }
            if (++digits > maxDigits) {
                return std::nullopt;
            }
            value = value * 16 + *digit;
            ++pos_;
        }
        if (digits == 0) {
            return std::nullopt;
        }
        return value;
    }

private:
    std::u16string_view line_;
    std::size_t pos_ = 0;
};

// "01,02, 0a" → bytes. Blanks around the commas are allowed; a trailing comma is not.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    CLineParser parser(text);
    parser.SkipBlanks();
    if (parser.AtEnd()) {
        return bytes;
    }
    for (;;) {
        parser.SkipBlanks();
        const auto byte = parser.HexNumber(2);
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        parser.SkipBlanks();
        if (parser.AtEnd()) {
            return bytes;
        }
        if (!parser.Consume(u",")) {
            return std::nullopt;
        }
    }
}

std::u16string DecodePath(std::u16string_view text) {
    std::u16string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%') {
            if (const auto unit = ReadHexDigits(text, i + 1, 4)) {
                path += static_cast<char16_t>(*unit);
                i += 4;
                continue;
            }
        }
        path += text[i];
    }
    return path;
}

class CRegTextParser {
public:
    RegTextDocument Parse(std::string_view utf8) {
        std::u16string text = Utf8ToUtf16(utf8);
        if (!text.empty() && text.front() == u'\xFEFF') {
            text.erase(0, 1);
        }
        std::size_t lineStart = 0;
        std::size_t lineNumber = 0;
        std::u16string pending;  // a hex line continued with a trailing backslash
        std::size_t pendingLine = 0;
        while (lineStart <= text.size()) {
            std::size_t lineEnd = text.find(u'\n', lineStart);
            if (lineEnd == std::u16string::npos) {
                lineEnd = text.size();
            }
            std::u16string_view line(text.data() + lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 1;
            ++lineNumber;
            if (!line.empty() && line.back() == u'\r') {
                line.remove_suffix(1);
            }
            if (!pending.empty()) {
                pending += TrimView(line);
            } else {
                pending = TrimLeftView(line);
                pendingLine = lineNumber;
            }
            if (!pending.empty() && pending.back() == u'\\' && IsHexValueLine(pending)) {
                pending.pop_back();
                continue;
            }
            ParseLine(TrimRightView(pending), pendingLine);
            pending.clear();
        }
        if (!pending.empty()) {
            ParseLine(pending, pendingLine);
        }
        return std::move(document_);
    }

private:
    static bool IsHexValueLine(std::u16string_view line) {
        const std::size_t equals = line.rfind(u"=hex");
        return equals != std::u16string_view::npos &&
               (line.front() == u'"' || line.front() == u'@');
    }

    void Error(std::size_t line, std::string message) {
        document_.errors.push_back(RegTextError{line, std::move(message)});
    }

    void ParseLine(std::u16string_view line, std::size_t number) {
        if (line.empty() || line.front() == u';') {
            return;
        }
        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) {
                Error(number, "a key line must end with ]");
                return;
            }
            RegTextKey key;
            key.path = DecodePath(line.substr(1, close - 1));
            document_.keys.push_back(std::move(key));
            return;
        }
        if (document_.keys.empty()) {
            Error(number, "a value or option comes before the first key");
            return;
        }
        if (line.front() == u'#') {
            ParseOption(line, number);
            return;
        }
        ParseValue(line, number);
    }

    void ParseOption(std::u16string_view line, std::size_t number) {
        RegTextKey& key = document_.keys.back();
        CLineParser parser(line);
        std::string error;
        if (parser.Consume(u"#class=")) {
            if (auto text = parser.QuotedText(&error)) {
                key.className = std::move(*text);
                return;
            }
        } else if (parser.Consume(u"#link")) {
            key.isLink = true;
            if (parser.AtEnd()) {
                return;
            }
            if (parser.Consume(u"=")) {
                // The target is written as it is: a full path such as \Registry\Machine\...
                // A link target carries no terminator.
                std::vector<std::uint8_t> bytes = ToUtf16LeBytes(TrimView(parser.Rest()), false);
                key.values.push_back(RegValue{u"SymbolicLinkValue", RegLink, std::move(bytes)});
                return;
            }
        } else if (parser.Consume(u"#deny=")) {
            if (parser.Consume(u"write") && parser.AtEnd()) {
                key.denial = AccessDenial::Write;
                return;
            }
            if (parser.Consume(u"all") && parser.AtEnd()) {
                key.denial = AccessDenial::All;
                return;
            }
            error = "#deny takes write or all";
        } else {
            error = "unknown option";
        }
        Error(number, error.empty() ? "malformed option" : error);
    }

    void ParseValue(std::u16string_view line, std::size_t number) {
        CLineParser parser(line);
        std::string error;
        std::u16string name;
        if (!parser.Consume(u"@")) {
            auto quoted = parser.QuotedText(&error);
            if (!quoted) {
                Error(number, error);
                return;
            }
            name = std::move(*quoted);
        }
        parser.SkipBlanks();
        if (!parser.Consume(u"=")) {
            Error(number, "= expected after the value name");
            return;
        }
        parser.SkipBlanks();
        auto value = ParseData(parser, &error);
        if (!value) {
            Error(number, error);
            return;
        }
        value->name = std::move(name);
        document_.keys.back().values.push_back(std::move(*value));
    }

    static std::optional<RegValue> ParseData(CLineParser& parser, std::string* error) {
        RegValue value;
        if (parser.Rest().starts_with(u"\"")) {
            value.type = RegSz;
            return StringData(parser, &value, error);
        }
        if (parser.Consume(u"str(")) {
            const auto type = parser.HexNumber(8);
            if (!type || !parser.Consume(u"):")) {
                *error = "str( must be followed by a hex type and ):";
                return std::nullopt;
            }
            value.type = static_cast<RegType>(*type);
            return StringData(parser, &value, error);
        }
        if (parser.Consume(u"dword:")) {
            return NumberData(parser, RegDword, 8, &value, error);
        }
        if (parser.Consume(u"qword:")) {
            return NumberData(parser, RegQword, 16, &value, error);
        }
        if (parser.Consume(u"hex:")) {
            value.type = RegBinary;
        } else if (parser.Consume(u"hex(")) {
            const auto type = parser.HexNumber(8);
            if (!type || !parser.Consume(u"):")) {
                *error = "hex( must be followed by a hex type and ):";
                return std::nullopt;
            }
            value.type = static_cast<RegType>(*type);
        } else {
            *error = "unknown value form";
            return std::nullopt;
        }
        auto bytes = ParseHexBytes(parser.Rest());
        if (!bytes) {
            *error = "malformed hex bytes";
            return std::nullopt;
        }
        value.data = std::move(*bytes);
        return value;
    }

    static std::optional<RegValue> StringData(CLineParser& parser, RegValue* value,
                                              std::string* error) {
        auto text = parser.QuotedText(error);
        if (!text) {
            return std::nullopt;
        }
        parser.SkipBlanks();
        if (!parser.AtEnd()) {
            *error = "text after the closing quote";
            return std::nullopt;
        }
        value->data = ToUtf16LeBytes(*text, true);
        return std::move(*value);
    }

    static std::optional<RegValue> NumberData(CLineParser& parser, RegType type, std::size_t digits,
                                              RegValue* value, std::string* error) {
        const auto number = parser.HexNumber(digits);
        if (!number || !parser.AtEnd()) {
            *error = "malformed number";
            return std::nullopt;
        }
        value->type = type;
        value->data = LittleEndianBytes(*number, digits / 2);
        return std::move(*value);
    }

    RegTextDocument document_;
};

// --- writing -----------------------------------------------------------------------------

void AppendQuoted(std::u16string_view text, std::u16string* out) {
    *out += u'"';
    for (char16_t ch : text) {
        switch (ch) {
            case u'\\':
                *out += u"\\\\";
                break;
            case u'"':
                *out += u"\\\"";
                break;
            case u'\n':
                *out += u"\\n";
                break;
            case u'\r':
                *out += u"\\r";
                break;
            case u'\t':
                *out += u"\\t";
                break;
            case u'\0':
                *out += u"\\0";
                break;
            default:
                if (ch < 0x20 || ch == 0x7F || (ch >= 0xD800 && ch <= 0xDFFF)) {
                    *out += u"\\x";
                    for (int shift = 12; shift >= 0; shift -= 4) {
                        *out += static_cast<char16_t>(HexDigit(ch >> shift));
                    }
                } else {
                    *out += ch;
                }
        }
    }
    *out += u'"';
}

void AppendHex(std::uint64_t value, std::size_t digits, std::u16string* out) {
    for (std::size_t i = digits; i-- > 0;) {
        *out += static_cast<char16_t>(HexDigit(static_cast<unsigned>(value >> (4 * i))));
    }
}

void AppendTypeNumber(RegType type, std::u16string* out) {
    std::size_t digits = 1;
    while (digits < 8 && (type >> (4 * digits)) != 0) {
        ++digits;
    }
    AppendHex(type, digits, out);
}

void AppendPathComponent(std::u16string_view name, std::u16string* out) {
    for (char16_t ch : name) {
        if (ch < 0x20 || ch == 0x7F || ch == u'[' || ch == u']' || ch == u'%' ||
            (ch >= 0xD800 && ch <= 0xDFFF)) {
            *out += u'%';
            AppendHex(ch, 4, out);
        } else {
            *out += ch;
        }
    }
}

// True when the data is text with exactly one terminating NUL at its end.
bool IsCleanString(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

void AppendValue(const RegValue& value, std::u16string* out) {
    if (value.name.empty()) {
        *out += u'@';
    } else {
        AppendQuoted(value.name, out);
    }
    *out += u'=';
    const bool stringType =
        value.type == RegSz || value.type == RegExpandSz || value.type == RegMultiSz;
    if (stringType && IsCleanString(value.data)) {
        std::u16string text = FromUtf16LeBytes(value.data);
        text.pop_back();
        if (value.type != RegSz) {
            *out += u"str(";
            AppendTypeNumber(value.type, out);
            *out += u"):";
        }
        AppendQuoted(text, out);
    } else if (value.type == RegDword && value.data.size() == 4) {
        *out += u"dword:";
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            number |= static_cast<std::uint32_t>(value.data[i]) << (8 * i);
        }
        AppendHex(number, 8, out);
    } else {
        if (value.type == RegBinary) {
            *out += u"hex:";
        } else {
            *out += u"hex(";
            AppendTypeNumber(value.type, out);
            *out += u"):";
        }
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            if (i > 0) {
                *out += (i % 32 == 0) ? u",\\\n  " : u",";
            }
            AppendHex(value.data[i], 2, out);
        }
    }
    *out += u'\n';
}

void AppendKey(const CRegistryNode& node, const std::u16string& path, std::u16string* out) {
    *out += u'[';
    *out += path;
    *out += u"]\n";
    if (!node.className.empty()) {
        *out += u"#class=";
        AppendQuoted(node.className, out);
        *out += u'\n';
    }
    if (node.isLink) {
        *out += u"#link\n";
    }
    if (node.denial != AccessDenial::None) {
        *out += node.denial == AccessDenial::Write ? u"#deny=write\n" : u"#deny=all\n";
    }
    for (const RegValue& value : node.Values()) {
        AppendValue(value, out);
    }
}

// Writes the keys depth first, each before its subkeys, with a list of the keys still to
// write instead of recursion, so that a deep tree cannot exhaust the stack.
void AppendTree(const CRegistryNode& top, std::u16string* out) {
    struct Pending {
        const CRegistryNode* node;
        std::u16string path;
    };
    std::vector<Pending> pending = {{&top, u""}};
    while (!pending.empty()) {
        const Pending key = std::move(pending.back());
        pending.pop_back();
        if (key.node->isVolatile) {
            continue;
        }
        AppendKey(*key.node, key.path, out);
        // Pushed last first, so the first subkey is written next.
        for (std::size_t i = key.node->ChildCount(); i-- > 0;) {
            const CRegistryNode& child = *key.node->ChildAt(i);
            std::u16string childPath = key.path;
            if (!childPath.empty()) {
                childPath += u'\\';
            }
            AppendPathComponent(child.Name(), &childPath);
            pending.push_back({&child, std::move(childPath)});
        }
    }
}

}  // namespace

RegTextDocument ParseRegText(std::string_view utf8) {
    return CRegTextParser().Parse(utf8);
}

std::string FormatRegTree(const CRegistryNode& node) {
    std::u16string out = u"; registry keys saved by Quillary\n";
    AppendTree(node, &out);
    return Utf16ToUtf8(out);
}

std::string DescribeRegTextError(const RegTextError& error) {
    return "line " + std::to_string(error.line) + ": " + error.message;
}

}  // namespace quillary
