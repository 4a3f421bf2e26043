#include "categories/sounds.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "start_fixture.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ProblemView;

constexpr std::u16string_view kApps = u"HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps";

ProblemView MissingSound(std::u16string_view schemeKey, std::u16string_view sound,
                         std::u16string_view event, std::u16string_view application,
                         std::u16string_view schemeLabel) {
    return {37,
            std::u16string(kApps) + u"\\" + std::u16string(schemeKey),
            u"",
            std::u16string(sound),
            false,
            {u"Event " + std::u16string(event) + u" for the program " + std::u16string(application),
             std::u16string(schemeLabel)}};
}

TEST(SoundsTest, EachKindOfSoundValue) {
    struct {
        const char* why;
        std::string valueLine;
        bool reported;
        std::u16string_view data;
    } cases[] = {
        {"a bare name in the media folder", R"(@="ding.wav")", false, u""},
        // Found only if tested in the media folder, not in the current folder (system32).
        {"a bare name missing", R"(@="chord.wav")", true, u"chord.wav"},
        {"a path present", R"(@="C:\\Sounds\\here.wav")", false, u""},
        {"a path missing", R"(@="C:\\Sounds\\gone.wav")", true, u"C:\\Sounds\\gone.wav"},
        // Tested as reduced: without its quotes.
        {"a quoted path present", R"(@="\"C:\\Sounds\\here.wav\"")", false, u""},
        {"a quoted path missing", R"(@="\"C:\\Sounds\\gone.wav\"")", true,
         u"\"C:\\Sounds\\gone.wav\""},
        // The usual state of a silent scheme.
        {"an empty value", R"(@="")", false, u""},
        {"a number", R"(@=dword:00000001)", false, u""},
        {"longer than the buffer", "@=\"C:\\\\" + std::string(260, 'x') + ".wav\"", false, u""},
        // Prefer safety over count is on: a path on the safety list counts as fine.
        {"a missing path on the safety list", R"(@="C:\\Microsoft Office\\gone.wav")", false, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture(
            "[HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\App\\Ding\\.Current]\n" + c.valueLine +
            "\n");
        fixture.MakeFile(u"C:\\windows\\media\\ding.wav");
        fixture.MakeFile(u"C:\\windows\\system32\\chord.wav");
        fixture.MakeFile(u"C:\\Sounds\\here.wav");
        CSounds sounds(fixture.Environment());

        EXPECT_EQ(sounds.Scan(), CCategory::kScanDone);

        std::vector<ProblemView> expected;
        if (c.reported)
            expected.push_back(
                MissingSound(u"App\\Ding\\.Current", c.data, u"Ding", u"App", u"Current"));
        EXPECT_EQ(testing::ProblemsOf(sounds), expected);
    }
}

TEST(SoundsTest, EverySchemeOfAnEventIsReportedWithItsLabels) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\AppEvents\EventLabels\MailBeep]
        @="New Mail Notification"
        [HKEY_CURRENT_USER\AppEvents\EventLabels\Unlabelled]
        @=""
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default]
        @="Windows"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\MailBeep\.Current]
        @="C:\\Gone\\mail.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\MailBeep\.Default]
        @="C:\\Gone\\mail.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\.Default\MailBeep\.None]
        @="C:\\Gone\\mail.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Vendor]
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Vendor\Unlabelled\.Current]
        @="C:\\Gone\\a.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Vendor\NoLabelKey\.Default]
        @="C:\\Gone\\b.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Vendor\NoLabelKey\Other]
        @="C:\\Gone\\not-a-scheme.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Empty]
    )");
    CSounds sounds(fixture.Environment());
    EXPECT_EQ(sounds.CountItems(), 3);
    EXPECT_EQ(sounds.Scan(), CCategory::kScanDone);

    std::vector<ProblemView> problems = testing::ProblemsOf(sounds);
    // Problems with the same first line come in any order.
    std::sort(problems.begin(), problems.end(),
              [](const ProblemView& a, const ProblemView& b) { return a.key < b.key; });
    const std::u16string_view mail = u"New Mail Notification";
    EXPECT_EQ(problems, (std::vector<ProblemView>{
                            MissingSound(u".Default\\MailBeep\\.Current", u"C:\\Gone\\mail.wav",
                                         mail, u"Windows", u"Current"),
                            MissingSound(u".Default\\MailBeep\\.Default", u"C:\\Gone\\mail.wav",
                                         mail, u"Windows", u"Windows Default"),
                            MissingSound(u".Default\\MailBeep\\.None", u"C:\\Gone\\mail.wav", mail,
                                         u"Windows", u"No Sounds"),
                            // Labels that are empty or missing fall back to the key names.
                            MissingSound(u"Vendor\\NoLabelKey\\.Default", u"C:\\Gone\\b.wav",
                                         u"NoLabelKey", u"Vendor", u"Windows Default"),
                            MissingSound(u"Vendor\\Unlabelled\\.Current", u"C:\\Gone\\a.wav",
                                         u"Unlabelled", u"Vendor", u"Current"),
                        }));
}

TEST(SoundsTest, WithoutASchemeNothingIsFound) {
    CScanFixture fixture("");
    CSounds sounds(fixture.Environment());
    EXPECT_EQ(sounds.CountItems(), 0);
    EXPECT_EQ(sounds.Scan(), CCategory::kScanDone);
    EXPECT_TRUE(sounds.Problems().empty());
}

TEST(SoundsTest, AStopEndsTheScanBetweenApplications) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\First\Beep\.Current]
        @="C:\\Gone\\first.wav"
        [HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Second\Beep\.Current]
        @="C:\\Gone\\second.wav"
    )");
    // The stop is asked for while the first application's event is looked at.
    class StopOnFirstProblem final : public IScanObserver {
    public:
        explicit StopOnFirstProblem(CManualResetEvent& stop) : stop_(stop) {}
        void OnFoundChanged() override { stop_.Set(); }

    private:
        CManualResetEvent& stop_;
    };
    CManualResetEvent stop;
    StopOnFirstProblem observer(stop);
    CSounds sounds(fixture.Environment());
    sounds.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(sounds.Scan(), CCategory::kScanStopped);
    EXPECT_EQ(
        testing::ProblemsOf(sounds),
        (std::vector<ProblemView>{MissingSound(u"First\\Beep\\.Current", u"C:\\Gone\\first.wav",
                                               u"Beep", u"First", u"Current")}));
}

}  // namespace
}  // namespace quillary
