#include "services/ini_index.h"

#include <algorithm>

#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

// The units of big-endian bytes: read as little-endian, then each unit's bytes swapped. An odd
// last byte is half a character and is dropped.
std::u16string FromUtf16BeBytes(std::span<const std::uint8_t> bytes) {
    std::u16string text = FromUtf16LeBytes(bytes);
    for (char16_t& unit : text) {
        unit = static_cast<char16_t>((unit << 8) | (unit >> 8));
    }
    return text;
}

std::u16string DecodeTextFile(std::span<const std::uint8_t> bytes) {
    const auto startsWith = [&bytes](std::initializer_list<std::uint8_t> mark) {
        return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
    };
    std::u16string text;
    if (startsWith({0xFF, 0xFE})) {
        text = FromUtf16LeBytes(bytes.subspan(2));
    } else if (startsWith({0xFE, 0xFF})) {
        text = FromUtf16BeBytes(bytes.subspan(2));
    } else {
        const std::size_t skip = startsWith({0xEF, 0xBB, 0xBF}) ? 3 : 0;
        text = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()) + skip,
                                            bytes.size() - skip));
    }
    std::erase(text, u'\0');
    return text;
}

// Names compare as the profile reader compares them: without regard to case, and the same
// under every process locale.
bool LessNoCase(std::u16string_view a, std::u16string_view b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char16_t x, char16_t y) { return ToLowerInvariant(x) < ToLowerInvariant(y); });
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    return !LessNoCase(a, b) && !LessNoCase(b, a);
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

CIniIndex CIniIndex::FromBytes(std::span<const std::uint8_t> bytes) {
    CIniIndex index;
    index.text_ = DecodeTextFile(bytes);
    index.Parse();
    index.SortForLookup();
    return index;
}

std::u16string CIniIndex::ReadString(std::u16string_view section, std::u16string_view key,
                                     std::size_t bufferSize) const {
    const Section* found = FindSection(section);
    const Entry* entry = found ? FindEntry(*found, key) : nullptr;
    if (entry == nullptr || bufferSize == 0) {
        return {};
    }
    std::u16string_view value = View(entry->value);
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > bufferSize - 1) {
        value = value.substr(0, bufferSize - 1);
        if (IsHighSurrogate(value.back())) {
            value.remove_suffix(1);
        }
    }
    return std::u16string(value);
}

std::u16string_view CIniIndex::View(Span span) const {
    return std::u16string_view(text_).substr(span.offset, span.length);
}

void CIniIndex::Parse() {
    const std::u16string_view text(text_);
    // The span of text that view (a part of text) covers.
    const auto spanOf = [&text](std::u16string_view view) {
        return Span{static_cast<std::size_t>(view.data() - text.data()), view.size()};
    };
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        const std::size_t lineEnd = std::min(text.find_first_of(u"\r\n", lineStart), text.size());
        const std::u16string_view line = TrimView(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (line.empty() || line.front() == u';') {
            continue;
        }
        if (line.front() == u'[') {
            // A section name runs to the first ']', or to the end of a line that lacks one.
            const std::u16string_view name = line.substr(1, line.find(u']') - 1);
            sections_.push_back(Section{spanOf(TrimView(name)), entries_.size(), 0});
            continue;
        }
        if (sections_.empty()) {
            continue;  // lines above the first section belong to no section
        }
        // A line without '=' names a key with no value.
        const std::size_t equals = line.find(u'=');
        const std::u16string_view key = TrimView(line.substr(0, equals));
        const std::u16string_view value = equals == std::u16string_view::npos
                                              ? line.substr(line.size())
                                              : TrimView(line.substr(equals + 1));
        entries_.push_back(Entry{spanOf(key), spanOf(value)});
        ++sections_.back().entryCount;  // entries fill the section opened last
    }
}

void CIniIndex::SortForLookup() {
    const auto nameLess = [this](const Section& a, const Section& b) {
        return LessNoCase(View(a.name), View(b.name));
    };
    std::stable_sort(sections_.begin(), sections_.end(), nameLess);
    const auto repeated =
        std::unique(sections_.begin(), sections_.end(), [this](const Section& a, const Section& b) {
            return EqualNoCase(View(a.name), View(b.name));
        });
    sections_.erase(repeated, sections_.end());
    const auto keyLess = [this](const Entry& a, const Entry& b) {
        return LessNoCase(View(a.key), View(b.key));
    };
    for (const Section& section : sections_) {
        const auto first = entries_.begin() + static_cast<std::ptrdiff_t>(section.firstEntry);
        std::stable_sort(first, first + static_cast<std::ptrdiff_t>(section.entryCount), keyLess);
    }
}

const CIniIndex::Section* CIniIndex::FindSection(std::u16string_view name) const {
    const auto found = std::lower_bound(sections_.begin(), sections_.end(), name,
                                        [this](const Section& section, std::u16string_view wanted) {
                                            return LessNoCase(View(section.name), wanted);
                                        });
    return found != sections_.end() && EqualNoCase(View(found->name), name) ? &*found : nullptr;
}

const CIniIndex::Entry* CIniIndex::FindEntry(const Section& section,
                                             std::u16string_view key) const {
    const auto first = entries_.begin() + static_cast<std::ptrdiff_t>(section.firstEntry);
    const auto last = first + static_cast<std::ptrdiff_t>(section.entryCount);
    const auto found =
        std::lower_bound(first, last, key, [this](const Entry& entry, std::u16string_view wanted) {
            return LessNoCase(View(entry.key), wanted);
        });
    return found != last && EqualNoCase(View(found->key), key) ? &*found : nullptr;
}

}  // namespace quillary
