#pragma once

// The Start menu category: the menu order keys Explorer keeps per Start menu folder (keys of
// folders that are gone, keys that hold nothing) and every shortcut in the all-users and the
// user's programs folders whose target is gone.

#include <string>
#include <string_view>

#include "engine/category.h"
#include "platform/shell_link.h"

namespace quillary {

class CStartMenu final : public CCategory {
public:
    static constexpr std::int32_t kEmptyOrderKeyEntryType = 38;
    static constexpr std::int32_t kMissingFolderEntryType = 39;
    static constexpr std::int32_t kShortcutEntryType = 40;

    // The two texts of the order-key problems are looked up here, once per scan object.
    CStartMenu(ScanEnvironment& environment, IShellLinkReader& links);

    int Scan() override;
    // Prepares the two programs folders, then counts the subkeys of both order keys and the
    // shortcuts in both folders.
    int CountItems() override;

    // The Start menu folder a shortcut lies in, as its fourth detail line shows it: the first
    // folder below the programs folder, or "<Root folder>" for a shortcut directly in it (or
    // not in it at all).
    static std::u16string StartMenuFolderOf(std::u16string_view programsFolder,
                                            std::u16string_view shortcutPath);

private:
    void PrepareFolders();
    int WalkOrderKey(const std::u16string& keyPath, const std::u16string& relativeFolder,
                     int depth);
    int WalkProgramsFolder(const std::u16string& folder);
    bool FolderExists(std::u16string_view relativePath);

    IShellLinkReader& links_;
    std::u16string emptyKeyText_;
    std::u16string invalidReferenceText_;
    std::u16string commonPrograms_;
    std::u16string userPrograms_;
};

}  // namespace quillary
