#include "repair/problem_repair.h"

#include <algorithm>
#include <array>

#include "core/text_case.h"
#include "engine/entry_types.h"
#include "repair/deletion_guard.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

struct KeyPath {
    HKey root = HKey::None;
    std::u16string subKey;
};

std::optional<KeyPath> SplitKeyPath(std::u16string_view text) {
    if (text.find(u'\\') == std::u16string_view::npos)
        return std::nullopt;
    RegistryPath path = SplitRegistryPath(text);
    std::optional<HKey> root = RootKeyFromName(path.rootName);
    if (!root || !IsRecordRoot(*root))
        return std::nullopt;
    // A key named with a trailing backslash (a whole application) is the key itself; the
    // backslash would otherwise reach the undo copy's key path.
    std::u16string_view subKey = path.subKey;
    while (subKey.ends_with(u'\\'))
        subKey.remove_suffix(1);
    return KeyPath{*root, std::u16string(subKey)};
}

// The installer's folder list keeps one folder per value, so a problem found there is one
// value: deleting the list's key would take every folder that still exists with it.
bool NamesOneValueOfAList(const CProblem& problem) {
    return !problem.ValueName.empty() &&
           ToLower(problem.Key).ends_with(u"\\currentversion\\installer\\folders");
}

class CRepairRun {
public:
    CRepairRun(const CProblem& problem, CBackup& backup, const RegistryTarget& target,
               const std::function<void(std::u16string_view)>& log)
        : problem_(problem), backup_(backup), target_(target), log_(log) {
        // The 64-bit view for an entry of that view on a 64-bit system; the 32-bit one
        // otherwise.
        view_ =
            target_.is64Bit && !problem_.is32BitEntry ? RegistryView::Bits64 : RegistryView::Bits32;
        RegSam view = 0;
        if (target_.is64Bit)
            view = problem_.is32BitEntry ? KeyWow64_32Key : KeyWow64_64Key;
        mask_ = kMaskReadWrite | view;
    }

    bool DeleteTree(std::u16string_view keyText, KeyScope scope, bool cleanParent) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        if (IsGone(*path, std::nullopt)) {
            // An extension key is reported for its OpenWithList, which may never have been
            // there: the key left with nothing still goes.
            if (cleanParent)
                DeleteEmptyParent(*path);
            return true;
        }
        if (!MayDeleteKey(path->root, path->subKey)) {
            Log(u"Refused to delete a protected key: " + std::u16string(keyText));
            return false;
        }
        if (!backup_.DeleteKey(path->root, path->subKey, scope, view_))
            return false;
        if (cleanParent)
            DeleteEmptyParent(*path);
        return true;
    }

    bool DeleteValue(std::u16string_view keyText, std::u16string_view valueName) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        if (IsGone(*path, valueName))
            return true;
        return backup_.DeleteValue(path->root, path->subKey, valueName, view_);
    }

    bool SetEmptyText(std::u16string_view keyText, std::u16string_view valueName) {
        std::optional<KeyPath> path = SplitKeyPath(keyText);
        if (!path)
            return false;
        if (IsGone(*path, std::nullopt))
            return true;
        return backup_.SetTextValue(path->root, path->subKey, valueName, u"", view_);
    }

    // Deletes the value, then takes its letter out of the key's MRUList.
    bool DeleteMruEntry() {
        std::optional<KeyPath> path = SplitKeyPath(problem_.Key);
        if (!path)
            return false;
        if (IsGone(*path, problem_.ValueName))
            return true;
        if (!DeleteValue(problem_.Key, problem_.ValueName))
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
            backup_.SetTextValue(path->root, path->subKey, u"MRUList", list, view_);
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
    // Whether the key, or the value of it, no longer exists: a repair earlier in the run took
    // it (one entry reported by two categories, a value inside a key another repair deleted),
    // or it went after the scan. The repair then has nothing left to do and counts as done;
    // nothing is recorded for undo. Only a clear "not found" counts: a key that cannot be
    // opened for another reason is left to the repair, which fails on it.
    bool IsGone(const KeyPath& path, std::optional<std::u16string_view> valueName) {
        RegKey key(*target_.store);
        const LStatus opened = key.Open(path.root, path.subKey, kMaskReadOnly | ViewBits());
        bool gone = opened == ErrorFileNotFound;
        if (opened == ErrorSuccess && valueName) {
            std::uint32_t size = 0;
            gone = target_.store->RegQueryValueExW(key.Handle(), *valueName, nullptr, nullptr,
                                                   &size) == ErrorFileNotFound;
        }
        if (gone) {
            Log(u"Already gone: " + std::u16string(RootKeyName(path.root)) + u"\\" + path.subKey +
                (valueName ? u" [" + std::u16string(*valueName) + u"]" : u""));
        }
        return gone;
    }

    RegSam ViewBits() const { return mask_ & (KeyWow64_64Key | KeyWow64_32Key); }

    void ReadView(const KeyPath& path, std::u16string_view valueName, std::u16string& text) {
        if (!target_.is64Bit) {
            ReadValueText(target_, path.root, path.subKey, valueName, text);
        } else if (IsSixtyFourBit(view_)) {
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
        if (!MayDeleteKey(path.root, parent))
            return;
        RegKey key(*target_.store);
        if (key.Open(path.root, parent, mask_) != ErrorSuccess)
            return;
        std::vector<std::u16string> subkeys;
        std::vector<std::u16string> values;
        ListSubkeyNames(target_, key.Handle(), subkeys);
        ListValueNames(*target_.store, key.Handle(), values);
        key.Close();
        if (subkeys.empty() && values.empty())
            backup_.DeleteKey(path.root, parent, KeyScope::Key, view_);
    }

    const CProblem& problem_;
    CBackup& backup_;
    const RegistryTarget& target_;
    const std::function<void(std::u16string_view)>& log_;
    RegistryView view_ = RegistryView::Bits32;
    RegSam mask_ = kMaskReadWrite;
};

}  // namespace

bool Repair(const CProblem& problem, CBackup& backup, const RegistryTarget& target,
            const std::function<void(std::u16string_view)>& log) {
    if (!IsKnownEntryType(problem.EntryType))
        return false;
    CRepairRun run(problem, backup, target, log);
    const std::u16string& alternateOrKey =
        problem.AlternateKey.empty() ? problem.Key : problem.AlternateKey;
    switch (EntryTypeInfo(problem.EntryType).repair) {
        case RepairCode::R1:
            return run.DeleteTree(alternateOrKey, KeyScope::Tree, true);
        case RepairCode::R2:
            return run.DeleteTree(alternateOrKey, KeyScope::Key, false);
        case RepairCode::R3:
            if (NamesOneValueOfAList(problem))
                return run.DeleteValue(problem.Key, problem.ValueName);
            return run.DeleteTree(problem.Key, KeyScope::Tree, false);
        case RepairCode::R4:
            return run.DeleteTree(problem.Key, KeyScope::Key, false);
        case RepairCode::R5:
            return !problem.AlternateKey.empty() &&
                   run.DeleteTree(problem.AlternateKey, KeyScope::Key, true);
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
