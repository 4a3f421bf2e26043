#pragma once

// The shortcuts category: every shortcut file in the user's desktop, the all-users desktop,
// the application data folders and the recent-documents folder whose target file is gone.

#include <array>
#include <string>

#include "engine/category.h"
#include "platform/shell_link.h"

namespace quillary {

class CShortcuts final : public CCategory {
public:
    static constexpr std::int32_t kEntryType = 34;
    // Shortcut files with a longer path are passed over without being read.
    static constexpr std::size_t kMaxShortcutPath = 225;

    CShortcuts(ScanEnvironment& environment, IShellLinkReader& links);

    int Scan() override;
    // The scan sets its own total once it has found the files.
    int CountItems() override { return 0; }

    // Whether a shortcut's target is a file path worth testing: help-centre links, network
    // paths, shell items named by a class identifier and the installer's cached files are not.
    static bool IsJudgedTarget(IFileSystem& files, std::u16string_view target);

private:
    // Looks the five folders up again, lower-cased with a final backslash, and clears any
    // folder that holds another of them (or repeats one), so no file is found twice.
    void PrepareFolders();

    IShellLinkReader& links_;
    std::u16string desktop_;
    std::u16string commonDesktop_;
    std::u16string appData_;
    std::u16string localAppData_;
    std::u16string recent_;
};

}  // namespace quillary
