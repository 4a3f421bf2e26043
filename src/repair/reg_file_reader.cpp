#include "repair/reg_file_reader.h"

#include <algorithm>
#include <array>

#include "core/bytes.h"
#include "core/text_case.h"
#include "core/text_encoding.h"
#include "platform/file_io.h"

namespace quillary {
namespace {

// Files are read, and texts decoded, this much at a time.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// No export of a registry comes near this; a larger file is refused before it is read.
constexpr std::size_t kMaxRegFileBytes = std::size_t{1} << 30;
// Before the header, a line longer than this cannot be the header: the text is refused as
// soon as the line is that long, rather than once the whole of it has been gathered.
constexpr std::size_t kMaxLeadingLineUnits = 1024;
constexpr std::u16string_view kVersion5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kVersion4 = u"REGEDIT4";

using Kind = RegImportOperation::Kind;

std::string NotARegistryFile() {
    return "not a registry file: the first line is not \"" + Utf16ToUtf8(kVersion5) +
           "\" or \"REGEDIT4\"";
}

// --- decoding --------------------------------------------------------------------------------

void AppendCodePoint(char32_t codePoint, std::u16string& units) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        units += static_cast<char16_t>(0xD800 + (codePoint >> 10));
        units += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
        units += static_cast<char16_t>(codePoint);
    }
}

enum class Utf8Step { Decoded, Incomplete, Invalid };

// Decodes the UTF-8 character at the start of bytes into *codePoint and its length into
// *length. Incomplete when bytes end within a character that is well formed so far.
Utf8Step DecodeUtf8Character(std::span<const std::uint8_t> bytes, std::size_t* length,
                             char32_t* codePoint) {
    const std::uint8_t lead = bytes[0];
    // The bounds of the second byte are narrower after some leads: they rule out overlong
    // forms, surrogates and values above U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        *length = 1;
        *codePoint = lead;
        return Utf8Step::Decoded;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        *length = 2;
        *codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        *length = 3;
        *codePoint = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        *length = 4;
        *codePoint = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return Utf8Step::Invalid;
    }
    for (std::size_t i = 1; i < *length; ++i) {
        if (i >= bytes.size()) {
            return Utf8Step::Incomplete;
        }
        if (bytes[i] < low || bytes[i] > high) {
            return Utf8Step::Invalid;
        }
        low = 0x80;
        high = 0xBF;
        *codePoint = (*codePoint << 6) | (bytes[i] & 0x3Fu);
    }
    return Utf8Step::Decoded;
}

// Turns the bytes of a text, a piece at a time, into UTF-16 units. The first bytes tell the
// encoding: FF FE is UTF-16LE, EF BB BF is UTF-8, anything else is 8-bit Windows-1252 text
// (what the Registry Editor reads as ANSI). A character split between two pieces is carried
// over to the next.
class CRegTextDecoder {
public:
    // Appends the units of piece. False when the text is not valid UTF-8; the units then end
    // where the text stops being valid.
    bool Decode(std::span<const std::uint8_t> piece, std::u16string& units) {
        if (encoding_ == Encoding::Undecided) {
            while (carried_.size() < 3 && !piece.empty()) {
                carried_.push_back(piece.front());
                piece = piece.subspan(1);
            }
            if (carried_.size() < 3) {
                return true;
            }
            DecideEncoding();
        }
        return DecodeInEncoding(piece, units);
    }

    // After the last piece. False when the text ends in the middle of a character.
    bool Finish(std::u16string& units) {
        if (encoding_ == Encoding::Undecided) {
            DecideEncoding();
            DecodeInEncoding({}, units);
        }
        return carried_.empty();
    }

private:
    enum class Encoding { Undecided, Utf16Le, Utf8, Windows1252 };

    // From the first bytes, gathered in carried_; the byte-order mark is dropped.
    void DecideEncoding() {
        const auto startsWith = [this](std::initializer_list<std::uint8_t> mark) {
            return carried_.size() >= mark.size() &&
                   std::equal(mark.begin(), mark.end(), carried_.begin());
        };
        if (startsWith({0xFF, 0xFE})) {
            encoding_ = Encoding::Utf16Le;
            carried_.erase(carried_.begin(), carried_.begin() + 2);
        } else if (startsWith({0xEF, 0xBB, 0xBF})) {
            encoding_ = Encoding::Utf8;
            carried_.clear();
        } else {
            encoding_ = Encoding::Windows1252;
        }
    }

    bool DecodeInEncoding(std::span<const std::uint8_t> bytes, std::u16string& units) {
        switch (encoding_) {
            case Encoding::Utf16Le:
                DecodeUtf16Le(bytes, units);
                return true;
            case Encoding::Utf8:
                return DecodeUtf8(bytes, units);
            case Encoding::Windows1252:
            case Encoding::Undecided:
                break;
        }
        // Only the bytes gathered to decide the encoding are ever carried in this one.
        for (std::uint8_t byte : carried_) {
            units += Windows1252ToUtf16(byte);
        }
        carried_.clear();
        for (std::uint8_t byte : bytes) {
            units += Windows1252ToUtf16(byte);
        }
        return true;
    }

    void DecodeUtf16Le(std::span<const std::uint8_t> bytes, std::u16string& units) {
        if (!carried_.empty() && !bytes.empty()) {
            units += static_cast<char16_t>(ReadUInt16Le(std::array{carried_[0], bytes[0]}));
            carried_.clear();
            bytes = bytes.subspan(1);
        }
        const std::size_t whole = bytes.size() / 2 * 2;
        const std::size_t start = units.size();
        units.resize(start + whole / 2);
        char16_t* out = units.data() + start;
        for (std::size_t i = 0; i < whole; i += 2) {
            *out++ = static_cast<char16_t>(ReadUInt16Le(bytes, i));
        }
        if (whole < bytes.size()) {
            carried_.push_back(bytes.back());
        }
    }

    bool DecodeUtf8(std::span<const std::uint8_t> bytes, std::u16string& units) {
        std::size_t length = 0;
        char32_t codePoint = 0;
        // A character begun in the piece before is completed first, a byte at a time.
        while (!carried_.empty()) {
            const Utf8Step step = DecodeUtf8Character(carried_, &length, &codePoint);
            if (step == Utf8Step::Invalid) {
                return false;
            }
            if (step == Utf8Step::Decoded) {
                AppendCodePoint(codePoint, units);
                carried_.clear();
            } else if (bytes.empty()) {
                return true;
            } else {
                carried_.push_back(bytes.front());
                bytes = bytes.subspan(1);
            }
        }
        std::size_t at = 0;
        while (at < bytes.size()) {
            if (bytes[at] < 0x80) {
                units += static_cast<char16_t>(bytes[at++]);
                continue;
            }
            const Utf8Step step = DecodeUtf8Character(bytes.subspan(at), &length, &codePoint);
            if (step == Utf8Step::Invalid) {
                return false;
            }
            if (step == Utf8Step::Incomplete) {
                carried_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
                return true;
            }
            AppendCodePoint(codePoint, units);
            at += length;
        }
        return true;
    }

    Encoding encoding_ = Encoding::Undecided;
    // The first bytes while the encoding is undecided; then the start of a character that
    // the next piece completes.
    std::vector<std::uint8_t> carried_;
};

// --- parsing -----------------------------------------------------------------------------

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

std::u16string_view CutComment(std::u16string_view text) {
    const std::size_t semicolon = text.find(u';');
    return semicolon == std::u16string_view::npos ? text : text.substr(0, semicolon);
}

bool IsRestBlank(std::u16string_view text) {
    return TrimView(CutComment(text)).empty();
}

// Appends text and a terminating null as UTF-16LE bytes.
void AppendUtf16Le(std::u16string_view text, std::vector<std::uint8_t>& bytes) {
    const std::size_t start = bytes.size();
    bytes.resize(start + (text.size() + 1) * 2);
    std::uint8_t* out = bytes.data() + start;
    for (char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xFF);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
}

// The value of a digit the caller has checked with IsHexDigit.
std::uint32_t HexValue(char16_t ch) {
    return HexDigitValue(ch).value_or(0);
}

// A quoted text with \\ \" \n \r starting at line[start]; the position after the closing
// quote, or nullopt when there is none.
std::optional<std::size_t> ReadQuoted(std::u16string_view line, std::size_t start,
                                      std::u16string& text) {
    for (std::size_t i = start + 1; i < line.size(); ++i) {
        const char16_t ch = line[i];
        if (ch == u'"') {
            return i + 1;
        }
        if (ch == u'\\' && i + 1 < line.size()) {
            const char16_t next = line[++i];
            text += next == u'n' ? u'\n' : next == u'r' ? u'\r' : next;
            continue;
        }
        text += ch;
    }
    return std::nullopt;
}

// Turns lines into operations and hands them on a key block at a time.
class CRegParser {
public:
    explicit CRegParser(const RegBlockHandler& onBlock) : onBlock_(onBlock) {}

    bool HeaderSeen() const { return headerSeen_; }

    // The line with the given number; its line break is removed. What is wrong with the text
    // so far, or the handler's message for the block before this line's.
    std::optional<RegImportError> Line(std::u16string_view line, std::size_t number) {
        endsContinuedHex_ = false;
        if (!headerSeen_) {
            return HeaderLine(line, number);
        }
        if (continuesHex_) {
            // The hex data goes on in the next line that is neither blank nor a comment.
            const std::u16string_view rest = TrimView(line);
            if (rest.empty() || rest[0] == u';') {
                return std::nullopt;
            }
            return HexData(rest, number);
        }
        line = TrimLeftView(line);
        if (line.empty() || line[0] == u';') {
            return std::nullopt;
        }
        if (line[0] == u'[') {
            return KeyLine(line, number);
        }
        if (line[0] == u'"' || line[0] == u'@') {
            return ValueLine(line, number);
        }
        return Error(number, "a line that is neither a key, a value nor a comment");
    }

    // The end of the text; cutShort when its last line has no line break. Hands on the last
    // block.
    std::optional<RegImportError> End(bool cutShort) {
        if (!headerSeen_) {
            return Error(0, NotARegistryFile());
        }
        if (continuesHex_) {
            return Error(LastOperation().line,
                         "hex data that ends in a backslash at the end of the file");
        }
        // Exports end every line with a line break. A wrapped value whose last line has none
        // may have lost the rest of its bytes with the rest of the file.
        if (cutShort && endsContinuedHex_) {
            return Error(LastOperation().line, "hex data cut short at the end of the file");
        }
        return HandOnBlock();
    }

private:
    static RegImportError Error(std::size_t line, std::string message) {
        return RegImportError{line, std::move(message)};
    }

    std::optional<RegImportError> HeaderLine(std::u16string_view line, std::size_t number) {
        const std::u16string_view header = TrimView(line);
        if (header.empty()) {
            return std::nullopt;
        }
        if (header != kVersion5 && header != kVersion4) {
            return Error(number, NotARegistryFile());
        }
        headerSeen_ = true;
        return std::nullopt;
    }

    std::optional<RegImportError> HandOnBlock() {
        if (blockSize_ == 0) {
            return std::nullopt;
        }
        const std::size_t line = block_.front().line;
        std::optional<std::string> message =
            onBlock_(std::span<const RegImportOperation>(block_.data(), blockSize_));
        blockSize_ = 0;
        if (message) {
            return Error(line, std::move(*message));
        }
        return std::nullopt;
    }

    // The block's next operation, of the current key. The operations of blocks handed on
    // before are reused, so their texts and data keep the room they had.
    RegImportOperation& NewOperation(Kind kind, std::size_t line) {
        if (blockSize_ == block_.size()) {
            block_.emplace_back();
        }
        RegImportOperation& operation = block_[blockSize_++];
        operation.kind = kind;
        operation.root = currentRoot_;
        operation.subKey.assign(currentKey_);
        operation.valueName.clear();
        operation.type = RegNone;
        operation.data.clear();
        operation.line = line;
        return operation;
    }

    RegImportOperation& LastOperation() { return block_[blockSize_ - 1]; }

    std::optional<RegImportError> KeyLine(std::u16string_view line, std::size_t number) {
        // The block before is complete: it goes on before this line is looked at.
        if (std::optional<RegImportError> stop = HandOnBlock()) {
            return stop;
        }
        const std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos) {
            return Error(number, "a key line without its closing ']'");
        }
        std::u16string_view path = line.substr(1, close - 1);
        const bool deletion = !path.empty() && path[0] == u'-';
        if (deletion) {
            path.remove_prefix(1);
        }
        const std::size_t backslash = path.find(u'\\');
        const std::optional<HKey> root = RootOf(path.substr(0, backslash));
        if (!root) {
            return Error(number, "unknown root key in \"" + Utf16ToUtf8(path) + "\"");
        }
        std::u16string_view subKey = backslash == std::u16string_view::npos
                                         ? std::u16string_view()
                                         : path.substr(backslash + 1);
        while (!subKey.empty() && subKey.back() == u'\\') {
            subKey.remove_suffix(1);
        }
        if (deletion && subKey.empty()) {
            return Error(number, "a root key cannot be deleted");
        }
        if (!subKey.empty() && static_cast<std::size_t>(std::count(subKey.begin(), subKey.end(),
                                                                   u'\\')) >= kMaxKeyDepth) {
            return Error(number,
                         "a key path more than " + std::to_string(kMaxKeyDepth) + " levels deep");
        }
        currentRoot_ = *root;
        currentKey_.assign(subKey);
        haveKey_ = !deletion;
        NewOperation(deletion ? Kind::DeleteKey : Kind::CreateKey, number);
        return std::nullopt;
    }

    std::optional<RegImportError> ValueLine(std::u16string_view line, std::size_t number) {
        if (!haveKey_) {
            return Error(number, "a value before any key, or under a deleted key");
        }
        RegImportOperation& operation = NewOperation(Kind::SetValue, number);
        std::size_t at = 1;
        if (line[0] == u'"') {
            const std::optional<std::size_t> end = ReadQuoted(line, 0, operation.valueName);
            if (!end) {
                return Error(number, "a value name without its closing quote");
            }
            at = *end;
        }
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t')) {
            ++at;
        }
        if (at >= line.size() || line[at] != u'=') {
            return Error(number, "a value without '='");
        }
        ++at;
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t')) {
            ++at;
        }
        const std::u16string_view data = line.substr(at);

        if (data.starts_with(u"-") && IsRestBlank(data.substr(1))) {
            operation.kind = Kind::DeleteValue;
        } else if (data.starts_with(u"\"")) {
            // A text may be a line of any length: room for it is made once.
            text_.clear();
            text_.reserve(data.size());
            const std::optional<std::size_t> end = ReadQuoted(data, 0, text_);
            if (!end || !IsRestBlank(data.substr(*end))) {
                return Error(number, "a string value without its closing quote");
            }
            operation.type = RegSz;
            AppendUtf16Le(text_, operation.data);
        } else if (StartsWithNoCase(data, u"dword:")) {
            const std::u16string_view digits = TrimView(CutComment(data.substr(6)));
            if (digits.empty() || digits.size() > 8 ||
                !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
                return Error(number, "a dword value that is not 1 to 8 hexadecimal digits");
            }
            std::uint32_t value = 0;
            for (char16_t ch : digits) {
                value = value << 4 | HexValue(ch);
            }
            operation.type = RegDword;
            for (int shift = 0; shift < 32; shift += 8) {
                operation.data.push_back(static_cast<std::uint8_t>(value >> shift));
            }
        } else if (StartsWithNoCase(data, u"hex")) {
            return ReadHexValue(data, operation);
        } else {
            return Error(number, "a value of a form the Registry Editor does not write");
        }
        return std::nullopt;
    }

    // hex:..., hex(N):..., continued over lines that end in a backslash.
    std::optional<RegImportError> ReadHexValue(std::u16string_view data,
                                               RegImportOperation& operation) {
        const std::size_t colon = data.find(u':');
        if (colon == std::u16string_view::npos) {
            return Error(operation.line, "a hex value without ':'");
        }
        const std::u16string_view form = data.substr(0, colon);
        operation.type = RegBinary;
        if (form.size() > 3) {
            const std::u16string_view type = form.substr(3);
            if (type.size() < 3 || type.front() != u'(' || type.back() != u')' ||
                type.size() > 10 || !std::all_of(type.begin() + 1, type.end() - 1, IsHexDigit)) {
                return Error(operation.line, "a hex value with a malformed type");
            }
            std::uint32_t value = 0;
            for (char16_t ch : type.substr(1, type.size() - 2)) {
                value = value << 4 | HexValue(ch);
            }
            operation.type = value;
        }
        return HexData(data.substr(colon + 1), operation.line);
    }

    // One line's part of the hex data of the block's last operation.
    std::optional<RegImportError> HexData(std::u16string_view text, std::size_t number) {
        const bool continued = continuesHex_;
        std::u16string_view bytes = TrimView(CutComment(text));
        continuesHex_ = !bytes.empty() && bytes.back() == u'\\';
        if (continuesHex_) {
            bytes.remove_suffix(1);
        }
        std::vector<std::uint8_t>& data = LastOperation().data;
        data.reserve(data.size() + bytes.size() / 3 + 1);
        while (!bytes.empty()) {
            // Exports write two digits and a comma; an item of two units with a blank in it
            // is refused either way, so only other items need trimming.
            std::size_t comma = 2;
            std::u16string_view item = bytes.substr(0, 2);
            if (bytes.size() < 3 || bytes[2] != u',') {
                comma = bytes.find(u',');
                item = TrimView(bytes.substr(0, comma));
            }
            bytes.remove_prefix(comma == std::u16string_view::npos ? bytes.size() : comma + 1);
            if (item.size() != 2 || !IsHexDigit(item[0]) || !IsHexDigit(item[1])) {
                return Error(number, "hex data that is not two-digit bytes separated by commas");
            }
            data.push_back(static_cast<std::uint8_t>(HexValue(item[0]) << 4 | HexValue(item[1])));
            // A comma ends a line only before the backslash that carries the data on.
            if (comma != std::u16string_view::npos && TrimView(bytes).empty() && !continuesHex_) {
                return Error(number, "hex data that ends in a comma: the value is cut short");
            }
        }
        endsContinuedHex_ = continued && !continuesHex_;
        return std::nullopt;
    }

    const RegBlockHandler& onBlock_;
    bool headerSeen_ = false;
    // The operations of the key block being read, its key's first: the first blockSize_.
    std::vector<RegImportOperation> block_;
    std::size_t blockSize_ = 0;
    std::u16string text_;  // a string value's text, the buffer kept from value to value
    HKey currentRoot_ = HKey::None;
    std::u16string currentKey_;
    bool haveKey_ = false;
    // The block's last operation is a hex value whose data goes on in the next line.
    bool continuesHex_ = false;
    // The last line ended a hex value that went over several lines.
    bool endsContinuedHex_ = false;
};

// Reads a text piece by piece: decodes it, cuts it into lines and hands them to the parser.
class CRegTextReader {
public:
    explicit CRegTextReader(const RegBlockHandler& onBlock) : parser_(onBlock) {}

    // False once the text is known to be wrong or the handler has stopped the reading.
    bool Feed(std::span<const std::uint8_t> piece) {
        if (error_) {
            return false;
        }
        units_.clear();
        const bool decoded = decoder_.Decode(piece, units_);
        if (!TakeUnits()) {
            return false;
        }
        if (!decoded) {
            error_ = RegImportError{lineNumber_ + 1, "text that is not valid UTF-8"};
            return false;
        }
        return true;
    }

    // The end of the text: nullopt when all of it was read and handled.
    std::optional<RegImportError> Finish() {
        if (error_) {
            return error_;
        }
        units_.clear();
        const bool whole = decoder_.Finish(units_);
        if (!TakeUnits()) {
            return error_;
        }
        if (!whole) {
            return RegImportError{lineNumber_ + 1, "the file ends in the middle of a character"};
        }
        const bool cutShort = !line_.empty();
        if (cutShort) {
            if (std::optional<RegImportError> stop =
                    parser_.Line(WithoutCr(line_), ++lineNumber_)) {
                return stop;
            }
        }
        return parser_.End(cutShort);
    }

private:
    static std::u16string_view WithoutCr(std::u16string_view line) {
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        return line;
    }

    // Passes the complete lines of units_ to the parser and keeps the start of an incomplete
    // one in line_.
    bool TakeUnits() {
        std::u16string_view units = units_;
        for (;;) {
            const std::size_t newline = units.find(u'\n');
            if (newline == std::u16string_view::npos) {
                line_ += units;
                if (!parser_.HeaderSeen() && line_.size() > kMaxLeadingLineUnits) {
                    error_ = RegImportError{lineNumber_ + 1, NotARegistryFile()};
                    return false;
                }
                return true;
            }
            std::u16string_view line = units.substr(0, newline);
            if (!line_.empty()) {
                line_ += line;
                line = line_;
            }
            error_ = parser_.Line(WithoutCr(line), ++lineNumber_);
            if (error_) {
                return false;
            }
            line_.clear();
            units.remove_prefix(newline + 1);
        }
    }

    CRegTextDecoder decoder_;
    CRegParser parser_;
    std::u16string units_;  // one piece's units, the buffer kept from piece to piece
    std::u16string line_;   // the start of a line that the next piece goes on with
    std::size_t lineNumber_ = 0;
    std::optional<RegImportError> error_;
};

}  // namespace

std::optional<RegImportError> ReadRegText(std::span<const std::uint8_t> bytes,
                                          const RegBlockHandler& onBlock) {
    CRegTextReader reader(onBlock);
    // In pieces, as a file is read, so that the decoded text held at once stays small.
    while (!bytes.empty()) {
        const std::span<const std::uint8_t> piece =
            bytes.first(std::min(bytes.size(), kPieceBytes));
        if (!reader.Feed(piece)) {
            break;
        }
        bytes = bytes.subspan(piece.size());
    }
    return reader.Finish();
}

std::optional<RegImportError> ReadRegFile(IFileIo& fileIo, const std::filesystem::path& path,
                                          const RegBlockHandler& onBlock) {
    CRegTextReader reader(onBlock);
    if (FileError failure = fileIo.ReadFileInPieces(
            path, kMaxRegFileBytes, kPieceBytes,
            [&reader](std::span<const std::uint8_t> piece) { return reader.Feed(piece); })) {
        return RegImportError{0, std::move(*failure)};
    }
    return reader.Finish();
}

RegImportParse ParseRegFile(std::span<const std::uint8_t> bytes) {
    RegImportParse parse;
    parse.error = ReadRegText(bytes, [&parse](std::span<const RegImportOperation> block) {
        parse.operations.insert(parse.operations.end(), block.begin(), block.end());
        return std::optional<std::string>();
    });
    if (parse.error) {
        parse.operations.clear();
    }
    return parse;
}

}  // namespace quillary
