#include "targets/posix/windows_environment.h"

#include <gtest/gtest.h>

namespace quillary {
namespace {

TEST(WindowsEnvironmentTest, ExpandsLikeWindows) {
    CWindowsEnvironment environment;
    environment.Set(u"SystemRoot", u"C:\\windows");
    environment.Set(u"BAR", u"bar");
    struct {
        std::u16string_view text;
        std::u16string_view expected;
    } cases[] = {
        {u"%SystemRoot%\\system32", u"C:\\windows\\system32"},
        {u"%systemroot%", u"C:\\windows"},  // names ignore case
        {u"%FOO%", u"%FOO%"},               // undefined names stay
        // The closing '%' of an undefined name opens the next one.
        {u"%FOO%BAR%", u"%FOObar"},
        {u"%FOO%X%", u"%FOO%X%"},
        {u"%%", u"%%"},
        {u"100%", u"100%"},
        {u"%windir", u"%windir"},
        {u"a%BAR%b%BAR%c", u"abarbbarc"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(environment.Expand(c.text), c.expected);
    }
}

TEST(WindowsEnvironmentTest, NamesKeepTheirFirstSpellingAndEmptyValuesRemove) {
    CWindowsEnvironment environment;
    environment.Set(u"Path", u"C:\\a");
    environment.Set(u"PATH", u"C:\\a;;  ;C:\\b ;");
    EXPECT_EQ(environment.Get(u"path"), u"C:\\a;;  ;C:\\b ;");
    EXPECT_EQ(environment.PathFolders(), (std::vector<std::u16string>{u"C:\\a", u"C:\\b"}));
    environment.Set(u"path", u"");
    EXPECT_FALSE(environment.Get(u"PATH"));
    EXPECT_TRUE(environment.PathFolders().empty());
}

}  // namespace
}  // namespace quillary
