#include "targets/memory/memory_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/text.h"
#include "targets/memory/reg_text.h"

namespace quillary {
namespace {

constexpr int kMaxLinkDepth = 16;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::u16string_view kWow6432Node = u"Wow6432Node";
constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

// Splits a sub-key path at its backslashes. A leading backslash or an empty component in the
// middle is a bad path; one trailing backslash is tolerated.
LStatus SplitSubKey(std::u16string_view subKey, std::vector<std::u16string_view>* components) {
    components->clear();
    if (subKey.empty()) {
        return ErrorSuccess;
    }
    if (subKey.front() == u'\\') {
        return ErrorBadPathname;
    }
    if (subKey.back() == u'\\') {
        subKey.remove_suffix(1);
    }
    for (;;) {
        const std::size_t cut = subKey.find(u'\\');
        const std::u16string_view component = subKey.substr(0, cut);
        if (component.empty()) {
            return ErrorBadPathname;
        }
        components->push_back(component);
        if (cut == std::u16string_view::npos) {
            return ErrorSuccess;
        }
        subKey.remove_prefix(cut + 1);
    }
}

std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
    std::vector<std::u16string_view> components;
    while (!path.empty()) {
        const std::size_t cut = path.find(u'\\');
        if (cut != 0) {
            components.push_back(path.substr(0, cut));
        }
        if (cut == std::u16string_view::npos) {
            break;
        }
        path.remove_prefix(cut + 1);
    }
    return components;
}

// How deep a new subkey of parent lies below the root of its hive: the machine's key, or a
// user's key below User, which lie at depth 0.
std::size_t DepthOfNewSubkey(const CRegistryNode& parent) {
    std::size_t depth = 1;  // the levels from the new key up to Machine or User
    const CRegistryNode* top = &parent;
    while (top->Parent() != nullptr && top->Parent()->Parent() != nullptr) {
        top = top->Parent();
        ++depth;
    }
    return KeyNamesEqual(top->Name(), u"User") ? depth - 1 : depth;
}

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

std::filesystem::path HostPath(std::u16string_view file) {
    const std::string utf8 = Utf16ToUtf8(file);
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Writes a new file; fails when it exists already.
LStatus WriteNewFile(std::u16string_view file, const std::string& contents) {
    const std::filesystem::path path = HostPath(file);
    std::FILE* stream = std::fopen(path.c_str(), "wbx");
    if (stream == nullptr) {
        return std::filesystem::exists(path) ? ErrorAlreadyExists : ErrorAccessDenied;
    }
    const bool written =
        std::fwrite(contents.data(), 1, contents.size(), stream) == contents.size();
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        std::filesystem::remove(path);
        return ErrorWriteProtect;
    }
    return ErrorSuccess;
}

LStatus ReadRegTextFile(std::u16string_view file, RegTextDocument* document) {
    std::ifstream stream(HostPath(file), std::ios::binary);
    if (!stream) {
        return ErrorFileNotFound;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    *document = ParseRegText(contents.str());
    return document->errors.empty() ? ErrorSuccess : ErrorBadDatabase;
}

}  // namespace

struct CMemoryRegistry::Handle {
    std::shared_ptr<CRegistryNode> node;      // the key; in a merged view, the machine's version
    std::shared_ptr<CRegistryNode> userNode;  // in a merged view, the user's version
    bool merged = false;
    RegSam access = KeyAllAccess;
    std::uint64_t mergedGeneration = ~std::uint64_t{0};
    std::vector<CRegistryNode*> mergedChildren;

    // The version that reads and writes reach: the user's when the user has the key.
    const std::shared_ptr<CRegistryNode>& Primary() const { return userNode ? userNode : node; }
};

// Where a walk begins: a key of the tree and components to walk before the caller's.
struct CMemoryRegistry::Start {
    std::shared_ptr<CRegistryNode> node;
    std::vector<std::u16string_view> prefix;
};

struct CMemoryRegistry::Walk {
    std::shared_ptr<CRegistryNode> node;
    bool created = false;
};

struct CreateRequest {
    std::u16string_view className;
    std::uint32_t options = 0;
};

struct CMemoryRegistry::PendingReplacement {
    std::u16string path;
    std::u16string newFile;
    std::u16string oldFile;
};

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

// --- walking ---------------------------------------------------------------------------------

std::shared_ptr<CRegistryNode> CMemoryRegistry::NodeAt(std::span<const std::u16string_view> path,
                                                       int depth,
                                                       std::vector<std::u16string_view>* walked) {
    std::shared_ptr<CRegistryNode> node = root_;
    walked->clear();
    for (std::u16string_view name : path) {
        std::shared_ptr<CRegistryNode> child = node->FindChildShared(name);
        if (!child) {
            return nullptr;
        }
        if (child->isLink) {
            if (FollowLink(*child, depth + 1, &child, walked) != ErrorSuccess) {
                return nullptr;
            }
        } else {
            walked->push_back(child->Name());
        }
        node = child;
    }
    return node;
}

LStatus CMemoryRegistry::FollowLink(const CRegistryNode& link, int depth,
                                    std::shared_ptr<CRegistryNode>* target,
                                    std::vector<std::u16string_view>* targetPath) {
    if (depth > kMaxLinkDepth) {
        return ErrorFileNotFound;
    }
    const RegValue* value = link.FindValue(kLinkValueName);
    if (value == nullptr || value->type != RegLink) {
        return ErrorFileNotFound;
    }
    const std::u16string text = FromUtf16LeBytes(value->data);
    // The target is a full path of the registry's namespace: \Registry\Machine\...
    std::vector<std::u16string_view> components = SplitPath(text);
    if (components.empty() || !EqualsNoCase(components.front(), u"Registry")) {
        return ErrorFileNotFound;
    }
    components.erase(components.begin());
    std::vector<std::u16string_view> walked;
    std::shared_ptr<CRegistryNode> node = NodeAt(components, depth, &walked);
    if (!node) {
        return ErrorFileNotFound;
    }
    // The views point into the tree's own names, which outlive the walk.
    *targetPath = std::move(walked);
    *target = std::move(node);
    return ErrorSuccess;
}

LStatus CMemoryRegistry::WalkPath(const Start& start,
                                  std::span<const std::u16string_view> components, RegSam view,
                                  bool openLinkAtEnd, const CreateRequest* create, Walk* walk) {
    // The names to walk: the start's own prefix, then the components.
    std::vector<std::u16string_view> joined;
    std::span<const std::u16string_view> all = components;
    if (!start.prefix.empty()) {
        joined = start.prefix;
        joined.insert(joined.end(), components.begin(), components.end());
        all = joined;
    }

    const bool view32 =
        options_.is64Bit && (view & KeyWow64_32Key) != 0 && (view & KeyWow64_64Key) == 0;
    // The names from the root to the current node, which only the 32-bit view's redirection
    // rule looks at.
    std::vector<std::u16string_view> walked;
    if (view32) {
        for (const CRegistryNode* node = start.node.get(); node != nullptr && node != root_.get();
             node = node->Parent()) {
            walked.push_back(node->Name());
        }
        std::reverse(walked.begin(), walked.end());
    }

    std::shared_ptr<CRegistryNode> node = start.node;
    walk->created = false;
    for (std::size_t i = 0;; ++i) {
        const std::span<const std::u16string_view> rest(all.data() + i, all.size() - i);
        if (view32 && node != root_ && options_.wow64Policy->Redirects(walked, rest, *node)) {
            std::shared_ptr<CRegistryNode> node32 = node->FindChildShared(kWow6432Node);
            if (!node32) {
                if (create == nullptr) {
                    return ErrorFileNotFound;
                }
                node32 = node->FindChildShared(node->AddChild(kWow6432Node)->Name());
                Touch(*node32);
                Touch(*node);
            }
            node = node32;
            walked.push_back(node->Name());
        }
        if (i == all.size()) {
            break;
        }
        const bool last = i + 1 == all.size();
        std::shared_ptr<CRegistryNode> child = node->FindChildShared(all[i]);
        if (!child) {
            if (create == nullptr) {
                return ErrorFileNotFound;
            }
            if (node->denial != AccessDenial::None) {
                return ErrorAccessDenied;
            }
            if (all[i].size() > options_.maxKeyNameLength) {
                return ErrorInvalidParameter;
            }
            // The depth of the last key to create is checked before the first is created, so
            // a path too deep creates nothing.
            if (DepthOfNewSubkey(*node) + (all.size() - i - 1) > kMaxRegistryKeyDepth) {
                return ErrorInvalidParameter;
            }
            const bool makeVolatile = (create->options & RegOptionVolatile) != 0;
            if (node->isVolatile && !makeVolatile) {
                return ErrorChildMustBeVolatile;
            }
            child = node->FindChildShared(node->AddChild(all[i])->Name());
            child->isVolatile = makeVolatile;
            if (last) {
                child->isLink = (create->options & RegOptionCreateLink) != 0;
                child->className = std::u16string(create->className);
                walk->created = true;
            }
            Touch(*child);
            Touch(*node);
        } else if (child->isLink && !(last && openLinkAtEnd)) {
            if (FollowLink(*child, 0, &child, &walked) != ErrorSuccess) {
                return ErrorFileNotFound;
            }
            node = child;
            continue;
        } else if (last && create != nullptr && (create->options & RegOptionCreateLink) != 0) {
            return ErrorAlreadyExists;
        }
        node = child;
        if (view32) {
            walked.push_back(node->Name());
        }
    }
    walk->node = std::move(node);
    return ErrorSuccess;
}

// --- handles ---------------------------------------------------------------------------------

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

// --- the registry functions ----------------------------------------------------------------

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

LStatus CMemoryRegistry::RegSaveKeyW(HKey key, std::u16string_view file) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyRead, &handle, &node); status != ErrorSuccess) {
        return status;
    }
    return WriteNewFile(file, FormatRegTree(*node));
}

LStatus CMemoryRegistry::RegReplaceKeyW(HKey key, std::u16string_view subKey,
                                        std::u16string_view newFile, std::u16string_view oldFile) {
    std::lock_guard lock(mutex_);
    HKey opened = HKey::None;
    if (const LStatus status = OpenOrCreate(key, subKey, 0, KeyRead, nullptr, &opened, nullptr);
        status != ErrorSuccess) {
        return status;
    }
    const std::u16string path = handles_.at(static_cast<std::uint32_t>(opened))->Primary()->Path();
    handles_.erase(static_cast<std::uint32_t>(opened));
    RegTextDocument document;
    if (const LStatus status = ReadRegTextFile(newFile, &document); status != ErrorSuccess) {
        return status;
    }
    pendingReplacements_.push_back(
        PendingReplacement{path, std::u16string(newFile), std::u16string(oldFile)});
    return ErrorSuccess;
}

LStatus CMemoryRegistry::ApplyPendingReplacements() {
    std::lock_guard lock(mutex_);
    std::vector<PendingReplacement> pending = std::move(pendingReplacements_);
    pendingReplacements_.clear();
    for (const PendingReplacement& replacement : pending) {
        std::vector<std::u16string_view> walked;
        const std::shared_ptr<CRegistryNode> node = NodeAt(SplitPath(replacement.path), 0, &walked);
        RegTextDocument document;
        if (!node) {
            return ErrorFileNotFound;
        }
        if (const LStatus status = ReadRegTextFile(replacement.newFile, &document);
            status != ErrorSuccess) {
            return status;
        }
        if (const LStatus status = WriteNewFile(replacement.oldFile, FormatRegTree(*node));
            status != ErrorSuccess) {
            return status;
        }
        while (node->ChildCount() > 0) {
            node->RemoveChild(node->ChildAt(0)->Name());
        }
        while (!node->Values().empty()) {
            node->DeleteValue(node->Values().front().name);
        }
        for (RegTextKey& key : document.keys) {
            CRegistryNode* target = node.get();
            for (std::u16string_view name : SplitPath(key.path)) {
                CRegistryNode* child = target->FindChild(name);
                target = child != nullptr ? child : target->AddChild(name);
                target->lastWriteTime = Now();
            }
            target->className = key.className;
            target->isLink = key.isLink;
            target->denial = key.denial;
            for (RegValue& value : key.values) {
                target->SetValue(value.name, value.type, std::move(value.data));
            }
        }
        Touch(*node);
    }
    return ErrorSuccess;
}

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
