#include "targets/wine/wine_reg_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "core/bytes.h"
#include "core/text_encoding.h"
#include "platform/clock.h"
#include "platform/registry.h"

namespace quillary {
namespace {

// A key makes room for at most this many values ahead of reading them; a key with more grows
// as it goes, so a hostile file cannot make it reserve far more than it fills.
constexpr std::size_t kMaxReservedValues = 1024;

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
    CWineRegReader(std::string fileName, CRegistryNode& branch, FileTime loadTime,
                   std::vector<WineRegDiagnostic>* diagnostics)
        : fileName_(std::move(fileName)),
          branch_(branch),
          loadTime_(loadTime),
          diagnostics_(diagnostics) {}

    bool Read(std::string_view bytes, WineRegHeader* header) {
        ReadLines(bytes, header);
        return understood_;
    }

    // Reads a run of the file's lines that holds every line of each key it starts: the whole
    // file, or a part of it ending before a key line. The first run must start the file.
    void ReadLines(std::string_view bytes, WineRegHeader* header) {
        if (rejected_) {
            return;
        }
        bytes_ = bytes;
        offset_ = 0;
        std::string_view line;
        if (!started_) {
            started_ = true;
            if (!NextLine(&line) || line != kWineRegHeaderLine) {
                Report("not a Wine registry file: the first line must be \"" +
                       std::string(kWineRegHeaderLine) + "\"");
                rejected_ = true;
                return;
            }
        }
        while (NextLine(&line)) {
            ReadLine(line, header);
        }
    }

    bool Understood() const { return understood_; }

private:
    // The next line, or false at the end of the file. Wine ends every line, the last one too,
    // with a line break: a line without one is where the file was cut short, and it is reported
    // and not read, since a cut in a number or a hex list can leave a line that still parses.
    bool NextLine(std::string_view* line) {
        if (offset_ >= bytes_.size()) {
            return false;
        }
        const std::size_t end = bytes_.find('\n', offset_);
        ++lineNumber_;
        if (end == std::string_view::npos) {
            offset_ = bytes_.size();
            Report("the file ends in the middle of this line: it was cut short");
            return false;
        }
        *line = bytes_.substr(offset_, end - offset_);
        offset_ = end + 1;
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
            if (line.starts_with(kWineRegRelativeToPrefix) && key_ == nullptr) {
                header->relativeTo = std::string(line.substr(kWineRegRelativeToPrefix.size()));
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

    // Decodes an escaped string into *text (replacing what it held); stops at `terminator`
    // (not consumed) or the end of the line. False, with the reason reported, on bad UTF-8.
    bool Unescape(std::string_view line, std::size_t* pos, char terminator, std::u16string* text) {
        text->clear();
        while (*pos < line.size()) {
            // Most text is plain ASCII: copy a run of it at once.
            std::size_t end = *pos;
            while (end < line.size() && line[end] != terminator && line[end] != '\\' &&
                   static_cast<unsigned char>(line[end]) < 0x80) {
                ++end;
            }
            if (end > *pos) {
                const std::size_t start = text->size();
                text->resize(start + (end - *pos));
                for (std::size_t i = *pos; i < end; ++i) {
                    (*text)[start + (i - *pos)] = static_cast<char16_t>(line[i]);
                }
                *pos = end;
            }
            if (*pos >= line.size() || line[*pos] == terminator) {
                break;
            }
            if (line[*pos] != '\\') {
                const auto codePoint = DecodeUtf8(line, pos);
                if (!codePoint) {
                    Report("invalid UTF-8");
                    return false;
                }
                AppendUnit(text, *codePoint);
                continue;
            }
            ++*pos;
            if (*pos >= line.size()) {
                *text += u'\\';  // a backslash that ends the line stands for itself
                continue;
            }
            *text += UnescapeOne(line, pos);
        }
        return true;
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
                    value = value * 16 + *HexDigitValue(line[(*pos)++]);
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
        if (!Unescape(line, &pos, ']', &path_)) {
            return;
        }
        if (pos >= line.size()) {
            Report("the key name is not closed with ]");
            return;
        }
        if (static_cast<std::size_t>(std::count(path_.begin(), path_.end(), u'\\')) >=
            kMaxRegistryKeyDepth) {
            Report("the key lies more than " + std::to_string(kMaxRegistryKeyDepth) +
                   " levels deep");
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
        CRegistryNode* node = WalkToKey(path_);
        if (node == nullptr) {
            return;
        }
        node->lastWriteTime = time;
        node->ReserveValues(std::min(CountValueLinesAhead(), kMaxReservedValues));
        key_ = node;
    }

    // Finds or creates the key at path below the branch. Files list keys depth first, so a
    // key line mostly repeats the path of the one before: the components it shares with it
    // are taken from the last walk instead of being looked up again.
    CRegistryNode* WalkToKey(std::u16string_view path) {
        CRegistryNode* node = &branch_;
        std::size_t depth = 0;
        while (!path.empty()) {
            const std::size_t cut = path.find(u'\\');
            const std::u16string_view name = path.substr(0, cut);
            if (name.empty()) {
                Report("the key name has an empty component");
                return nullptr;
            }
            if (depth < lastWalk_.size() && lastWalk_[depth].name == name) {
                node = lastWalk_[depth].node;
            } else {
                lastWalk_.resize(depth);
                CRegistryNode* child = node->FindChild(name);
                if (child == nullptr) {
                    child = node->AddChild(name);
                    child->lastWriteTime = loadTime_;
                }
                node = child;
                lastWalk_.push_back(WalkStep{std::u16string(name), node});
            }
            ++depth;
            path = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut + 1);
        }
        if (node == &branch_) {
            Report("a key line without a name");
            return nullptr;
        }
        return node;
    }

    // How many value lines follow before the next key line, so the key can make room for
    // them at once.
    std::size_t CountValueLinesAhead() const {
        std::size_t count = 0;
        std::size_t at = offset_;
        while (at < bytes_.size() && bytes_[at] != '[') {
            count += (bytes_[at] == '"' || bytes_[at] == '@') ? 1 : 0;
            const std::size_t end = bytes_.find('\n', at);
            if (end == std::string_view::npos) {
                break;
            }
            at = end + 1;
        }
        return count;
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
            if (Unescape(line, &pos, '"', &text_)) {
                if (pos + 1 != line.size()) {
                    Report("#class is not a closed quoted text");
                    return;
                }
                key_->className = text_;
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
        std::size_t pos = 1;
        name_.clear();
        if (line.front() == '"') {
            if (!Unescape(line, &pos, '"', &name_)) {
                SkipContinuation(line);
                return;
            }
            if (pos >= line.size()) {
                Report("the value name is not closed");
                return;
            }
            ++pos;
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
            key_->SetValue(name_, value.type, std::move(value.data));
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
        if (!Unescape(line, &pos, '"', &text_)) {
            return false;
        }
        if (pos + 1 != line.size()) {
            Report("the quoted text is not closed at the end of the line");
            return false;
        }
        value->type = type;
        value->data = ToUtf16LeBytes(text_, true);
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
        value->data = LittleEndianBytes(number, 4);
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
                unsigned byte = *HexDigitValue(line[pos++]);
                if (pos < line.size() && IsHexDigit(line[pos])) {
                    byte = byte * 16 + *HexDigitValue(line[pos++]);
                }
                value->data.push_back(static_cast<std::uint8_t>(byte));
                SkipBlanks(line, &pos);
                if (pos < line.size() && line[pos] == ',') {
                    ++pos;
                    SkipBlanks(line, &pos);
                    // Wine follows the comma that ends a line with a backslash; without one,
                    // the rest of the value was lost.
                    if (pos >= line.size()) {
                        Report("the hex data ends in a comma: the value was cut short");
                        return false;
                    }
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

    const std::string fileName_;  // a copy: a piece reader outlives its caller's text
    CRegistryNode& branch_;
    FileTime loadTime_;
    std::vector<WineRegDiagnostic>* diagnostics_;
    std::string_view bytes_;
    std::size_t offset_ = 0;
    bool started_ = false;   // the header line was read
    bool rejected_ = false;  // it was not Wine's: nothing more is read
    std::size_t lineNumber_ = 0;
    CRegistryNode* key_ = nullptr;
    bool understood_ = true;

    // The keys of the last key line, component by component.
    struct WalkStep {
        std::u16string name;
        CRegistryNode* node;
    };
    std::vector<WalkStep> lastWalk_;
    // Buffers reused from line to line: the key path, a value name, a text.
    std::u16string path_;
    std::u16string name_;
    std::u16string text_;
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

struct CWineRegPieceReader::State {
    CWineRegReader reader;
    WineRegHeader* header;
    std::string pending;  // the lines of the last key read so far, and any line begun
};

CWineRegPieceReader::CWineRegPieceReader(const std::string& fileName, CRegistryNode& branch,
                                         FileTime loadTime, WineRegHeader* header,
                                         std::vector<WineRegDiagnostic>* diagnostics)
    : state_(new State{CWineRegReader(fileName, branch, loadTime, diagnostics), header, {}}) {}

CWineRegPieceReader::~CWineRegPieceReader() = default;

void CWineRegPieceReader::Feed(std::string_view piece) {
    std::string& pending = state_->pending;
    const std::size_t searchFrom = pending.empty() ? 0 : pending.size() - 1;
    pending.append(piece);
    // Cut before the last key line found so far, unless the line before it ends in a backslash:
    // the reader takes the line after such a line as its continuation, so the two must reach
    // it together. Only the new bytes are searched, so a long run without a key line costs no
    // more than its length.
    std::string_view searched = std::string_view(pending).substr(searchFrom);
    std::size_t cut = std::string_view::npos;
    for (std::size_t at = searched.rfind("\n["); at != std::string_view::npos;
         at = at == 0 ? std::string_view::npos : searched.rfind("\n[", at - 1)) {
        std::string_view before = std::string_view(pending).substr(0, searchFrom + at);
        if (!before.empty() && before.back() == '\r') {
            before.remove_suffix(1);
        }
        if (before.empty() || before.back() != '\\') {
            cut = searchFrom + at + 1;
            break;
        }
    }
    if (cut == std::string_view::npos) {
        return;
    }
    state_->reader.ReadLines(std::string_view(pending).substr(0, cut), state_->header);
    pending.erase(0, cut);
}

bool CWineRegPieceReader::Finish() {
    state_->reader.ReadLines(state_->pending, state_->header);
    state_->pending.clear();
    return state_->reader.Understood();
}

}  // namespace quillary
