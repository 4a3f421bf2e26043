#pragma once

// An INI file held in memory and indexed once, answering lookups the way the Windows profile
// reader does: "[section]" lines open a section, "key=value" lines fill it, lines starting
// with ';' are comments, section and key names match without regard to case, white space
// around names and values is dropped, and the first match wins (a section that appears a
// second time adds nothing, as the profile reader stops at the first one).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

class CIniIndex {
public:
    // An index with no sections: every lookup finds nothing.
    CIniIndex() = default;

    // Decodes and indexes a file's bytes. UTF-16 (little- or big-endian) is recognised by its
    // byte-order mark; anything else is read as UTF-8, with or without a byte-order mark, and
    // each ill-formed sequence becomes U+FFFD. NUL characters are dropped, so no text holds
    // one. Never fails: damaged lines simply do not form entries.
    static CIniIndex FromBytes(std::span<const std::uint8_t> bytes);

    // The value of key in section as the profile reader copies it into a buffer of
    // bufferSize units: a pair of double quotes enclosing the whole value is dropped and the
    // rest is cut to bufferSize - 1 units (never between the two halves of a surrogate pair).
    // Empty when the section or the key is missing, or bufferSize is 0.
    std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                              std::size_t bufferSize) const;

private:
    // A stretch of text_; offsets rather than views, so moving the index keeps them valid.
    struct Span {
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    struct Entry {
        Span key;
        Span value;
    };
    struct Section {
        Span name;
        std::size_t firstEntry = 0;  // its entries are entries_[firstEntry, firstEntry + count)
        std::size_t entryCount = 0;
    };

    std::u16string_view View(Span span) const;
    void Parse();
    void SortForLookup();
    const Section* FindSection(std::u16string_view name) const;
    const Entry* FindEntry(const Section& section, std::u16string_view key) const;

    std::u16string text_;
    std::vector<Section> sections_;  // sorted by name, first occurrence of each name only
    std::vector<Entry> entries_;     // each section's entries sorted by key, file order kept
};

}  // namespace quillary
