#pragma once

// The pieces the source files of CMemoryRegistry share: the records of a handle and of a walk
// through the tree, and the parsing of key paths. Nothing outside the memory registry's own
// files includes this.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "targets/memory/memory_registry.h"
#include "targets/memory/registry_tree.h"

namespace quillary {

inline constexpr std::u16string_view kWow6432Node = u"Wow6432Node";
// The value of a symbolic link key that names its target.
inline constexpr std::u16string_view kLinkValueName = u"SymbolicLinkValue";

// Splits a sub-key path at its backslashes. A leading backslash or an empty component in the
// middle is a bad path; one trailing backslash is tolerated.
LStatus SplitSubKey(std::u16string_view subKey, std::vector<std::u16string_view>* components);

// Splits a path of the tree (User\S-1-5-...\Software) at its backslashes, skipping empty
// components.
std::vector<std::u16string_view> SplitTreePath(std::u16string_view path);

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

struct CMemoryRegistry::CreateRequest {
    std::u16string_view className;
    std::uint32_t options = 0;
};

struct CMemoryRegistry::PendingReplacement {
    std::u16string path;
    std::u16string newFile;
    std::u16string oldFile;
};

}  // namespace quillary
