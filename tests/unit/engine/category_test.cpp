#include "engine/category.h"

#include <gtest/gtest.h>

#include "core/text_case.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;

// A scanner whose scan the tests drive by hand.
class CManualCategory : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
    void SetTotal(int total) { progressTotal_ = total; }
};

class RecordingObserver : public IScanObserver {
public:
    void OnFoundChanged() override { ++foundChanged; }
    void OnCategoryProgress(int percent) override { progress.push_back(percent); }
    void OnStatus(std::u16string_view text) override { status = text; }
    int foundChanged = 0;
    std::vector<int> progress;
    std::u16string status;
};

TEST(CategoryTest, AddProblemAppliesTheRulesInOrder) {
    CScanFixture fixture("");
    fixture.Protection().protectedKey = u"Software\\Protected";
    ASSERT_TRUE(fixture.Exclusions().AddExclusion(u"HKEY_CURRENT_USER", u"software\\ignored").done);
    fixture.Exclusions().AddToHistory(u"HKEY_CURRENT_USER\\Software\\Recent\\Doc");
    CManualCategory category(fixture.Environment());
    RecordingObserver observer;
    CRepairContext repairContext;
    category.Attach(nullptr, &observer, &repairContext);

    struct {
        const char* why;
        std::int32_t entryType;
        std::u16string_view key;
        bool recorded;
    } cases[] = {
        {"built-in key rule", 1, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Example", false},
        {"root name not in the table", 1, u"HKLM\\Software\\Example", false},
        {"protected by the system", 1, u"HKEY_LOCAL_MACHINE\\Software\\Protected", false},
        {"user exclusion, any case", 1, u"HKEY_CURRENT_USER\\SOFTWARE\\IGNORED\\Sub", false},
        {"history exclusion", 27, u"HKEY_CURRENT_USER\\Software\\Recent\\Doc", false},
        {"history entry only for history types", 1, u"HKEY_CURRENT_USER\\Software\\Recent\\Doc",
         true},
        {"file problem, no root test", 34, u"", true},
        {"plain problem", 13, u"HKEY_CURRENT_USER\\Software\\Example", true},
    };
    std::size_t recorded = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        int index = category.AddProblem(true, c.entryType, c.key, u"Name", u"Data", u"Alt");
        EXPECT_EQ(index, c.recorded ? static_cast<int>(recorded) : -1);
        if (c.recorded)
            ++recorded;
    }
    ASSERT_EQ(category.Problems().size(), recorded);
    EXPECT_EQ(observer.foundChanged, static_cast<int>(recorded));
    ASSERT_EQ(fixture.log.size(), recorded);
    EXPECT_EQ(fixture.log.back(),
              u"Invalid Entry Found :\r\n EntryType:13\r\n Key:HKEY_CURRENT_USER\\Software\\Example"
              u"\r\n ValueName:Name \r\n ValueData:Data \r\n AlternateKey:Alt \r\n 32BitEntry:1");
    const CProblem& last = *category.Problems().back();
    EXPECT_EQ(last.repairContext, &repairContext);
    EXPECT_TRUE(last.is32BitEntry);
    EXPECT_TRUE(last.selected);

    category.AddDetailLine(0, u"label");
    category.AddDetailLine(-1, u"ignored");
    category.AddDetailLine(99, u"ignored");
    EXPECT_EQ(category.Problems()[0]->DetailLine(0), u"label");
    EXPECT_TRUE(category.HasProblem(u"HKEY_CURRENT_USER\\Software\\Example", 13));
    EXPECT_FALSE(category.HasProblem(u"HKEY_CURRENT_USER\\software\\example", 13));
    EXPECT_FALSE(category.HasProblem(u"HKEY_CURRENT_USER\\Software\\Example", 1));
}

TEST(CategoryTest, ProgressStatusAndSorting) {
    CScanFixture fixture("");
    CManualCategory category(fixture.Environment());
    RecordingObserver observer;
    CManualResetEvent stop;
    category.Attach(&stop, &observer, nullptr);

    category.StepProgress();  // no total yet: nothing to show, and no division by zero
    category.SetTotal(3);
    category.StepProgress();
    category.FinishProgress();
    category.StepProgress();
    category.StepProgress();  // more steps than counted: the bar stays full
    EXPECT_EQ(observer.progress, (std::vector<int>{0, 66, 100, 100, 100}));

    std::u16string text(95, u'x');
    category.ShowStatus(text);
    EXPECT_EQ(observer.status.size(), 96u);
    EXPECT_EQ(observer.status[90], u' ');

    EXPECT_FALSE(category.IsStopRequested());
    stop.Set();
    EXPECT_TRUE(category.IsStopRequested());

    for (std::u16string_view label : {u"delta", u"Alpha", u"charlie", u"bravo", u"ALPHA"}) {
        int index = category.AddProblem(false, 34, u"", u"", u"", u"");
        category.AddDetailLine(index, label);
    }
    category.MutableProblems()[1]->selected = false;
    EXPECT_EQ(category.CountSelected(), 4u);
    category.SortProblems();
    std::vector<std::u16string> labels;
    for (const auto& problem : category.Problems()) {
        labels.push_back(ToLower(problem->DetailLine(0)));
    }
    EXPECT_EQ(labels,
              (std::vector<std::u16string>{u"alpha", u"alpha", u"bravo", u"charlie", u"delta"}));

    EXPECT_EQ(CCategory::LastPathPart(u"A\\B\\C"), u"C");
    EXPECT_EQ(CCategory::LastPathPart(u"C"), u"C");
    EXPECT_EQ(CCategory::ParentPath(u"A\\B\\C"), u"A\\B");
    EXPECT_EQ(CCategory::ParentPath(u"C"), u"");
}

TEST(CategoryTest, SearchEmptyKeysReportsWhatHoldsNothing) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\Software\Vendor\Empty]
        [HKEY_CURRENT_USER\Software\Vendor\OnlyNamed]
        "Name"="x"
        [HKEY_CURRENT_USER\Software\Vendor\Full]
        @="default"
        "Name"="x"
        [HKEY_CURRENT_USER\Software\Vendor\Deep\Er\Empty]
        [HKEY_CURRENT_USER\Software\Vendor\Wow6432Node\Empty]
        [HKEY_CURRENT_USER\Software\Vendor\Plugin\{11111111-2222-3333-4444-555555555555}]
        [HKEY_CURRENT_USER\Software\Vendor\Transforms\d6c02d4b-6833-45b4-971a-05a4b04bab91\8d7e2f91-0a3c-4e6b-9f15-1c2d3e4f5a6b]
        [HKEY_CURRENT_USER\Software\Vendor\Skipped\Empty]
    )");
    CManualCategory category(fixture.Environment());
    std::u16string_view fragments[] = {u"skipped"};
    EXPECT_FALSE(
        category.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Vendor", true, fragments, true));
    std::vector<std::u16string> keys;
    for (const auto& problem : category.Problems()) {
        keys.push_back(problem->Key);
        EXPECT_EQ(problem->EntryType, 1);
        EXPECT_FALSE(problem->is32BitEntry);
        EXPECT_EQ(problem->DetailLine(0), u"text of IDS_EMPTY_KEY");
        EXPECT_EQ(problem->DetailLine(1), problem->Key);
    }
    // With the recurse flag a key whose one value is named counts as empty; a braced
    // identifier that is not a registered class, an identifier without braces (a component
    // registered by the key's existence), Wow6432Node and excluded paths are kept.
    EXPECT_EQ(keys, (std::vector<std::u16string>{
                        u"HKEY_CURRENT_USER\\Software\\Vendor\\Deep\\Er\\Empty",
                        u"HKEY_CURRENT_USER\\Software\\Vendor\\Empty",
                        u"HKEY_CURRENT_USER\\Software\\Vendor\\OnlyNamed",
                    }));

    // Without the recurse flag only a key with neither values nor subkeys is empty.
    CManualCategory single(fixture.Environment());
    single.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Vendor\\OnlyNamed", true, {}, false);
    single.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Vendor\\Empty", false, {}, false);
    ASSERT_EQ(single.Problems().size(), 1u);
    EXPECT_TRUE(single.Problems()[0]->is32BitEntry);

    EXPECT_TRUE(single.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Missing", true, {}, false));

    // A 32-bit system has one view: nothing on it is a 32-bit entry.
    CScanFixture thirtyTwo("[HKEY_CURRENT_USER\\Software\\Empty]", false);
    CManualCategory onThirtyTwo(thirtyTwo.Environment());
    onThirtyTwo.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Empty", false, {}, false);
    ASSERT_EQ(onThirtyTwo.Problems().size(), 1u);
    EXPECT_FALSE(onThirtyTwo.Problems()[0]->is32BitEntry);
    fixture.Settings().SetChkSkipEmptyKeys = 1;
    EXPECT_FALSE(
        single.SearchEmptyKeys(HKeyCurrentUser, u"Software\\Vendor\\Empty", true, {}, false));
    EXPECT_EQ(single.Problems().size(), 1u);
}

TEST(CategoryTest, CountSubkeysDeepSurvivesALinkCycle) {
    CScanFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\Software\Tree\A\A1]
        [HKEY_LOCAL_MACHINE\Software\Tree\A\A2]
        [HKEY_LOCAL_MACHINE\Software\Tree\Wow6432Node\W1]
        [HKEY_LOCAL_MACHINE\Software\Tree\B]
    )");
    CManualCategory category(fixture.Environment());
    EXPECT_EQ(category.CountSubkeysDeep(HKeyLocalMachine, u"Software\\Tree", kMaskReadOnly, false),
              6u);
    // Wow6432Node itself is counted, what lies below it is not.
    EXPECT_EQ(category.CountSubkeysDeep(HKeyLocalMachine, u"Software\\Tree", kMaskReadOnly, true),
              5u);
    EXPECT_EQ(category.CountSubkeysDeep(HKeyLocalMachine, u"Software\\None", kMaskReadOnly, true),
              0u);

    testing::LoadRegistryText(fixture.Registry(), R"(
        [HKEY_LOCAL_MACHINE\Software\Tree\B\Up]
        #link=\Registry\Machine\Software\Tree
    )");
    // The walk ends at Windows' nesting limit instead of running for ever.
    EXPECT_GT(category.CountSubkeysDeep(HKeyLocalMachine, u"Software\\Tree", kMaskReadOnly, true),
              6u);
}

}  // namespace
}  // namespace quillary
