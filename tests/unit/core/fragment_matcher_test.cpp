#include "core/fragment_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillary {
namespace {

struct MatchCase {
    std::vector<std::u16string> fragments;
    std::u16string text;
    bool found;
};

class FragmentMatcherTest : public testing::TestWithParam<MatchCase> {};

TEST_P(FragmentMatcherTest, AgreesWithASearchForEachFragment) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(CFragmentMatcher(c.fragments).FoundIn(c.text), c.found);
    // The plain way: one search per fragment.
    bool expected = false;
    for (const std::u16string& fragment : c.fragments)
        expected |= c.text.find(fragment) != std::u16string::npos;
    EXPECT_EQ(expected, c.found);
}

TEST_P(FragmentMatcherTest, MatchingInTwoPartsAgreesAtEverySplit) {
    const MatchCase& c = GetParam();
    const CFragmentMatcher matcher(c.fragments);
    const std::u16string_view text = c.text;
    for (std::size_t split = 0; split <= text.size(); ++split) {
        SCOPED_TRACE(split);
        const CFragmentMatcher::State left =
            matcher.Continue(matcher.Start(), text.substr(0, split));
        EXPECT_EQ(matcher.Continue(left, text.substr(split)).found, c.found);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FragmentMatcherTest,
    testing::Values(
        MatchCase{{}, u"anything", false}, MatchCase{{u""}, u"", true},
        MatchCase{{u"abc"}, u"", false}, MatchCase{{u"abc"}, u"xxabcxx", true},
        MatchCase{{u"abc"}, u"ababab", false},
        // A failed longer fragment must hand over to a shorter one inside it.
        MatchCase{{u"abcd", u"bc"}, u"abce", true}, MatchCase{{u"abcd", u"bcx"}, u"abcx", true},
        // Only a suffix reached through the fallback chain ends a fragment.
        MatchCase{{u"he", u"she", u"hers"}, u"ushers", true}, MatchCase{{u"aab"}, u"aaab", true},
        MatchCase{{u"\\system32\\", u"\\syswow64\\"}, u"c:\\windows\\syswow64\\x.dll", true},
        MatchCase{{u"\\system32\\"}, u"c:\\windows\\system3\\x.dll", false},
        MatchCase{{u"\u00e9t\u00e9", u"\U0001f600"}, u"summer \U0001f600", true}));

}  // namespace
}  // namespace quillary
