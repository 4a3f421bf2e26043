#include "categories/software.h"

#include <algorithm>
#include <array>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"
#include "core/text_case.h"

namespace quillary {
namespace {

// The buffer an uninstall entry's file value is read into, its terminator included.
constexpr std::size_t kUninstallValueLength = 520;

// Values whose presence marks an entry that belongs to the system or must not be removed.
constexpr std::array<std::u16string_view, 3> kMarkerValues = {u"noremove", u"systemcomponent",
                                                              u"windowscomponent"};

struct FileValue {
    std::u16string_view name;
    std::int32_t entryType;
};

// The values of an uninstall entry whose text names a file, in the order they are tested.
constexpr std::array<FileValue, 7> kFileValues = {{
    {u"UninstallString", CSoftware::kMissingUninstaller},
    {u"QuietUninstallString", CSoftware::kMissingUninstaller},
    {u"InstallSource", CSoftware::kMissingFile},
    {u"DisplayIcon", CSoftware::kMissingFile},
    {u"Installlocation", CSoftware::kMissingFile},
    {u"helpstring", CSoftware::kMissingFile},
    {u"readme", CSoftware::kMissingFile},
}};

constexpr std::u16string_view kUninstallString = u"UninstallString";
constexpr std::u16string_view kQuietUninstallString = u"QuietUninstallString";

// The stored spelling of a value name, matched without regard to case as the registry
// matches it; null when the key has no such value.
const std::u16string* FindValueName(const std::vector<std::u16string>& names,
                                    std::u16string_view wanted) {
    auto found = std::find_if(names.begin(), names.end(), [&](const std::u16string& name) {
        return EqualsNoCase(name, wanted);
    });
    return found == names.end() ? nullptr : &*found;
}

bool HasMarkerValue(const std::vector<std::u16string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::u16string& name) {
        const std::u16string lower = ToLower(name);
        return std::find(kMarkerValues.begin(), kMarkerValues.end(), lower) != kMarkerValues.end();
    });
}

// Whether a key holds nothing a program could read: no values, or only the default one.
bool HoldsNoNamedValue(const std::vector<std::u16string>& names) {
    return names.empty() || (names.size() == 1 && names.front().empty());
}

}  // namespace

std::vector<RegSam> CSoftware::MachineViews() const {
    if (!environment_.target.is64Bit)
        return {0};
    // The 64-bit view first, so that the 32-bit view can tell a key both views reach by
    // what the 64-bit view already recorded.
    return {KeyWow64_64Key, KeyWow64_32Key};
}

int CSoftware::CountItems() {
    IRegistry& store = *environment_.target.store;
    // The number of subkeys, or of values, of one key; 0 when it does not open.
    const auto count = [&](HKey root, std::u16string_view path, RegSam view, bool values) {
        RegKey key(store);
        RegKeyInfo info;
        if (key.Open(root, path, kMaskReadOnly | view) != ErrorSuccess ||
            store.RegQueryInfoKeyW(key.Handle(), &info) != ErrorSuccess) {
            return 0;
        }
        return static_cast<int>(values ? info.values : info.subKeys);
    };
    int total = 0;
    for (RegSam view : MachineViews()) {
        total += count(HKeyLocalMachine, kUninstallPath, view, false) +
                 count(HKeyLocalMachine, kInstallerFoldersPath, view, true) +
                 count(HKeyLocalMachine, kCachePath, view, false) +
                 count(HKeyClassesRoot, kInstallerTreePath, view, false);
    }
    return total;
}

int CSoftware::Scan() {
    const int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;

    int result = CheckMachineLists();
    if (result != kScanStopped)
        result = WalkInstallerTree();
    SortProblems();
    if (result == kScanStopped || IsStopRequested())
        return kScanStopped;
    FinishProgress();
    return kScanDone;
}

int CSoftware::CheckMachineLists() {
    for (auto check : {&CSoftware::CheckUninstallEntries, &CSoftware::CheckCachedEntries,
                       &CSoftware::CheckInstallerFolders}) {
        for (RegSam view : MachineViews()) {
            if ((this->*check)(view) == kScanStopped)
                return kScanStopped;
        }
    }
    return kScanDone;
}

// --- uninstall entries -------------------------------------------------------------------------

int CSoftware::CheckUninstallEntries(RegSam view) {
    IRegistry& store = *environment_.target.store;
    RegKey uninstall(store);
    if (uninstall.Open(HKeyLocalMachine, kUninstallPath, kMaskReadOnly | view) != ErrorSuccess)
        return kScanDone;
    std::vector<std::u16string> names;
    ListSubkeyNames(environment_.target, uninstall.Handle(), names);
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        RegKey entry(store);
        if (entry.Open(uninstall.Handle(), name, kMaskReadOnly | view) != ErrorSuccess ||
            CheckUninstallEntry(view, entry, name)) {
            StepProgress();
        }
    }
    return kScanDone;
}

bool CSoftware::CheckUninstallEntry(RegSam view, RegKey& entry, const std::u16string& name) {
    std::vector<std::u16string> valueNames;
    ListValueNames(entry.Store(), entry.Handle(), valueNames);
    if (environment_.settings.PreferSafetyOverCount && HasMarkerValue(valueNames))
        return false;
    if (!HoldsNoNamedValue(valueNames)) {
        CheckUninstallValues(view, entry, name, valueNames);
        return true;
    }
    RegKeyInfo info;
    const bool hasSubkeys =
        entry.Store().RegQueryInfoKeyW(entry.Handle(), &info) != ErrorSuccess || info.subKeys > 0;
    if (!hasSubkeys && !environment_.settings.SetChkSkipEmptyKeys) {
        ReportMachineEntry(view, kIncompleteEntry, JoinKeyPath(kUninstallPath, name),
                           kUninstallString, u"", Text(u"IDS_INCOMPLETE_ENTRY") + name);
    }
    return true;
}

void CSoftware::CheckUninstallValues(RegSam view, RegKey& entry, const std::u16string& name,
                                     const std::vector<std::u16string>& valueNames) {
    const std::u16string entryPath = JoinKeyPath(kUninstallPath, name);
    std::u16string displayName;
    if (FindValueName(valueNames, u"DisplayName"))
        QueryShortText(entry, u"DisplayName", displayName);
    const std::u16string_view label = displayName.empty() ? name : displayName;

    if (!FindValueName(valueNames, kUninstallString) &&
        !FindValueName(valueNames, kQuietUninstallString)) {
        ReportMachineEntry(view, kMissingUninstaller, entryPath, kUninstallString, u"", label);
        return;
    }
    for (const FileValue& fileValue : kFileValues) {
        const std::u16string* valueName = FindValueName(valueNames, fileValue.name);
        std::u16string text;
        if (!valueName ||
            QueryText(entry, *valueName, kUninstallValueLength, text) != ErrorSuccess ||
            text.empty()) {
            continue;
        }
        if (UninstallReferenceIsMissing(text))
            ReportMachineEntry(view, fileValue.entryType, entryPath, *valueName, text, label);
    }
}

// --- cached entries and installer folders --------------------------------------------------

int CSoftware::CheckCachedEntries(RegSam view) {
    IRegistry& store = *environment_.target.store;
    RegKey cache(store);
    if (cache.Open(HKeyLocalMachine, kCachePath, kMaskReadOnly | view) != ErrorSuccess)
        return kScanDone;
    std::vector<std::u16string> names;
    ListSubkeyNames(environment_.target, cache.Handle(), names);
    // The entries are looked for below the uninstall key when it opens; when it does not, each
    // is asked for by its full path, which tells a missing entry from one that denies access.
    RegKey uninstall(store);
    uninstall.Open(HKeyLocalMachine, kUninstallPath, kMaskReadOnly | view);
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        RegKey entry(store);
        const LStatus status = uninstall.IsOpen()
                                   ? entry.Open(uninstall.Handle(), name, kMaskReadOnly | view)
                                   : entry.Open(HKeyLocalMachine, JoinKeyPath(kUninstallPath, name),
                                                kMaskReadOnly | view);
        // An entry we may not open is there all the same.
        if (status != ErrorSuccess && status != ErrorAccessDenied) {
            ReportMachineEntry(view, kIncompleteEntry, JoinKeyPath(kCachePath, name), u"", u"",
                               Text(u"IDS_INCOMPLETE_ENTRY") + name);
        }
        StepProgress();
    }
    return kScanDone;
}

int CSoftware::CheckInstallerFolders(RegSam view) {
    RegKey folders(*environment_.target.store);
    if (folders.Open(HKeyLocalMachine, kInstallerFoldersPath, kMaskReadOnly | view) !=
        ErrorSuccess) {
        return kScanDone;
    }
    std::vector<std::u16string> names;
    ListValueNames(folders.Store(), folders.Handle(), names);
    for (const std::u16string& folder : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(u"Install Folder: " + folder);
        if (ReferenceIsMissing(folder, true)) {
            ReportMachineEntry(view, kMissingUninstaller, kInstallerFoldersPath, folder, u"",
                               folder);
        }
        StepProgress();
    }
    return kScanDone;
}

// --- helpers -------------------------------------------------------------------------------

bool CSoftware::ReferenceIsMissing(std::u16string_view text, bool testNetworkPaths) {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    options.testNetworkPaths = testNetworkPaths;
    CFileReferenceResolver& references = environment_.references;
    // Read as a path, a quoted program with arguments passes untested; read as a command
    // line, an unquoted path is never judged. Each reading covers what the other leaves out.
    if (!references.FileReferenceIsValid(SystemDirectory(), text, options))
        return true;
    options.testArguments = true;
    return !references.FileReferenceIsValid(SystemDirectory(), text, options);
}

bool CSoftware::NamesDriveOrShare(std::u16string_view text) {
    text = TrimView(text);
    if (text.starts_with(u'"'))
        text.remove_prefix(1);
    if (text.starts_with(u"\\\\"))
        return true;
    const char16_t drive = text.empty() ? u'\0' : ToLowerInvariant(text.front());
    return text.size() >= 3 && drive >= u'a' && drive <= u'z' && text.substr(1, 2) == u":\\";
}

bool CSoftware::UninstallReferenceIsMissing(std::u16string_view text) {
    if (!ReferenceIsMissing(text, true))
        return false;
    // A bare program name may be one that lives in the system folder. A full path is not
    // looked for there: joined to the system folder it would pass for one of its files.
    return NamesDriveOrShare(text) ||
           ReferenceIsMissing(SystemDirectory() + std::u16string(text), false);
}

void CSoftware::ReportMachineEntry(RegSam view, std::int32_t entryType, std::u16string_view keyPath,
                                   std::u16string_view valueName, std::u16string_view valueData,
                                   std::u16string_view detailLine) {
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\" + std::u16string(keyPath);
    const bool is32BitEntry = view == KeyWow64_32Key;
    if (is32BitEntry && Has64BitTwin(entryType, key, valueName, valueData))
        return;
    AddProblemWithDetails(is32BitEntry, entryType, key, valueName, valueData, {detailLine});
}

std::u16string CSoftware::Text(std::u16string_view identifier) const {
    return environment_.text ? environment_.text(identifier) : std::u16string();
}

}  // namespace quillary
