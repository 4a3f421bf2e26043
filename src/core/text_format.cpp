// The printf-style formatter of the texts taken from language files.

#include "core/text_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <system_error>

namespace quillary {

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
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

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

}  // namespace quillary
