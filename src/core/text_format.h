#pragma once

// printf-style formatting of UTF-16 texts taken from language files.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace quillary {

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
