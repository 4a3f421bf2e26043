#include "repair/reg_import.h"

#include <unordered_map>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "platform/file_io.h"
#include "repair/reg_export.h"
#include "repair/reg_operation_check.h"

namespace quillary {
namespace {

using Kind = RegImportOperation::Kind;

std::string Describe(const RegImportOperation& operation, LStatus status) {
    return "line " + std::to_string(operation.line) + ": " +
           Utf16ToUtf8(std::u16string(RootKeyName(operation.root))) + "\\" +
           Utf16ToUtf8(operation.subKey) + ": Windows error " + std::to_string(status);
}

RegSam ViewBits(const RegistryTarget& target, bool in64BitView) {
    if (!target.is64Bit)
        return 0;
    return in64BitView ? KeyWow64_64Key : KeyWow64_32Key;
}

// The key the last operations named, kept open while the next ones name it too: the values of
// a key block are written through one handle instead of a walk from the root for each.
class CHeldKey {
public:
    CHeldKey(IRegistry& store, RegSam view) : store_(store), view_(view) {}
    ~CHeldKey() { Close(); }
    CHeldKey(const CHeldKey&) = delete;
    CHeldKey& operator=(const CHeldKey&) = delete;

    // root\subKey opened for reading and writing, created when it is missing. On failure
    // *key is unchanged.
    LStatus Get(HKey root, const std::u16string& subKey, HKey* key) {
        if (held_ == HKey::None || root != root_ || subKey != subKey_) {
            Close();
            HKey opened = HKey::None;
            const LStatus status = store_.RegCreateKeyExW(root, subKey, u"", 0,
                                                          kMaskReadWrite | view_, &opened, nullptr);
            if (status != ErrorSuccess)
                return status;
            held_ = opened;
            root_ = root;
            subKey_ = subKey;
        }
        *key = held_;
        return ErrorSuccess;
    }

    // Before a key is deleted: the held key may be it or lie below it.
    void Close() {
        if (held_ != HKey::None)
            store_.RegCloseKey(held_);
        held_ = HKey::None;
    }

private:
    IRegistry& store_;
    RegSam view_;
    HKey held_ = HKey::None;
    HKey root_ = HKey::None;
    std::u16string subKey_;
};

LStatus DeleteKeyOf(const RegistryTarget& target, RegSam view,
                    const RegImportOperation& operation) {
    const std::u16string_view path = operation.subKey;
    const std::size_t backslash = path.rfind(u'\\');
    if (backslash == std::u16string_view::npos)
        return DeleteKeyTree(target, operation.root, path, kMaskFullAccess | view);
    RegKey parent(*target.store);
    const LStatus status =
        parent.Open(operation.root, path.substr(0, backslash), kMaskFullAccess | view);
    if (status != ErrorSuccess)
        return status;
    return DeleteKeyTree(target, parent.Handle(), path.substr(backslash + 1),
                         kMaskFullAccess | view);
}

// Which keys exist before operations are applied. Each key is looked up once however many
// operations name it, in whatever case they spell it.
class CKeysBefore {
public:
    enum class State { Exists, Missing, MissingNamedBefore };

    CKeysBefore(IRegistry& store, RegSam view) : store_(store), view_(view) {}

    // Missing the first time a missing key is named, MissingNamedBefore after that.
    State Look(HKey root, std::u16string_view subKey) {
        if (root == lastRoot_ && subKey == lastSubKey_ && lastRoot_ != HKey::None)
            return lastState_;
        std::u16string folded = ToUpperInvariant(subKey);
        folded.insert(folded.begin(), static_cast<char16_t>(root));
        const auto [known, added] = missing_.try_emplace(std::move(folded), false);
        State state = State::Exists;
        if (!added) {
            state = known->second ? State::MissingNamedBefore : State::Exists;
        } else if (!Exists(root, subKey)) {
            known->second = true;
            state = State::Missing;
        }
        lastRoot_ = root;
        lastSubKey_ = subKey;
        // Once named, a missing key has been named before.
        lastState_ = state == State::Missing ? State::MissingNamedBefore : state;
        return state;
    }

    // The key an import of subKey, which is missing, creates first.
    std::u16string_view FirstMissing(HKey root, std::u16string_view subKey) {
        return FirstMissingKey(store_, root, subKey, view_);
    }

private:
    bool Exists(HKey root, std::u16string_view subKey) {
        RegKey key(store_);
        return key.Open(root, subKey, kMaskReadOnly | view_) == ErrorSuccess;
    }

    IRegistry& store_;
    RegSam view_;
    // Keys looked up, by root and upper-cased path: true for those found missing.
    std::unordered_map<std::u16string, bool> missing_;
    // The key of the last look, which the next operations of its block name again.
    HKey lastRoot_ = HKey::None;
    std::u16string lastSubKey_;
    State lastState_ = State::Exists;
};

}  // namespace

std::optional<std::string> ApplyRegOperations(const RegistryTarget& target, bool in64BitView,
                                              std::span<const RegImportOperation> operations) {
    IRegistry& store = *target.store;
    const RegSam view = ViewBits(target, in64BitView);
    CHeldKey held(store, view);
    for (const RegImportOperation& operation : operations) {
        LStatus status = ErrorSuccess;
        HKey key = HKey::None;
        switch (operation.kind) {
            case Kind::DeleteKey:
                held.Close();
                status = DeleteKeyOf(target, view, operation);
                // A key that is not there is already as the file wants it.
                if (status == ErrorFileNotFound)
                    status = ErrorSuccess;
                break;
            case Kind::CreateKey:
                status = held.Get(operation.root, operation.subKey, &key);
                break;
            case Kind::SetValue:
                status = held.Get(operation.root, operation.subKey, &key);
                if (status == ErrorSuccess) {
                    status = store.RegSetValueExW(
                        key, operation.valueName, operation.type, operation.data.data(),
                        static_cast<std::uint32_t>(operation.data.size()));
                }
                break;
            case Kind::DeleteValue:
                status = held.Get(operation.root, operation.subKey, &key);
                if (status == ErrorSuccess)
                    status = store.RegDeleteValueW(key, operation.valueName);
                if (status == ErrorFileNotFound)
                    status = ErrorSuccess;
                break;
        }
        if (status != ErrorSuccess)
            return Describe(operation, status);
    }
    return std::nullopt;
}

void RecordUndoOf(const RegistryTarget& target, bool in64BitView,
                  std::span<const RegImportOperation> operations, CRegExport& writer) {
    using State = CKeysBefore::State;
    CKeysBefore keys(*target.store, ViewBits(target, in64BitView));
    // A key the file creates is deleted on undo once, however often the file names it; the
    // deletion takes the values the file gives it along.
    const auto recordCreation = [&](const RegImportOperation& operation) {
        const State state = keys.Look(operation.root, operation.subKey);
        if (state == State::Missing) {
            writer.ExportKeyDeletion(operation.root,
                                     keys.FirstMissing(operation.root, operation.subKey));
        }
        return state;
    };
    for (const RegImportOperation& operation : operations) {
        switch (operation.kind) {
            case Kind::CreateKey:
                recordCreation(operation);
                break;
            case Kind::DeleteKey:
                writer.ExportKey(operation.root, operation.subKey, in64BitView);
                break;
            case Kind::SetValue:
            case Kind::DeleteValue:
                if (recordCreation(operation) != State::Exists)
                    break;
                if (!writer.ExportValue(operation.root, operation.subKey, operation.valueName,
                                        in64BitView) &&
                    operation.kind == Kind::SetValue) {
                    writer.ExportValueDeletion(operation.root, operation.subKey,
                                               operation.valueName);
                }
                break;
        }
    }
}

std::optional<RegImportError> CheckRegFile(const RegistryTarget& target, IFileIo& fileIo,
                                           const std::filesystem::path& path) {
    std::optional<RegImportError> refused;
    std::optional<RegImportError> unreadable =
        ReadRegFile(fileIo, path, [&](std::span<const RegImportOperation> block) {
            refused = CheckRegOperations(target, block);
            return refused ? std::optional<std::string>(refused->message) : std::nullopt;
        });
    // A refused operation is named by its own line, not its key's.
    return unreadable ? std::optional(refused.value_or(*unreadable)) : std::nullopt;
}

std::optional<std::string> ImportRegFile(const RegistryTarget& target, bool in64BitView,
                                         IFileIo& fileIo, const std::filesystem::path& path) {
    const auto describe = [&path](const RegImportError& error) {
        std::string where = error.line ? ", line " + std::to_string(error.line) : "";
        return path.string() + where + ": " + error.message;
    };
    if (std::optional<RegImportError> wrong = CheckRegFile(target, fileIo, path))
        return describe(*wrong) + "; nothing was imported";
    if (std::optional<RegImportError> failure =
            ReadRegFile(fileIo, path, [&](std::span<const RegImportOperation> block) {
                return ApplyRegOperations(target, in64BitView, block);
            })) {
        return describe(*failure);
    }
    return std::nullopt;
}

}  // namespace quillary
