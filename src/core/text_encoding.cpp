// Conversions between UTF-8, UTF-16, UTF-16LE bytes and Windows-1252.

#include "core/text_encoding.h"

#include <array>

#include "core/bytes.h"

namespace quillary {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
bool IsSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// --- UTF-8 decoding ------------------------------------------------------------------------

// What a lead byte promises: the sequence length and the range its second byte must fall in.
// The narrowed second-byte ranges reject overlong forms (E0, F0), encoded surrogates (ED) and
// values above U+10FFFF (F4) at the second byte, which is what makes the replacement count
// follow the "maximal subpart" rule.
struct LeadByte {
    std::size_t length;  // 0: the byte cannot start a sequence
    unsigned char second_min;
    unsigned char second_max;
};

LeadByte ClassifyLeadByte(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2, 0x80, 0xBF};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3, 0x80, 0xBF};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4, 0x80, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

struct DecodedSequence {
    char32_t code_point;
    std::size_t length;  // bytes consumed, at least 1
};

// Decodes the sequence at the start of bytes (non-empty). An ill-formed sequence consumes its
// maximal subpart: the bytes up to, not including, the first one that cannot continue it.
DecodedSequence DecodeSequence(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80)
        return {lead, 1};
    const LeadByte info = ClassifyLeadByte(lead);
    if (info.length == 0)
        return {kReplacementCharacter, 1};

    char32_t code_point = lead & (0x7Fu >> info.length);
    for (std::size_t index = 1; index < info.length; ++index) {
        if (index >= bytes.size())
            return {kReplacementCharacter, index};
        const auto byte = static_cast<unsigned char>(bytes[index]);
        const unsigned char min = index == 1 ? info.second_min : 0x80;
        const unsigned char max = index == 1 ? info.second_max : 0xBF;
        if (byte < min || byte > max)
            return {kReplacementCharacter, index};
        code_point = (code_point << 6) | (byte & 0x3Fu);
    }
    return {code_point, info.length};
}

void AppendUtf16(std::u16string& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out.push_back(static_cast<char16_t>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t code_point) {
    const auto byte = [](char32_t value) { return static_cast<char>(value); };
    if (code_point < 0x80) {
        out.push_back(byte(code_point));
    } else if (code_point < 0x800) {
        out.push_back(byte(0xC0 | (code_point >> 6)));
        out.push_back(byte(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(byte(0xE0 | (code_point >> 12)));
        out.push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(byte(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(byte(0xF0 | (code_point >> 18)));
        out.push_back(byte(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(byte(0x80 | (code_point & 0x3F)));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const DecodedSequence decoded = DecodeSequence(utf8);
        AppendUtf16(out, decoded.code_point);
        utf8.remove_prefix(decoded.length);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        char32_t unit = utf16[index];
        const bool pair_follows =
            IsHighSurrogate(unit) && index + 1 < utf16.size() && IsLowSurrogate(utf16[index + 1]);
        if (pair_follows) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (utf16[++index] - 0xDC00u);
        } else if (IsSurrogate(unit)) {
            unit = kReplacementCharacter;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::vector<std::uint8_t> ToUtf16LeBytes(std::u16string_view text, bool terminate) {
    // Sized once and written in place: loading a prefix converts every text value.
    std::vector<std::uint8_t> bytes((text.size() + (terminate ? 1 : 0)) * 2);
    std::uint8_t* out = bytes.data();
    for (char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xFF);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
    return bytes;
}

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five positions the code page leaves
// undefined keep their C1 control value, as the system's own conversion does.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Windows1252ToUtf16(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F)
        return kWindows1252High[byte - 0x80u];
    return byte;
}

std::u16string FromUtf16LeBytes(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(ReadUInt16Le(bytes, i));
    }
    return text;
}

}  // namespace quillary
