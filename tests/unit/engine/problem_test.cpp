#include "engine/problem.h"

#include <gtest/gtest.h>

#include "engine/entry_types.h"

namespace quillary {
namespace {

TEST(ProblemTest, DetailLineBeyondTheListIsEmpty) {
    CProblem problem;
    problem.detailLines = {u"Missing font Arial", u"C:\\Windows\\Fonts\\arial.ttf"};
    EXPECT_EQ(problem.DetailLine(0), u"Missing font Arial");
    EXPECT_EQ(problem.DetailLine(1), u"C:\\Windows\\Fonts\\arial.ttf");
    EXPECT_EQ(problem.DetailLine(2), u"");
    EXPECT_EQ(problem.DetailLine(static_cast<std::size_t>(-1)), u"");
}

// What an entry type's texts and repair are is shown by the text and repair tests; here, that
// the table has a row for every known type and none for any other.
TEST(EntryTypeTest, EveryKnownTypeHasARepairAndDetailsAndNoOtherHasAny) {
    for (int type = 0; type < kEntryTypeCount; ++type) {
        SCOPED_TRACE(type);
        EXPECT_TRUE(IsKnownEntryType(type));
        EXPECT_NE(EntryTypeInfo(type).repair, RepairCode::None);
        EXPECT_FALSE(EntryTypeInfo(type).detailArguments.empty());
    }
    for (int type : {-1, kEntryTypeCount, 1000}) {
        SCOPED_TRACE(type);
        EXPECT_FALSE(IsKnownEntryType(type));
        EXPECT_TRUE(EntryTypeInfo(type).detailArguments.empty());
        EXPECT_TRUE(EntryTypeInfo(type).descriptionArguments.empty());
        EXPECT_EQ(EntryTypeInfo(type).repair, RepairCode::None);
    }
}

}  // namespace
}  // namespace quillary
