#include "targets/posix/windows_path.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"

namespace quillary {
namespace {

std::string Describe(const WindowsPath& path) {
    std::u16string text = FormatWindowsPath(path.drive, path.components, path.components.size());
    if (path.endsWithSeparator)
        text += u"|dir";
    return Utf16ToUtf8(text);
}

TEST(WindowsPathTest, NormalizesAsWin32Does) {
    constexpr std::u16string_view kCurrent = u"C:\\windows\\system32";
    struct {
        std::u16string_view path;
        const char* expected;  // nullptr: rejected with error
        LStatus error;
    } cases[] = {
        {u"C:\\a\\b", "C:\\a\\b", ErrorSuccess},
        {u"c:/a//b/", "C:\\a\\b|dir", ErrorSuccess},
        {u"C:\\a\\..\\..\\b\\.\\c", "C:\\b\\c", ErrorSuccess},
        {u"C:\\a.\\notepad.exe. ", "C:\\a\\notepad.exe", ErrorSuccess},
        {u"\\\\?\\C:\\a", "C:\\a", ErrorSuccess},
        {u"C:", "C:\\", ErrorSuccess},
        {u"D:x", "D:\\x", ErrorSuccess},
        // Relative to the current folder and to its drive's root.
        {u"x.dll", "C:\\windows\\system32\\x.dll", ErrorSuccess},
        {u"..\\x.dll", "C:\\windows\\x.dll", ErrorSuccess},
        {u"\\x.dll", "C:\\x.dll", ErrorSuccess},
        // No drive maps network and device paths.
        {u"\\\\server\\share\\x", nullptr, ErrorBadNetPath},
        {u"//server/share", nullptr, ErrorBadNetPath},
        {u"\\\\.\\COM1", nullptr, ErrorBadNetPath},
        {u"", nullptr, ErrorPathNotFound},
        // Characters no Windows name may hold.
        {u"C:\\a*b", nullptr, ErrorInvalidName},
        {u"C:\\a\\b:stream", nullptr, ErrorInvalidName},
        {u"C:\\a<b\\c", nullptr, ErrorInvalidName},
        {u"C:\\a\x01", nullptr, ErrorInvalidName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        LStatus error = ErrorSuccess;
        std::optional<WindowsPath> parsed = ParseWindowsPath(c.path, kCurrent, false, &error);
        if (c.expected) {
            ASSERT_TRUE(parsed);
            EXPECT_EQ(Describe(*parsed), c.expected);
        } else {
            EXPECT_FALSE(parsed);
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(WindowsPathTest, WildcardsOnlyInTheLastNameOfAPattern) {
    EXPECT_TRUE(ParseWindowsPath(u"C:\\a\\*.lnk", u"C:\\", true, nullptr));
    EXPECT_FALSE(ParseWindowsPath(u"C:\\*\\x.lnk", u"C:\\", true, nullptr));
}

TEST(WindowsPathTest, MatchesFindPatterns) {
    struct {
        std::u16string_view pattern;
        std::u16string_view name;
        bool matches;
    } cases[] = {
        {u"*", u"anything.txt", true},      {u"*.*", u"no_dot", true},
        {u"*.LNK", u"Game.lnk", true},      {u"*.lnk", u"Game.lnk.txt", false},
        {u"?ame.lnk", u"Game.lnk", true},   {u"?ame.lnk", u"ame.lnk", false},
        {u"a*b*c", u"aXXbYYc", true},       {u"a*b*c", u"aXXbYY", false},
        {u"*.log", u".log", true},          {u"readme", u"README", true},
        {u"*\x00c9*", u"caf\x00e9!", true},  // Unicode names fold case too
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.pattern) + " / " + Utf16ToUtf8(c.name));
        EXPECT_EQ(MatchesFilePattern(c.pattern, c.name), c.matches);
    }
}

}  // namespace
}  // namespace quillary
