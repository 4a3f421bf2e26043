#pragma once

// The help files category: the machine's lists of classic and compiled HTML help files, each
// value named by a help file and holding the folder it is in, checked for help files that are
// not in their folder.

#include <string>
#include <string_view>

#include "engine/category.h"

namespace quillary {

class CHelpFiles final : public CCategory {
public:
    static constexpr std::u16string_view kHelpKey = u"SOFTWARE\\Microsoft\\Windows\\Help";
    static constexpr std::u16string_view kHtmlHelpKey = u"SOFTWARE\\Microsoft\\Windows\\HTML Help";

    // One list of help files and how its findings read.
    struct HelpList {
        std::u16string_view keyPath;
        std::int32_t entryType;
        std::u16string_view statusPrefix;
        std::u16string_view detailPrefix;
    };

    using CCategory::CCategory;

    int Scan() override;
    // The values of both lists; on a 64-bit system in each view.
    int CountItems() override;

private:
    int ScanBothViews();
    int ScanOneView();
    // Checks each value of the list in the view; 2 when a stop came.
    int WalkHelpList(const HelpList& list, RegSam view);
    bool HelpFileIsMissing(std::u16string_view folder, std::u16string_view name);
    // Whether the 32-bit view reaches the list through a registry link: its values are then
    // those of the key it leads to, seen a second time. The lists are redirected otherwise, so
    // that a 32-bit registration is an entry of its own even when it reads the same.
    bool ReachedThroughLinkIn32BitView(std::u16string_view keyPath);
};

}  // namespace quillary
