#include "repair/reg_import.h"

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

}  // namespace

std::optional<std::string> ApplyRegOperations(const RegistryTarget& target, bool in64BitView,
                                              std::span<const RegImportOperation> operations) {
    IRegistry& store = *target.store;
    RegSam view = 0;
    if (target.is64Bit)
        view = in64BitView ? KeyWow64_64Key : KeyWow64_32Key;
    for (const RegImportOperation& operation : operations) {
        LStatus status = ErrorSuccess;
        switch (operation.kind) {
            case Kind::DeleteKey: {
                std::u16string_view parent = operation.subKey;
                std::size_t backslash = parent.rfind(u'\\');
                std::u16string_view name = operation.subKey;
                HKey parentKey = operation.root;
                RegKey opened(store);
                if (backslash != std::u16string_view::npos) {
                    name = parent.substr(backslash + 1);
                    status = opened.Open(operation.root, parent.substr(0, backslash),
                                         kMaskFullAccess | view);
                    parentKey = opened.Handle();
                }
                if (status == ErrorSuccess) {
                    status = DeleteKeyTree(target, parentKey, name, kMaskFullAccess | view);
                }
                // A key that is not there is already as the file wants it.
                if (status == ErrorFileNotFound)
                    status = ErrorSuccess;
                break;
            }
            case Kind::CreateKey: {
                HKey key = HKey::None;
                status = store.RegCreateKeyExW(operation.root, operation.subKey, u"", 0,
                                               kMaskReadWrite | view, &key, nullptr);
                if (status == ErrorSuccess)
                    store.RegCloseKey(key);
                break;
            }
            case Kind::SetValue:
            case Kind::DeleteValue: {
                HKey key = HKey::None;
                status = store.RegCreateKeyExW(operation.root, operation.subKey, u"", 0,
                                               kMaskReadWrite | view, &key, nullptr);
                if (status != ErrorSuccess)
                    break;
                if (operation.kind == Kind::SetValue) {
                    status = store.RegSetValueExW(
                        key, operation.valueName, operation.type, operation.data.data(),
                        static_cast<std::uint32_t>(operation.data.size()));
                } else {
                    status = store.RegDeleteValueW(key, operation.valueName);
                    if (status == ErrorFileNotFound)
                        status = ErrorSuccess;
                }
                store.RegCloseKey(key);
                break;
            }
        }
        if (status != ErrorSuccess)
            return Describe(operation, status);
    }
    return std::nullopt;
}

void RecordUndoOf(const RegistryTarget& target, bool in64BitView,
                  std::span<const RegImportOperation> operations, CRegExport& writer) {
    RegSam view = 0;
    if (target.is64Bit)
        view = in64BitView ? KeyWow64_64Key : KeyWow64_32Key;
    const auto keyExists = [&](HKey root, std::u16string_view subKey) {
        RegKey key(*target.store);
        return key.Open(root, subKey, kMaskReadOnly | view) == ErrorSuccess;
    };
    // Keys the file creates are deleted on undo only once, however often it names them.
    std::vector<std::pair<HKey, std::u16string>> created;
    const auto recordCreation = [&](HKey root, const std::u16string& subKey) {
        if (keyExists(root, subKey))
            return;
        for (const auto& [createdRoot, createdKey] : created) {
            if (createdRoot == root && EqualsNoCase(createdKey, subKey))
                return;
        }
        // The first missing key on the way is the one the import makes.
        std::u16string first = subKey;
        std::size_t end = 0;
        while ((end = subKey.find(u'\\', end + 1)) != std::u16string::npos) {
            if (!keyExists(root, subKey.substr(0, end))) {
                first = subKey.substr(0, end);
                break;
            }
        }
        created.emplace_back(root, subKey);
        writer.ExportKeyDeletion(root, first);
    };
    for (const RegImportOperation& operation : operations) {
        switch (operation.kind) {
            case Kind::CreateKey:
                recordCreation(operation.root, operation.subKey);
                break;
            case Kind::DeleteKey:
                writer.ExportKey(operation.root, operation.subKey, in64BitView);
                break;
            case Kind::SetValue:
            case Kind::DeleteValue:
                recordCreation(operation.root, operation.subKey);
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
