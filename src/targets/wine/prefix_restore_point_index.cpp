#include "targets/wine/prefix_restore_point_index.h"

#include <algorithm>
#include <charconv>

#include "core/text_encoding.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIndexFileName = "restore point.txt";
constexpr std::string_view kIndexSignature = "Quillary restore point 1";
constexpr std::size_t kMaxIndexBytes = 64 * 1024;
// Seconds since 1970 a restore point may carry: the range the system clock can hold.
constexpr std::int64_t kMaxCreatedSeconds = 9'000'000'000;

// FNV-1a, 64 bits: stable across builds and platforms, as a value kept on disk must be.
std::uint64_t HashOf(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base = 10) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The description on one line: backslashes, line feeds and carriage returns are escaped.
std::string EscapeDescription(std::u16string_view description) {
    std::string escaped;
    for (const char ch : Utf16ToUtf8(description)) {
        switch (ch) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += ch;
        }
    }
    return escaped;
}

std::u16string UnescapeDescription(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return Utf8ToUtf16(plain);
}

std::string SerializeIndex(const RestorePointIndex& index) {
    std::string text(kIndexSignature);
    text += "\nsequence=" + std::to_string(index.sequenceNumber);
    text += "\ntype=" + std::to_string(index.type);
    text += index.complete ? "\nstate=complete" : "\nstate=begun";
    text += "\ncreated=" + std::to_string(index.createdSeconds);
    text += "\ndescription=" + EscapeDescription(index.description);
    for (std::size_t i = 0; i < kRestorePointFiles.size(); ++i) {
        const CopiedFileRecord& file = index.files[i];
        text += "\n" + std::string(kRestorePointFiles[i]) + "=";
        text += file.present ? std::to_string(file.size) + " " + HexOf(file.hash) : "absent";
    }
    text += "\n";
    return text;
}

std::optional<CopiedFileRecord> ParseCopiedFileRecord(std::string_view text) {
    if (text == "absent") {
        return CopiedFileRecord{};
    }
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const auto size = ParseNumber<std::uint64_t>(text.substr(0, blank));
    const std::string_view hashText = text.substr(blank + 1);
    const auto hash =
        hashText.size() == 16 ? ParseNumber<std::uint64_t>(hashText, 16) : std::nullopt;
    if (!size || !hash) {
        return std::nullopt;
    }
    return CopiedFileRecord{true, *size, *hash};
}

// Reads an index, trusting none of it: every field must be present once and well formed.
std::optional<RestorePointIndex> ParseIndex(std::string_view text, std::string* why) {
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (first) {
            if (line != kIndexSignature) {
                *why = "its index is not a restore point's";
                return std::nullopt;
            }
            first = false;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            *why = "its index has a line without a value";
            return std::nullopt;
        }
        fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    const auto field = [&](std::string_view name) -> std::optional<std::string_view> {
        std::optional<std::string_view> found;
        for (const auto& [key, value] : fields) {
            if (key == name) {
                if (found) {
                    return std::nullopt;  // twice is as bad as not at all
                }
                found = value;
            }
        }
        return found;
    };
    const auto bad = [why](std::string_view name) {
        *why = "its index has no valid " + std::string(name);
        return std::nullopt;
    };

    RestorePointIndex index;
    const auto sequence = field("sequence");
    const auto sequenceNumber = sequence ? SequenceOfFolderName(*sequence) : std::nullopt;
    if (!sequenceNumber) {
        return bad("sequence");
    }
    index.sequenceNumber = *sequenceNumber;
    const auto type = field("type");
    const auto typeNumber = type ? ParseNumber<std::uint32_t>(*type) : std::nullopt;
    if (!typeNumber) {
        return bad("type");
    }
    index.type = *typeNumber;
    const auto state = field("state");
    if (!state || (*state != "complete" && *state != "begun")) {
        return bad("state");
    }
    index.complete = *state == "complete";
    const auto created = field("created");
    const auto seconds = created ? ParseNumber<std::int64_t>(*created) : std::nullopt;
    if (!seconds || *seconds < 0 || *seconds > kMaxCreatedSeconds) {
        return bad("created");
    }
    index.createdSeconds = *seconds;
    const auto description = field("description");
    if (!description) {
        return bad("description");
    }
    index.description = UnescapeDescription(*description);
    for (std::size_t i = 0; i < kRestorePointFiles.size(); ++i) {
        const auto value = field(kRestorePointFiles[i]);
        const auto record = value ? ParseCopiedFileRecord(*value) : std::nullopt;
        if (!record) {
            return bad(kRestorePointFiles[i]);
        }
        index.files[i] = *record;
    }
    if (!index.files[0].present) {
        return bad(kRestorePointFiles[0]);  // every prefix has one
    }
    return index;
}

}  // namespace

CopiedFileRecord RecordOf(const RegistryFileBytes& bytes) {
    if (!bytes) {
        return {};
    }
    return CopiedFileRecord{true, bytes->size(), HashOf(*bytes)};
}

// The sequence number a folder name spells: plain decimal digits, no sign or leading zero.
std::optional<std::int64_t> SequenceOfFolderName(std::string_view name) {
    if (name.empty() || name.front() == '0' ||
        !std::all_of(name.begin(), name.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        return std::nullopt;
    }
    return ParseNumber<std::int64_t>(name);
}

std::string HexOf(std::uint64_t value) {
    char digits[17];
    const auto [end, error] = std::to_chars(digits, digits + 16, value, 16);
    std::string text(digits, end);
    return std::string(16 - text.size(), '0') + text;
}

std::optional<RestorePointIndex> ReadIndex(IFileIo& files, const fs::path& folder,
                                           std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (FileError failure = files.ReadWholeFile(folder / kIndexFileName, kMaxIndexBytes, bytes)) {
        *why = *failure;
        return std::nullopt;
    }
    return ParseIndex({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, why);
}

FileError WriteIndex(IFileIo& files, const fs::path& folder, const RestorePointIndex& index) {
    const std::string text = SerializeIndex(index);
    return files.ReplaceFileAtomically(
        folder / kIndexFileName, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace quillary
