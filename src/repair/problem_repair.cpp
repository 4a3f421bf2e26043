#include "repair/problem_repair.h"

#include <algorithm>
#include <array>

#include "core/text.h"
#include "engine/entry_types.h"

namespace quillary {
namespace {

// The container keys the scanners walk, as sub-key paths of their root (lower case,
// Wow6432Node and a leading Software\Classes removed before the comparison). Deleting one
// would take every entry below it: a parsing slip in a scanner must never come to that.
constexpr std::array<std::u16string_view, 27> kContainerKeys = {
    u"software\\classes",
    u"clsid",
    u"typelib",
    u"interface",
    u"appid",
    u"directshow",
    u"mime\\database\\content type",
    u"software\\microsoft",
    u"software\\microsoft\\windows",
    u"software\\microsoft\\windows\\currentversion",
    u"software\\microsoft\\windows\\currentversion\\app paths",
    u"software\\microsoft\\windows\\currentversion\\uninstall",
    u"software\\microsoft\\windows\\currentversion\\run",
    u"software\\microsoft\\windows\\currentversion\\runonce",
    u"software\\microsoft\\windows\\currentversion\\shareddlls",
    u"software\\microsoft\\windows\\currentversion\\explorer",
    u"software\\microsoft\\windows\\currentversion\\explorer\\fileexts",
    u"software\\microsoft\\windows\\currentversion\\explorer\\menuorder",
    u"software\\microsoft\\windows\\currentversion\\explorer\\shell extensions\\approved",
    u"software\\microsoft\\windows\\currentversion\\explorer\\recentdocs",
    u"software\\microsoft\\windows\\currentversion\\explorer\\userassist",
    u"software\\microsoft\\windows nt\\currentversion",
    u"software\\microsoft\\windows nt\\currentversion\\fonts",
    u"software\\microsoft\\windows\\help",
    u"software\\microsoft\\windows\\html help",
    u"appevents\\schemes\\apps",
    u"appevents\\eventlabels",
};

// The sub-key path in the form the container list uses: lower case, Wow6432Node left out,
// a user's hive below HKEY_USERS taken as the root, and the classes' own "Software\Classes"
// prefix removed (classesBelow tells that it was there, or that the root is
// HKEY_CLASSES_ROOT).
std::u16string ComparableContainerPath(HKey root, std::u16string_view subKey, bool* classesBelow) {
    std::vector<std::u16string> parts;
    std::u16string lower = ToLower(subKey);
    std::size_t start = 0;
    while (start <= lower.size()) {
        std::size_t end = lower.find(u'\\', start);
        if (end == std::u16string::npos)
            end = lower.size();
        std::u16string part = lower.substr(start, end - start);
        if (!part.empty() && part != u"wow6432node")
            parts.push_back(std::move(part));
        start = end + 1;
    }
    if (root == HKeyUsers && !parts.empty())
        parts.erase(parts.begin());
    *classesBelow = root == HKeyClassesRoot;
    if (parts.size() > 2 && parts[0] == u"software" && parts[1] == u"classes") {
        parts.erase(parts.begin(), parts.begin() + 2);
        *classesBelow = true;
    }
    std::u16string path;
    for (const std::u16string& part : parts) {
        if (!path.empty())
            path += u'\\';
        path += part;
    }
    return path;
}

struct KeyPath {
    HKey root = HKey::None;
    std::int32_t rootNumber = 0;
    std::u16string subKey;
};

std::optional<KeyPath> SplitKeyPath(std::u16string_view text) {
    if (text.find(u'\\') == std::u16string_view::npos)
        return std::nullopt;
    RegistryPath path = SplitRegistryPath(text);
    std::optional<HKey> root = RootKeyFromName(path.rootName);
    if (!root)
        return std::nullopt;
    std::optional<std::int32_t> number = RootNumberOf(*root);
    if (!number)
        return std::nullopt;
    return KeyPath{*root, *number, std::u16string(path.subKey)};
}

class CRepairRun {
public:
    CRepairRun(const CProblem& problem, CBackup& backup, const RegistryTarget& target,
               const std::function<void(std::u16string_view)>& log)
        : problem_(problem), backup_(backup), target_(target), log_(log) {
        // The 64-bit view for an entry of that view on a 64-bit system; no view otherwise.
        in64BitView_ = target_.is64Bit && !problem_.is32BitEntry;
        RegSam view = 0;
        if (target_.is64Bit)
            view = problem_.is32BitEntry ? KeyWow64_32Key : KeyWow64_64Key;
        mask_ = kMaskReadWrite | view;
    }

    bool DeleteTree(std::u16string_view keyText, bool recordAsTree, bool cleanParent) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        if (!MayRepairDelete(path->root, path->subKey)) {
            Log(u"Refused to delete a protected key: " + std::u16string(keyText));
            return false;
        }
        if (!backup_.DeleteKey(path->rootNumber, path->subKey, recordAsTree, in64BitView_)) {
            return false;
        }
        if (cleanParent)
            DeleteEmptyParent(*path);
        return true;
    }

    bool DeleteValue(std::u16string_view keyText, std::u16string_view valueName) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        return backup_.DeleteValue(path->rootNumber, path->subKey, valueName, in64BitView_);
    }

    bool SetEmptyText(std::u16string_view keyText, std::u16string_view valueName) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        return backup_.SetTextValue(path->rootNumber, path->subKey, valueName, u"", in64BitView_);
    }

    // Deletes the value, then takes its letter out of the key's MRUList.
    bool DeleteMruEntry() {
        std::optional<KeyPath> path = SplitKeyPath(problem_.Key);
        if (!path || !DeleteValue(problem_.Key, problem_.ValueName))
            return false;
        RegKey key(*target_.store);
        if (key.Open(path->root, path->subKey, mask_) != ErrorSuccess)
            return false;
        std::u16string list;
        ReadView(*path, u"MRUList", list);
        if (list.size() > 260)
            list.resize(260);
        std::size_t at =
            problem_.ValueName.empty() ? std::u16string::npos : list.find(problem_.ValueName);
        if (!list.empty() && at != std::u16string::npos) {
            list.erase(at, 1);
            backup_.SetTextValue(path->rootNumber, path->subKey, u"MRUList", list, in64BitView_);
        }
        return true;
    }

    bool DeleteFile() {
        std::u16string_view file = problem_.DetailLine(1);
        return !file.empty() && backup_.ArchiveDeleteFile(file);
    }

    // The browser's URL history belongs to a Windows component the target does not have.
    bool DeleteUrlHistoryEntry() {
        Log(u"The browser's URL history cannot be changed on this target: " +
            std::u16string(problem_.DetailLine(1)));
        return false;
    }

    void Log(std::u16string_view line) const {
        if (log_)
            log_(line);
    }

private:
    void ReadView(const KeyPath& path, std::u16string_view valueName, std::u16string& text) {
        if (!target_.is64Bit) {
            ReadValueText(target_, path.root, path.subKey, valueName, text);
        } else if (in64BitView_) {
            ReadValueText64(target_, path.root, path.subKey, valueName, text);
        } else {
            ReadValueText32(target_, path.root, path.subKey, valueName, text);
        }
    }

    // A parent left with nothing at all goes too, through the backup like the key itself.
    // One that still holds values is kept: deleting it would lose data with no undo copy.
    void DeleteEmptyParent(const KeyPath& path) {
        std::size_t backslash = path.subKey.rfind(u'\\');
        if (backslash == std::u16string::npos)
            return;
        std::u16string parent = path.subKey.substr(0, backslash);
        if (!MayRepairDelete(path.root, parent))
            return;
        RegKey key(*target_.store);
        if (key.Open(path.root, parent, mask_) != ErrorSuccess)
            return;
        std::vector<std::u16string> subkeys;
        std::vector<std::u16string> values;
        ListSubkeyNames(target_, key.Handle(), subkeys);
        ListValueNames(*target_.store, key.Handle(), values);
        key.Close();
        if (subkeys.empty() && values.empty()) {
            backup_.DeleteKey(path.rootNumber, parent, false, in64BitView_);
        }
    }

    const CProblem& problem_;
    CBackup& backup_;
    const RegistryTarget& target_;
    const std::function<void(std::u16string_view)>& log_;
    bool in64BitView_ = false;
    RegSam mask_ = kMaskReadWrite;
};

}  // namespace

bool MayRepairDelete(HKey root, std::u16string_view subKey) {
    bool classesBelow = false;
    std::u16string path = ComparableContainerPath(root, subKey, &classesBelow);
    if (path.empty())
        return false;  // a root itself
    bool container =
        std::find(kContainerKeys.begin(), kContainerKeys.end(), path) != kContainerKeys.end();
    // Below the classes a single name is an entry (a file type, a program identifier); below
    // any other root it is a top-level branch.
    bool topLevel = !classesBelow && path.find(u'\\') == std::u16string::npos;
    return !container && !topLevel;
}

bool Repair(const CProblem& problem, CBackup& backup, const RegistryTarget& target,
            const std::function<void(std::u16string_view)>& log) {
    if (!IsKnownEntryType(problem.EntryType))
        return false;
    CRepairRun run(problem, backup, target, log);
    const std::u16string& alternateOrKey =
        problem.AlternateKey.empty() ? problem.Key : problem.AlternateKey;
    switch (EntryTypeInfo(problem.EntryType).repair) {
        case RepairCode::R1:
            return run.DeleteTree(alternateOrKey, true, true);
        case RepairCode::R2:
            return run.DeleteTree(alternateOrKey, false, false);
        case RepairCode::R3:
            return run.DeleteTree(problem.Key, true, false);
        case RepairCode::R4:
            return run.DeleteTree(problem.Key, false, false);
        case RepairCode::R5:
            return !problem.AlternateKey.empty() &&
                   run.DeleteTree(problem.AlternateKey, false, true);
        case RepairCode::R6:
            return run.DeleteMruEntry();
        case RepairCode::R7:
            return run.DeleteUrlHistoryEntry();
        case RepairCode::R8:
            return run.DeleteFile();
        case RepairCode::R9:
            return run.SetEmptyText(problem.Key, problem.ValueName);
        case RepairCode::R10:
            return run.DeleteValue(problem.Key, problem.ValueName);
        case RepairCode::None:
            break;
    }
    return false;
}

}  // namespace quillary
