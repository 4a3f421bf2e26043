#include "targets/wine/prefix_file_scope.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/wine/prefix_file_system.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CTempFolder;

// The Windows path drive Z: gives a Unix path.
std::u16string ThroughDriveZ(const fs::path& unixPath) {
    std::u16string path = u"Z:" + Utf8ToUtf16(unixPath.native());
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

// A prefix beside a user's home: C: and D: lead to drive_c, Z: to the host's root, the
// Desktop of user u into the home, and a few links lead out of drive_c the way a user or an
// attacker could lay them.
class PrefixFileScopeTest : public ::testing::Test {
protected:
    PrefixFileScopeTest() {
        const fs::path& root = folder_.Path();
        folder_.MakeFolder("prefix/dosdevices");
        folder_.Write("prefix/user.reg");
        folder_.Write("prefix/drive_c/users/u/notes.txt");
        folder_.MakeFolder("prefix/drive_c/windows");
        folder_.Write("home/Desktop/b.lnk");
        folder_.Write("home/Desktop/sub/c.lnk");
        folder_.Write("home/secret.txt");
        folder_.Write("elsewhere/f");
        fs::create_directory_symlink("../drive_c", Prefix() / "dosdevices/c:");
        fs::create_directory_symlink("../drive_c", Prefix() / "dosdevices/d:");
        fs::create_directory_symlink("/", Prefix() / "dosdevices/z:");
        const fs::path user = Prefix() / "drive_c/users/u";
        fs::create_directory_symlink(root / "home/Desktop", user / "Desktop");
        // A profile link into the prefix but not into drive_c: to the registry files.
        fs::create_directory_symlink("../../..", user / "Music");
        fs::create_symlink(root / "home/secret.txt", user / "evil");
        fs::create_symlink(root / "elsewhere/missing", user / "dangling");
        fs::create_symlink("notes.txt", user / "alias.txt");
        fs::create_directory_symlink(root / "elsewhere", Prefix() / "drive_c/x");
        fs::create_directory_symlink(root / "home/Desktop", Prefix() / "drive_c/desk");
        registry_ = testing::MakeRegistry("");
        files_ = OpenPrefixFileSystem(Prefix(), *registry_, true);
    }

    fs::path Prefix() const { return folder_.Path() / "prefix"; }

    CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> registry_;
    std::unique_ptr<CMappedFileSystem> files_;
};

TEST_F(PrefixFileScopeTest, OnlyFilesOfDriveCAndDirectlyInProfileTargetsMayChange) {
    const CPrefixFileScope scope(Prefix(), *files_);
    const fs::path& root = folder_.Path();
    using enum FileScopeRefusal;
    struct {
        std::u16string path;
        FileScopeRefusal refusal;
    } cases[] = {
        // Inside drive_c, through a letter that leads to it.
        {u"C:\\users\\u\\notes.txt", None},
        {u"c:/USERS/U/NOTES.TXT", None},
        {u"D:\\users\\u\\notes.txt", None},
        {u"C:\\windows\\restored.lnk", None},  // written back by an undo
        {u"C:\\users\\u\\alias.txt", None},    // a link that stays in drive_c
        // The same places through the host's drive, or a letter nothing maps.
        {ThroughDriveZ(Prefix() / "drive_c/users/u/notes.txt"), ForeignDrive},
        {ThroughDriveZ(root / "home/Desktop/b.lnk"), ForeignDrive},
        {u"Y:\\notes.txt", ForeignDrive},
        // Directly in the folder the Desktop link leads to, and nowhere else there.
        {u"C:\\users\\u\\Desktop\\b.lnk", None},
        {u"C:\\users\\u\\Desktop\\B.LNK", None},
        // There only shortcuts are the prefix's: the link may lead to the home folder itself.
        {u"C:\\users\\u\\Desktop\\.profile", NotAShortcut},
        {u"C:\\users\\u\\Desktop\\notes.txt", NotAShortcut},
        {u"C:\\Users\\U\\desktop\\gone.lnk", None},
        {u"C:\\users\\u\\Desktop\\sub\\c.lnk", OutsideThePrefix},
        {u"C:\\users\\u\\Desktop\\sub\\new.lnk", OutsideThePrefix},
        {u"C:\\desk\\b.lnk", OutsideThePrefix},  // the same folder through another link
        {u"C:\\users\\u\\Music\\user.reg", OutsideThePrefix},
        // Links out of drive_c.
        {u"C:\\x\\f", OutsideThePrefix},
        {u"C:\\x\\new", OutsideThePrefix},
        {u"C:\\users\\u\\evil", LinkLeadsOut},
        {u"C:\\users\\u\\dangling", LinkLeadsOut},
        // Names that climb, however Win32 would fold them.
        {u"C:\\users\\u\\Desktop\\..\\..\\..\\..\\..\\home\\secret.txt", DotName},
        {u"C:\\users\\u\\Desktop\\..", DotName},
        {u"C:\\windows\\.", DotName},
        {u"C:\\windows\\...\\notes.txt", DotName},
        {u"C:\\windows\\. .\\notes.txt", DotName},
        // Not a full path to a file.
        {u"", NotADrivePath},
        {u"users\\u\\notes.txt", NotADrivePath},
        {u"\\users\\u\\notes.txt", NotADrivePath},
        {u"C:users\\u\\notes.txt", NotADrivePath},
        {u"\\\\server\\share\\b.lnk", NotADrivePath},
        {u"\\\\?\\Z:\\etc\\passwd", NotADrivePath},
        {u"C:\\", NotADrivePath},
        {u"C:\\users\\u\\", NotADrivePath},
        {u"C:\\users\\u\\b<.lnk", NotADrivePath},
        // No folder to hold it.
        {u"C:\\missing\\b.lnk", NoFolder},
        {u"C:\\users\\u\\notes.txt\\b.lnk", NoFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        EXPECT_EQ(scope.RefusalFor(c.path), c.refusal) << DescribeRefusal(scope.RefusalFor(c.path));
        EXPECT_EQ(scope.MayChange(c.path), c.refusal == None);
    }
}

// The links are read when the scope is made: a Desktop link that is pointed elsewhere later
// opens no door.
TEST_F(PrefixFileScopeTest, AProfileLinkRepointedAfterwardsIsRefused) {
    const CPrefixFileScope scope(Prefix(), *files_);
    const fs::path desktop = Prefix() / "drive_c/users/u/Desktop";
    fs::remove(desktop);
    fs::create_directory_symlink(folder_.Path() / "elsewhere", desktop);
    files_->ClearCache();
    EXPECT_EQ(scope.RefusalFor(u"C:\\users\\u\\Desktop\\f"), FileScopeRefusal::OutsideThePrefix);
}

TEST(PrefixFileScopeWithoutDriveCTest, NothingMayChange) {
    CTempFolder folder;
    folder.MakeFolder("dosdevices");
    folder.Write("host/f");
    fs::create_directory_symlink("../host", folder.Path() / "dosdevices/c:");
    auto registry = testing::MakeRegistry("");
    auto files = OpenPrefixFileSystem(folder.Path(), *registry, true);
    const CPrefixFileScope scope(folder.Path(), *files);
    EXPECT_EQ(scope.RefusalFor(u"C:\\f"), FileScopeRefusal::ForeignDrive);
}

}  // namespace
}  // namespace quillary
