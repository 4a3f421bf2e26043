#include "targets/wine/wine_reg_writer.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "core/bytes.h"
#include "platform/clock.h"
#include "platform/registry.h"

namespace quillary {
namespace {

// Counts the bytes a writer produces without keeping them, so that the real pass can reserve
// the whole file at once. Growing the text as it is written would, for a file of hundreds of
// megabytes, hold the old and the new copy at the same time while it moves.
class CLengthCounter {
public:
    void Append(char) { ++size_; }
    void Append(std::string_view text) { size_ += text.size(); }
    // Appends count units of text, each below 0x80, as single bytes.
    void AppendNarrow(const char16_t*, std::size_t count) { size_ += count; }
    std::size_t Size() const { return size_; }

private:
    std::size_t size_ = 0;
};

class CTextOutput {
public:
    explicit CTextOutput(std::string& text) : text_(text) {}
    void Append(char ch) { text_ += ch; }
    void Append(std::string_view text) { text_ += text; }
    void AppendNarrow(const char16_t* units, std::size_t count) {
        const std::size_t start = text_.size();
        text_.resize(start + count);
        for (std::size_t i = 0; i < count; ++i) {
            text_[start + i] = static_cast<char>(units[i]);
        }
    }
    std::size_t Size() const { return text_.size(); }

private:
    std::string& text_;
};

// Lower-case hex, at least minDigits digits.
template <typename Output>
void AppendHex(std::uint64_t value, std::size_t minDigits, Output& out) {
    char digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = HexDigit(static_cast<unsigned>(value));
        value >>= 4;
    } while (value != 0);
    for (std::size_t i = count; i < minDigits; ++i) {
        out.Append('0');
    }
    while (count > 0) {
        out.Append(digits[--count]);
    }
}

template <typename Output>
void AppendOctal(unsigned value, std::size_t minDigits, Output& out) {
    char digits[4];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + (value & 7));
        value >>= 3;
    } while (value != 0);
    for (std::size_t i = count; i < minDigits; ++i) {
        out.Append('0');
    }
    while (count > 0) {
        out.Append(digits[--count]);
    }
}

// The printable ASCII characters that get a backslash, as a table.
using EscapeSet = std::array<bool, 0x80>;

constexpr EscapeSet MakeEscapeSet(std::string_view special) {
    EscapeSet set{};
    for (const char ch : special) {
        set[static_cast<unsigned char>(ch)] = true;
    }
    return set;
}

constexpr EscapeSet kKeyNameEscapes = MakeEscapeSet("\\[]");
constexpr EscapeSet kTextEscapes = MakeEscapeSet("\\\"");

// Escapes text as Wine does; `special` are the characters that get a backslash.
template <typename Output>
void Escape(std::u16string_view text, const EscapeSet& special, Output& out) {
    static constexpr std::string_view kLetters = ".......abtnvfr.............e....";
    const auto plain = [&special](char16_t ch) { return ch >= 0x20 && ch <= 0x7F && !special[ch]; };
    std::size_t i = 0;
    while (i < text.size()) {
        // Most text needs no escape: pass a run of it through at once.
        std::size_t end = i;
        while (end < text.size() && plain(text[end])) {
            ++end;
        }
        if (end > i) {
            out.AppendNarrow(text.data() + i, end - i);
            i = end;
            continue;
        }
        const char16_t ch = text[i];
        const bool nextExists = i + 1 < text.size();
        if (ch > 0x7F) {
            const bool nextIsHex = nextExists && IsHexDigit(text[i + 1]);
            out.Append("\\x");
            AppendHex(ch, nextIsHex ? 4 : 0, out);
        } else if (ch < 0x20) {
            out.Append('\\');
            if (kLetters[ch] != '.') {
                out.Append(kLetters[ch]);
            } else {
                const bool nextIsOctal = nextExists && text[i + 1] >= u'0' && text[i + 1] <= u'7';
                AppendOctal(ch, nextIsOctal ? 3 : 0, out);
            }
        } else {
            out.Append('\\');
            out.Append(static_cast<char>(ch));
        }
        ++i;
    }
}

template <typename Output>
class CWineRegWriter {
public:
    explicit CWineRegWriter(Output& out) : out_(out) {}

    void Write(const CRegistryNode& branch, const WineRegHeader& header) {
        out_.Append(kWineRegHeaderLine);
        out_.Append('\n');
        out_.Append(kWineRegRelativeToPrefix);
        out_.Append(header.relativeTo);
        out_.Append("\n\n");
        if (!header.arch.empty()) {
            out_.Append("#arch=");
            out_.Append(header.arch);
            out_.Append('\n');
        }
        for (std::size_t i = 0; i < branch.ChildCount(); ++i) {
            WriteKey(*branch.ChildAt(i));
        }
    }

private:
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
        CTextOutput path(escapedPath_);
        Escape(key.Name(), kKeyNameEscapes, path);
        if (NeedsBlock(key)) {
            WriteBlock(key);
        }
        for (std::size_t i = 0; i < key.ChildCount(); ++i) {
            WriteKey(*key.ChildAt(i));
        }
        escapedPath_.resize(parentLength);
    }

    void WriteBlock(const CRegistryNode& key) {
        out_.Append("\n[");
        out_.Append(escapedPath_);
        out_.Append("] ");
        const std::int64_t seconds = UnixSecondsOf(key.lastWriteTime);
        char digits[24];
        const auto written =
            std::to_chars(digits, digits + sizeof digits, seconds < 0 ? 0 : seconds);
        out_.Append(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
        out_.Append("\n#time=");
        AppendHex(key.lastWriteTime, 0, out_);
        out_.Append('\n');
        if (!key.className.empty()) {
            out_.Append("#class=\"");
            Escape(key.className, kTextEscapes, out_);
            out_.Append("\"\n");
        }
        if (key.isLink) {
            out_.Append("#link\n");
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
        const std::size_t lineStart = out_.Size();
        if (value.name.empty()) {
            out_.Append("@=");
        } else {
            out_.Append('"');
            Escape(value.name, kTextEscapes, out_);
            out_.Append("\"=");
        }
        if (IsStringForm(value)) {
            if (value.type == RegExpandSz) {
                out_.Append("str(2):");
            } else if (value.type == RegMultiSz) {
                out_.Append("str(7):");
            }
            // The text without its terminating NUL.
            const std::size_t units = value.data.size() / 2 - 1;
            text_.resize(units);
            for (std::size_t i = 0; i < units; ++i) {
                text_[i] = static_cast<char16_t>(ReadUInt16Le(value.data, 2 * i));
            }
            out_.Append('"');
            Escape(text_, kTextEscapes, out_);
            out_.Append("\"\n");
            return;
        }
        if (value.type == RegDword && value.data.size() == 4) {
            const std::uint32_t number = ReadUInt32Le(value.data);
            out_.Append("dword:");
            AppendHex(number, 8, out_);
            out_.Append('\n');
            return;
        }
        if (value.type == RegBinary) {
            out_.Append("hex:");
        } else {
            out_.Append("hex(");
            AppendHex(value.type, 0, out_);
            out_.Append("):");
        }
        WriteHexBytes(value.data, out_.Size() - lineStart);
    }

    // Bytes separated by commas; after the comma that brings a line to 77 characters or more
    // the line goes on after a backslash in the next one, indented by two blanks.
    void WriteHexBytes(const std::vector<std::uint8_t>& data, std::size_t column) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            const char digits[2] = {HexDigit(data[i] >> 4u), HexDigit(data[i])};
            out_.Append(std::string_view(digits, 2));
            column += 2;
            if (i + 1 < data.size()) {
                out_.Append(',');
                ++column;
                if (column >= 77) {
                    out_.Append("\\\n  ");
                    column = 2;
                }
            }
        }
        out_.Append('\n');
    }

    Output& out_;
    std::string escapedPath_;  // the path of the key being written, escaped as in its block
    std::u16string text_;      // a string value's text, reused from value to value
};

}  // namespace

std::string FormatWineRegFile(const CRegistryNode& branch, const WineRegHeader& header) {
    CLengthCounter counter;
    CWineRegWriter<CLengthCounter>(counter).Write(branch, header);
    std::string text;
    text.reserve(counter.Size());
    CTextOutput output(text);
    CWineRegWriter<CTextOutput>(output).Write(branch, header);
    return text;
}

}  // namespace quillary
