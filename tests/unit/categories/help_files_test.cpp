#include "categories/help_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>

#include "start_fixture.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ProblemView;

constexpr std::u16string_view kHelp = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
constexpr std::u16string_view kHtmlHelp =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help";

ProblemView MissingHelp(std::u16string_view name, std::u16string_view folder,
                        bool is32BitEntry = false) {
    return {24,
            std::u16string(kHelp),
            std::u16string(name),
            std::u16string(folder),
            is32BitEntry,
            {u"Missing help file " + std::u16string(name)}};
}

ProblemView MissingHtmlHelp(std::u16string_view name, std::u16string_view folder,
                            bool is32BitEntry = false) {
    return {25,
            std::u16string(kHtmlHelp),
            std::u16string(name),
            std::u16string(folder),
            is32BitEntry,
            {u"Missing HTML help file " + std::u16string(name)}};
}

std::vector<ProblemView> Scan(CScanFixture& fixture) {
    CHelpFiles help(fixture.Environment());
    EXPECT_EQ(help.Scan(), CCategory::kScanDone);
    return testing::ProblemsOf(help);
}

TEST(HelpFilesTest, EachKindOfHelpValue) {
    // One value per case; reported rows give the problem's name and folder.
    struct {
        const char* why;
        std::string valueLine;
        std::optional<std::pair<std::u16string_view, std::u16string_view>> reported;
    } cases[] = {
        {"in its folder, named without a final backslash", R"("present.hlp"="C:\\Vendor")", {}},
        {"in its folder, named with one", R"("present.hlp"="C:\\Vendor\\")", {}},
        {"missing, the folder named without a final backslash",
         R"("gone.hlp"="C:\\Vendor")",
         {{u"gone.hlp", u"C:\\Vendor\\"}}},
        {"missing, the folder named with one",
         R"("gone.hlp"="C:\\Vendor\\")",
         {{u"gone.hlp", u"C:\\Vendor\\"}}},
        // Without a folder the name alone is tested, in the current folder (system32).
        {"no folder, in the current folder", R"("current.hlp"="")", {}},
        {"no folder, elsewhere only", R"("present.hlp"="")", {{u"present.hlp", u""}}},
        {"no folder, missing", R"("gone.hlp"="")", {{u"gone.hlp", u""}}},
        {"a folder that is not text", R"("gone.hlp"=dword:00000001)", {{u"gone.hlp", u""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help]\n" +
                             c.valueLine + "\n");
        fixture.MakeFile(u"C:\\Vendor\\present.hlp");
        fixture.MakeFile(u"C:\\windows\\system32\\current.hlp");

        std::vector<ProblemView> expected;
        if (c.reported)
            expected.push_back(MissingHelp(c.reported->first, c.reported->second));
        EXPECT_EQ(Scan(fixture), expected);
    }
}

TEST(HelpFilesTest, BothListsInBothViews) {
    CScanFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
        "both.hlp"="C:\\Vendor"
        "kept.hlp"="C:\\Vendor"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\HTML Help]
        "manual.chm"="C:\\Vendor\\Docs"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\Help]
        "both.hlp"="C:\\Vendor"
        "only32.hlp"="C:\\Vendor32"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\HTML Help]
        "guide.chm"="C:\\Vendor32\\"
    )");
    fixture.MakeFile(u"C:\\Vendor\\kept.hlp");
    CHelpFiles help(fixture.Environment());
    EXPECT_EQ(help.CountItems(), 6);
    EXPECT_EQ(help.Scan(), CCategory::kScanDone);
    std::vector<ProblemView> problems = testing::ProblemsOf(help);
    // Problems with the same first line come in any order.
    std::sort(problems.begin(), problems.end(), [](const ProblemView& a, const ProblemView& b) {
        return std::tie(a.details, a.is32BitEntry) < std::tie(b.details, b.is32BitEntry);
    });
    // The 32-bit view's list is a key of its own: the same entry in it is reported again.
    EXPECT_EQ(problems, (std::vector<ProblemView>{
                            MissingHtmlHelp(u"guide.chm", u"C:\\Vendor32\\", true),
                            MissingHtmlHelp(u"manual.chm", u"C:\\Vendor\\Docs\\"),
                            MissingHelp(u"both.hlp", u"C:\\Vendor\\"),
                            MissingHelp(u"both.hlp", u"C:\\Vendor\\", true),
                            MissingHelp(u"only32.hlp", u"C:\\Vendor32\\", true),
                        }));
}

TEST(HelpFilesTest, AListBothViewsReachIsReportedOnce) {
    CScanFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
        "gone.hlp"="C:\\Vendor"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\Help]
        #link=\Registry\Machine\SOFTWARE\Microsoft\Windows\Help
    )");
    EXPECT_EQ(Scan(fixture), (std::vector<ProblemView>{MissingHelp(u"gone.hlp", u"C:\\Vendor\\")}));
}

TEST(HelpFilesTest, OneViewOnA32BitSystem) {
    CScanFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
        "gone.hlp"="C:\\Vendor"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\HTML Help]
        "gone.chm"="C:\\Vendor"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\Help]
        "unread.hlp"="C:\\Vendor"
    )",
                         false);
    CHelpFiles help(fixture.Environment());
    EXPECT_EQ(help.CountItems(), 2);
    EXPECT_EQ(help.Scan(), CCategory::kScanDone);
    EXPECT_EQ(testing::ProblemsOf(help),
              (std::vector<ProblemView>{MissingHelp(u"gone.hlp", u"C:\\Vendor\\"),
                                        MissingHtmlHelp(u"gone.chm", u"C:\\Vendor\\")}));
}

TEST(HelpFilesTest, AStopEndsTheWalks) {
    const char* const registry = R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
        "zeta.hlp"="C:\\Gone"
        "alpha.hlp"="C:\\Gone"
        "beta.hlp"="C:\\Gone"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\HTML Help]
        "never.chm"="C:\\Gone"
    )";
    // A 64-bit system still puts what it found in order; a 32-bit one leaves it as found.
    struct {
        bool is64Bit;
        std::vector<ProblemView> expected;
    } cases[] = {
        {true, {MissingHelp(u"alpha.hlp", u"C:\\Gone\\"), MissingHelp(u"zeta.hlp", u"C:\\Gone\\")}},
        {false,
         {MissingHelp(u"zeta.hlp", u"C:\\Gone\\"), MissingHelp(u"alpha.hlp", u"C:\\Gone\\")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.is64Bit);
        CScanFixture fixture(registry, c.is64Bit);
        CManualResetEvent stop;
        testing::StopAtStatus observer(stop, u"Help file: alpha.hlp");
        CHelpFiles help(fixture.Environment());
        help.Attach(&stop, &observer, nullptr);
        EXPECT_EQ(help.Scan(), CCategory::kScanStopped);
        EXPECT_EQ(testing::ProblemsOf(help), c.expected);
    }
}

}  // namespace
}  // namespace quillary
