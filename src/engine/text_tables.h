#pragma once

// The texts the results show for categories and problems, read once at start-up from the
// language file: the category names, descriptions and brief descriptions, and the detail and
// description formats of every entry type.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "engine/category_table.h"
#include "engine/entry_types.h"
#include "engine/problem.h"

namespace quillary {

// The text of an identifier in the current language; empty when the language has none.
using TextLookup = std::function<std::u16string(std::u16string_view identifier)>;

class CTextTables {
public:
    // Every text empty.
    CTextTables() = default;
    // Reads every text through lookup (an empty lookup leaves them all empty).
    explicit CTextTables(const TextLookup& lookup);

    // Empty for an index outside the table.
    std::u16string_view CategoryName(std::size_t index) const;
    std::u16string_view CategoryDescription(std::size_t index) const;
    std::u16string_view CategoryBriefDescription(std::size_t index) const;

    // The detail format of the problem's entry type filled with its detail text arguments;
    // empty for an entry type outside the table.
    std::u16string DetailText(const CProblem& problem) const;
    // The same with the description format and arguments.
    std::u16string DescriptionText(const CProblem& problem) const;

private:
    using CategoryTexts = std::array<std::u16string, kCategoryCount>;
    using EntryTypeTexts = std::array<std::u16string, kEntryTypeCount>;

    static std::u16string_view CategoryText(const CategoryTexts& texts, std::size_t index);
    static std::u16string FillText(const EntryTypeTexts& formats,
                                   CTextArguments EntryTypeRow::*arguments,
                                   const CProblem& problem);

    CategoryTexts categoryNames_;
    CategoryTexts categoryDescriptions_;
    CategoryTexts categoryBriefDescriptions_;
    EntryTypeTexts detailFormats_;
    EntryTypeTexts descriptionFormats_;
};

}  // namespace quillary
