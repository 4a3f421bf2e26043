#include "core/text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <system_error>

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

// --- Conversion at the edges -------------------------------------------------------------

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

// --- printf-style formatting ----------------------------------------------------------------

namespace {

// Upper bound of widths and precisions, so that a hostile format cannot ask for gigabytes.
constexpr int kMaxFieldSize = 1024;

// One %-directive of a format: its flags, width, precision and conversion character.
struct Directive {
    bool left_align = false;
    bool zero_pad = false;
    bool plus_sign = false;
    bool blank_sign = false;
    bool alternate = false;
    int width = 0;
    std::optional<int> precision;
    char16_t conversion = 0;  // 0 when the format ends inside the conversion
};

template <typename... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};

class ArgumentCursor {
public:
    explicit ArgumentCursor(std::span<const FormatArg> args)
        : next_(args.data()), end_(args.data() + args.size()) {}

    // The next argument, or nullptr when all are used up.
    const FormatArg* Take() { return next_ == end_ ? nullptr : next_++; }

private:
    const FormatArg* next_;
    const FormatArg* end_;
};

// An integer argument as its 64 bits plus whether they hold a signed value.
struct IntegerArg {
    std::uint64_t bits;
    bool is_signed;

    bool IsNegative() const { return is_signed && static_cast<std::int64_t>(bits) < 0; }
};

// Integers and UTF-16 units count as integers; doubles and texts do not.
std::optional<IntegerArg> AsInteger(const FormatArg& arg) {
    const auto& value = arg.value();
    if (const auto* signed_value = std::get_if<std::int64_t>(&value)) {
        return IntegerArg{static_cast<std::uint64_t>(*signed_value), true};
    }
    if (const auto* unsigned_value = std::get_if<std::uint64_t>(&value)) {
        return IntegerArg{*unsigned_value, false};
    }
    if (const auto* unit = std::get_if<char16_t>(&value))
        return IntegerArg{*unit, false};
    return std::nullopt;
}

// Doubles, and integers converted to double; texts are not numbers.
std::optional<double> AsDouble(const FormatArg& arg) {
    if (const auto* real = std::get_if<double>(&arg.value()))
        return *real;
    const auto integer = AsInteger(arg);
    if (!integer)
        return std::nullopt;
    if (integer->is_signed)
        return static_cast<double>(static_cast<std::int64_t>(integer->bits));
    return static_cast<double>(integer->bits);
}

int ClampFieldSize(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, -kMaxFieldSize, kMaxFieldSize));
}

// A '*' width or precision: the next argument as a clamped int, or nothing when it is missing
// or not an integer.
std::optional<int> TakeFieldSizeArgument(ArgumentCursor& args) {
    const FormatArg* arg = args.Take();
    const auto integer = arg ? AsInteger(*arg) : std::nullopt;
    if (!integer)
        return std::nullopt;
    if (integer->is_signed)
        return ClampFieldSize(static_cast<std::int64_t>(integer->bits));
    return static_cast<int>(std::min<std::uint64_t>(integer->bits, kMaxFieldSize));
}

// Reads a run of decimal digits. The value saturates at kMaxFieldSize while the digits are
// still consumed, so an endless digit run neither overflows nor leaks into the output.
int ReadDigits(std::u16string_view format, std::size_t& pos) {
    int value = 0;
    while (pos < format.size() && format[pos] >= u'0' && format[pos] <= u'9') {
        value = std::min(value * 10 + (format[pos] - u'0'), kMaxFieldSize);
        ++pos;
    }
    return value;
}

void ReadFlags(std::u16string_view format, std::size_t& pos, Directive& directive) {
    for (; pos < format.size(); ++pos) {
        switch (format[pos]) {
            case u'-':
                directive.left_align = true;
                break;
            case u'0':
                directive.zero_pad = true;
                break;
            case u'+':
                directive.plus_sign = true;
                break;
            case u' ':
                directive.blank_sign = true;
                break;
            case u'#':
                directive.alternate = true;
                break;
            default:
                return;
        }
    }
}

// A negative '*' width means left alignment, as in printf.
void ReadWidth(std::u16string_view format, std::size_t& pos, ArgumentCursor& args,
               Directive& directive) {
    if (pos >= format.size() || format[pos] != u'*') {
        directive.width = ReadDigits(format, pos);
        return;
    }
    ++pos;
    const int width = TakeFieldSizeArgument(args).value_or(0);
    if (width < 0)
        directive.left_align = true;
    directive.width = width < 0 ? -width : width;
}

// A '.' without digits means precision 0; a negative '*' precision counts as none given.
void ReadPrecision(std::u16string_view format, std::size_t& pos, ArgumentCursor& args,
                   Directive& directive) {
    if (pos >= format.size() || format[pos] != u'.')
        return;
    ++pos;
    if (pos >= format.size() || format[pos] != u'*') {
        directive.precision = ReadDigits(format, pos);
        return;
    }
    ++pos;
    const auto precision = TakeFieldSizeArgument(args);
    if (precision && *precision >= 0)
        directive.precision = precision;
}

// Skips h, hh, l, ll, L, w, I32 and I64; a lone 'I' is left to be read as the conversion.
void SkipLengthModifiers(std::u16string_view format, std::size_t& pos) {
    while (pos < format.size()) {
        const std::u16string_view rest = format.substr(pos);
        if (rest[0] == u'h' || rest[0] == u'l' || rest[0] == u'L' || rest[0] == u'w') {
            ++pos;
        } else if (rest.starts_with(u"I64") || rest.starts_with(u"I32")) {
            pos += 3;
        } else {
            return;
        }
    }
}

// Parses the conversion after a '%' (pos points just past it) and leaves pos after it.
// Every '*' takes an argument, whatever the conversion turns out to be.
Directive ParseConversion(std::u16string_view format, std::size_t& pos, ArgumentCursor& args) {
    Directive directive;
    ReadFlags(format, pos, directive);
    ReadWidth(format, pos, args, directive);
    ReadPrecision(format, pos, args, directive);
    SkipLengthModifiers(format, pos);
    if (pos < format.size())
        directive.conversion = format[pos++];
    return directive;
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Appends prefix and body padded to the directive's width: blanks on the left by default, blanks on
// the right with '-', zeros between prefix (sign or 0x) and body when zero padding applies.
void AppendField(std::u16string& out, const Directive& directive, std::u16string_view prefix,
                 std::u16string_view body, bool zero_pad) {
    const std::size_t length = prefix.size() + body.size();
    const auto width = static_cast<std::size_t>(directive.width);
    const std::size_t padding = width > length ? width - length : 0;
    if (directive.left_align) {
        out.append(prefix).append(body).append(padding, u' ');
    } else if (zero_pad) {
        out.append(prefix).append(padding, u'0').append(body);
    } else {
        out.append(padding, u' ').append(prefix).append(body);
    }
}

std::u16string_view SignPrefix(const Directive& directive, bool negative) {
    if (negative)
        return u"-";
    if (directive.plus_sign)
        return u"+";
    if (directive.blank_sign)
        return u" ";
    return u"";
}

std::string DigitsOf(std::uint64_t value, int base) {
    std::array<char, std::numeric_limits<std::uint64_t>::digits> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, base);
    return std::string(buffer.data(), result.ptr);
}

// The absolute value; unsigned negation does not overflow at INT64_MIN.
std::uint64_t Magnitude(IntegerArg integer) {
    return integer.IsNegative() ? 0 - integer.bits : integer.bits;
}

// What %u and %x print for an argument: a negative value that fits an int prints as that
// int's 32-bit two's complement, like printf given an int; other negatives use 64 bits.
std::uint64_t UnsignedBits(IntegerArg integer) {
    const auto value = static_cast<std::int64_t>(integer.bits);
    if (integer.IsNegative() && value >= std::numeric_limits<std::int32_t>::min()) {
        return integer.bits & 0xFFFFFFFFu;
    }
    return integer.bits;
}

// printf's integer precision: the minimum number of digits; precision 0 prints 0 as nothing.
std::string ApplyIntegerPrecision(std::string digits, const Directive& directive) {
    if (!directive.precision)
        return digits;
    if (*directive.precision == 0 && digits == "0")
        return "";
    const auto wanted = static_cast<std::size_t>(*directive.precision);
    if (digits.size() < wanted)
        digits.insert(0, wanted - digits.size(), '0');
    return digits;
}

// The '0' flag pads numbers unless '-' or an integer precision overrides it.
bool ZeroPadsInteger(const Directive& directive) {
    return directive.zero_pad && !directive.left_align && !directive.precision;
}

void AppendSignedInteger(std::u16string& out, const Directive& directive, IntegerArg integer) {
    const bool negative = integer.IsNegative();
    const std::string digits = ApplyIntegerPrecision(DigitsOf(Magnitude(integer), 10), directive);
    AppendField(out, directive, SignPrefix(directive, negative), Widen(digits),
                ZeroPadsInteger(directive));
}

void AppendUnsignedInteger(std::u16string& out, const Directive& directive, IntegerArg integer) {
    const std::uint64_t value = UnsignedBits(integer);
    const bool hex = directive.conversion != u'u';
    std::string digits = ApplyIntegerPrecision(DigitsOf(value, hex ? 16 : 10), directive);
    std::u16string_view prefix;
    if (hex && directive.alternate && value != 0)
        prefix = directive.conversion == u'X' ? u"0X" : u"0x";
    if (directive.conversion == u'X') {
        std::transform(digits.begin(), digits.end(), digits.begin(),
                       [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    }
    AppendField(out, directive, prefix, Widen(digits), ZeroPadsInteger(directive));
}

// Text of a non-finite double: "nan" without a sign, "inf" with one.
std::optional<std::string> NonFiniteText(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    return std::nullopt;
}

// Fixed notation with the given precision. The largest double has 309 integer digits, and the
// precision is capped, so the buffer always suffices.
std::string FixedDigits(double magnitude, int precision) {
    std::array<char, 309 + 1 + kMaxFieldSize + 16> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return {};
    return std::string(buffer.data(), result.ptr);
}

void AppendFixed(std::u16string& out, const Directive& directive, double value) {
    const bool negative = std::signbit(value) && !std::isnan(value);
    if (const auto non_finite = NonFiniteText(std::abs(value))) {
        AppendField(out, directive, std::isnan(value) ? u"" : SignPrefix(directive, negative),
                    Widen(*non_finite), false);
        return;
    }
    std::string digits = FixedDigits(std::abs(value), directive.precision.value_or(6));
    if (directive.alternate && directive.precision == 0)
        digits += '.';
    AppendField(out, directive, SignPrefix(directive, negative), Widen(digits),
                directive.zero_pad && !directive.left_align);
}

// Shortest text that reads back as the same double ("0.1", "1e+300").
std::string ShortestText(double value) {
    if (const auto non_finite = NonFiniteText(value))
        return *non_finite;
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    if (result.ec != std::errc())
        return {};
    return std::string(buffer.data(), result.ptr);
}

// %s: a text as given, a UTF-16 unit as that character, a number as its decimal text.
std::u16string TextOf(const FormatArg& arg) {
    return std::visit(
        Overloaded{
            [](std::int64_t value) { return Widen(std::to_string(value)); },
            [](std::uint64_t value) { return Widen(std::to_string(value)); },
            [](double value) { return Widen(ShortestText(value)); },
            [](char16_t unit) { return unit == 0 ? std::u16string() : std::u16string(1, unit); },
            [](std::u16string_view text) { return std::u16string(text); },
        },
        arg.value());
}

void AppendText(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    std::u16string text = TextOf(arg);
    if (directive.precision && static_cast<std::size_t>(*directive.precision) < text.size()) {
        text.resize(static_cast<std::size_t>(*directive.precision));
    }
    AppendField(out, directive, u"", text, false);
}

// %c: a UTF-16 unit, or an integer in 1..0xFFFF taken as one; anything else prints nothing.
void AppendCharacter(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    const auto integer = AsInteger(arg);
    if (!integer || integer->IsNegative() || integer->bits == 0 || integer->bits > 0xFFFF)
        return;
    const auto unit = static_cast<char16_t>(integer->bits);
    AppendField(out, directive, u"", std::u16string_view(&unit, 1), false);
}

bool TakesArgument(char16_t conversion) {
    return std::u16string_view(u"sdiuxXcf").find(conversion) != std::u16string_view::npos;
}

// Prints one argument under a conversion that takes one; a mismatched kind prints nothing.
void AppendArgument(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    switch (directive.conversion) {
        case u's':
            AppendText(out, directive, arg);
            return;
        case u'c':
            AppendCharacter(out, directive, arg);
            return;
        case u'f':
            if (const auto real = AsDouble(arg))
                AppendFixed(out, directive, *real);
            return;
        case u'd':
        case u'i':
            if (const auto integer = AsInteger(arg))
                AppendSignedInteger(out, directive, *integer);
            return;
        default:  // u, x, X
            if (const auto integer = AsInteger(arg))
                AppendUnsignedInteger(out, directive, *integer);
            return;
    }
}

}  // namespace

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args) {
    std::u16string out;
    ArgumentCursor cursor(std::span<const FormatArg>(args.begin(), args.size()));
    std::size_t pos = 0;
    while (pos < format.size()) {
        const std::size_t percent = format.find(u'%', pos);
        out.append(format.substr(pos, percent - pos));
        if (percent == std::u16string_view::npos)
            break;
        pos = percent + 1;
        const Directive directive = ParseConversion(format, pos, cursor);
        if (directive.conversion == u'%') {
            out.push_back(u'%');
        } else if (TakesArgument(directive.conversion)) {
            if (const FormatArg* arg = cursor.Take())
                AppendArgument(out, directive, *arg);
        }
        // Anything else (%n, an unknown conversion, a '%' at the end) prints nothing and
        // takes no argument.
    }
    return out;
}

std::vector<std::uint8_t> ToUtf16LeBytes(std::u16string_view text, bool terminate) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (terminate) {
        bytes.insert(bytes.end(), {0, 0});
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
        text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return text;
}

}  // namespace quillary
