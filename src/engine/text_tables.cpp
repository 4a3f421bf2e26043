#include "engine/text_tables.h"

#include "core/text_format.h"

namespace quillary {
namespace {

std::u16string_view ArgumentText(const CProblem& problem, const TextArgument& argument) {
    switch (argument.field) {
        case ProblemField::Key:
            return problem.Key;
        case ProblemField::ValueName:
            return problem.ValueName;
        case ProblemField::ValueData:
            return problem.ValueData;
        case ProblemField::DetailLine:
            return problem.DetailLine(static_cast<std::size_t>(argument.line));
        case ProblemField::ValueNameOrDefault:
            return problem.ValueName.empty() ? std::u16string_view(u"DEFAULT")
                                             : std::u16string_view(problem.ValueName);
    }
    return {};
}

}  // namespace

CTextTables::CTextTables(const TextLookup& lookup) {
    if (!lookup) {
        return;
    }
    for (std::size_t index = 0; index < kCategoryCount; ++index) {
        categoryNames_[index] = lookup(kCategories[index].nameId);
        categoryDescriptions_[index] = lookup(kCategories[index].descriptionId);
        categoryBriefDescriptions_[index] = lookup(kCategories[index].briefDescriptionId);
    }
    // Entry type t takes the texts numbered t + 1.
    for (int type = 0; type < kEntryTypeCount; ++type) {
        const auto slot = static_cast<std::size_t>(type);
        detailFormats_[slot] = lookup(Format(u"IDS_PROBLEM_DETAIL_%d", type + 1));
        descriptionFormats_[slot] = lookup(Format(u"IDS_PROBLEM_DESC_%d", type + 1));
    }
}

std::u16string_view CTextTables::CategoryText(const CategoryTexts& texts, std::size_t index) {
    return index < texts.size() ? std::u16string_view(texts[index]) : std::u16string_view();
}

std::u16string_view CTextTables::CategoryName(std::size_t index) const {
    return CategoryText(categoryNames_, index);
}

std::u16string_view CTextTables::CategoryDescription(std::size_t index) const {
    return CategoryText(categoryDescriptions_, index);
}

std::u16string_view CTextTables::CategoryBriefDescription(std::size_t index) const {
    return CategoryText(categoryBriefDescriptions_, index);
}

std::u16string CTextTables::FillText(const EntryTypeTexts& formats,
                                     CTextArguments EntryTypeRow::*arguments,
                                     const CProblem& problem) {
    if (!IsKnownEntryType(problem.EntryType)) {
        return {};
    }
    const std::u16string_view format = formats[static_cast<std::size_t>(problem.EntryType)];
    const CTextArguments& wanted = EntryTypeInfo(problem.EntryType).*arguments;
    std::array<std::u16string_view, 3> texts;
    for (std::size_t index = 0; index < wanted.size(); ++index) {
        texts[index] = ArgumentText(problem, wanted[index]);
    }
    // FormatText takes its arguments as a list of fixed length; passing unused empty texts
    // would not do, since "%5s" prints blanks for an empty text and nothing for a missing one.
    switch (wanted.size()) {
        case 0:
            return FormatText(format, {});
        case 1:
            return FormatText(format, {texts[0]});
        case 2:
            return FormatText(format, {texts[0], texts[1]});
        default:
            return FormatText(format, {texts[0], texts[1], texts[2]});
    }
}

std::u16string CTextTables::DetailText(const CProblem& problem) const {
    return FillText(detailFormats_, &EntryTypeRow::detailArguments, problem);
}

std::u16string CTextTables::DescriptionText(const CProblem& problem) const {
    return FillText(descriptionFormats_, &EntryTypeRow::descriptionArguments, problem);
}

}  // namespace quillary
