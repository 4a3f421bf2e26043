#include "categories/shortcuts.h"

#include <gtest/gtest.h>

#include "start_fixture.h"

namespace quillary {
namespace {

using testing::CStartFixture;
using testing::ProblemView;

constexpr std::u16string_view kDesktop = u"C:\\users\\demo\\Desktop\\";
constexpr std::u16string_view kRecent =
    u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\";

std::u16string At(std::u16string_view folder, std::u16string_view name) {
    return std::u16string(folder) + std::u16string(name);
}

TEST(ShortcutsTest, ReportsADesktopShortcutWhoseTargetIsGone) {
    CStartFixture fixture("");
    fixture.MakeShortcut(At(kDesktop, u"Fernpad.lnk"), u"C:\\Program Files\\Fernwood\\fernpad.exe");
    CShortcuts shortcuts(fixture.Environment(), fixture.Links());

    EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);

    // The folder part comes from the lower-cased folder lookup, the name as the disk has it.
    std::vector<ProblemView> expected = {
        {34,
         u"",
         u"",
         u"",
         false,
         {u"Fernpad", u"c:\\users\\demo\\desktop\\Fernpad.lnk",
          u"C:\\Program Files\\Fernwood\\fernpad.exe"}},
    };
    EXPECT_EQ(testing::ProblemsOf(shortcuts), expected);
    EXPECT_EQ(fixture.log.size(), 1u);
}

TEST(ShortcutsTest, TargetsThatAreNotJudgedOrStillThere) {
    struct {
        const char* why;
        std::u16string_view target;
        bool reported;
    } cases[] = {
        {"a missing program", u"C:\\Program Files\\Fernwood\\fernpad.exe", true},
        {"an existing program", u"C:\\Program Files\\Larkspur\\larkspur.exe", false},
        {"an existing folder", u"C:\\users\\demo\\Documents", false},
        {"a help centre link", u"hcp://services/centers/support", false},
        {"a help centre link in capitals", u"HCP://services/centers/support", false},
        {"a network path", u"\\\\server\\share\\gone.exe", false},
        {"a shell item by class", u"{645FF040-5081-101B-9F08-00AA002F954E}", false},
        {"an installer's cached icon", u"C:\\Windows\\Installer\\{AC76BA86-7AD7}\\icon.exe", false},
        {"an installer's cached icon, lower case", u"c:\\windows\\installer\\{ac76ba86}\\i.ico",
         false},
        {"on the safety list", u"C:\\Program Files\\Common Files\\Adobe\\gone.exe", false},
        {"unreadable shortcut", u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CStartFixture each("");
        each.MakeFile(u"C:\\Program Files\\Larkspur\\larkspur.exe");
        each.MakeFolder(u"C:\\users\\demo\\Documents");
        each.MakeShortcut(At(kDesktop, u"Link.lnk"), c.target);
        CShortcuts shortcuts(each.Environment(), each.Links());
        EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);
        EXPECT_EQ(shortcuts.Problems().size(), c.reported ? 1u : 0u);
    }
}

TEST(ShortcutsTest, LongShortcutPathsAreNotResolved) {
    CStartFixture fixture("");
    // kDesktop is 23 characters; names fill the path to exactly 225 and 226 characters.
    std::u16string fits = At(kDesktop, std::u16string(225 - kDesktop.size() - 4, u'a') + u".lnk");
    std::u16string tooLong =
        At(kDesktop, std::u16string(226 - kDesktop.size() - 4, u'b') + u".lnk");
    ASSERT_EQ(fits.size(), 225u);
    ASSERT_EQ(tooLong.size(), 226u);
    fixture.MakeShortcut(fits, u"C:\\gone\\a.exe");
    fixture.MakeShortcut(tooLong, u"C:\\gone\\b.exe");
    CShortcuts shortcuts(fixture.Environment(), fixture.Links());
    testing::CProgressRecorder recorder;
    shortcuts.Attach(nullptr, &recorder, nullptr);

    EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);

    // Both files count towards the total; only the one read makes a step.
    EXPECT_EQ(recorder.progress, (std::vector<int>{0, 50, 100}));
    ASSERT_EQ(recorder.status.size(), 1u);
    EXPECT_TRUE(recorder.status[0].starts_with(u"Shortcut: c:\\users\\demo\\desktop\\aaa"));

    ASSERT_EQ(fixture.Links().asked.size(), 1u);
    EXPECT_EQ(ToLower(fixture.Links().asked[0]), ToLower(fits));
    ASSERT_EQ(shortcuts.Problems().size(), 1u);
    EXPECT_EQ(shortcuts.Problems()[0]->DetailLine(2), u"C:\\gone\\a.exe");
}

TEST(ShortcutsTest, AFolderHoldingAnotherOfTheFoldersIsNotSearched) {
    // The desktop is redirected to the roaming folder, which holds the recent folder: the
    // desktop's own shortcuts are not searched, the recent folder's are.
    auto folders = testing::ProfileFolders();
    folders[CsidlDesktop] = u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows";
    CStartFixture fixture("", folders);
    fixture.MakeShortcut(u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Top.lnk",
                         u"C:\\gone\\top.exe");
    fixture.MakeShortcut(At(kRecent, u"letter.txt.lnk"), u"C:\\gone\\letter.txt");
    CShortcuts shortcuts(fixture.Environment(), fixture.Links());

    EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);

    ASSERT_EQ(shortcuts.Problems().size(), 1u);
    EXPECT_EQ(shortcuts.Problems()[0]->DetailLine(0), u"letter.txt");
}

TEST(ShortcutsTest, AFolderNamedTwiceIsSearchedOnce) {
    auto folders = testing::ProfileFolders();
    folders[CsidlCommonDesktopDirectory] = folders[CsidlDesktop];
    CStartFixture fixture("", folders);
    fixture.MakeShortcut(At(kDesktop, u"Fernpad.lnk"), u"C:\\gone\\fernpad.exe");
    CShortcuts shortcuts(fixture.Environment(), fixture.Links());

    EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);

    EXPECT_EQ(shortcuts.Problems().size(), 1u);
}

TEST(ShortcutsTest, SearchesSubFoldersAndStopsWhenAsked) {
    CStartFixture fixture("");
    fixture.MakeShortcut(At(kDesktop, u"Games\\Old\\Solitaire.lnk"), u"C:\\gone\\sol.exe");
    fixture.MakeShortcut(u"C:\\users\\Public\\Desktop\\Shared.lnk", u"C:\\gone\\shared.exe");
    fixture.MakeShortcut(u"C:\\users\\demo\\AppData\\Local\\Tool.lnk", u"C:\\gone\\tool.exe");
    fixture.MakeFile(At(kDesktop, u"notes.txt"));
    CShortcuts shortcuts(fixture.Environment(), fixture.Links());

    EXPECT_EQ(shortcuts.Scan(), CCategory::kScanDone);
    ASSERT_EQ(shortcuts.Problems().size(), 3u);
    // Sorted by the label, without regard to case.
    EXPECT_EQ(shortcuts.Problems()[0]->DetailLine(0), u"Shared");
    EXPECT_EQ(shortcuts.Problems()[1]->DetailLine(0), u"Solitaire");
    EXPECT_EQ(shortcuts.Problems()[2]->DetailLine(0), u"Tool");

    CManualResetEvent stop;
    stop.Set();
    CShortcuts stopped(fixture.Environment(), fixture.Links());
    stopped.Attach(&stop, nullptr, nullptr);
    EXPECT_EQ(stopped.Scan(), CCategory::kScanStopped);
    EXPECT_TRUE(stopped.Problems().empty());
}

}  // namespace
}  // namespace quillary
