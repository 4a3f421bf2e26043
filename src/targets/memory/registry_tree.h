#pragma once

// The key tree behind the in-memory store: keys with their values, kept in the order a
// registry enumerates them. Names compare case-insensitively and keep the case they were
// created with.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace quillary {

// How subkeys are ordered. Windows hives sort by the upper-cased name; Wine sorts by the
// lower-cased name. The two differ for the characters between 'Z' and 'a' ("A_B" < "AB" in
// one, "AB" < "A_B" in the other).
enum class KeyOrder : std::uint8_t { UpperCase, LowerCase };

// A mark a test puts on a key to make it behave as if its security forbade access.
enum class AccessDenial : std::uint8_t {
    None,
    Write,  // opening for writing (or deleting) is denied; reading is allowed
    All,    // every open is denied
};

struct RegValue {
    std::u16string name;
    RegType type = RegNone;
    std::vector<std::uint8_t> data;
};

class CRegistryNode {
public:
    // With sortValues, values are kept in key order too (as Wine keeps them) instead of in
    // the order they were created (as Windows hives keep them).
    CRegistryNode(std::u16string name, KeyOrder order, bool sortValues = false);
    // Releases the keys below without recursing, so that a deep tree cannot exhaust the
    // stack. A key that someone else still holds outlives its parent, detached from it.
    ~CRegistryNode();
    CRegistryNode(const CRegistryNode&) = delete;
    CRegistryNode& operator=(const CRegistryNode&) = delete;

    const std::u16string& Name() const { return name_; }
    CRegistryNode* Parent() const { return parent_; }

    // --- subkeys (sorted; index access is what enumeration uses) ---
    std::size_t ChildCount() const { return children_.size(); }
    CRegistryNode* ChildAt(std::size_t index) const { return children_[index].get(); }
    std::shared_ptr<CRegistryNode> ChildShared(std::size_t index) const { return children_[index]; }
    CRegistryNode* FindChild(std::u16string_view name) const;
    std::shared_ptr<CRegistryNode> FindChildShared(std::u16string_view name) const;
    // Adds a new child; the name must not exist yet.
    CRegistryNode* AddChild(std::u16string_view name);
    // Detaches the child and marks it and everything below it deleted.
    void RemoveChild(std::u16string_view name);

    // --- values (in insertion or key order; replacing a value keeps its place) ---
    const std::vector<RegValue>& Values() const { return values_; }
    const RegValue* FindValue(std::u16string_view name) const;
    void SetValue(std::u16string_view name, RegType type, std::vector<std::uint8_t> data);
    bool DeleteValue(std::u16string_view name);
    // Makes room for count more values, so a loader that knows how many follow does not
    // leave spare room behind.
    void ReserveValues(std::size_t count);

    // --- properties ---
    std::u16string className;
    FileTime lastWriteTime = 0;
    AccessDenial denial = AccessDenial::None;
    bool isVolatile = false;
    bool isLink = false;  // created as a symbolic link: its SymbolicLinkValue names the target
    bool IsDeleted() const { return deleted_; }

    // The full path from the tree's root, components joined by backslashes.
    std::u16string Path() const;

private:
    std::size_t LowerBound(std::u16string_view name) const;
    std::size_t ValuePosition(std::u16string_view name, bool* found) const;
    void MarkDeleted();

    // The small members sit together after the public flags: a large registry holds millions
    // of nodes, and padding between them would cost a word each.
    KeyOrder order_;
    bool sortValues_;
    bool deleted_ = false;
    std::u16string name_;
    CRegistryNode* parent_ = nullptr;
    std::vector<std::shared_ptr<CRegistryNode>> children_;
    std::vector<RegValue> values_;
};

// Compares two key or value names the way the registry does, in the given order.
int CompareKeyNames(std::u16string_view a, std::u16string_view b, KeyOrder order);
bool KeyNamesEqual(std::u16string_view a, std::u16string_view b);

}  // namespace quillary
