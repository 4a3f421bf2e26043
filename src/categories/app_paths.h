#pragma once

// The application paths category: the App Paths registrations of the machine and of the
// user, each naming the program a bare file name starts, and the shell commands registered
// for applications under the machine's classes. It reports registrations whose program is
// gone and App Paths keys left without content.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/category.h"

namespace quillary {

class CAppPaths final : public CCategory {
public:
    static constexpr std::u16string_view kAppPathsKey =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    static constexpr std::u16string_view kApplicationsKey = u"SOFTWARE\\Classes\\Applications";

    using CCategory::CCategory;

    int Scan() override;
    // The subkeys of every list the scan walks, each in the view it is walked in.
    int CountItems() override;

    // How one walk over a view differs from the others.
    struct Pass {
        RegSam view = 0;  // the view bits every open carries
        bool is32BitEntry = false;
        // Empty keys are reported whatever the skip-empty-keys setting says.
        bool alwaysReportsEmptyKeys = false;
    };

    // One list the scan walks: an App Paths key or the machine's applications.
    struct ListPlace {
        enum class Kind { AppPaths, Applications } kind;
        HKey root;
        const Pass* pass;
    };

private:
    // A list opened and its subkeys listed, once for the count and the walk.
    struct OpenList {
        const ListPlace* place;
        RegKey key;
        std::vector<std::u16string> names;
    };

    std::vector<OpenList> OpenLists();
    static int CountNames(std::span<const OpenList> lists);
    int WalkAppPaths(const OpenList& list);
    void CheckAppPath(const OpenList& list, const std::u16string& name);
    void CheckPathValue(const Pass& pass, RegKey& key, const std::u16string& keyText,
                        const std::u16string& name);
    int WalkApplications(const OpenList& list);
    void CheckApplication(const Pass& pass, RegKey& application,
                          const std::u16string& applicationPath, const std::u16string& name);

    bool ReportsEmptyKey(const Pass& pass) const;
    bool IsMissing(std::u16string_view path);
    std::vector<std::u16string> Subkeys(const RegKey& key) const;
    // Records a problem with its detail lines. The 32-bit pass leaves out what the 64-bit
    // pass recorded: a key both views reach (through a registry link) is one entry.
    void Report(const Pass& pass, std::int32_t entryType, const std::u16string& key,
                std::u16string_view valueData, std::initializer_list<std::u16string_view> lines);
};

}  // namespace quillary
