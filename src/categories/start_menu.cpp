#include "categories/start_menu.h"

#include "categories/file_info_array.h"
#include "categories/pump_messages.h"
#include "categories/start_entries.h"

namespace quillary {
namespace {

constexpr std::u16string_view kShellFolders =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::u16string_view kOrderKeys[] = {
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2\\Programs",
};
constexpr std::u16string_view kCurrentUserPrefix = u"HKEY_CURRENT_USER\\";
// Windows nests keys at most 512 deep; a deeper walk is a link cycle in a hostile registry.
constexpr int kMaxOrderKeyDepth = 512;

void EndWithBackslash(std::u16string& folder) {
    if (!folder.empty() && folder.back() != u'\\')
        folder += u'\\';
}

}  // namespace

CStartMenu::CStartMenu(ScanEnvironment& environment, IShellLinkReader& links)
    : CCategory(environment), links_(links) {
    if (environment_.text) {
        emptyKeyText_ = environment_.text(u"IDS_EMPTY_KEY_STARTMENU");
        invalidReferenceText_ = environment_.text(u"IDS_INVALID_REF_STARTMENU");
    }
}

void CStartMenu::PrepareFolders() {
    const RegistryTarget& target = environment_.target;
    commonPrograms_.clear();
    userPrograms_.clear();
    if (environment_.platform.Is64BitWindows()) {
        ReadValueText64(target, HKeyLocalMachine, kShellFolders, u"Common Programs",
                        commonPrograms_);
        ReadValueText32(target, HKeyCurrentUser, kShellFolders, u"Programs", userPrograms_);
    } else {
        ReadValueText(target, HKeyLocalMachine, kShellFolders, u"Common Programs", commonPrograms_);
        ReadValueText(target, HKeyCurrentUser, kShellFolders, u"Programs", userPrograms_);
    }
    EndWithBackslash(commonPrograms_);
    EndWithBackslash(userPrograms_);
}

int CStartMenu::CountItems() {
    PrepareFolders();
    int count = 0;
    for (std::u16string_view orderKey : kOrderKeys) {
        RegKey key(*environment_.target.store);
        if (key.Open(HKeyCurrentUser, orderKey, kMaskReadOnly) != ErrorSuccess)
            continue;
        std::vector<std::u16string> names;
        ListSubkeyNames(environment_.target, key.Handle(), names);
        count += static_cast<int>(names.size());
    }
    for (const std::u16string* folder : {&commonPrograms_, &userPrograms_}) {
        if (!folder->empty())
            count += CFileInfoArray(environment_.files).AddFolderFiles(*folder, u"*.lnk");
    }
    return count;
}

bool CStartMenu::FolderExists(std::u16string_view relativePath) {
    for (const std::u16string* programs : {&commonPrograms_, &userPrograms_}) {
        // An unknown programs folder would turn the name into a path relative to the current
        // folder, which says nothing about the Start menu.
        if (programs->empty())
            continue;
        std::uint32_t attributes =
            environment_.files.GetFileAttributesW(*programs + std::u16string(relativePath));
        if (attributes != InvalidFileAttributes && (attributes & FileAttributeDirectory))
            return true;
    }
    return false;
}

int CStartMenu::WalkOrderKey(const std::u16string& keyPath, const std::u16string& relativeFolder,
                             int depth) {
    std::vector<std::u16string> names;
    {
        RegKey key(*environment_.target.store);
        if (depth > kMaxOrderKeyDepth ||
            key.Open(HKeyCurrentUser, keyPath, kMaskReadOnly) != ErrorSuccess) {
            return kScanDone;
        }
        ListSubkeyNames(environment_.target, key.Handle(), names);
    }
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        std::u16string subKey = keyPath + u"\\" + name;
        std::u16string fullKey = std::u16string(kCurrentUserPrefix) + subKey;
        if (!FolderExists(relativeFolder + name)) {
            int index = AddProblem(false, kMissingFolderEntryType, fullKey, u"", u"", u"");
            AddDetailLine(index, invalidReferenceText_ + name);
            AddDetailLine(index, name);
        } else {
            WalkOrderKey(subKey, relativeFolder + name + u"\\", depth + 1);
            RegKey key(*environment_.target.store);
            std::vector<std::u16string> values;
            if (key.Open(HKeyCurrentUser, subKey, kMaskReadOnly) == ErrorSuccess &&
                ListValueNames(key.Store(), key.Handle(), values) == 0) {
                int index = AddProblem(false, kEmptyOrderKeyEntryType, fullKey, u"", u"", u"");
                AddDetailLine(index, emptyKeyText_ + name);
                AddDetailLine(index, name);
            }
        }
        if (relativeFolder.empty())
            StepProgress();
    }
    return kScanDone;
}

std::u16string CStartMenu::StartMenuFolderOf(std::u16string_view programsFolder,
                                             std::u16string_view shortcutPath) {
    // The folder is taken relative to the programs folder the walk started from, not by
    // searching the path for "\Programs\": that text may occur earlier in the path, or in
    // another letter case, and would then name the wrong folder.
    if (!shortcutPath.starts_with(programsFolder))
        return u"<Root folder>";
    std::u16string_view below = shortcutPath.substr(programsFolder.size());
    std::size_t backslash = below.find(u'\\');
    if (backslash == std::u16string_view::npos || backslash == 0)
        return u"<Root folder>";
    return std::u16string(below.substr(0, backslash));
}

int CStartMenu::WalkProgramsFolder(const std::u16string& folder) {
    if (folder.empty())
        return kScanDone;
    CFileInfoArray found(environment_.files);
    found.AddFolderFiles(folder, u"*.lnk");
    const FileReferenceOptions options = StartEntryReferenceOptions();
    for (const CFileInfo& file : found.Files()) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        // A shortcut the user may not change cannot be repaired; it is left alone.
        if (environment_.files.OpenExistingFileForWriting(file.path) != ErrorSuccess)
            continue;
        std::u16string target = links_.GetPath(file.path);
        ShowStatus(u"Start Menu shortcut: " + file.path);
        if (!target.empty() &&
            !environment_.references.FileReferenceIsValid(SystemDirectory(), target, options)) {
            int index = AddProblem(false, kShortcutEntryType, u"", u"", u"", u"");
            AddDetailLine(index, ShortcutLabel(file.path));
            AddDetailLine(index, file.path);
            AddDetailLine(index, target);
            AddDetailLine(index, StartMenuFolderOf(folder, file.path));
        }
        StepProgress();
    }
    return kScanDone;
}

int CStartMenu::Scan() {
    int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;
    // Without either programs folder no order key can be matched with its folder, and every
    // one would look like the order of a folder that is gone.
    bool anyFolder = !commonPrograms_.empty() || !userPrograms_.empty();
    for (std::u16string_view orderKey : kOrderKeys) {
        if (anyFolder && WalkOrderKey(std::u16string(orderKey), u"", 0) == kScanStopped)
            return kScanStopped;
    }
    for (const std::u16string* folder : {&commonPrograms_, &userPrograms_}) {
        if (WalkProgramsFolder(*folder) == kScanStopped)
            return kScanStopped;
    }
    FinishProgress();
    SortProblems();
    return IsStopRequested() ? kScanStopped : kScanDone;
}

}  // namespace quillary
