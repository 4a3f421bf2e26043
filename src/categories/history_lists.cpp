#include "categories/history_lists.h"

#include <array>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"
#include "core/text_case.h"
#include "core/text_format.h"

namespace quillary {
namespace {

constexpr std::int32_t kUnneededExtension = 26;
constexpr std::int32_t kMissingDialogFile = 27;
constexpr std::int32_t kMissingApplicationFile = 28;
constexpr std::int32_t kMissingStartMenuShortcut = 29;
constexpr std::int32_t kMissingStartMenuFolder = 30;
constexpr std::int32_t kMissingProgram = 31;

constexpr std::u16string_view kUserRoot = u"HKEY_CURRENT_USER";
constexpr std::u16string_view kOpenWithList = u"OpenWithList";
// The order of a recent-file list's entries, not an entry.
constexpr std::u16string_view kMruListValue = u"MRUList";

// Usage history names: an item of the user's Start-menu programs folder, and a program path.
constexpr std::u16string_view kStartMenuItemPrefix = u"UEME_RUNPIDL:";
constexpr std::u16string_view kProgramsFolderItemPrefix = u"UEME_RUNPIDL:%csidl2%\\";
constexpr std::u16string_view kProgramPathPrefix = u"UEME_RUNPATH:";
constexpr std::u16string_view kShortcutExtension = u".lnk";
constexpr std::u16string_view kRootFolder = u"<Root folder>";

constexpr std::array<CHistoryLists::ApplicationList, 15> kApplicationLists = {{
    {u"Media Player", u"Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList", false},
    {u"WinRAR", u"Software\\WinRAR\\ArcHistory", false},
    {u"WinRAR", u"Software\\WinRAR\\DialogEditHistory\\ExtrPath", true},
    {u"WinZip", u"Software\\Nico Mak Computing\\WinZip\\filemenu", false},
    {u"WinZip", u"Software\\Nico Mak Computing\\WinZip\\extract", true},
    {u"Excel 9.0", u"Software\\Microsoft\\Office\\9.0\\Excel\\Recent Files", false},
    {u"Excel 10.0", u"Software\\Microsoft\\Office\\10.0\\Excel\\Recent Files", false},
    {u"Excel 11.0", u"Software\\Microsoft\\Office\\11.0\\Excel\\Recent Files", false},
    {u"Power Point 9.0", u"Software\\Microsoft\\Office\\9.0\\PowerPoint\\Recent File List", false},
    {u"Power Point 10.0", u"Software\\Microsoft\\Office\\10.0\\PowerPoint\\Recent File List",
     false},
    {u"Power Point 11.0", u"Software\\Microsoft\\Office\\11.0\\PowerPoint\\Recent File List",
     false},
    {u"MSPaper", u"Software\\Microsoft\\MSPaper 11.0\\Persist File Name", false},
    {u"MSPaper", u"Software\\Microsoft\\MSPaper 11.0\\Recent File List", false},
    {u"Wordpad",
     u"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List", false},
    {u"Paint", u"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List",
     false},
}};

std::u16string Join(std::u16string_view a, std::u16string_view b) {
    std::u16string joined(a);
    joined += u'\\';
    joined += b;
    return joined;
}

// "<label> <word> <name>": the short line of a problem.
std::u16string Sentence(std::u16string_view label, std::u16string_view word,
                        std::u16string_view name) {
    std::u16string line(label);
    line += u' ';
    line += word;
    line += u' ';
    line += name;
    return line;
}

void EndWithBackslash(std::u16string& folder) {
    if (!folder.empty() && !folder.ends_with(u'\\'))
        folder += u'\\';
}

}  // namespace

RegSam CHistoryLists::View() const {
    return environment_.target.is64Bit ? KeyWow64_32Key : 0;
}

LStatus CHistoryLists::OpenList(RegKey& key, HKey parent, std::u16string_view path) const {
    const LStatus status = key.Open(parent, path, kMaskReadWrite | View());
    if (status != ErrorAccessDenied)
        return status;
    return key.Open(parent, path, kMaskReadOnly | View());
}

CHistoryLists::ListedKey CHistoryLists::ListUserKey(std::u16string_view path,
                                                    bool forChanges) const {
    ListedKey listed{RegKey(*environment_.target.store), {}};
    const LStatus status = forChanges
                               ? OpenList(listed.key, HKeyCurrentUser, path)
                               : listed.key.Open(HKeyCurrentUser, path, kMaskReadOnly | View());
    if (status == ErrorSuccess)
        ListSubkeyNames(environment_.target, listed.key.Handle(), listed.subkeys);
    return listed;
}

int CHistoryLists::CountItems() {
    return static_cast<int>(ListUserKey(kExtensionsKey, false).subkeys.size() +
                            ListUserKey(kDialogHistoryKey, false).subkeys.size());
}

int CHistoryLists::Scan() {
    // Both keys are listed once, for the progress total and for the walk.
    const ListedKey extensions = ListUserKey(kExtensionsKey, false);
    const ListedKey dialogLists = ListUserKey(kDialogHistoryKey, true);
    progressTotal_ =
        static_cast<std::int32_t>(extensions.subkeys.size() + dialogLists.subkeys.size());
    progressCount_ = 0;

    const int result = ScanLists(extensions, dialogLists);
    SortProblems();
    if (result == kScanStopped || IsStopRequested())
        return kScanStopped;
    FinishProgress();
    return kScanDone;
}

int CHistoryLists::ScanLists(const ListedKey& extensions, const ListedKey& dialogLists) {
    if (ScanExtensions(extensions) == kScanStopped || ScanDialogLists(dialogLists) == kScanStopped)
        return kScanStopped;
    ShowStatus(Text(u"IDS_USER_ASSIST_KEYS"));
    CUserAssSpy history(*environment_.target.store);
    history.Read();
    if (ScanStartMenuHistory(history) == kScanStopped)
        return kScanStopped;
    ShowStatus(Text(u"IDS_USER_ASSIST_KEYS"));
    if (ScanProgramHistory(history) == kScanStopped)
        return kScanStopped;
    return ScanApplicationLists();
}

// --- Explorer's extension keys ---------------------------------------------------------------

int CHistoryLists::ScanExtensions(const ListedKey& extensions) {
    for (const std::u16string& extension : extensions.subkeys) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(Text(u"IDS_HISTORY_LIST_FOR") + extension);
        // A key of that name lists applications rather than an extension's choices.
        if (!EqualsNoCase(extension, kOpenWithList) &&
            IsUnneededExtension(extensions.key.Handle(), extension)) {
            const std::u16string keyText = Join(kUserRoot, Join(kExtensionsKey, extension));
            const int index = AddProblem(false, kUnneededExtension, keyText, u"", u"",
                                         Join(keyText, kOpenWithList));
            AddDetailLine(index, Sentence(u"Explorer", Text(u"IDS_HISTLIST_UNNEEDED"),
                                          TypeDescription(extension)));
            AddDetailLine(index, extension);
        }
        StepProgress();
    }
    return kScanDone;
}

// Unneeded: the key holds nothing, or nothing but an "OpenWithList" without values (whatever
// values the key itself holds).
bool CHistoryLists::IsUnneededExtension(HKey extensions, std::u16string_view extension) const {
    RegKey key(*environment_.target.store);
    if (key.Open(extensions, extension, kMaskReadOnly | View()) != ErrorSuccess)
        return false;
    IRegistry& store = *environment_.target.store;
    std::vector<std::u16string> subkeys;
    ListSubkeyNames(environment_.target, key.Handle(), subkeys);
    if (subkeys.empty())
        return CountValues(store, key.Handle()) == 0;
    if (subkeys.size() != 1 || subkeys.front() != kOpenWithList)
        return false;
    RegKey openWith(store);
    return openWith.Open(key.Handle(), kOpenWithList, kMaskReadOnly | View()) == ErrorSuccess &&
           CountValues(store, openWith.Handle()) == 0;
}

std::u16string CHistoryLists::TypeDescription(std::u16string_view extension) const {
    const RegSam mask = kMaskReadOnly | View();
    RegKey key(*environment_.target.store);
    std::u16string programId;
    if (key.Open(HKeyClassesRoot, extension, mask) == ErrorSuccess &&
        QueryShortText(key, u"", programId) && !programId.empty()) {
        std::u16string typeName;
        if (key.Open(HKeyClassesRoot, programId, mask) == ErrorSuccess)
            QueryShortText(key, u"", typeName);
        if (typeName.empty())
            typeName = programId;
        return typeName + u" (*" + std::u16string(extension) + u")";
    }
    return ToUpper(extension) + u" file (*" + std::u16string(extension) + u")";
}

// --- recent-file lists -----------------------------------------------------------------------

int CHistoryLists::ScanDialogLists(const ListedKey& dialogLists) {
    for (const std::u16string& name : dialogLists.subkeys) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(Text(u"IDS_OPEN_SAVE_MRU") + name);
        const std::u16string keyText = Join(kUserRoot, Join(kDialogHistoryKey, name));
        if (CheckList(dialogLists.key.Handle(), name, keyText, kMissingDialogFile, u"File",
                      false) == kScanStopped)
            return kScanStopped;
    }
    return kScanDone;
}

int CHistoryLists::ScanApplicationLists() {
    for (const ApplicationList& list : kApplicationLists) {
        const std::u16string keyText = Join(kUserRoot, list.keyPath);
        if (CheckList(HKeyCurrentUser, list.keyPath, keyText, kMissingApplicationFile, list.label,
                      list.namesFolders) == kScanStopped)
            return kScanStopped;
    }
    return kScanDone;
}

int CHistoryLists::CheckList(HKey parent, std::u16string_view path, const std::u16string& keyText,
                             std::int32_t entryType, std::u16string_view label, bool namesFolders) {
    RegKey key(*environment_.target.store);
    if (OpenList(key, parent, path) != ErrorSuccess)
        return kScanDone;
    std::vector<std::u16string> names;
    ListValueNames(key.Store(), key.Handle(), names);
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        std::u16string entry;
        if (name == kMruListValue || !QueryShortText(key, name, entry) || entry.empty())
            continue;
        if (EntryIsValid(entry, namesFolders))
            continue;
        AddProblemWithDetails(false, entryType, keyText, name, entry,
                              {Sentence(label, Text(u"IDS_HISTLIST_INVALID"), LastPathPart(entry)),
                               ParentPath(entry), label});
    }
    return kScanDone;
}

bool CHistoryLists::EntryIsValid(std::u16string_view entry, bool namesFolders) {
    CFileReferenceResolver& references = environment_.references;
    const std::u16string path = references.ExtractValuePath(entry);
    // A folder list is judged by folders alone: an entry naming a file there is stale too.
    if (namesFolders)
        return references.IsDirectory(path);
    return references.FileReferenceIsValid(SystemDirectory(), path, ReferenceOptions());
}

// --- the Start-menu usage history ------------------------------------------------------------

void CHistoryLists::ReadProgramsFolders() {
    commonProgramsFolder_.clear();
    userProgramsFolder_.clear();
    const RegistryTarget& target = environment_.target;
    if (target.is64Bit) {
        ReadValueText64(target, HKeyLocalMachine, kShellFoldersKey, u"Common Programs",
                        commonProgramsFolder_);
        ReadValueText32(target, HKeyCurrentUser, kShellFoldersKey, u"Programs",
                        userProgramsFolder_);
    } else {
        ReadValueText(target, HKeyLocalMachine, kShellFoldersKey, u"Common Programs",
                      commonProgramsFolder_);
        ReadValueText(target, HKeyCurrentUser, kShellFoldersKey, u"Programs", userProgramsFolder_);
    }
    EndWithBackslash(commonProgramsFolder_);
    EndWithBackslash(userProgramsFolder_);
}

int CHistoryLists::ScanStartMenuHistory(const CUserAssSpy& history) {
    ReadProgramsFolders();
    for (std::size_t index = 0; index < CUserAssSpy::kCountKeys.size(); ++index) {
        if (index > 0 && IsStopRequested())
            return kScanStopped;
        CheckStartMenuItems(CUserAssSpy::kCountKeys[index],
                            history.PairsWithPrefix(index, kStartMenuItemPrefix));
    }
    return IsStopRequested() ? kScanStopped : kScanDone;
}

void CHistoryLists::CheckStartMenuItems(std::u16string_view keyPath,
                                        std::span<const ValuePair> pairs) {
    const std::u16string keyText = Join(kUserRoot, keyPath);
    for (const ValuePair& pair : pairs) {
        PumpMessages(environment_.target);
        const std::u16string& name = pair.decodedName;
        if (!name.starts_with(kProgramsFolderItemPrefix))
            continue;
        ShowStatus(Text(u"IDS_USERASSIST_KEY") + name);
        const std::u16string_view item =
            std::u16string_view(name).substr(kProgramsFolderItemPrefix.size());
        // A shortcut's path ends with its first ".lnk", in exactly that case; any other path
        // is a folder.
        const std::size_t extension = item.find(kShortcutExtension);
        const bool isShortcut = extension != std::u16string_view::npos &&
                                extension + kShortcutExtension.size() == item.size();
        if (StartMenuItemExists(item, isShortcut))
            continue;
        const std::u16string format = Text(u"IDS_STARTMENU_HIST");
        if (isShortcut) {
            const std::u16string_view file = LastPathPart(item);
            const std::u16string_view folder = ParentPath(item);
            AddProblemWithDetails(
                false, kMissingStartMenuShortcut, keyText, pair.storedName, u"",
                {Format(format, u"shortcut", file), file, folder.empty() ? kRootFolder : folder});
        } else {
            const std::u16string_view parent = ParentPath(item);
            const std::u16string_view folder = parent.empty() ? item : parent;
            AddProblemWithDetails(false, kMissingStartMenuFolder, keyText, pair.storedName, u"",
                                  {Format(format, u"folder", folder), folder, folder});
        }
    }
}

// A programs folder that is not known cannot say the item is gone: with neither known, the
// item counts as present.
bool CHistoryLists::StartMenuItemExists(std::u16string_view item, bool isShortcut) {
    CFileReferenceResolver& references = environment_.references;
    bool judged = false;
    for (const std::u16string* folder : {&commonProgramsFolder_, &userProgramsFolder_}) {
        if (folder->empty())
            continue;
        judged = true;
        const std::u16string path = *folder + std::u16string(item);
        const bool exists = isShortcut ? references.FileReferenceIsValid(SystemDirectory(), path,
                                                                         ReferenceOptions())
                                       : references.IsDirectory(path);
        if (exists)
            return true;
    }
    return !judged;
}

int CHistoryLists::ScanProgramHistory(const CUserAssSpy& history) {
    ReadProgramsFolders();
    for (std::size_t index = 0; index < CUserAssSpy::kCountKeys.size(); ++index) {
        if (!CheckProgramPaths(CUserAssSpy::kCountKeys[index],
                               history.PairsWithPrefix(index, kProgramPathPrefix)))
            return kScanStopped;
    }
    return IsStopRequested() ? kScanStopped : kScanDone;
}

bool CHistoryLists::CheckProgramPaths(std::u16string_view keyPath,
                                      std::span<const ValuePair> pairs) {
    const std::u16string keyText = Join(kUserRoot, keyPath);
    for (const ValuePair& pair : pairs) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return false;
        const std::u16string_view path =
            std::u16string_view(pair.decodedName).substr(kProgramPathPrefix.size());
        // Only a path from a drive's root is judged: a relative or a network path may name a
        // program that exists where it was started from.
        if (path.find(u":\\") != 1)
            continue;
        ShowStatus(Text(u"IDS_USERASSIST_PATHITEM") + std::u16string(path));
        if (environment_.references.FileReferenceIsValid(SystemDirectory(), path,
                                                         ReferenceOptions()))
            continue;
        AddProblemWithDetails(
            false, kMissingProgram, keyText, pair.storedName, u"",
            {Sentence(u"Windows", Text(u"IDS_HISTLIST_INVALID"), LastPathPart(path)), path,
             ParentPath(path)});
    }
    return true;
}

// --- shared ----------------------------------------------------------------------------------

// Existing files only: built-in exclusions and the safety list apply, arguments are not
// tested, and a network path counts as present.
FileReferenceOptions CHistoryLists::ReferenceOptions() const {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    options.forwardedC3 = true;
    return options;
}

std::u16string CHistoryLists::Text(std::u16string_view identifier) const {
    return environment_.text ? environment_.text(identifier) : std::u16string();
}

}  // namespace quillary
