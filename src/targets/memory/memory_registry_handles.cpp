// Handles: the predefined roots resolved anew on every use, the handles that open and create
// return, and HKEY_CLASSES_ROOT's merged view of the user's classes over the machine's.

#include <algorithm>

#include "targets/memory/memory_registry.h"
#include "targets/memory/memory_registry_parts.h"

namespace quillary {
namespace {

bool DeniesAccess(const CRegistryNode& node, RegSam sam) {
    switch (node.denial) {
        case AccessDenial::None:
            return false;
        case AccessDenial::Write:
            return (sam & KeyChangeRights) != 0;
        case AccessDenial::All:
            return true;
    }
    return true;
}

}  // namespace

CMemoryRegistry::Handle* CMemoryRegistry::Lookup(HKey key) {
    const auto value = static_cast<std::uint32_t>(key);
    if (IsPredefinedKey(key)) {
        // Predefined roots are resolved anew on every use, so they always see the current tree.
        auto& slot = predefined_[value];
        if (!slot) {
            slot = std::make_unique<Handle>();
        }
        const std::optional<Start> machine = StartOf(key, false);
        const std::optional<Start> user = StartOf(key, true);
        std::vector<std::u16string_view> walked;
        auto resolve = [&](const std::optional<Start>& start) -> std::shared_ptr<CRegistryNode> {
            if (!start) {
                return nullptr;
            }
            Walk walk;
            return WalkPath(*start, {}, 0, false, nullptr, &walk) == ErrorSuccess ? walk.node
                                                                                  : nullptr;
        };
        slot->merged = key == HKeyClassesRoot && options_.mergeClassesRoot;
        slot->node = resolve(machine);
        slot->userNode = slot->merged ? resolve(user) : nullptr;
        return slot.get();
    }
    const auto it = handles_.find(value);
    return it == handles_.end() ? nullptr : it->second.get();
}

std::optional<CMemoryRegistry::Start> CMemoryRegistry::StartOf(HKey key, bool userSide) const {
    if (!IsPredefinedKey(key)) {
        const auto it = handles_.find(static_cast<std::uint32_t>(key));
        if (it == handles_.end()) {
            return std::nullopt;
        }
        const Handle& handle = *it->second;
        const std::shared_ptr<CRegistryNode>& node = userSide ? handle.userNode : handle.node;
        if (!node || (userSide && !handle.merged)) {
            return std::nullopt;
        }
        return Start{node, {}};
    }
    std::shared_ptr<CRegistryNode> machine = root_->FindChildShared(u"Machine");
    std::shared_ptr<CRegistryNode> users = root_->FindChildShared(u"User");
    const std::u16string_view sid = options_.userSid;
    if (key == HKeyClassesRoot) {
        if (userSide) {
            if (!options_.mergeClassesRoot) {
                return std::nullopt;
            }
            return Start{users, {sid, u"Software", u"Classes"}};
        }
        return Start{machine, {u"Software", u"Classes"}};
    }
    if (userSide) {
        return std::nullopt;
    }
    if (key == HKeyLocalMachine) {
        return Start{machine, {}};
    }
    if (key == HKeyUsers) {
        return Start{users, {}};
    }
    if (key == HKeyCurrentUser) {
        return Start{users, {sid}};
    }
    if (key == HKeyCurrentConfig) {
        return Start{machine, {u"System", u"CurrentControlSet", u"Hardware Profiles", u"Current"}};
    }
    return std::nullopt;
}

HKey CMemoryRegistry::NewHandle(Handle handle) {
    const std::uint32_t value = nextHandle_;
    nextHandle_ += 4;
    if (nextHandle_ >= 0x80000000u) {
        nextHandle_ = 4;
    }
    handles_[value] = std::make_unique<Handle>(std::move(handle));
    return HKey{value};
}

LStatus CMemoryRegistry::Resolve(HKey key, RegSam needed, Handle** handle,
                                 std::shared_ptr<CRegistryNode>* primary) {
    *handle = Lookup(key);
    if (*handle == nullptr) {
        return ErrorInvalidHandle;
    }
    if (((*handle)->access & needed) != needed) {
        return ErrorAccessDenied;
    }
    *primary = (*handle)->Primary();
    if (!*primary) {
        return ErrorFileNotFound;
    }
    return (*primary)->IsDeleted() ? ErrorKeyDeleted : ErrorSuccess;
}

const std::vector<CRegistryNode*>& CMemoryRegistry::MergedChildren(Handle& handle) {
    if (handle.mergedGeneration == generation_) {
        return handle.mergedChildren;
    }
    std::vector<CRegistryNode*>& merged = handle.mergedChildren;
    merged.clear();
    if (handle.userNode) {
        for (std::size_t i = 0; i < handle.userNode->ChildCount(); ++i) {
            merged.push_back(handle.userNode->ChildAt(i));
        }
    }
    const std::size_t userCount = merged.size();
    if (handle.node) {
        for (std::size_t i = 0; i < handle.node->ChildCount(); ++i) {
            CRegistryNode* child = handle.node->ChildAt(i);
            const auto userEnd = merged.begin() + static_cast<std::ptrdiff_t>(userCount);
            const bool shadowed = std::any_of(merged.begin(), userEnd, [&](CRegistryNode* own) {
                return KeyNamesEqual(own->Name(), child->Name());
            });
            if (!shadowed) {
                merged.push_back(child);
            }
        }
    }
    // Each side is in key order already; on equal names the user's key comes first.
    std::inplace_merge(merged.begin(), merged.begin() + static_cast<std::ptrdiff_t>(userCount),
                       merged.end(), [&](CRegistryNode* a, CRegistryNode* b) {
                           return CompareKeyNames(a->Name(), b->Name(), options_.keyOrder) < 0;
                       });
    handle.mergedGeneration = generation_;
    return merged;
}

LStatus CMemoryRegistry::OpenOrCreate(HKey parent, std::u16string_view subKey,
                                      std::uint32_t options, RegSam samDesired,
                                      const CreateRequest* create, HKey* result,
                                      std::uint32_t* disposition) {
    if (result == nullptr) {
        return ErrorInvalidParameter;
    }
    std::vector<std::u16string_view> components;
    if (const LStatus status = SplitSubKey(subKey, &components); status != ErrorSuccess) {
        return status;
    }
    Handle* parentHandle = Lookup(parent);
    if (parentHandle == nullptr) {
        return ErrorInvalidHandle;
    }
    if (!parentHandle->Primary() && !IsPredefinedKey(parent)) {
        return ErrorFileNotFound;
    }
    if (parentHandle->Primary() && parentHandle->Primary()->IsDeleted()) {
        return ErrorKeyDeleted;
    }
    const RegSam view = samDesired & KeyWow64Res;
    const bool openLink = (options & (RegOptionOpenLink | RegOptionCreateLink)) != 0;
    const bool merged = parentHandle->merged;

    Handle handle;
    handle.merged = merged;
    Walk machineWalk;
    Walk userWalk;
    const std::optional<Start> machineStart = StartOf(parent, false);
    const std::optional<Start> userStart = StartOf(parent, true);
    LStatus machineStatus = ErrorFileNotFound;
    LStatus userStatus = ErrorFileNotFound;
    if (machineStart) {
        machineStatus = WalkPath(*machineStart, components, view, openLink, nullptr, &machineWalk);
    }
    if (merged && userStart) {
        userStatus = WalkPath(*userStart, components, view, openLink, nullptr, &userWalk);
    }
    bool created = false;
    if (create != nullptr && machineStatus != ErrorSuccess && userStatus != ErrorSuccess) {
        // A new key of the merged classes goes to the user's classes when the user has its
        // parent there, else to the machine's.
        bool userSide = false;
        if (merged && userStart) {
            userSide = !IsPredefinedKey(parent) && parentHandle->userNode != nullptr;
            for (std::size_t length = components.size(); length-- > 1 && !userSide;) {
                Walk probe;
                userSide = WalkPath(*userStart, std::span(components.data(), length), view, false,
                                    nullptr, &probe) == ErrorSuccess;
            }
        }
        const std::optional<Start>& start = userSide ? userStart : machineStart;
        Walk& walk = userSide ? userWalk : machineWalk;
        LStatus& status = userSide ? userStatus : machineStatus;
        if (!start) {
            return ErrorFileNotFound;
        }
        status = WalkPath(*start, components, view, openLink, create, &walk);
        if (status != ErrorSuccess) {
            return status;
        }
        created = walk.created;
    }
    if (machineStatus != ErrorSuccess && userStatus != ErrorSuccess) {
        return machineStatus == ErrorFileNotFound ? userStatus : machineStatus;
    }
    if (machineStatus == ErrorSuccess) {
        handle.node = machineWalk.node;
    }
    if (userStatus == ErrorSuccess) {
        handle.userNode = userWalk.node;
    }
    if (!created && DeniesAccess(*handle.Primary(), samDesired)) {
        return ErrorAccessDenied;
    }
    handle.access = (samDesired & MaximumAllowed) != 0 ? KeyAllAccess : samDesired & ~KeyWow64Res;
    if (disposition != nullptr) {
        *disposition = created ? RegCreatedNewKey : RegOpenedExistingKey;
    }
    *result = NewHandle(std::move(handle));
    return ErrorSuccess;
}

LStatus CMemoryRegistry::RegOpenKeyExW(HKey parent, std::u16string_view subKey,
                                       std::uint32_t options, RegSam samDesired, HKey* result) {
    std::lock_guard lock(mutex_);
    return OpenOrCreate(parent, subKey, options & RegOptionOpenLink, samDesired, nullptr, result,
                        nullptr);
}

LStatus CMemoryRegistry::RegCreateKeyExW(HKey parent, std::u16string_view subKey,
                                         std::u16string_view className, std::uint32_t options,
                                         RegSam samDesired, HKey* result,
                                         std::uint32_t* disposition) {
    std::lock_guard lock(mutex_);
    const CreateRequest request{className, options};
    return OpenOrCreate(parent, subKey, options, samDesired, &request, result, disposition);
}

LStatus CMemoryRegistry::RegCloseKey(HKey key) {
    std::lock_guard lock(mutex_);
    if (IsPredefinedKey(key)) {
        return ErrorSuccess;
    }
    return handles_.erase(static_cast<std::uint32_t>(key)) == 1 ? ErrorSuccess : ErrorInvalidHandle;
}

}  // namespace quillary
