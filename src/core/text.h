#pragma once

// UTF-16 text helpers. The core keeps text as std::u16string because the stored formats,
// the length limits and the comparisons all count UTF-16 units; UTF-8 appears only at the
// edges (console, Unix paths, JSON).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillary {

// --- Conversion at the edges -------------------------------------------------------------

// Decodes UTF-8. Every ill-formed sequence (stray continuation byte, overlong form, encoded
// surrogate, value above U+10FFFF, truncated sequence) becomes one U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Encodes UTF-16 as UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// --- UTF-16LE bytes, as the registry and the data files store text ----------------------

// The text's units as little-endian bytes, followed by a NUL unit when terminate is set.
std::vector<std::uint8_t> ToUtf16LeBytes(std::u16string_view text, bool terminate);
// The units of little-endian bytes; an odd last byte is left out.
std::u16string FromUtf16LeBytes(std::span<const std::uint8_t> bytes);

// One byte of text in Windows-1252, the code page of the English systems that wrote 8-bit
// files (old data files, "REGEDIT4" exports).
char16_t Windows1252ToUtf16(std::uint8_t byte);

// --- White space ---------------------------------------------------------------------------

// True for the characters the C runtime's iswspace accepts: tab, line feed, vertical tab,
// form feed, carriage return, blank, and the Unicode space separators.
bool IsWhiteSpace(char16_t ch);

std::u16string_view TrimView(std::u16string_view text);
std::u16string_view TrimLeftView(std::u16string_view text);
std::u16string_view TrimRightView(std::u16string_view text);
std::u16string Trim(std::u16string_view text);

// --- Case ----------------------------------------------------------------------------------

// The case rules of the process locale. The C runtime's locale is process-wide, and so is
// this setting: the "C" locale maps only A-Z and a-z, a language's locale maps every letter
// the Unicode tables give a simple case mapping (Latin, Greek, Cyrillic, Armenian, ...).
enum class CaseLocale { Classic, Language };
void SetCaseLocale(CaseLocale locale);
CaseLocale GetCaseLocale();

// Case mapping of one UTF-16 unit under the process locale.
char16_t ToLowerChar(char16_t ch);
char16_t ToUpperChar(char16_t ch);
std::u16string ToLower(std::u16string_view text);
std::u16string ToUpper(std::u16string_view text);

// Case mapping that does not depend on the locale: the full simple case table, as the
// registry uses it to compare key and value names.
char16_t ToLowerInvariant(char16_t ch);
char16_t ToUpperInvariant(char16_t ch);
std::u16string ToUpperInvariant(std::u16string_view text);
// Equality of the upper-cased invariant forms, as the registry compares key names.
bool EqualsNoCaseInvariant(std::u16string_view a, std::u16string_view b);

// Case-insensitive comparison under the process locale (compares lower-cased units).
// Returns <0, 0 or >0.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix);
// Position of the first case-insensitive occurrence of needle at or after from, or npos.
// An empty needle is found at from (when from <= size).
std::size_t FindNoCase(std::u16string_view haystack, std::u16string_view needle,
                       std::size_t from = 0);

// --- printf-style formatting ----------------------------------------------------------------

// One argument of FormatText.
class FormatArg {
public:
    FormatArg(int value) : value_(static_cast<std::int64_t>(value)) {}
    FormatArg(long value) : value_(static_cast<std::int64_t>(value)) {}
    FormatArg(long long value) : value_(static_cast<std::int64_t>(value)) {}
    FormatArg(unsigned value) : value_(static_cast<std::uint64_t>(value)) {}
    FormatArg(unsigned long value) : value_(static_cast<std::uint64_t>(value)) {}
    FormatArg(unsigned long long value) : value_(static_cast<std::uint64_t>(value)) {}
    FormatArg(double value) : value_(value) {}
    FormatArg(char16_t value) : value_(value) {}
    FormatArg(const char16_t* value) : value_(std::u16string_view(value ? value : u"")) {}
    FormatArg(std::u16string_view value) : value_(value) {}
    FormatArg(const std::u16string& value) : value_(std::u16string_view(value)) {}

    using Value = std::variant<std::int64_t, std::uint64_t, double, char16_t, std::u16string_view>;
    const Value& value() const { return value_; }

private:
    Value value_;
};

// Formats a text taken from a language file with printf's conversions %s %d %i %u %x %X %c
// %f %%, the flags - 0 + blank #, a width and a precision (digits or *), and the length
// modifiers h l ll I64 w (accepted and ignored). The format is untrusted: a conversion with
// no argument left prints nothing, an unknown conversion prints nothing, %n is ignored, a
// number argument under %s prints as a number, a text argument under a number conversion
// prints nothing, widths and precisions are capped, and nothing can crash or overflow.
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
    return FormatText(format, {FormatArg(args)...});
}

}  // namespace quillary
