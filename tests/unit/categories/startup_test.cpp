#include "categories/startup.h"

#include <gtest/gtest.h>

#include "start_fixture.h"

namespace quillary {
namespace {

using testing::CStartFixture;
using testing::ProblemView;

constexpr std::u16string_view kMachineRun =
    u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::u16string_view kUserRun =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(StartupTest, EachKindOfRunValue) {
    // One value per case in the user's Run key; the rows differ only in the value.
    struct {
        const char* why;
        std::string valueLine;
        bool reported;
        std::u16string_view data;
    } cases[] = {
        {"a missing program", R"("V"="C:\\Program Files\\Fernwood\\fernsync.exe")", true,
         u"C:\\Program Files\\Fernwood\\fernsync.exe"},
        {"a missing program with arguments", R"("V"="C:\\Fernwood\\sync.exe -minimized")", true,
         u"C:\\Fernwood\\sync.exe -minimized"},
        {"an existing program", R"("V"="\"C:\\Program Files\\Larkspur\\lkhelper.exe\" /tray")",
         false, u""},
        {"an empty text", R"("V"="")", true, u""},
        {"too short to name a program", R"("V"="   ")", false, u""},
        {"an expandable missing program", R"("V"=str(2):"%ProgramFiles%\\Gone\\gone.exe")", true,
         u"%ProgramFiles%\\Gone\\gone.exe"},
        {"a number", R"("V"=dword:00000001)", false, u""},
        {"an expandable existing program", R"("V"=str(2):"%ProgramFiles%\\Larkspur\\lkhelper.exe")",
         false, u""},
        {"binary data", R"("V"=hex:43,00,3a,00,00,00)", false, u""},
        {"an unterminated string", R"("V"=hex(1):43,00,3a,00)", false, u""},
        {"longer than the buffer", "\"V\"=\"C:\\\\" + std::string(300, 'x') + ".exe\"", false, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string text =
            "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n" +
            std::string(c.valueLine) + "\n";
        CStartFixture fixture(text);
        fixture.MakeFile(u"C:\\Program Files\\Larkspur\\lkhelper.exe");
        CStartup startup(fixture.Environment());

        EXPECT_EQ(startup.Scan(), CCategory::kScanDone);

        std::vector<ProblemView> expected;
        if (c.reported)
            expected.push_back(
                {41, std::u16string(kUserRun), u"V", std::u16string(c.data), false, {u"V"}});
        EXPECT_EQ(testing::ProblemsOf(startup), expected);
    }
}

TEST(StartupTest, MachineKeysInBothViewsAndTheSwitchedOffEntries) {
    CStartFixture fixture(R"(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"Native"="C:\\gone\\native.exe"
[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Wow"="C:\\gone\\wow.exe"
"Wow2"="C:\\gone\\wow2.exe"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run-]
"Off"="C:\\gone\\off.exe"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run-]
"UserOff"="C:\\gone\\useroff.exe"
)");
    CStartup startup(fixture.Environment());

    // The estimate counts the user's and the machine's Run values; the 64-bit count adds the
    // machine's 32-bit view.
    EXPECT_EQ(startup.CountItems(), 1);
    EXPECT_EQ(startup.Scan(), CCategory::kScanDone);

    std::vector<ProblemView> expected = {
        {41, std::u16string(kMachineRun), u"Native", u"C:\\gone\\native.exe", false, {u"Native"}},
        {41, std::u16string(kMachineRun) + u"-", u"Off", u"C:\\gone\\off.exe", false, {u"Off"}},
        {41,
         std::u16string(kUserRun) + u"-",
         u"UserOff",
         u"C:\\gone\\useroff.exe",
         false,
         {u"UserOff"}},
        {41, std::u16string(kMachineRun), u"Wow", u"C:\\gone\\wow.exe", true, {u"Wow"}},
        {41, std::u16string(kMachineRun), u"Wow2", u"C:\\gone\\wow2.exe", true, {u"Wow2"}},
    };
    EXPECT_EQ(testing::ProblemsOf(startup), expected);
}

TEST(StartupTest, AThirtyTwoBitSystemWalksTheMachineKeyOnce) {
    CStartFixture fixture(R"(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"Native"="C:\\gone\\native.exe"
)",
                          testing::ProfileFolders(), false);
    CStartup startup(fixture.Environment());

    EXPECT_EQ(startup.Scan(), CCategory::kScanDone);

    ASSERT_EQ(startup.Problems().size(), 1u);
    EXPECT_FALSE(startup.Problems()[0]->is32BitEntry);
}

}  // namespace
}  // namespace quillary
