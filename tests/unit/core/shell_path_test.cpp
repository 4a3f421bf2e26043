#include "core/shell_path.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {
namespace {

// Each row states the Windows behaviour the file-reference checks rely on.
TEST(ShellPathTest, PathGetArgsSkipsTheFirstArgumentOutsideQuotes) {
    struct {
        std::u16string_view line;
        std::u16string_view args;
    } cases[] = {
        {u"app.exe /s /x", u"/s /x"},
        {u"\"C:\\Program Files\\app.exe\" /s", u"/s"},  // a blank inside quotes is no break
        {u"app.exe", u""},
        {u"app.exe ", u""},
        {u"a  b", u" b"},  // only the first blank is skipped
        {u"\"unterminated quote /s", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.line));
        EXPECT_EQ(PathGetArgsW(c.line), c.args);
    }
}

TEST(ShellPathTest, SplitPathLikeTheCRuntime) {
    struct {
        std::u16string_view path;
        std::u16string_view drive, folder, name, extension;
    } cases[] = {
        {u"C:\\a\\b.dll", u"C:", u"\\a\\", u"b", u".dll"},
        {u"C:\\a\\b.tar.gz", u"C:", u"\\a\\", u"b.tar", u".gz"},
        {u"shell32.dll,-152", u"", u"", u"shell32", u".dll,-152"},
        {u"a/b/c", u"", u"a/b/", u"c", u""},
        {u"C:name.ext", u"C:", u"", u"name", u".ext"},
        {u"C:\\dir.d\\file", u"C:", u"\\dir.d\\", u"file", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        SplitPathParts parts = SplitPath(c.path);
        EXPECT_EQ(parts.drive, c.drive);
        EXPECT_EQ(parts.folder, c.folder);
        EXPECT_EQ(parts.name, c.name);
        EXPECT_EQ(parts.extension, c.extension);
    }
}

TEST(ShellPathTest, FileSpecsNetworkPathsAndQualifying) {
    EXPECT_TRUE(PathIsFileSpecW(u"notepad.exe"));
    EXPECT_TRUE(PathIsFileSpecW(u"dir/notepad.exe"));  // '/' does not count
    EXPECT_FALSE(PathIsFileSpecW(u"dir\\notepad.exe"));
    EXPECT_FALSE(PathIsFileSpecW(u"C:notepad.exe"));

    testing::CTempFolder folder;
    folder.Write("c/windows/system32/notepad.exe", "MZ");
    folder.MakeFolder("share");
    MappedFileSystemSetup setup;
    setup.drives = {{u'C', folder.Path() / "c", DriveFixed, {}},
                    {u'N', folder.Path() / "share", DriveRemote, {}}};
    CMappedFileSystem files(std::move(setup));

    EXPECT_TRUE(PathIsNetworkPathW(files, u"\\\\server\\share\\x.exe"));
    EXPECT_TRUE(PathIsNetworkPathW(files, u"n:\\x.exe"));
    EXPECT_FALSE(PathIsNetworkPathW(files, u"C:\\x.exe"));
    EXPECT_FALSE(PathIsNetworkPathW(files, u"x.exe"));

    EXPECT_TRUE(PathFileExistsW(files, u"c:\\WINDOWS\\system32\\Notepad.exe"));
    EXPECT_FALSE(PathFileExistsW(files, u""));

    // Found on the search path first, else made absolute against the current folder.
    EXPECT_EQ(PathSearchAndQualifyW(files, u"notepad.exe", 260),
              u"C:\\windows\\system32\\notepad.exe");
    EXPECT_EQ(PathSearchAndQualifyW(files, u"sub/x.exe", 260),
              u"C:\\windows\\system32\\sub\\x.exe");
    EXPECT_FALSE(PathSearchAndQualifyW(files, u"sub/x.exe", 10));
}

}  // namespace
}  // namespace quillary
