#include "targets/memory/memory_registry.h"

#include <algorithm>

#include "core/text_encoding.h"
#include "targets/memory/memory_registry_parts.h"

namespace quillary {
namespace {

constexpr std::size_t kMaxValueNameLength = 16383;

// Copies a name into a caller's buffer with the conventions of RegEnumKeyExW.
LStatus CopyName(std::u16string_view name, char16_t* buffer, std::uint32_t* length) {
    if (buffer == nullptr || length == nullptr) {
        return ErrorInvalidParameter;
    }
    if (name.size() >= *length) {
        return ErrorMoreData;
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *length = static_cast<std::uint32_t>(name.size());
    return ErrorSuccess;
}

// Copies value data with the conventions of RegQueryValueExW.
LStatus CopyData(const RegValue& value, RegType* type, std::uint8_t* data,
                 std::uint32_t* dataSize) {
    if (data != nullptr && dataSize == nullptr) {
        return ErrorInvalidParameter;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    if (dataSize == nullptr) {
        return ErrorSuccess;
    }
    const auto size = static_cast<std::uint32_t>(value.data.size());
    if (data != nullptr) {
        if (*dataSize < size) {
            *dataSize = size;
            return ErrorMoreData;
        }
        std::copy(value.data.begin(), value.data.end(), data);
    }
    *dataSize = size;
    return ErrorSuccess;
}

}  // namespace

CMemoryRegistry::CMemoryRegistry(MemoryRegistryOptions options)
    : options_(std::move(options)),
      root_(std::make_shared<CRegistryNode>(u"", options_.keyOrder, options_.sortValues)) {
    root_->AddChild(u"Machine");
    root_->AddChild(u"User");
    if (options_.createStandardKeys) {
        CreateStandardKeys();
    }
    generation_ = 0;
}

CMemoryRegistry::~CMemoryRegistry() = default;

void CMemoryRegistry::CreateStandardKeys() {
    EnsurePath({u"Machine", u"Software", u"Classes"});
    EnsurePath({u"Machine", u"System"});
    EnsurePath({u"User", u".Default"});
    EnsurePath({u"User", options_.userSid, u"Software", u"Classes"});
    if (!options_.is64Bit) {
        return;
    }
    EnsurePath({u"Machine", u"Software", u"Classes", kWow6432Node});
    CRegistryNode* software32 = EnsurePath({u"Machine", u"Software", kWow6432Node});
    // The 32-bit programs' own view of the classes is the machine's Classes\Wow6432Node.
    CRegistryNode* classesLink = software32->AddChild(u"Classes");
    classesLink->isLink = true;
    const std::u16string target = u"\\Registry\\Machine\\Software\\Classes\\Wow6432Node";
    classesLink->SetValue(kLinkValueName, RegLink, ToUtf16LeBytes(target, false));
}

CRegistryNode* CMemoryRegistry::EnsurePath(std::initializer_list<std::u16string_view> components) {
    CRegistryNode* node = root_.get();
    for (std::u16string_view name : components) {
        CRegistryNode* child = node->FindChild(name);
        if (child == nullptr) {
            child = node->AddChild(name);
            child->lastWriteTime = Now();
        }
        node = child;
    }
    return node;
}

FileTime CMemoryRegistry::Now() const {
    return ToFileTime(options_.clock != nullptr ? options_.clock->Now() : systemClock_.Now());
}

void CMemoryRegistry::Touch(CRegistryNode& node) {
    node.lastWriteTime = Now();
    ++generation_;
    if (options_.onChange) {
        options_.onChange(node);
    }
}

std::uint64_t CMemoryRegistry::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

std::size_t CMemoryRegistry::OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

// --- values and subkeys ----------------------------------------------------------------------

LStatus CMemoryRegistry::RegEnumKeyExW(HKey key, std::uint32_t index, char16_t* name,
                                       std::uint32_t* nameLength, FileTime* lastWriteTime) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyEnumerateSubKeys, &handle, &node);
        status != ErrorSuccess) {
        return status;
    }
    const CRegistryNode* child = nullptr;
    if (handle->merged) {
        const auto& children = MergedChildren(*handle);
        child = index < children.size() ? children[index] : nullptr;
    } else {
        child = index < node->ChildCount() ? node->ChildAt(index) : nullptr;
    }
    if (child == nullptr) {
        return ErrorNoMoreItems;
    }
    const LStatus status = CopyName(child->Name(), name, nameLength);
    if (status == ErrorSuccess && lastWriteTime != nullptr) {
        *lastWriteTime = child->lastWriteTime;
    }
    return status;
}

LStatus CMemoryRegistry::RegEnumValueW(HKey key, std::uint32_t index, char16_t* name,
                                       std::uint32_t* nameLength, RegType* type, std::uint8_t* data,
                                       std::uint32_t* dataSize) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyQueryValue, &handle, &node);
        status != ErrorSuccess) {
        return status;
    }
    if (index >= node->Values().size()) {
        return ErrorNoMoreItems;
    }
    const RegValue& value = node->Values()[index];
    if (const LStatus status = CopyName(value.name, name, nameLength); status != ErrorSuccess) {
        return status;
    }
    return CopyData(value, type, data, dataSize);
}

LStatus CMemoryRegistry::RegQueryInfoKeyW(HKey key, RegKeyInfo* info) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyQueryValue, &handle, &node);
        status != ErrorSuccess) {
        return status;
    }
    if (info == nullptr) {
        return ErrorInvalidParameter;
    }
    *info = RegKeyInfo{};
    info->className = node->className;
    info->maxClassLength = static_cast<std::uint32_t>(node->className.size());
    info->lastWriteTime = node->lastWriteTime;
    auto countChild = [info](const CRegistryNode& child) {
        ++info->subKeys;
        info->maxSubKeyLength =
            std::max(info->maxSubKeyLength, static_cast<std::uint32_t>(child.Name().size()));
    };
    if (handle->merged) {
        for (const CRegistryNode* child : MergedChildren(*handle)) {
            countChild(*child);
        }
    } else {
        for (std::size_t i = 0; i < node->ChildCount(); ++i) {
            countChild(*node->ChildAt(i));
        }
    }
    for (const RegValue& value : node->Values()) {
        ++info->values;
        info->maxValueNameLength =
            std::max(info->maxValueNameLength, static_cast<std::uint32_t>(value.name.size()));
        info->maxValueDataLength =
            std::max(info->maxValueDataLength, static_cast<std::uint32_t>(value.data.size()));
    }
    return ErrorSuccess;
}

LStatus CMemoryRegistry::RegQueryValueExW(HKey key, std::u16string_view valueName, RegType* type,
                                          std::uint8_t* data, std::uint32_t* dataSize) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyQueryValue, &handle, &node);
        status != ErrorSuccess) {
        return status;
    }
    const RegValue* value = node->FindValue(valueName);
    if (value == nullptr) {
        return ErrorFileNotFound;
    }
    return CopyData(*value, type, data, dataSize);
}

LStatus CMemoryRegistry::RegSetValueExW(HKey key, std::u16string_view valueName, RegType type,
                                        const std::uint8_t* data, std::uint32_t dataSize) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeySetValue, &handle, &node); status != ErrorSuccess) {
        return status;
    }
    if ((data == nullptr && dataSize != 0) || valueName.size() > kMaxValueNameLength) {
        return ErrorInvalidParameter;
    }
    node->SetValue(valueName, type,
                   data == nullptr ? std::vector<std::uint8_t>()
                                   : std::vector<std::uint8_t>(data, data + dataSize));
    Touch(*node);
    return ErrorSuccess;
}

LStatus CMemoryRegistry::RegDeleteValueW(HKey key, std::u16string_view valueName) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeySetValue, &handle, &node); status != ErrorSuccess) {
        return status;
    }
    if (!node->DeleteValue(valueName)) {
        return ErrorFileNotFound;
    }
    Touch(*node);
    return ErrorSuccess;
}

LStatus CMemoryRegistry::DeleteKey(HKey key, std::u16string_view subKey, RegSam view) {
    Handle* handle = Lookup(key);
    if (handle == nullptr) {
        return ErrorInvalidHandle;
    }
    std::vector<std::u16string_view> components;
    if (const LStatus status = SplitSubKey(subKey, &components); status != ErrorSuccess) {
        return status;
    }
    std::shared_ptr<CRegistryNode> target;
    if (components.empty()) {
        if (IsPredefinedKey(key)) {
            return ErrorAccessDenied;
        }
        target = handle->Primary();
    } else {
        // A symbolic link is deleted itself, never the key it points to.
        for (const bool userSide : {true, false}) {
            const std::optional<Start> start = StartOf(key, userSide);
            Walk walk;
            if (!target && start &&
                WalkPath(*start, components, view, true, nullptr, &walk) == ErrorSuccess) {
                target = walk.node;
            }
        }
    }
    if (!target) {
        return ErrorFileNotFound;
    }
    if (target->IsDeleted()) {
        return ErrorKeyDeleted;
    }
    CRegistryNode* parent = target->Parent();
    // The hive roots (\Registry, Machine, User and the users' keys) cannot be deleted.
    if (parent == nullptr || parent == root_.get() || parent->Parent() == root_.get()) {
        return ErrorAccessDenied;
    }
    if (target->denial != AccessDenial::None || target->ChildCount() > 0) {
        return ErrorAccessDenied;
    }
    parent->RemoveChild(target->Name());
    Touch(*parent);
    return ErrorSuccess;
}

LStatus CMemoryRegistry::RegDeleteKeyW(HKey key, std::u16string_view subKey) {
    std::lock_guard lock(mutex_);
    return DeleteKey(key, subKey, 0);
}

LStatus CMemoryRegistry::RegDeleteKeyExW(HKey key, std::u16string_view subKey, RegSam samDesired,
                                         std::uint32_t reserved) {
    std::lock_guard lock(mutex_);
    if (!hasRegDeleteKeyExW_) {
        return ErrorCallNotImplemented;
    }
    if (reserved != 0) {
        return ErrorInvalidParameter;
    }
    return DeleteKey(key, subKey, samDesired & KeyWow64Res);
}

bool CMemoryRegistry::HasRegDeleteKeyExW() const {
    std::lock_guard lock(mutex_);
    return hasRegDeleteKeyExW_;
}

LStatus CMemoryRegistry::RegFlushKey(HKey key) {
    std::lock_guard lock(mutex_);
    return Lookup(key) != nullptr ? ErrorSuccess : ErrorInvalidHandle;
}

// --- controls for tests ----------------------------------------------------------------------

bool CMemoryRegistry::SetAccessDenial(HKey root, std::u16string_view path, AccessDenial denial) {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string_view> components;
    if (SplitSubKey(path, &components) != ErrorSuccess) {
        return false;
    }
    // Walks the tree itself rather than opening the key, since a mark may already deny that.
    for (const bool userSide : {true, false}) {
        const std::optional<Start> start = StartOf(root, userSide);
        Walk walk;
        if (start &&
            WalkPath(*start, components, KeyWow64_64Key, true, nullptr, &walk) == ErrorSuccess) {
            walk.node->denial = denial;
            return true;
        }
    }
    return false;
}

void CMemoryRegistry::SetRegDeleteKeyExAvailable(bool available) {
    std::lock_guard lock(mutex_);
    hasRegDeleteKeyExW_ = available;
}

}  // namespace quillary
