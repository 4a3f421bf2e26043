#include "core/fragment_matcher.h"

#include <algorithm>
#include <deque>

namespace quillary {

CFragmentMatcher::CFragmentMatcher(std::span<const std::u16string> fragments) : nodes_(1) {
    rootChildren_.fill(-1);
    for (const std::u16string& fragment : fragments)
        AddFragment(fragment);
    LinkFallbacks();
}

std::int32_t CFragmentMatcher::Child(std::int32_t node, char16_t unit) const {
    if (node == 0 && unit < rootChildren_.size())
        return rootChildren_[unit];
    const auto& next = nodes_[static_cast<std::size_t>(node)].next;
    const auto it = std::lower_bound(next.begin(), next.end(), unit,
                                     [](const auto& edge, char16_t u) { return edge.first < u; });
    return it != next.end() && it->first == unit ? it->second : -1;
}

std::int32_t CFragmentMatcher::Step(std::int32_t node, char16_t unit) const {
    for (;;) {
        if (const std::int32_t child = Child(node, unit); child >= 0)
            return child;
        if (node == 0)
            return 0;
        node = nodes_[static_cast<std::size_t>(node)].fallback;
    }
}

void CFragmentMatcher::AddFragment(std::u16string_view fragment) {
    std::int32_t node = 0;
    for (char16_t unit : fragment) {
        std::int32_t child = Child(node, unit);
        if (child < 0) {
            child = static_cast<std::int32_t>(nodes_.size());
            auto& next = nodes_[static_cast<std::size_t>(node)].next;
            next.insert(std::upper_bound(next.begin(), next.end(), std::pair(unit, child)),
                        std::pair(unit, child));
            nodes_.emplace_back();
            if (node == 0 && unit < rootChildren_.size())
                rootChildren_[unit] = child;
        }
        node = child;
    }
    nodes_[static_cast<std::size_t>(node)].endsFragment = true;
}

void CFragmentMatcher::LinkFallbacks() {
    // Breadth first, so that a node's fallback is settled before its children need it.
    std::deque<std::int32_t> queue;
    for (const auto& [unit, child] : nodes_.front().next)
        queue.push_back(child);
    while (!queue.empty()) {
        const std::int32_t node = queue.front();
        queue.pop_front();
        for (const auto& [unit, child] : nodes_[static_cast<std::size_t>(node)].next) {
            Node& childNode = nodes_[static_cast<std::size_t>(child)];
            childNode.fallback = Step(nodes_[static_cast<std::size_t>(node)].fallback, unit);
            childNode.endsFragment |=
                nodes_[static_cast<std::size_t>(childNode.fallback)].endsFragment;
            queue.push_back(child);
        }
    }
}

CFragmentMatcher::State CFragmentMatcher::Start() const {
    // No fragments at all: nothing is ever found.
    return State{0, !nodes_.empty() && nodes_.front().endsFragment};
}

CFragmentMatcher::State CFragmentMatcher::Continue(State state, std::u16string_view text) const {
    if (state.found || nodes_.empty())
        return state;
    for (char16_t unit : text) {
        state.node = Step(state.node, unit);
        if (nodes_[static_cast<std::size_t>(state.node)].endsFragment) {
            state.found = true;
            return state;
        }
    }
    return state;
}

}  // namespace quillary
