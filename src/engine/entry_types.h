#pragma once

// The closed list of problem kinds (a problem's EntryType): which fields of the problem fill
// its detail and description texts, and which repair removes it.

#include <array>
#include <cstddef>
#include <initializer_list>

namespace quillary {

inline constexpr int kEntryTypeCount = 44;

// Entry types of history-list entries, matched against the history-list exclusions too.
inline constexpr int kFirstHistoryEntryType = 26;
inline constexpr int kLastHistoryEntryType = 32;

// The problem field an argument of a problem text takes.
enum class ProblemField {
    Key,
    ValueName,
    ValueData,
    DetailLine,
    // ValueName, or the text "DEFAULT" when it is empty.
    ValueNameOrDefault,
};

struct TextArgument {
    ProblemField field;
    // The detail line number, for ProblemField::DetailLine.
    int line = 0;

    bool operator==(const TextArgument&) const = default;
};

constexpr TextArgument LineArgument(int line) {
    return {ProblemField::DetailLine, line};
}

// The arguments of one problem text, in order. No text takes more than three.
class CTextArguments {
public:
    constexpr CTextArguments() = default;
    // Only built into the constant table, so a fourth argument fails to compile.
    consteval CTextArguments(std::initializer_list<TextArgument> arguments) {
        for (const TextArgument& argument : arguments) {
            items_[size_++] = argument;
        }
    }

    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr const TextArgument* begin() const { return items_.data(); }
    constexpr const TextArgument* end() const { return items_.data() + size_; }
    constexpr const TextArgument& operator[](std::size_t index) const { return items_[index]; }

private:
    std::array<TextArgument, 3> items_{};
    std::size_t size_ = 0;
};

// The repairs, marked as the repair code names them.
enum class RepairCode {
    None,  // an entry type outside the table
    R1,    // delete the tree at AlternateKey or Key (kept for undo), then an emptied parent
    R2,    // delete the tree at AlternateKey or Key, undone through the export
    R3,    // delete the tree at Key (kept for undo)
    R4,    // delete the tree at Key, undone through the export
    R5,    // delete the tree at AlternateKey, then an emptied parent
    R6,    // delete the value ValueName of Key and its letter in "MRUList"
    R7,    // remove detail line 1 from the browser's URL history
    R8,    // delete the file named by detail line 1
    R9,    // set the value ValueName of Key to the empty text
    R10,   // delete the value ValueName of Key
};

struct EntryTypeRow {
    CTextArguments detailArguments;
    CTextArguments descriptionArguments;
    RepairCode repair = RepairCode::None;
};

bool IsKnownEntryType(int type);

// The row of an entry type; for a type outside 0-43, a row with no arguments and no repair.
const EntryTypeRow& EntryTypeInfo(int type);

}  // namespace quillary
