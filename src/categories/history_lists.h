#pragma once

// The history lists category: what the current user's usage history keeps about files and
// programs. It reports Explorer's per-extension keys left with nothing in them, entries of
// the file dialogs' recent-file lists naming files that are gone, entries of the Start-menu
// usage history naming shortcuts, folders or programs that are gone, and entries of a few
// applications' recent-file lists naming files or folders that are gone. Every key lies
// under HKEY_CURRENT_USER; on a 64-bit system it is read in the 32-bit view, which shares
// these keys with the 64-bit one, and its problems are entries of the 64-bit view.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "categories/user_assist.h"
#include "engine/category.h"

namespace quillary {

class CHistoryLists final : public CCategory {
public:
    static constexpr std::u16string_view kExtensionsKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
    static constexpr std::u16string_view kDialogHistoryKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU";
    static constexpr std::u16string_view kShellFoldersKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

    // One application's recent-file list.
    struct ApplicationList {
        std::u16string_view label;  // names the application in the detail lines
        std::u16string_view keyPath;
        bool namesFolders;  // the entries are folders, not files
    };

    using CCategory::CCategory;

    int Scan() override;
    // The extension keys and the dialogs' lists.
    int CountItems() override;

private:
    // A key opened and its subkeys listed once, for the count and the walk.
    struct ListedKey {
        RegKey key;
        std::vector<std::u16string> subkeys;
    };
    // The view bits of every open of the user's keys.
    RegSam View() const;
    // Opens parent\path to read its values; a key that may not be opened for changes (the
    // prefix is in use) is opened to read only.
    LStatus OpenList(RegKey& key, HKey parent, std::u16string_view path) const;
    ListedKey ListUserKey(std::u16string_view path, bool forChanges) const;

    int ScanLists(const ListedKey& extensions, const ListedKey& dialogLists);
    int ScanExtensions(const ListedKey& extensions);
    bool IsUnneededExtension(HKey extensions, std::u16string_view extension) const;
    // How Explorer shows the extension's files: "<type name> (*<extension>)".
    std::u16string TypeDescription(std::u16string_view extension) const;
    int ScanDialogLists(const ListedKey& dialogLists);
    int ScanApplicationLists();
    // Tests every entry of parent\path (keyText when reported) and reports those naming a
    // missing file, or a missing folder when the list names folders.
    int CheckList(HKey parent, std::u16string_view path, const std::u16string& keyText,
                  std::int32_t entryType, std::u16string_view label, bool namesFolders);
    bool EntryIsValid(std::u16string_view entry, bool namesFolders);

    int ScanStartMenuHistory(const CUserAssSpy& history);
    int ScanProgramHistory(const CUserAssSpy& history);
    void ReadProgramsFolders();
    void CheckStartMenuItems(std::u16string_view keyPath, std::span<const ValuePair> pairs);
    // Whether the item, relative to the programs folders, exists in either of them.
    bool StartMenuItemExists(std::u16string_view item, bool isShortcut);
    // False when a stop came during the walk.
    bool CheckProgramPaths(std::u16string_view keyPath, std::span<const ValuePair> pairs);

    FileReferenceOptions ReferenceOptions() const;
    std::u16string Text(std::u16string_view identifier) const;

    // The machine's and the user's Start-menu programs folders, each ending with a backslash
    // unless unknown (empty); read again for each pass over the usage history.
    std::u16string commonProgramsFolder_;
    std::u16string userProgramsFolder_;
};

}  // namespace quillary
