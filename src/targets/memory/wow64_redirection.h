#pragma once

// Where the 32-bit view of a 64-bit registry keeps its keys. A walk in the 32-bit view asks
// the policy, at every key it reaches, whether to go on inside that key's "Wow6432Node" child.

#include <span>
#include <string_view>

namespace quillary {

class CRegistryNode;

class IWow64Policy {
public:
    virtual ~IWow64Policy() = default;
    // path: the components walked so far from the tree's root (the last one is `node`);
    // rest: the components still to walk. True sends the walk into node's Wow6432Node child.
    virtual bool Redirects(std::span<const std::u16string_view> path,
                           std::span<const std::u16string_view> rest,
                           const CRegistryNode& node) const = 0;
};

// The redirection of 64-bit Windows 7 and later: HKLM\Software is redirected except for its
// shared keys; in the machine's and the user's Classes only CLSID, DirectShow, Interface,
// Media Type and MediaFoundation have separate 32-bit copies.
class CWindowsWow64Policy final : public IWow64Policy {
public:
    bool Redirects(std::span<const std::u16string_view> path,
                   std::span<const std::u16string_view> rest,
                   const CRegistryNode& node) const override;
};

}  // namespace quillary
