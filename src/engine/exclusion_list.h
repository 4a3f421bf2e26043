#pragma once

// An ordered list of registry path fragments that keeps problems out of the scan results: a
// problem is excluded when its upper-cased key contains an entry, upper-cased.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

class CExclusionList {
public:
    const std::vector<std::u16string>& Entries() const { return entries_; }
    // Grows with every change, so a saver can tell whether the list changed since it stored it.
    std::uint64_t Revision() const { return revision_; }

    void Append(std::u16string entry);
    void Assign(std::vector<std::u16string> entries);
    // Removes the entries at the given positions (in any order; positions past the end are
    // ignored) and returns how many were removed.
    std::size_t RemoveAt(std::span<const std::size_t> positions);

    bool ContainsNoCase(std::u16string_view entry) const;
    // True when upperKey, already upper-cased, contains one of the entries upper-cased. Empty
    // entries match nothing: one would otherwise hide every problem, and a damaged or edited
    // file may hold one.
    bool MatchesUpperKey(std::u16string_view upperKey) const;

private:
    void AddMatchForm(std::u16string_view entry);
    void RebuildMatchForms();

    std::vector<std::u16string> entries_;
    // The non-empty entries upper-cased, made when the list changes rather than for every
    // problem of a scan. The case locale is set before the lists are loaded and stays for the
    // run (a change of language restarts the program).
    std::vector<std::u16string> matchForms_;
    std::uint64_t revision_ = 0;
};

}  // namespace quillary
