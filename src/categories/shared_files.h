#pragma once

// The shared DLLs category: the reference counts of shared libraries, each value named by
// the library's full path, and the list of approved shell extensions, each value named by a
// class identifier. It reports libraries that are gone and extensions whose class is not
// registered.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "categories/classes_key.h"
#include "engine/category.h"

namespace quillary {

class CSharedFiles final : public CCategory {
public:
    static constexpr std::u16string_view kSharedDllsKey =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    static constexpr std::u16string_view kApprovedKey =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

    using CCategory::CCategory;

    // With no shared library listed the scan ends at once, approved extensions unexamined.
    int Scan() override;
    // The shared library values, in both views of a 64-bit system.
    int CountItems() override;

private:
    // The views the lists are read in: none on a 32-bit system; on a 64-bit one the 64-bit
    // view first, so that the 32-bit walk can leave out the values of a key both views reach.
    std::span<const RegSam> Views() const;
    // Each list in every view: the shared libraries, then the approved extensions.
    int ScanLists();
    int ScanSharedLibraries(RegSam view);
    int ScanApprovedExtensions(RegSam view);
    // Whether the class is registered in any view (a class we may not open is).
    bool ClassIsRegistered(std::u16string_view clsid);
    // Records a missing entry of the key's list, read in view; detail line 0 is the language
    // text filled with shownName.
    void Report(RegSam view, std::u16string_view key, std::u16string_view valueName,
                std::u16string_view shownName, std::u16string_view secondLine);

    // The CLSID key of each view, opened on first use and held for the scan.
    std::vector<CClassesKey> classTrees_;
};

}  // namespace quillary
