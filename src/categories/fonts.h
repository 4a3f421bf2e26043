#pragma once

// The fonts category: the machine's list of installed fonts, each value named by a font's
// display name and holding its file (a full path, or a name inside the fonts folder), checked
// for fonts whose file is gone.

#include <string>
#include <string_view>

#include "engine/category.h"

namespace quillary {

class CFonts final : public CCategory {
public:
    static constexpr std::int32_t kEntryType = 23;
    static constexpr std::u16string_view kFontsKey =
        u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

    using CCategory::CCategory;

    int Scan() override;
    // The values of the fonts key, in the 64-bit view of a 64-bit system (the only one
    // scanned).
    int CountItems() override;

private:
    RegSam View() const;
    // Checks each value of the open fonts key; stops at once on a stop request.
    int WalkFonts(RegKey& key);
    // The file a font value names: the value itself when it starts with a drive, else the
    // file of that name in the fonts folder.
    std::u16string FontPath(const std::u16string& file) const;

    // The fonts folder with a final backslash; looked up on the first scan, empty when the
    // system names none.
    std::u16string fontsFolder_;
};

}  // namespace quillary
