#pragma once

// The startup category: the values of the machine's and the user's Run keys (and of the
// Run- keys that hold entries switched off), each naming a program started at log-on, whose
// program is gone.

#include <string_view>

#include "engine/category.h"

namespace quillary {

class CStartup final : public CCategory {
public:
    static constexpr std::int32_t kEntryType = 41;
    static constexpr std::u16string_view kRunKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr std::u16string_view kDisabledRunKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Run-";

    using CCategory::CCategory;

    int Scan() override;
    // The values of the user's and the machine's Run keys.
    int CountItems() override;

private:
    // Checks every value of root\keyPath: the machine's keys in both views of a 64-bit
    // system, the user's once.
    int WalkRunKey(HKey root, std::u16string_view keyPath);
    int CountRunValues(HKey root, RegSam view);
};

}  // namespace quillary
