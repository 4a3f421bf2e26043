#include "targets/posix/windows_path.h"

#include "core/text_case.h"

namespace quillary {
namespace {

bool IsSeparator(char16_t ch) {
    return ch == u'\\' || ch == u'/';
}

bool IsDriveLetter(char16_t ch) {
    return (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z');
}

bool IsForbidden(char16_t ch, bool wildcards) {
    if (ch < 0x20)
        return true;
    switch (ch) {
        case u'<':
        case u'>':
        case u'"':
        case u'|':
        case u':':
            return true;
        case u'*':
        case u'?':
            return !wildcards;
        default:
            return false;
    }
}

// Adds the names of text (separated by '\\' or '/') to components, folding "." and "..".
bool AppendComponents(std::u16string_view text, bool wildcardLast,
                      std::vector<std::u16string>& components, LStatus* error) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        std::u16string_view name = text.substr(start, end - start);
        bool last = end >= text.size();
        // Win32 drops trailing dots and blanks: "notepad.exe." is "notepad.exe".
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
            if (name == u"." || name == u"..")
                break;
            name.remove_suffix(1);
        }
        if (name == u"..") {
            if (!components.empty())
                components.pop_back();
        } else if (!name.empty() && name != u".") {
            for (char16_t ch : name) {
                if (IsForbidden(ch, wildcardLast && last)) {
                    if (error)
                        *error = ErrorInvalidName;
                    return false;
                }
            }
            components.emplace_back(name);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

std::optional<WindowsPath> ParseWindowsPath(std::u16string_view path,
                                            std::u16string_view currentDirectory, bool wildcardLast,
                                            LStatus* error) {
    LStatus ignored = ErrorSuccess;
    if (!error)
        error = &ignored;
    if (path.starts_with(u"\\\\?\\"))
        path.remove_prefix(4);
    if (path.empty()) {
        *error = ErrorPathNotFound;
        return std::nullopt;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        *error = ErrorBadNetPath;
        return std::nullopt;
    }

    WindowsPath parsed;
    std::u16string_view rest;
    if (path.size() >= 2 && path[1] == u':' && IsDriveLetter(path[0])) {
        // "C:name" is relative to drive C's own current folder, which for us is its root.
        parsed.drive = ToUpperInvariant(path[0]);
        rest = path.substr(2);
    } else {
        std::optional<WindowsPath> current = ParseWindowsPath(currentDirectory, u"", false, error);
        if (!current || current->drive == 0) {
            *error = ErrorPathNotFound;
            return std::nullopt;
        }
        parsed.drive = current->drive;
        if (!IsSeparator(path[0]))
            parsed.components = std::move(current->components);
        rest = path;
    }
    parsed.endsWithSeparator = !rest.empty() && IsSeparator(rest.back());
    if (!AppendComponents(rest, wildcardLast, parsed.components, error))
        return std::nullopt;
    return parsed;
}

std::u16string FormatWindowsPath(char16_t drive, const std::vector<std::u16string>& components,
                                 std::size_t count) {
    std::u16string text{drive, u':'};
    if (count == 0)
        text += u'\\';
    for (std::size_t i = 0; i < count && i < components.size(); ++i) {
        text += u'\\';
        text += components[i];
    }
    return text;
}

bool MatchesFilePattern(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*")
        pattern = u"*";
    // Iterative wildcard match with one backtrack point for the last '*'.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::u16string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || ToUpperInvariant(pattern[p]) == ToUpperInvariant(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            starName = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

}  // namespace quillary
