#include "engine/exclusion_list.h"

#include <algorithm>
#include <utility>

#include "core/text_case.h"

namespace quillary {

void CExclusionList::AddMatchForm(std::u16string_view entry) {
    if (!entry.empty()) {
        matchForms_.push_back(ToUpper(entry));
    }
}

void CExclusionList::RebuildMatchForms() {
    matchForms_.clear();
    for (const std::u16string& entry : entries_) {
        AddMatchForm(entry);
    }
}

void CExclusionList::Append(std::u16string entry) {
    AddMatchForm(entry);
    entries_.push_back(std::move(entry));
    ++revision_;
}

void CExclusionList::Assign(std::vector<std::u16string> entries) {
    entries_ = std::move(entries);
    RebuildMatchForms();
    ++revision_;
}

std::size_t CExclusionList::RemoveAt(std::span<const std::size_t> positions) {
    std::vector<bool> doomed(entries_.size(), false);
    for (std::size_t position : positions) {
        if (position < doomed.size()) {
            doomed[position] = true;
        }
    }
    const auto removed = static_cast<std::size_t>(std::count(doomed.begin(), doomed.end(), true));
    if (removed == 0) {
        return 0;
    }
    std::vector<std::u16string> kept;
    kept.reserve(entries_.size() - removed);
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (!doomed[index]) {
            kept.push_back(std::move(entries_[index]));
        }
    }
    Assign(std::move(kept));
    return removed;
}

bool CExclusionList::ContainsNoCase(std::u16string_view entry) const {
    return std::any_of(entries_.begin(), entries_.end(), [entry](const std::u16string& existing) {
        return EqualsNoCase(existing, entry);
    });
}

bool CExclusionList::MatchesUpperKey(std::u16string_view upperKey) const {
    return std::any_of(matchForms_.begin(), matchForms_.end(),
                       [upperKey](const std::u16string& form) {
                           return upperKey.find(form) != std::u16string_view::npos;
                       });
}

}  // namespace quillary
