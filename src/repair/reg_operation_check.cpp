#include "repair/reg_operation_check.h"

#include "core/text_encoding.h"
#include "repair/deletion_guard.h"

namespace quillary {
namespace {

std::optional<std::string> CheckKeyPath(std::u16string_view subKey) {
    std::size_t depth = 0;
    for (std::size_t start = 0; start <= subKey.size();) {
        std::size_t end = subKey.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = subKey.size();
        const std::size_t length = end - start;
        if (length == 0 && !subKey.empty())
            return std::string("the key path has an empty name in it");
        if (length > kMaxKeyNameLength) {
            return "a key name is " + std::to_string(length) + " characters long; at most " +
                   std::to_string(kMaxKeyNameLength) + " are allowed";
        }
        if (++depth > kMaxKeyDepth) {
            return "the key is nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
        }
        start = end + 1;
    }
    return std::nullopt;
}

// Under HKEY_USERS a key belongs to one of the users the target holds; a new one would be
// kept nowhere.
std::optional<std::string> CheckUser(const RegistryTarget& target, std::u16string_view subKey) {
    const std::u16string_view user = subKey.substr(0, subKey.find(u'\\'));
    RegKey key(*target.store);
    if (key.Open(HKeyUsers, user, kMaskReadOnly) == ErrorSuccess)
        return std::nullopt;
    return "HKEY_USERS holds no user " + Utf16ToUtf8(user);
}

}  // namespace

std::optional<std::string> CheckRegOperation(const RegistryTarget& target,
                                             const RegImportOperation& operation) {
    if (std::optional<std::string> wrong = CheckKeyPath(operation.subKey))
        return wrong;
    if (operation.valueName.size() > kMaxValueNameLength) {
        return "the value name is " + std::to_string(operation.valueName.size()) +
               " characters long; at most " + std::to_string(kMaxValueNameLength) + " are allowed";
    }
    if (operation.kind == RegImportOperation::Kind::DeleteKey &&
        !MayDeleteKey(operation.root, operation.subKey)) {
        std::u16string key(RootKeyName(operation.root));
        if (!operation.subKey.empty())
            key += u'\\' + operation.subKey;
        return "deleting " + Utf16ToUtf8(key) +
               " is refused: it is a root, a key directly below one, or a key that holds the "
               "entries of a whole kind";
    }
    if (operation.root == HKeyUsers && !operation.subKey.empty())
        return CheckUser(target, operation.subKey);
    return std::nullopt;
}

std::optional<RegImportError> CheckRegOperations(const RegistryTarget& target,
                                                 std::span<const RegImportOperation> operations) {
    for (const RegImportOperation& operation : operations) {
        if (std::optional<std::string> wrong = CheckRegOperation(target, operation))
            return RegImportError{operation.line, *wrong};
    }
    return std::nullopt;
}

}  // namespace quillary
