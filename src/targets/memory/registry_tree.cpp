#include "targets/memory/registry_tree.h"

#include <algorithm>

#include "core/text_case.h"

namespace quillary {

namespace {

// The unit as the given order compares it. ASCII is mapped here, without the case table,
// because nearly every name is ASCII.
char16_t FoldForOrder(char16_t ch, KeyOrder order) {
    if (ch < 0x80) {
        if (order == KeyOrder::UpperCase) {
            return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 0x20) : ch;
        }
        return ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch + 0x20) : ch;
    }
    return order == KeyOrder::UpperCase ? ToUpperInvariant(ch) : ToLowerInvariant(ch);
}

}  // namespace

int CompareKeyNames(std::u16string_view a, std::u16string_view b, KeyOrder order) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        const char16_t x = FoldForOrder(a[i], order);
        const char16_t y = FoldForOrder(b[i], order);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool KeyNamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareKeyNames(a, b, KeyOrder::UpperCase) == 0;
}

CRegistryNode::CRegistryNode(std::u16string name, KeyOrder order, bool sortValues)
    : order_(order), sortValues_(sortValues), name_(std::move(name)) {}

CRegistryNode::~CRegistryNode() {
    // Each key this one alone holds gives up its children to the list before it goes, so
    // every destructor that runs here finds no children of its own.
    std::vector<std::shared_ptr<CRegistryNode>> pending = std::move(children_);
    while (!pending.empty()) {
        std::shared_ptr<CRegistryNode> node = std::move(pending.back());
        pending.pop_back();
        node->parent_ = nullptr;
        if (node.use_count() == 1) {
            for (auto& child : node->children_) {
                pending.push_back(std::move(child));
            }
            node->children_.clear();
        }
    }
}

std::size_t CRegistryNode::LowerBound(std::u16string_view name) const {
    // Loaders add keys in order: a name after the last child needs no search.
    if (children_.empty() || CompareKeyNames(children_.back()->name_, name, order_) < 0) {
        return children_.size();
    }
    const auto it = std::lower_bound(
        children_.begin(), children_.end(), name,
        [this](const std::shared_ptr<CRegistryNode>& child, std::u16string_view wanted) {
            return CompareKeyNames(child->name_, wanted, order_) < 0;
        });
    return static_cast<std::size_t>(it - children_.begin());
}

CRegistryNode* CRegistryNode::FindChild(std::u16string_view name) const {
    return FindChildShared(name).get();
}

std::shared_ptr<CRegistryNode> CRegistryNode::FindChildShared(std::u16string_view name) const {
    const std::size_t index = LowerBound(name);
    if (index < children_.size() && KeyNamesEqual(children_[index]->name_, name)) {
        return children_[index];
    }
    return nullptr;
}

CRegistryNode* CRegistryNode::AddChild(std::u16string_view name) {
    const std::size_t index = LowerBound(name);
    auto child = std::make_shared<CRegistryNode>(std::u16string(name), order_, sortValues_);
    child->parent_ = this;
    children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), child);
    return child.get();
}

void CRegistryNode::RemoveChild(std::u16string_view name) {
    const std::size_t index = LowerBound(name);
    if (index < children_.size() && KeyNamesEqual(children_[index]->name_, name)) {
        children_[index]->MarkDeleted();
        children_[index]->parent_ = nullptr;
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void CRegistryNode::MarkDeleted() {
    std::vector<CRegistryNode*> pending = {this};
    while (!pending.empty()) {
        CRegistryNode* node = pending.back();
        pending.pop_back();
        node->deleted_ = true;
        for (const auto& child : node->children_) {
            pending.push_back(child.get());
        }
    }
}

std::size_t CRegistryNode::ValuePosition(std::u16string_view name, bool* found) const {
    if (sortValues_) {
        if (values_.empty() || CompareKeyNames(values_.back().name, name, order_) < 0) {
            *found = false;
            return values_.size();
        }
        const auto it = std::lower_bound(values_.begin(), values_.end(), name,
                                         [this](const RegValue& value, std::u16string_view wanted) {
                                             return CompareKeyNames(value.name, wanted, order_) < 0;
                                         });
        *found = it != values_.end() && KeyNamesEqual(it->name, name);
        return static_cast<std::size_t>(it - values_.begin());
    }
    const auto it = std::find_if(values_.begin(), values_.end(), [&](const RegValue& value) {
        return KeyNamesEqual(value.name, name);
    });
    *found = it != values_.end();
    return static_cast<std::size_t>(it - values_.begin());
}

const RegValue* CRegistryNode::FindValue(std::u16string_view name) const {
    bool found = false;
    const std::size_t position = ValuePosition(name, &found);
    return found ? &values_[position] : nullptr;
}

void CRegistryNode::SetValue(std::u16string_view name, RegType type,
                             std::vector<std::uint8_t> data) {
    bool found = false;
    const std::size_t position = ValuePosition(name, &found);
    if (found) {
        values_[position].type = type;
        values_[position].data = std::move(data);
        return;
    }
    values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(position),
                   RegValue{std::u16string(name), type, std::move(data)});
}

bool CRegistryNode::DeleteValue(std::u16string_view name) {
    bool found = false;
    const std::size_t position = ValuePosition(name, &found);
    if (!found) {
        return false;
    }
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
    return true;
}

void CRegistryNode::ReserveValues(std::size_t count) {
    values_.reserve(values_.size() + count);
}

std::u16string CRegistryNode::Path() const {
    std::vector<const CRegistryNode*> chain;
    for (const CRegistryNode* node = this; node != nullptr; node = node->parent_) {
        chain.push_back(node);
    }
    std::u16string path;
    std::reverse(chain.begin(), chain.end());
    for (const CRegistryNode* node : chain) {
        // The tree's root has an empty name and adds no separator.
        if (!path.empty()) {
            path += u'\\';
        }
        path += node->name_;
    }
    return path;
}

}  // namespace quillary
