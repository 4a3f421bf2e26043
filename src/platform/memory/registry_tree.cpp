#include "platform/memory/registry_tree.h"

#include <algorithm>

#include "core/text.h"

namespace quillary {

int CompareKeyNames(std::u16string_view a, std::u16string_view b, KeyOrder order) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t x =
            order == KeyOrder::UpperCase ? ToUpperInvariant(a[i]) : ToLowerInvariant(a[i]);
        const char16_t y =
            order == KeyOrder::UpperCase ? ToUpperInvariant(b[i]) : ToLowerInvariant(b[i]);
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

CRegistryNode::CRegistryNode(std::u16string name, KeyOrder order)
    : name_(std::move(name)), order_(order) {}

std::size_t CRegistryNode::LowerBound(std::u16string_view name) const {
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
    auto child = std::make_shared<CRegistryNode>(std::u16string(name), order_);
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
    deleted_ = true;
    for (const auto& child : children_) {
        child->MarkDeleted();
    }
}

const RegValue* CRegistryNode::FindValue(std::u16string_view name) const {
    for (const RegValue& value : values_) {
        if (KeyNamesEqual(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

void CRegistryNode::SetValue(std::u16string_view name, RegType type,
                             std::vector<std::uint8_t> data) {
    for (RegValue& value : values_) {
        if (KeyNamesEqual(value.name, name)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    }
    values_.push_back(RegValue{std::u16string(name), type, std::move(data)});
}

bool CRegistryNode::DeleteValue(std::u16string_view name) {
    const auto it = std::find_if(values_.begin(), values_.end(), [&](const RegValue& value) {
        return KeyNamesEqual(value.name, name);
    });
    if (it == values_.end()) {
        return false;
    }
    values_.erase(it);
    return true;
}

std::u16string CRegistryNode::Path() const {
    if (parent_ == nullptr) {
        return name_;
    }
    std::u16string parentPath = parent_->Path();
    if (parentPath.empty()) {
        return name_;
    }
    return parentPath + u'\\' + name_;
}

}  // namespace quillary
