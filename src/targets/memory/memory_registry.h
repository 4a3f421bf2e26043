#pragma once

// A registry held in memory that behaves like Windows' own: the predefined roots (with
// HKEY_CLASSES_ROOT as the merged view of the user's and the machine's classes), the 32-bit
// and 64-bit views, symbolic links, case-insensitive names that keep their case, values kept
// byte for byte. Tests build their registries in it, and file-backed stores load into it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "targets/memory/registry_tree.h"
#include "targets/memory/wow64_redirection.h"

namespace quillary {

struct MemoryRegistryOptions {
    // A 64-bit system has the two views; on a 32-bit one the view bits are ignored.
    bool is64Bit = true;
    // The user that HKEY_CURRENT_USER stands for, a subkey of HKEY_USERS.
    std::u16string userSid = u"S-1-5-21-0-0-0-1000";
    KeyOrder keyOrder = KeyOrder::UpperCase;
    // Windows keeps values in the order they were created; Wine keeps them sorted.
    bool sortValues = false;
    // Where the 32-bit view lives; Windows 7's rules unless a store supplies its own.
    std::shared_ptr<const IWow64Policy> wow64Policy = std::make_shared<CWindowsWow64Policy>();
    // Windows shows the user's classes over the machine's in HKEY_CLASSES_ROOT; off, it shows
    // the machine's classes only.
    bool mergeClassesRoot = true;
    // Creates the keys every Windows registry has (the hive roots, the user's key and, on a
    // 64-bit system, the Wow6432Node keys of the machine's software and classes).
    bool createStandardKeys = true;
    // The longest key name component RegCreateKeyExW accepts.
    std::size_t maxKeyNameLength = 255;
    // Stamps the last-write times; the system clock when null.
    const IClock* clock = nullptr;
    // Told of every key whose contents change (values, subkeys), so a file-backed store
    // knows which of its files to save.
    std::function<void(const CRegistryNode&)> onChange;
};

class CMemoryRegistry : public IRegistry {
public:
    explicit CMemoryRegistry(MemoryRegistryOptions options = {});
    ~CMemoryRegistry() override;

    LStatus RegOpenKeyExW(HKey parent, std::u16string_view subKey, std::uint32_t options,
                          RegSam samDesired, HKey* result) override;
    LStatus RegCreateKeyExW(HKey parent, std::u16string_view subKey, std::u16string_view className,
                            std::uint32_t options, RegSam samDesired, HKey* result,
                            std::uint32_t* disposition) override;
    LStatus RegCloseKey(HKey key) override;
    LStatus RegEnumKeyExW(HKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLength,
                          FileTime* lastWriteTime) override;
    LStatus RegEnumValueW(HKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLength,
                          RegType* type, std::uint8_t* data, std::uint32_t* dataSize) override;
    LStatus RegQueryInfoKeyW(HKey key, RegKeyInfo* info) override;
    LStatus RegQueryValueExW(HKey key, std::u16string_view valueName, RegType* type,
                             std::uint8_t* data, std::uint32_t* dataSize) override;
    LStatus RegSetValueExW(HKey key, std::u16string_view valueName, RegType type,
                           const std::uint8_t* data, std::uint32_t dataSize) override;
    LStatus RegDeleteValueW(HKey key, std::u16string_view valueName) override;
    LStatus RegDeleteKeyW(HKey key, std::u16string_view subKey) override;
    LStatus RegDeleteKeyExW(HKey key, std::u16string_view subKey, RegSam samDesired,
                            std::uint32_t reserved) override;
    bool HasRegDeleteKeyExW() const override;
    LStatus RegFlushKey(HKey key) override;
    LStatus RegSaveKeyW(HKey key, std::u16string_view file) override;
    LStatus RegReplaceKeyW(HKey key, std::u16string_view subKey, std::u16string_view newFile,
                           std::u16string_view oldFile) override;

    // --- controls for tests ---

    // Marks root\path as if its security denied access. False when the key does not exist.
    bool SetAccessDenial(HKey root, std::u16string_view path, AccessDenial denial);
    // Makes the system look like one without RegDeleteKeyExW (Windows before Vista).
    void SetRegDeleteKeyExAvailable(bool available);
    // What the next start of the system does with the files given to RegReplaceKeyW: the
    // current contents go to the old file, the new file's contents take their place.
    LStatus ApplyPendingReplacements();
    std::size_t OpenHandleCount() const;

    // --- for stores that keep the tree in files ---

    bool Is64Bit() const { return options_.is64Bit; }
    // The root of the tree: its children are "Machine" and "User".
    CRegistryNode& Tree() { return *root_; }
    // Grows by one with every change, so a store can tell whether it must save.
    std::uint64_t Generation() const;
    // The lock that serialises every operation; a store holds it while it reads the tree.
    std::mutex& Mutex() const { return mutex_; }

private:
    struct Handle;
    struct Start;
    struct Walk;
    struct CreateRequest;

    FileTime Now() const;
    void Touch(CRegistryNode& node);
    void CreateStandardKeys();
    CRegistryNode* EnsurePath(std::initializer_list<std::u16string_view> components);

    std::optional<Start> StartOf(HKey key, bool userSide) const;
    LStatus WalkPath(const Start& start, std::span<const std::u16string_view> components,
                     RegSam view, bool openLinkAtEnd, const CreateRequest* create, Walk* walk);
    LStatus FollowLink(const CRegistryNode& link, int depth, std::shared_ptr<CRegistryNode>* target,
                       std::vector<std::u16string_view>* targetPath);
    std::shared_ptr<CRegistryNode> NodeAt(std::span<const std::u16string_view> path, int depth,
                                          std::vector<std::u16string_view>* walked);
    LStatus OpenOrCreate(HKey parent, std::u16string_view subKey, std::uint32_t options,
                         RegSam samDesired, const CreateRequest* create, HKey* result,
                         std::uint32_t* disposition);
    Handle* Lookup(HKey key);
    LStatus Resolve(HKey key, RegSam needed, Handle** handle,
                    std::shared_ptr<CRegistryNode>* primary);
    const std::vector<CRegistryNode*>& MergedChildren(Handle& handle);
    LStatus DeleteKey(HKey key, std::u16string_view subKey, RegSam view);
    HKey NewHandle(Handle handle);

    MemoryRegistryOptions options_;
    CSystemClock systemClock_;
    std::shared_ptr<CRegistryNode> root_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Handle>> handles_;
    std::unordered_map<std::uint32_t, std::unique_ptr<Handle>> predefined_;
    std::uint32_t nextHandle_ = 4;
    std::uint64_t generation_ = 0;
    bool hasRegDeleteKeyExW_ = true;
    struct PendingReplacement;
    std::vector<PendingReplacement> pendingReplacements_;
    mutable std::mutex mutex_;
};

}  // namespace quillary
