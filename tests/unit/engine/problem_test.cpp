#include "engine/problem.h"

#include <gtest/gtest.h>

#include "engine/category_table.h"
#include "engine/entry_types.h"

namespace quillary {
namespace {

TEST(ProblemTest, StartsEmptyTickedNativeAndWithoutRepairContext) {
    const CProblem problem;
    EXPECT_EQ(problem.EntryType, 0);
    EXPECT_TRUE(problem.Key.empty());
    EXPECT_TRUE(problem.ValueName.empty());
    EXPECT_TRUE(problem.ValueData.empty());
    EXPECT_TRUE(problem.AlternateKey.empty());
    EXPECT_TRUE(problem.detailLines.empty());
    EXPECT_TRUE(problem.selected);
    EXPECT_FALSE(problem.is32BitEntry);
    EXPECT_EQ(problem.repairContext, nullptr);
}

TEST(ProblemTest, DetailLineBeyondTheListIsEmpty) {
    CProblem problem;
    problem.detailLines = {u"Missing font Arial", u"C:\\Windows\\Fonts\\arial.ttf"};
    EXPECT_EQ(problem.DetailLine(0), u"Missing font Arial");
    EXPECT_EQ(problem.DetailLine(1), u"C:\\Windows\\Fonts\\arial.ttf");
    EXPECT_EQ(problem.DetailLine(2), u"");
    EXPECT_EQ(problem.DetailLine(static_cast<std::size_t>(-1)), u"");
}

TEST(CategoryTableTest, KeepsTheStoredResourceNames) {
    EXPECT_EQ(kCategories[1].iconFile, u"IconAppPaths_32.bmp ");
    EXPECT_EQ(kCategories[13].className, u"CDeepScanCU");
    EXPECT_EQ(kCategories[13].bit, 0x2000u);
    EXPECT_EQ(kTweaksSelectionBit, 0x4000u);
    EXPECT_EQ(kTweaksIconFile, u"IconRegTweak_32.bmp");
}

TEST(EntryTypeTest, RowsNameTheirArgumentsAndRepair) {
    const CTextArguments& shortcut = EntryTypeInfo(34).detailArguments;
    ASSERT_EQ(shortcut.size(), 2u);
    EXPECT_EQ(shortcut[0], LineArgument(2));
    EXPECT_EQ(shortcut[1], LineArgument(2));
    EXPECT_EQ(EntryTypeInfo(34).repair, RepairCode::R8);

    EXPECT_EQ(EntryTypeInfo(42).descriptionArguments[0].field, ProblemField::ValueNameOrDefault);
    EXPECT_EQ(EntryTypeInfo(43).descriptionArguments[0].field, ProblemField::ValueNameOrDefault);
    EXPECT_EQ(EntryTypeInfo(42).detailArguments[0].field, ProblemField::ValueName);
    EXPECT_TRUE(EntryTypeInfo(14).descriptionArguments.empty());
    EXPECT_EQ(EntryTypeInfo(32).repair, RepairCode::R7);

    for (int type : {-1, 44, 1000}) {
        SCOPED_TRACE(type);
        EXPECT_FALSE(IsKnownEntryType(type));
        EXPECT_TRUE(EntryTypeInfo(type).detailArguments.empty());
        EXPECT_EQ(EntryTypeInfo(type).repair, RepairCode::None);
    }
    for (int type = 0; type < kEntryTypeCount; ++type) {
        SCOPED_TRACE(type);
        EXPECT_NE(EntryTypeInfo(type).repair, RepairCode::None);
        EXPECT_FALSE(EntryTypeInfo(type).detailArguments.empty());
    }
}

}  // namespace
}  // namespace quillary
