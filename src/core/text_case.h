#pragma once

// White space and case of UTF-16 text: trimming, case mapping under the process locale or the
// invariant table, and case-insensitive comparison.

#include <cstddef>
#include <string>
#include <string_view>

namespace quillary {

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

}  // namespace quillary
