#include "categories/start_menu.h"

#include <gtest/gtest.h>

#include "start_fixture.h"

namespace quillary {
namespace {

using testing::CStartFixture;
using testing::ProblemView;

constexpr std::u16string_view kCommonPrograms =
    u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
constexpr std::u16string_view kUserPrograms =
    u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
constexpr std::u16string_view kOrderKey =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
    u"Menu\\Programs";

// Both programs folders named where the system looks for them (the user's through the
// 32-bit view, which the user's hive shares).
constexpr std::string_view kShellFolders = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Programs"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Programs"="C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
)";

std::u16string At(std::u16string_view folder, std::u16string_view name) {
    return std::u16string(folder) + std::u16string(name);
}

class StartMenuTest : public ::testing::Test {
protected:
    StartMenuTest() {
        fixture_.MakeFolder(kCommonPrograms);
        fixture_.MakeFolder(kUserPrograms);
    }
    CStartFixture fixture_{kShellFolders};
};

TEST_F(StartMenuTest, OrderKeysOfMissingAndEmptyFolders) {
    testing::LoadRegistryText(fixture_.Registry(), R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Games]
"Order"=hex:08,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Larkspur]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Quartz Player]
"Order"=hex:08,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Quartz Player\Skins]
"Order"=hex:08,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs\Fernwood]
"Order"=hex:08,00
)");
    fixture_.MakeFolder(At(kUserPrograms, u"Larkspur"));
    fixture_.MakeFolder(At(kCommonPrograms, u"Quartz Player"));
    CStartMenu startMenu(fixture_.Environment(), fixture_.Links());
    testing::CProgressRecorder recorder;
    startMenu.Attach(nullptr, &recorder, nullptr);

    EXPECT_EQ(startMenu.Scan(), CCategory::kScanDone);

    // Four order keys at the top level make the four steps; the nested Skins key makes none.
    EXPECT_EQ(recorder.progress, (std::vector<int>{0, 25, 50, 75, 100, 100}));

    auto key = [](std::u16string_view below) {
        return std::u16string(kOrderKey) + u"\\" + std::u16string(below);
    };
    std::u16string menu2Key =
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
        u"Start Menu2\\Programs\\Fernwood";
    // Sorted by the first detail line: the empty key's text comes first.
    std::vector<ProblemView> expected = {
        {38,
         key(u"Larkspur"),
         u"",
         u"",
         false,
         {u"text of IDS_EMPTY_KEY_STARTMENU: Larkspur", u"Larkspur"}},
        {39,
         menu2Key,
         u"",
         u"",
         false,
         {u"text of IDS_INVALID_REF_STARTMENU: Fernwood", u"Fernwood"}},
        {39,
         key(u"Games"),
         u"",
         u"",
         false,
         {u"text of IDS_INVALID_REF_STARTMENU: Games", u"Games"}},
        {39,
         key(u"Quartz Player\\Skins"),
         u"",
         u"",
         false,
         {u"text of IDS_INVALID_REF_STARTMENU: Skins", u"Skins"}},
    };
    EXPECT_EQ(testing::ProblemsOf(startMenu), expected);
}

TEST_F(StartMenuTest, WithoutProgramsFoldersNoOrderKeyIsJudged) {
    CStartFixture fixture(R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Games]
"Order"=hex:08,00
)");
    CStartMenu startMenu(fixture.Environment(), fixture.Links());

    EXPECT_EQ(startMenu.Scan(), CCategory::kScanDone);
    EXPECT_TRUE(startMenu.Problems().empty());
}

TEST_F(StartMenuTest, ShortcutsWithTheirStartMenuFolder) {
    fixture_.MakeShortcut(At(kCommonPrograms, u"Quartz Player\\Quartz Visualizer.lnk"),
                          u"C:\\Program Files (x86)\\Quartz Player\\visualizer.exe");
    fixture_.MakeShortcut(At(kUserPrograms, u"Accessories\\System Tools\\Defrag.lnk"),
                          u"C:\\Tools\\defrag.exe");
    fixture_.MakeShortcut(At(kUserPrograms, u"Fernpad.lnk"), u"C:\\Fernwood\\fernpad.exe");
    fixture_.MakeFile(u"C:\\Program Files\\Larkspur\\larkspur.exe");
    fixture_.MakeShortcut(At(kUserPrograms, u"Larkspur\\Larkspur.lnk"),
                          u"C:\\Program Files\\Larkspur\\larkspur.exe");
    // A network target is not visited and counts as present.
    fixture_.MakeShortcut(At(kUserPrograms, u"Share.lnk"), u"\\\\server\\share\\tool.exe");
    CStartMenu startMenu(fixture_.Environment(), fixture_.Links());

    EXPECT_EQ(startMenu.CountItems(), 5);
    EXPECT_EQ(startMenu.Scan(), CCategory::kScanDone);

    std::vector<ProblemView> expected = {
        {40,
         u"",
         u"",
         u"",
         false,
         {u"Defrag", At(kUserPrograms, u"Accessories\\System Tools\\Defrag.lnk"),
          u"C:\\Tools\\defrag.exe", u"Accessories"}},
        {40,
         u"",
         u"",
         u"",
         false,
         {u"Fernpad", At(kUserPrograms, u"Fernpad.lnk"), u"C:\\Fernwood\\fernpad.exe",
          u"<Root folder>"}},
        {40,
         u"",
         u"",
         u"",
         false,
         {u"Quartz Visualizer", At(kCommonPrograms, u"Quartz Player\\Quartz Visualizer.lnk"),
          u"C:\\Program Files (x86)\\Quartz Player\\visualizer.exe", u"Quartz Player"}},
    };
    EXPECT_EQ(testing::ProblemsOf(startMenu), expected);
}

TEST_F(StartMenuTest, AShortcutThatCannotBeWrittenIsSkipped) {
    fixture_.MakeShortcut(At(kUserPrograms, u"Locked.lnk"), u"C:\\gone\\locked.exe");
    std::filesystem::permissions(fixture_.UnixPath(At(kUserPrograms, u"Locked.lnk")),
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::group_read |
                                     std::filesystem::perms::others_read);
    fixture_.MakeShortcut(At(kUserPrograms, u"Open.lnk"), u"C:\\gone\\open.exe");
    CStartMenu startMenu(fixture_.Environment(), fixture_.Links());
    testing::CProgressRecorder recorder;
    startMenu.Attach(nullptr, &recorder, nullptr);

    EXPECT_EQ(startMenu.Scan(), CCategory::kScanDone);

    // The locked shortcut counts towards the total but is neither read nor stepped over.
    ASSERT_EQ(startMenu.Problems().size(), 1u);
    EXPECT_EQ(startMenu.Problems()[0]->DetailLine(0), u"Open");
    EXPECT_EQ(fixture_.Links().asked, std::vector<std::u16string>{At(kUserPrograms, u"Open.lnk")});
    EXPECT_EQ(recorder.progress, (std::vector<int>{0, 50, 100}));
}

TEST(StartMenuFolderTest, TheFirstFolderBelowTheProgramsFolder) {
    struct {
        std::u16string_view programs;
        std::u16string_view shortcut;
        std::u16string_view folder;
    } cases[] = {
        {u"C:\\SM\\Programs\\", u"C:\\SM\\Programs\\a.lnk", u"<Root folder>"},
        {u"C:\\SM\\Programs\\", u"C:\\SM\\Programs\\Accessories\\System Tools\\a.lnk",
         u"Accessories"},
        // "\Programs\" earlier in the path, or in other letters, names nothing.
        {u"C:\\Programs\\SM\\Programs\\", u"C:\\Programs\\SM\\Programs\\a.lnk", u"<Root folder>"},
        {u"c:\\sm\\programs\\", u"c:\\sm\\programs\\Games\\a.lnk", u"Games"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.shortcut));
        EXPECT_EQ(CStartMenu::StartMenuFolderOf(c.programs, c.shortcut), c.folder);
    }
}

}  // namespace
}  // namespace quillary
