// Walking the tree: key paths through the 32-bit and 64-bit views, symbolic links followed
// to their targets, and the keys a create makes on the way.

#include <algorithm>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "targets/memory/memory_registry.h"
#include "targets/memory/memory_registry_parts.h"

namespace quillary {
namespace {

constexpr int kMaxLinkDepth = 16;

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

}  // namespace

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

std::vector<std::u16string_view> SplitTreePath(std::u16string_view path) {
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
    std::vector<std::u16string_view> components = SplitTreePath(text);
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

}  // namespace quillary
