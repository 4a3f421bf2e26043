#pragma once

// Tells whether any of a fixed set of fragments occurs in a text, in one pass over the text
// however many fragments there are: the fragments form a trie whose nodes also know where
// to go on when the next unit does not continue a fragment (the automaton of Aho and
// Corasick). Units are compared exactly; callers that ignore case fold both sides first.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillary {

class CFragmentMatcher {
public:
    CFragmentMatcher() = default;
    explicit CFragmentMatcher(std::span<const std::u16string> fragments);

    // Where the matcher stands after some text: a text that grows by parts (a key path
    // extended by one name at a time) is matched part by part from the state its start left.
    struct State {
        std::int32_t node = 0;
        bool found = false;  // a fragment occurred in the text so far
    };
    // The state before any text.
    State Start() const;
    // The state after text has followed what state stands for.
    State Continue(State state, std::u16string_view text) const;

    // True when at least one fragment occurs in text; an empty fragment occurs in every text.
    bool FoundIn(std::u16string_view text) const { return Continue(Start(), text).found; }

private:
    struct Node {
        // Next node by unit, sorted by unit.
        std::vector<std::pair<char16_t, std::int32_t>> next;
        // The node of the longest proper suffix of this node's text that is in the trie.
        std::int32_t fallback = 0;
        // A fragment ends here, or at one of the suffixes the fallback chain leads to.
        bool endsFragment = false;
    };

    // The child of node for unit, or -1.
    std::int32_t Child(std::int32_t node, char16_t unit) const;
    // Where the automaton goes from node on unit.
    std::int32_t Step(std::int32_t node, char16_t unit) const;
    void AddFragment(std::u16string_view fragment);
    void LinkFallbacks();

    std::vector<Node> nodes_;
    // The root's children by ASCII unit (-1 for none): most units of a text lead back to the
    // root, so its step is a table look-up rather than a search.
    std::array<std::int32_t, 128> rootChildren_{};
};

}  // namespace quillary
