// White space and case: the character classes and case rules of the C runtime, and the
// invariant case table the registry compares names with.

#include "core/text_case.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <span>

namespace quillary {

namespace {

// --- Case tables -----------------------------------------------------------------------------

// Every step-th unit from first to last maps to itself plus delta (modulo 2^16).
struct CaseRun {
    char16_t first;
    char16_t last;
    std::int32_t delta;
    std::uint8_t step;
};

#include "core/case_table.inc"

char16_t MapByRuns(std::span<const CaseRun> runs, char16_t ch) {
    const auto run = std::lower_bound(runs.begin(), runs.end(), ch,
                                      [](const CaseRun& r, char16_t c) { return r.last < c; });
    if (run == runs.end() || ch < run->first || (ch - run->first) % run->step != 0)
        return ch;
    return static_cast<char16_t>(ch + run->delta);
}

bool IsAsciiUpper(char16_t ch) {
    return ch >= u'A' && ch <= u'Z';
}
bool IsAsciiLower(char16_t ch) {
    return ch >= u'a' && ch <= u'z';
}
char16_t AsciiToLower(char16_t ch) {
    return IsAsciiUpper(ch) ? static_cast<char16_t>(ch + 32) : ch;
}
char16_t AsciiToUpper(char16_t ch) {
    return IsAsciiLower(ch) ? static_cast<char16_t>(ch - 32) : ch;
}

// Mirrors the C runtime's setlocale, which is process-wide: one setting for every thread.
// Readers only need the value itself, so relaxed ordering is enough.
std::atomic<CaseLocale> g_case_locale{CaseLocale::Classic};

CaseLocale CurrentCaseLocale() {
    return g_case_locale.load(std::memory_order_relaxed);
}

char16_t LowerUnder(CaseLocale locale, char16_t ch) {
    return locale == CaseLocale::Classic ? AsciiToLower(ch) : ToLowerInvariant(ch);
}

char16_t UpperUnder(CaseLocale locale, char16_t ch) {
    return locale == CaseLocale::Classic ? AsciiToUpper(ch) : ToUpperInvariant(ch);
}

// True when text[pos, pos + pattern.size()) equals pattern ignoring case; the caller makes
// sure the range lies inside text.
bool MatchesAt(CaseLocale locale, std::u16string_view text, std::size_t pos,
               std::u16string_view pattern) {
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        if (LowerUnder(locale, text[pos + index]) != LowerUnder(locale, pattern[index])) {
            return false;
        }
    }
    return true;
}

}  // namespace

// --- White space ---------------------------------------------------------------------------

bool IsWhiteSpace(char16_t ch) {
    if (ch < 0x80)
        return ch == u' ' || (ch >= 0x09 && ch <= 0x0D);
    switch (ch) {
        case 0x0085:
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return ch >= 0x2000 && ch <= 0x200A;
    }
}

std::u16string_view TrimLeftView(std::u16string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsWhiteSpace);
    return text.substr(static_cast<std::size_t>(first - text.begin()));
}

std::u16string_view TrimRightView(std::u16string_view text) {
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsWhiteSpace);
    return text.substr(0, static_cast<std::size_t>(text.rend() - last));
}

std::u16string_view TrimView(std::u16string_view text) {
    return TrimRightView(TrimLeftView(text));
}

std::u16string Trim(std::u16string_view text) {
    return std::u16string(TrimView(text));
}

// --- Case ----------------------------------------------------------------------------------

void SetCaseLocale(CaseLocale locale) {
    g_case_locale.store(locale, std::memory_order_relaxed);
}

CaseLocale GetCaseLocale() {
    return CurrentCaseLocale();
}

char16_t ToLowerInvariant(char16_t ch) {
    return ch < 0x80 ? AsciiToLower(ch) : MapByRuns(kLowerRuns, ch);
}

char16_t ToUpperInvariant(char16_t ch) {
    return ch < 0x80 ? AsciiToUpper(ch) : MapByRuns(kUpperRuns, ch);
}

std::u16string ToUpperInvariant(std::u16string_view text) {
    std::u16string upper(text);
    for (char16_t& ch : upper)
        ch = ToUpperInvariant(ch);
    return upper;
}

bool EqualsNoCaseInvariant(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return x == y || ToUpperInvariant(x) == ToUpperInvariant(y);
           });
}

char16_t ToLowerChar(char16_t ch) {
    return LowerUnder(CurrentCaseLocale(), ch);
}

char16_t ToUpperChar(char16_t ch) {
    return UpperUnder(CurrentCaseLocale(), ch);
}

std::u16string ToLower(std::u16string_view text) {
    const CaseLocale locale = CurrentCaseLocale();
    std::u16string out(text);
    for (char16_t& ch : out)
        ch = LowerUnder(locale, ch);
    return out;
}

std::u16string ToUpper(std::u16string_view text) {
    const CaseLocale locale = CurrentCaseLocale();
    std::u16string out(text);
    for (char16_t& ch : out)
        ch = UpperUnder(locale, ch);
    return out;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const CaseLocale locale = CurrentCaseLocale();
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t index = 0; index < common; ++index) {
        const char16_t left = LowerUnder(locale, a[index]);
        const char16_t right = LowerUnder(locale, b[index]);
        if (left != right)
            return left < right ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && MatchesAt(CurrentCaseLocale(), a, 0, b);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return prefix.size() <= text.size() && MatchesAt(CurrentCaseLocale(), text, 0, prefix);
}

bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
    return suffix.size() <= text.size() &&
           MatchesAt(CurrentCaseLocale(), text, text.size() - suffix.size(), suffix);
}

std::size_t FindNoCase(std::u16string_view haystack, std::u16string_view needle, std::size_t from) {
    if (from > haystack.size() || needle.size() > haystack.size() - from) {
        return from <= haystack.size() && needle.empty() ? from : std::u16string_view::npos;
    }
    const CaseLocale locale = CurrentCaseLocale();
    const std::size_t last_start = haystack.size() - needle.size();
    for (std::size_t pos = from; pos <= last_start; ++pos) {
        if (MatchesAt(locale, haystack, pos, needle))
            return pos;
    }
    return std::u16string_view::npos;
}

}  // namespace quillary
