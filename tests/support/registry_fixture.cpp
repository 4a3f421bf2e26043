#include "support/registry_fixture.h"

#include <gtest/gtest.h>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "targets/memory/reg_text.h"

namespace quillary::testing {

void LoadRegistryText(CMemoryRegistry& registry, std::string_view text) {
    const RegTextDocument document = ParseRegText(text);
    for (const RegTextError& error : document.errors) {
        ADD_FAILURE() << "registry text, " << DescribeRegTextError(error);
    }
    for (const RegTextKey& key : document.keys) {
        const RegistryPath path = SplitRegistryPath(key.path);
        const std::optional<HKey> root = RootKeyFromName(path.rootName);
        if (!root) {
            ADD_FAILURE() << "registry text: unknown root in [" << Utf16ToUtf8(key.path) << "]";
            continue;
        }
        // The 64-bit view reaches every key by its own path, Wow6432Node included.
        HKey handle = HKey::None;
        const LStatus status = registry.RegCreateKeyExW(
            *root, path.subKey, key.className, key.isLink ? RegOptionCreateLink : 0,
            KeyAllAccess | KeyWow64_64Key, &handle, nullptr);
        if (status != ErrorSuccess) {
            ADD_FAILURE() << "registry text: cannot create [" << Utf16ToUtf8(key.path)
                          << "], error " << status;
            continue;
        }
        for (const RegValue& value : key.values) {
            EXPECT_EQ(registry.RegSetValueExW(handle, value.name, value.type, value.data.data(),
                                              static_cast<std::uint32_t>(value.data.size())),
                      ErrorSuccess);
        }
        registry.RegCloseKey(handle);
        if (key.denial != AccessDenial::None) {
            registry.SetAccessDenial(*root, path.subKey, key.denial);
        }
    }
}

std::unique_ptr<CMemoryRegistry> MakeRegistry(std::string_view text,
                                              MemoryRegistryOptions options) {
    auto registry = std::make_unique<CMemoryRegistry>(std::move(options));
    LoadRegistryText(*registry, text);
    return registry;
}

bool KeyExists(IRegistry& registry, HKey root, std::u16string_view path, RegSam view) {
    HKey handle = HKey::None;
    if (registry.RegOpenKeyExW(root, path, 0, KeyRead | view, &handle) != ErrorSuccess) {
        return false;
    }
    registry.RegCloseKey(handle);
    return true;
}

std::optional<std::vector<std::uint8_t>> ValueBytes(IRegistry& registry, HKey root,
                                                    std::u16string_view path,
                                                    std::u16string_view name, RegSam view) {
    HKey handle = HKey::None;
    if (registry.RegOpenKeyExW(root, path, 0, KeyRead | view, &handle) != ErrorSuccess) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (registry.RegQueryValueExW(handle, name, nullptr, nullptr, &size) == ErrorSuccess) {
        bytes.emplace(size);
        registry.RegQueryValueExW(handle, name, nullptr, bytes->data(), &size);
    }
    registry.RegCloseKey(handle);
    return bytes;
}

}  // namespace quillary::testing
