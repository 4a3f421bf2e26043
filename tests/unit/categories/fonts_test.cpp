#include "categories/fonts.h"

#include <gtest/gtest.h>

#include "start_fixture.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ProblemView;

constexpr std::u16string_view kFonts =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// The fonts folder is named without its final backslash, as the system gives it.
CScanFixture MakeFixture(std::string_view registryText, bool is64Bit = true) {
    return CScanFixture(registryText, testing::ScanFixtureOptions{
                                          .is64Bit = is64Bit,
                                          .specialFolders = {{CsidlFonts, u"C:\\windows\\Fonts"}}});
}

ProblemView MissingFont(std::u16string_view name, std::u16string_view data) {
    return {23,
            std::u16string(kFonts),
            std::u16string(name),
            std::u16string(data),
            false,
            {u"Missing font " + std::u16string(name)}};
}

TEST(FontsTest, EachKindOfFontValue) {
    struct {
        const char* why;
        std::string valueLine;
        bool reported;
        std::u16string_view data;
    } cases[] = {
        {"a bare name in the fonts folder", R"("F"="present.ttf")", false, u""},
        {"a bare name of another case", R"("F"="PRESENT.TTF")", false, u""},
        {"a bare name missing", R"("F"="gone.ttf")", true, u"gone.ttf"},
        // Found only if tested as written, not inside the fonts folder.
        {"a full path present", R"("F"="C:\\Shared\\elsewhere.ttf")", false, u""},
        {"a full path missing", R"("F"="C:\\Shared\\gone.ttf")", true, u"C:\\Shared\\gone.ttf"},
        {"an empty value", R"("F"="")", true, u""},
        // No safety list: every font file is judged by its existence alone.
        {"a missing path on the safety list", R"("F"="C:\\Microsoft Office\\gone.ttf")", true,
         u"C:\\Microsoft Office\\gone.ttf"},
        {"a number", R"("F"=dword:00000001)", false, u""},
        {"longer than the buffer", "\"F\"=\"" + std::string(260, 'x') + ".ttf\"", false, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture = MakeFixture(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]\n" +
            c.valueLine + "\n");
        fixture.MakeFile(u"C:\\windows\\Fonts\\present.ttf");
        fixture.MakeFile(u"C:\\Shared\\elsewhere.ttf");
        CFonts fonts(fixture.Environment());

        EXPECT_EQ(fonts.Scan(), CCategory::kScanDone);

        std::vector<ProblemView> expected;
        if (c.reported)
            expected.push_back(MissingFont(u"F", c.data));
        EXPECT_EQ(testing::ProblemsOf(fonts), expected);
    }
}

TEST(FontsTest, OnlyTheSixtyFourBitViewIsScanned) {
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
        "Zeta"="zeta.ttf"
        "Alpha"="C:\\Gone\\alpha.ttf"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows NT\CurrentVersion\Fonts]
        "Only32"="only32.ttf"
        "Another32"="another32.ttf"
        "Third32"="third32.ttf"
    )");
    CFonts fonts(fixture.Environment());
    EXPECT_EQ(fonts.CountItems(), 2);
    EXPECT_EQ(fonts.Scan(), CCategory::kScanDone);
    EXPECT_EQ(testing::ProblemsOf(fonts),
              (std::vector<ProblemView>{MissingFont(u"Alpha", u"C:\\Gone\\alpha.ttf"),
                                        MissingFont(u"Zeta", u"zeta.ttf")}));
}

TEST(FontsTest, WithoutAFontsKeyNothingIsFound) {
    CScanFixture fixture = MakeFixture("");
    CFonts fonts(fixture.Environment());
    EXPECT_EQ(fonts.CountItems(), 0);
    EXPECT_EQ(fonts.Scan(), CCategory::kScanDone);
    EXPECT_TRUE(fonts.Problems().empty());
}

TEST(FontsTest, AStopEndsTheWalkAtOnce) {
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
        "Zeta"="zeta.ttf"
        "Alpha"="alpha.ttf"
        "Beta"="beta.ttf"
    )");
    CManualResetEvent stop;
    testing::StopAtStatus observer(stop, u"Font: Alpha");
    CFonts fonts(fixture.Environment());
    fonts.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(fonts.Scan(), CCategory::kScanStopped);
    // The font being looked at when the stop came is finished; nothing after it is.
    EXPECT_EQ(testing::ProblemsOf(fonts),
              (std::vector<ProblemView>{MissingFont(u"Zeta", u"zeta.ttf"),
                                        MissingFont(u"Alpha", u"alpha.ttf")}));
}

}  // namespace
}  // namespace quillary
