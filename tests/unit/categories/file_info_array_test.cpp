#include "categories/file_info_array.h"

#include <gtest/gtest.h>

#include "start_fixture.h"

namespace quillary {
namespace {

std::vector<std::u16string> PathsOf(const CFileInfoArray& array) {
    std::vector<std::u16string> paths;
    for (const CFileInfo& file : array.Files())
        paths.push_back(file.path);
    return paths;
}

TEST(FileInfoArrayTest, SubFoldersComeBeforeAFoldersOwnFilesDepthFirst) {
    testing::CStartFixture fixture("");
    for (std::u16string_view path : {u"C:\\menu\\b.lnk", u"C:\\menu\\a.lnk", u"C:\\menu\\a.txt",
                                     u"C:\\menu\\Zeta\\z.lnk", u"C:\\menu\\Alpha\\Deep\\d.lnk",
                                     u"C:\\menu\\Alpha\\x.lnk", u"C:\\menu\\Folder.lnk\\f.lnk"}) {
        fixture.MakeFile(path);
    }
    CFileInfoArray array(fixture.Files());

    EXPECT_EQ(array.AddFolderFiles(u"C:\\menu\\", u"*.lnk"), 6);

    // A folder whose name matches the mask is searched, never listed as a file.
    std::vector<std::u16string> expected = {
        u"C:\\menu\\Alpha\\Deep\\d.lnk", u"C:\\menu\\Alpha\\x.lnk", u"C:\\menu\\Folder.lnk\\f.lnk",
        u"C:\\menu\\Zeta\\z.lnk",        u"C:\\menu\\a.lnk",        u"C:\\menu\\b.lnk",
    };
    EXPECT_EQ(PathsOf(array), expected);
    EXPECT_EQ(array.AddFolderFiles(u"C:\\missing\\", u"*.lnk"), 0);
    EXPECT_EQ(array.Files().size(), 6u);
}

TEST(FileInfoArrayTest, FolderLinksBelowTheStartAreNotEntered) {
    testing::CStartFixture fixture("");
    fixture.MakeFile(u"C:\\menu\\own.lnk");
    fixture.MakeFile(u"C:\\elsewhere\\other.lnk");
    std::filesystem::create_symlink(fixture.UnixPath(u"C:\\menu"),
                                    fixture.UnixPath(u"C:\\menu\\loop"));
    std::filesystem::create_symlink(fixture.UnixPath(u"C:\\elsewhere"),
                                    fixture.UnixPath(u"C:\\menu\\away"));
    CFileInfoArray array(fixture.Files());

    EXPECT_EQ(array.AddFolderFiles(u"C:\\menu\\", u"*.lnk"), 1);
    EXPECT_EQ(PathsOf(array), std::vector<std::u16string>{u"C:\\menu\\own.lnk"});
}

}  // namespace
}  // namespace quillary
