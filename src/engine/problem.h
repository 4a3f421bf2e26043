#pragma once

// One invalid entry found by a scan, from the category that found it to the repair.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// The scan's shared repair context, through which a repair reaches the undo session. Defined
// with the scan driver.
class CRepairContext;

class CProblem {
public:
    // Detail line index, or the empty text when the problem has fewer lines.
    std::u16string_view DetailLine(std::size_t index) const {
        return index < detailLines.size() ? std::u16string_view(detailLines[index])
                                          : std::u16string_view();
    }

    // The kind of problem, 0-43 (see entry_types.h): selects the texts and the repair.
    std::int32_t EntryType = 0;
    // Full registry path ("HKEY_CURRENT_USER\Software\..."); empty for the file problems of
    // entry types 34 and 40.
    std::u16string Key;
    std::u16string ValueName;
    // The value's data as text.
    std::u16string ValueData;
    // A second registry path that some repairs use in place of Key.
    std::u16string AlternateKey;
    // Line 0 is the short label of the results list; the meaning of the later lines is set
    // by the scanner of each entry type.
    std::vector<std::u16string> detailLines;
    // Ticked for repair.
    bool selected = true;
    // The entry lives in the 32-bit registry view of a 64-bit system. Logged as "32BitEntry".
    bool is32BitEntry = false;
    // Set when the scan records the problem; not owned.
    CRepairContext* repairContext = nullptr;
};

}  // namespace quillary
