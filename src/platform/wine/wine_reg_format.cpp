#include "platform/wine/wine_reg_format.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "core/text.h"
#include "platform/clock.h"

namespace quillary {
namespace {

constexpr std::string_view kHeaderLine = "WINE REGISTRY Version 2";
constexpr std::string_view kRelativeToPrefix = ";; All keys relative to ";
constexpr std::string_view kHexDigits = "0123456789abcdef";

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

unsigned HexValue(char ch) {
    if (ch >= '0' && ch <= '9') {
        return static_cast<unsigned>(ch - '0');
    }
    return static_cast<unsigned>((ch | 0x20) - 'a' + 10);
}

void AppendUnit(std::u16string* text, char32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        *text += static_cast<char16_t>(0xD800 + (codePoint >> 10));
        *text += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
        *text += static_cast<char16_t>(codePoint);
    }
}

// Decodes one UTF-8 sequence at line[*pos]; nullopt when it is not well formed.
std::optional<char32_t> DecodeUtf8(std::string_view line, std::size_t* pos) {
    const auto lead = static_cast<unsigned char>(line[*pos]);
    int length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (*pos + static_cast<std::size_t>(length) > line.size()) {
        return std::nullopt;
    }
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(line[*pos + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    *pos += static_cast<std::size_t>(length);
    return value;
}

// Reads the lines of one file and fills the branch, collecting what it cannot understand.
class CWineRegReader {
public:
    CWineRegReader(const std::string& fileName, CRegistryNode& branch, FileTime loadTime,
                   std::vector<WineRegDiagnostic>* diagnostics)
        : fileName_(fileName), branch_(branch), loadTime_(loadTime), diagnostics_(diagnostics) {}

    bool Read(std::string_view bytes, WineRegHeader* header) {
        bytes_ = bytes;
        std::string_view line;
        if (!NextLine(&line) || line != kHeaderLine) {
            Report("not a Wine registry file: the first line must be \"" +
                   std::string(kHeaderLine) + "\"");
            return false;
        }
        while (NextLine(&line)) {
            ReadLine(line, header);
        }
        return understood_;
    }

private:
    bool NextLine(std::string_view* line) {
        if (offset_ >= bytes_.size()) {
            return false;
        }
        std::size_t end = bytes_.find('\n', offset_);
        if (end == std::string_view::npos) {
            end = bytes_.size();
        }
        *line = bytes_.substr(offset_, end - offset_);
        offset_ = end + 1;
        ++lineNumber_;
        if (!line->empty() && line->back() == '\r') {
            line->remove_suffix(1);
        }
        return true;
    }

    void Report(std::string message) {
        understood_ = false;
        diagnostics_->push_back(WineRegDiagnostic{fileName_, lineNumber_, std::move(message)});
    }

    void ReadLine(std::string_view line, WineRegHeader* header) {
        if (line.find('\0') != std::string_view::npos) {
            Report("the line holds a NUL byte");
            return;
        }
        if (line.empty()) {
            return;
        }
        if (line.front() == ';') {
            if (line.starts_with(kRelativeToPrefix) && key_ == nullptr) {
                header->relativeTo = std::string(line.substr(kRelativeToPrefix.size()));
            }
            return;
        }
        if (line.front() == '[') {
            ReadKeyLine(line);
            return;
        }
        if (line.front() == '#') {
            ReadOption(line, header);
            return;
        }
        if (line.front() == '"' || line.front() == '@') {
            ReadValueLine(line);
            return;
        }
        Report("a line that is neither a key, a value nor an option");
    }

    // An escaped string: stops at `terminator` (not consumed) or the end of the line.
    std::optional<std::u16string> Unescape(std::string_view line, std::size_t* pos,
                                           char terminator) {
        std::u16string text;
        while (*pos < line.size() && line[*pos] != terminator) {
            const char ch = line[*pos];
            if (static_cast<unsigned char>(ch) >= 0x80) {
                const auto codePoint = DecodeUtf8(line, pos);
                if (!codePoint) {
                    Report("invalid UTF-8");
                    return std::nullopt;
                }
                AppendUnit(&text, *codePoint);
                continue;
            }
            ++*pos;
            if (ch != '\\' || *pos >= line.size()) {
                text += static_cast<char16_t>(ch);
                continue;
            }
            text += UnescapeOne(line, pos);
        }
        return text;
    }

    static char16_t UnescapeOne(std::string_view line, std::size_t* pos) {
        const char ch = line[(*pos)++];
        switch (ch) {
            case 'a':
                return 7;
            case 'b':
                return 8;
            case 'e':
                return 27;
            case 'f':
                return 12;
            case 'n':
                return 10;
            case 'r':
                return 13;
            case 't':
                return 9;
            case 'v':
                return 11;
            case 'x': {
                unsigned value = 0;
                int digits = 0;
                while (digits < 4 && *pos < line.size() && IsHexDigit(line[*pos])) {
                    value = value * 16 + HexValue(line[(*pos)++]);
                    ++digits;
                }
                return digits == 0 ? u'x' : static_cast<char16_t>(value);
            }
            default:
                if (ch >= '0' && ch <= '7') {
                    unsigned value = static_cast<unsigned>(ch - '0');
                    for (int digits = 1;
                         digits < 3 && *pos < line.size() && line[*pos] >= '0' && line[*pos] <= '7';
                         ++digits) {
                        value = value * 8 + static_cast<unsigned>(line[(*pos)++] - '0');
                    }
                    return static_cast<char16_t>(value);
                }
                return static_cast<char16_t>(static_cast<unsigned char>(ch));
        }
    }

    void ReadKeyLine(std::string_view line) {
        key_ = nullptr;
        std::size_t pos = 1;
        const auto path = Unescape(line, &pos, ']');
        if (!path) {
            return;
        }
        if (pos >= line.size()) {
            Report("the key name is not closed with ]");
            return;
        }
        ++pos;
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        FileTime time = loadTime_;
        if (pos < line.size()) {
            std::uint64_t seconds = 0;
            const auto [end, error] =
                std::from_chars(line.data() + pos, line.data() + line.size(), seconds);
            if (error != std::errc() || end != line.data() + line.size()) {
                Report("the key's time is not a number");
                return;
            }
            time = ToFileTime(std::chrono::system_clock::time_point(
                std::chrono::seconds(static_cast<std::int64_t>(seconds))));
        }
        CRegistryNode* node = &branch_;
        std::u16string_view rest = *path;
        while (!rest.empty()) {
            const std::size_t cut = rest.find(u'\\');
            const std::u16string_view name = rest.substr(0, cut);
            if (name.empty()) {
                Report("the key name has an empty component");
                return;
            }
            CRegistryNode* child = node->FindChild(name);
            if (child == nullptr) {
                child = node->AddChild(name);
                child->lastWriteTime = loadTime_;
            }
            node = child;
            rest = cut == std::u16string_view::npos ? std::u16string_view() : rest.substr(cut + 1);
        }
        if (node == &branch_) {
            Report("a key line without a name");
            return;
        }
        node->lastWriteTime = time;
        key_ = node;
    }

    void ReadOption(std::string_view line, WineRegHeader* header) {
        if (key_ == nullptr) {
            if (line.starts_with("#arch=")) {
                header->arch = std::string(line.substr(6));
            }
            // Other options of the file are ignored, as Wine ignores them.
            return;
        }
        if (line.starts_with("#time=")) {
            std::uint64_t time = 0;
            const std::string_view digits = line.substr(6);
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), time, 16);
            if (error != std::errc() || end != digits.data() + digits.size()) {
                Report("#time is not a hex number");
                return;
            }
            key_->lastWriteTime = time;
        } else if (line.starts_with("#class=\"")) {
            std::size_t pos = 8;
            if (auto text = Unescape(line, &pos, '"')) {
                if (pos + 1 != line.size()) {
                    Report("#class is not a closed quoted text");
                    return;
                }
                key_->className = std::move(*text);
            }
        } else if (line == "#link") {
            key_->isLink = true;
        }
    }

    void ReadValueLine(std::string_view line) {
        if (key_ == nullptr) {
            Report("a value before the first key");
            SkipContinuation(line);
            return;
        }
        std::size_t pos = 0;
        std::u16string name;
        if (line.front() == '@') {
            pos = 1;
        } else {
            pos = 1;
            auto quoted = Unescape(line, &pos, '"');
            if (!quoted) {
                SkipContinuation(line);
                return;
            }
            if (pos >= line.size()) {
                Report("the value name is not closed");
                return;
            }
            ++pos;
            name = std::move(*quoted);
        }
        SkipBlanks(line, &pos);
        if (pos >= line.size() || line[pos] != '=') {
            Report("= expected after the value name");
            return;
        }
        ++pos;
        SkipBlanks(line, &pos);
        RegValue value;
        if (ReadData(line, pos, &value)) {
            key_->SetValue(name, value.type, std::move(value.data));
        }
    }

    static void SkipBlanks(std::string_view line, std::size_t* pos) {
        while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == '\t')) {
            ++*pos;
        }
    }

    // Skips the continuation lines of a hex value whose first line was rejected.
    void SkipContinuation(std::string_view line) {
        std::string_view next;
        while (!line.empty() && line.back() == '\\' && NextLine(&next)) {
            line = next;
        }
    }

    bool ReadData(std::string_view line, std::size_t pos, RegValue* value) {
        const std::string_view data = line.substr(pos);
        if (data.starts_with('"')) {
            return ReadString(line, pos, RegSz, value);
        }
        if (data.starts_with("str:")) {
            return ReadString(line, pos + 4, RegSz, value);
        }
        if (data.starts_with("str(")) {
            const auto type = ReadType(line, &pos, 4);
            return type && ReadString(line, pos, *type, value);
        }
        if (data.starts_with("dword:")) {
            return ReadDword(data.substr(6), value);
        }
        if (data.starts_with("hex:")) {
            value->type = RegBinary;
            return ReadHex(line, pos + 4, value);
        }
        if (data.starts_with("hex(")) {
            const auto type = ReadType(line, &pos, 4);
            if (!type) {
                SkipContinuation(line);
                return false;
            }
            value->type = *type;
            return ReadHex(line, pos, value);
        }
        Report("unknown value type");
        SkipContinuation(line);
        return false;
    }

    // The hex type of "str(N):" or "hex(N):"; pos moves past the colon.
    std::optional<RegType> ReadType(std::string_view line, std::size_t* pos, std::size_t skip) {
        *pos += skip;
        const std::size_t close = line.find("):", *pos);
        std::uint32_t type = 0;
        if (close == std::string_view::npos) {
            Report("unknown value type");
            return std::nullopt;
        }
        const auto [end, error] =
            std::from_chars(line.data() + *pos, line.data() + close, type, 16);
        if (error != std::errc() || end != line.data() + close || close == *pos) {
            Report("unknown value type");
            return std::nullopt;
        }
        *pos = close + 2;
        return type;
    }

    bool ReadString(std::string_view line, std::size_t pos, RegType type, RegValue* value) {
        if (pos >= line.size() || line[pos] != '"') {
            Report("a quoted text was expected");
            return false;
        }
        ++pos;
        const auto text = Unescape(line, &pos, '"');
        if (!text) {
            return false;
        }
        if (pos + 1 != line.size()) {
            Report("the quoted text is not closed at the end of the line");
            return false;
        }
        value->type = type;
        value->data = ToUtf16LeBytes(*text, true);
        return true;
    }

    bool ReadDword(std::string_view digits, RegValue* value) {
        std::uint32_t number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        if (digits.empty() || digits.size() > 8 || error != std::errc() ||
            end != digits.data() + digits.size()) {
            Report("dword: needs one to eight hex digits");
            return false;
        }
        value->type = RegDword;
        value->data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                       static_cast<std::uint8_t>(number >> 16),
                       static_cast<std::uint8_t>(number >> 24)};
        return true;
    }

    // Comma-separated hex bytes; a line ending in a backslash goes on in the next line.
    bool ReadHex(std::string_view line, std::size_t pos, RegValue* value) {
        for (;;) {
            SkipBlanks(line, &pos);
            while (pos < line.size() && line[pos] != '\\') {
                if (!IsHexDigit(line[pos])) {
                    Report("malformed hex data");
                    SkipContinuation(line);
                    return false;
                }
                unsigned byte = HexValue(line[pos++]);
                if (pos < line.size() && IsHexDigit(line[pos])) {
                    byte = byte * 16 + HexValue(line[pos++]);
                }
                value->data.push_back(static_cast<std::uint8_t>(byte));
                SkipBlanks(line, &pos);
                if (pos < line.size() && line[pos] == ',') {
                    ++pos;
                    SkipBlanks(line, &pos);
                } else if (pos < line.size() && line[pos] != '\\') {
                    Report("malformed hex data");
                    SkipContinuation(line);
                    return false;
                }
            }
            if (pos >= line.size()) {
                return true;
            }
            if (pos + 1 != line.size()) {
                Report("text after the line's continuation mark");
                SkipContinuation(line);
                return false;
            }
            if (!NextLine(&line)) {
                Report("the hex data ends in the middle of a value");
                return false;
            }
            pos = 0;
        }
    }

    const std::string& fileName_;
    CRegistryNode& branch_;
    FileTime loadTime_;
    std::vector<WineRegDiagnostic>* diagnostics_;
    std::string_view bytes_;
    std::size_t offset_ = 0;
    std::size_t lineNumber_ = 0;
    CRegistryNode* key_ = nullptr;
    bool understood_ = true;
};

// --- writing -----------------------------------------------------------------------------

class CWineRegWriter {
public:
    std::string Write(const CRegistryNode& branch, const WineRegHeader& header) {
        out_ += kHeaderLine;
        out_ += '\n';
        out_ += kRelativeToPrefix;
        out_ += header.relativeTo;
        out_ += "\n\n";
        if (!header.arch.empty()) {
            out_ += "#arch=";
            out_ += header.arch;
            out_ += '\n';
        }
        for (std::size_t i = 0; i < branch.ChildCount(); ++i) {
            WriteKey(*branch.ChildAt(i));
        }
        return std::move(out_);
    }

private:
    // Escapes text as Wine does; `special` are the characters that get a backslash.
    static void Escape(std::u16string_view text, std::string_view special, std::string* out) {
        static constexpr std::string_view kLetters = ".......abtnvfr.............e....";
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t ch = text[i];
            const bool nextExists = i + 1 < text.size();
            if (ch > 0x7F) {
                const bool nextIsHex =
                    nextExists && text[i + 1] < 0x80 && IsHexDigit(static_cast<char>(text[i + 1]));
                *out += "\\x";
                AppendHex(ch, nextIsHex ? 4 : 0, out);
            } else if (ch < 0x20) {
                *out += '\\';
                if (kLetters[ch] != '.') {
                    *out += kLetters[ch];
                } else {
                    const bool nextIsOctal =
                        nextExists && text[i + 1] >= u'0' && text[i + 1] <= u'7';
                    AppendOctal(ch, nextIsOctal ? 3 : 0, out);
                }
            } else {
                if (special.find(static_cast<char>(ch)) != std::string_view::npos) {
                    *out += '\\';
                }
                *out += static_cast<char>(ch);
            }
        }
    }

    // Lower-case hex, at least minDigits digits.
    static void AppendHex(std::uint64_t value, std::size_t minDigits, std::string* out) {
        char digits[16];
        std::size_t count = 0;
        do {
            digits[count++] = kHexDigits[value & 0xF];
            value >>= 4;
        } while (value != 0);
        for (std::size_t i = count; i < minDigits; ++i) {
            *out += '0';
        }
        while (count > 0) {
            *out += digits[--count];
        }
    }

    static void AppendOctal(unsigned value, std::size_t minDigits, std::string* out) {
        char digits[4];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + (value & 7));
            value >>= 3;
        } while (value != 0);
        for (std::size_t i = count; i < minDigits; ++i) {
            *out += '0';
        }
        while (count > 0) {
            *out += digits[--count];
        }
    }

    // A key gets a block of its own when it holds something or ends a branch.
    static bool NeedsBlock(const CRegistryNode& key) {
        return !key.Values().empty() || key.ChildCount() == 0 || !key.className.empty() ||
               key.isLink;
    }

    void WriteKey(const CRegistryNode& key) {
        if (key.isVolatile) {
            return;
        }
        const std::size_t parentLength = escapedPath_.size();
        if (!escapedPath_.empty()) {
            escapedPath_ += "\\\\";
        }
        Escape(key.Name(), "\\[]", &escapedPath_);
        if (NeedsBlock(key)) {
            WriteBlock(key);
        }
        for (std::size_t i = 0; i < key.ChildCount(); ++i) {
            WriteKey(*key.ChildAt(i));
        }
        escapedPath_.resize(parentLength);
    }

    void WriteBlock(const CRegistryNode& key) {
        out_ += "\n[";
        out_ += escapedPath_;
        out_ += "] ";
        const std::int64_t seconds = UnixSecondsOf(key.lastWriteTime);
        out_ += std::to_string(seconds < 0 ? 0 : seconds);
        out_ += "\n#time=";
        AppendHex(key.lastWriteTime, 0, &out_);
        out_ += '\n';
        if (!key.className.empty()) {
            out_ += "#class=\"";
            Escape(key.className, "\\\"", &out_);
            out_ += "\"\n";
        }
        if (key.isLink) {
            out_ += "#link\n";
        }
        for (const RegValue& value : key.Values()) {
            WriteValue(value);
        }
    }

    static bool IsStringForm(const RegValue& value) {
        const bool stringType =
            value.type == RegSz || value.type == RegExpandSz || value.type == RegMultiSz;
        return stringType && value.data.size() >= 2 && value.data.size() % 2 == 0 &&
               value.data[value.data.size() - 2] == 0 && value.data.back() == 0;
    }

    void WriteValue(const RegValue& value) {
        const std::size_t lineStart = out_.size();
        if (value.name.empty()) {
            out_ += "@=";
        } else {
            out_ += '"';
            Escape(value.name, "\\\"", &out_);
            out_ += "\"=";
        }
        if (IsStringForm(value)) {
            if (value.type == RegExpandSz) {
                out_ += "str(2):";
            } else if (value.type == RegMultiSz) {
                out_ += "str(7):";
            }
            std::u16string text = FromUtf16LeBytes(value.data);
            text.pop_back();  // the terminating NUL
            out_ += '"';
            Escape(text, "\\\"", &out_);
            out_ += "\"\n";
            return;
        }
        if (value.type == RegDword && value.data.size() == 4) {
            const std::uint32_t number = value.data[0] | (value.data[1] << 8) |
                                         (value.data[2] << 16) |
                                         (static_cast<std::uint32_t>(value.data[3]) << 24);
            out_ += "dword:";
            AppendHex(number, 8, &out_);
            out_ += '\n';
            return;
        }
        if (value.type == RegBinary) {
            out_ += "hex:";
        } else {
            out_ += "hex(";
            AppendHex(value.type, 0, &out_);
            out_ += "):";
        }
        WriteHexBytes(value.data, out_.size() - lineStart);
    }

    // Bytes separated by commas; after the comma that brings a line to 77 characters or more
    // the line goes on after a backslash in the next one, indented by two blanks.
    void WriteHexBytes(const std::vector<std::uint8_t>& data, std::size_t column) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            AppendHex(data[i], 2, &out_);
            column += 2;
            if (i + 1 < data.size()) {
                out_ += ',';
                ++column;
                if (column >= 77) {
                    out_ += "\\\n  ";
                    column = 2;
                }
            }
        }
        out_ += '\n';
    }

    std::string out_;
    std::string escapedPath_;  // the path of the key being written, escaped as in its block
};

}  // namespace

std::string DescribeDiagnostic(const WineRegDiagnostic& diagnostic) {
    return diagnostic.file + ", line " + std::to_string(diagnostic.line) + ": " +
           diagnostic.message;
}

bool ReadWineRegFile(std::string_view bytes, const std::string& fileName, CRegistryNode& branch,
                     FileTime loadTime, WineRegHeader* header,
                     std::vector<WineRegDiagnostic>* diagnostics) {
    return CWineRegReader(fileName, branch, loadTime, diagnostics).Read(bytes, header);
}

std::string FormatWineRegFile(const CRegistryNode& branch, const WineRegHeader& header) {
    return CWineRegWriter().Write(branch, header);
}

}  // namespace quillary
