#pragma once

// The installed software category: the machine's uninstall entries, the cache of the programs
// list, the installer's list of folders it created, and the Windows Installer registrations
// under HKEY_CLASSES_ROOT\Installer. It reports entries whose uninstall command or other
// files are gone, entries that hold nothing, cached entries whose program is no longer
// listed, installer folders that no longer exist and installer sources that are gone.
//
// A 64-bit system keeps the machine's lists in both views; each is checked in the 64-bit
// view and then in the 32-bit one, whose problems are entries of the 32-bit view written
// with the same key text. The installer registrations are one tree, walked in the 64-bit view.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/category.h"

namespace quillary {

class CSoftware final : public CCategory {
public:
    static constexpr std::u16string_view kUninstallPath =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    static constexpr std::u16string_view kCachePath =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache";
    static constexpr std::u16string_view kInstallerFoldersPath =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
    static constexpr std::u16string_view kInstallerTreePath = u"Installer";

    static constexpr std::int32_t kIncompleteEntry = 35;
    static constexpr std::int32_t kMissingUninstaller = 36;
    static constexpr std::int32_t kMissingFile = 42;

    using CCategory::CCategory;

    int Scan() override;
    // The uninstall entries, the installer folders, the cached entries and the first level of
    // the installer tree, in each view of the machine's keys.
    int CountItems() override;

private:
    // The views the machine's lists are checked in, the 64-bit one first: 0 alone on a
    // 32-bit system.
    std::vector<RegSam> MachineViews() const;

    // The uninstall entries, the cached entries and the installer folders, each list in every
    // view before the next.
    int CheckMachineLists();
    int CheckUninstallEntries(RegSam view);
    // Checks one opened uninstall entry; false when its marker values keep it out of the scan.
    bool CheckUninstallEntry(RegSam view, RegKey& entry, const std::u16string& name);
    void CheckUninstallValues(RegSam view, RegKey& entry, const std::u16string& name,
                              const std::vector<std::u16string>& valueNames);
    int CheckCachedEntries(RegSam view);
    int CheckInstallerFolders(RegSam view);

    // The walk of HKEY_CLASSES_ROOT\Installer (software_installer_tree.cpp).
    int WalkInstallerTree();
    int WalkInstallerKey(HKey key, const std::u16string& path, RegSam view);
    void CheckInstallerValues(HKey key, const std::u16string& path);

    // Whether text, perhaps quoted, starts with a path on a drive (C:\...) or a network
    // share (\\...).
    static bool NamesDriveOrShare(std::u16string_view text);
    // Whether text names a file or folder that is gone. Both ways of reading a reference
    // are asked: as a command line, whose quoted program and arguments are looked for, and
    // as a path, cut after its program's extension, which finds an unquoted path missing.
    bool ReferenceIsMissing(std::u16string_view text, bool testNetworkPaths);
    // As ReferenceIsMissing; a reference without a drive or share must also be missing from
    // the system folder.
    bool UninstallReferenceIsMissing(std::u16string_view text);

    // Records a problem of a machine list; keyPath is below HKEY_LOCAL_MACHINE. The 32-bit
    // view leaves out what the 64-bit view recorded: a key both views reach is one entry.
    void ReportMachineEntry(RegSam view, std::int32_t entryType, std::u16string_view keyPath,
                            std::u16string_view valueName, std::u16string_view valueData,
                            std::u16string_view detailLine);
    // A language text; empty when the environment has none.
    std::u16string Text(std::u16string_view identifier) const;
};

}  // namespace quillary
