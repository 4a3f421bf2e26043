#include "engine/text_tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace quillary {
namespace {

// A language whose every text names its identifier, and whose problem formats take three
// texts, so that a result shows which format was used and how many arguments it was given.
std::u16string FakeLookup(std::u16string_view identifier) {
    std::u16string text(identifier);
    if (identifier.starts_with(u"IDS_PROBLEM_DETAIL_")) {
        text += u":%s|%s|%s";
    } else if (identifier.starts_with(u"IDS_PROBLEM_DESC_")) {
        text += u":%s/%s/%s";
    }
    return text;
}

CProblem MakeProblem(int type, std::u16string valueName) {
    CProblem problem;
    problem.EntryType = type;
    problem.Key = u"HKEY_LOCAL_MACHINE\\Software\\Example";
    problem.ValueName = std::move(valueName);
    problem.ValueData = u"C:\\gone.exe";
    problem.detailLines = {u"label", u"one", u"two"};
    return problem;
}

TEST(TextTablesTest, LoadsCategoryTextsInIndexOrder) {
    const CTextTables tables(FakeLookup);
    EXPECT_EQ(tables.CategoryName(0), u"IDS_ACTIVEX_COM");
    EXPECT_EQ(tables.CategoryDescription(7), u"IDS_DES_SHORTCUTS");
    EXPECT_EQ(tables.CategoryBriefDescription(13), u"IDS_BDES_CURRENTUSER");
    EXPECT_EQ(tables.CategoryName(14), u"");
}

TEST(TextTablesTest, FillsTheFormatsOfEachEntryTypeWithItsArguments) {
    const CTextTables tables(FakeLookup);
    struct {
        int type;
        std::u16string valueName;
        std::u16string detail;
        std::u16string description;
    } cases[] = {
        // Entry type t takes the texts numbered t + 1.
        {0, u"", u"IDS_PROBLEM_DETAIL_1:HKEY_LOCAL_MACHINE\\Software\\Example|one|C:\\gone.exe",
         u"IDS_PROBLEM_DESC_1:one/C:\\gone.exe/"},
        {13, u"", u"IDS_PROBLEM_DETAIL_14:HKEY_LOCAL_MACHINE\\Software\\Example|label|C:\\gone.exe",
         u"IDS_PROBLEM_DESC_14:C:\\gone.exe/label/"},
        {14, u"", u"IDS_PROBLEM_DETAIL_15:HKEY_LOCAL_MACHINE\\Software\\Example||",
         u"IDS_PROBLEM_DESC_15://"},
        // A shortcut names its line 2 twice in both texts.
        {34, u"", u"IDS_PROBLEM_DETAIL_35:two|two|", u"IDS_PROBLEM_DESC_35:two/two/"},
        // Line 3 is beyond the list: empty.
        {40, u"", u"IDS_PROBLEM_DETAIL_41:one|two|", u"IDS_PROBLEM_DESC_41:/two/"},
        // An unnamed value is "DEFAULT" in the description only.
        {42, u"", u"IDS_PROBLEM_DETAIL_43:|HKEY_LOCAL_MACHINE\\Software\\Example|C:\\gone.exe",
         u"IDS_PROBLEM_DESC_43:DEFAULT/HKEY_LOCAL_MACHINE\\Software\\Example/C:\\gone.exe"},
        {43, u"Path",
         u"IDS_PROBLEM_DETAIL_44:Path|HKEY_LOCAL_MACHINE\\Software\\Example|C:\\gone.exe",
         u"IDS_PROBLEM_DESC_44:Path/HKEY_LOCAL_MACHINE\\Software\\Example/C:\\gone.exe"},
        // Types outside the table have no texts.
        {-1, u"", u"", u""},
        {44, u"", u"", u""},
        {INT_MIN, u"", u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const CProblem problem = MakeProblem(c.type, c.valueName);
        EXPECT_EQ(tables.DetailText(problem), c.detail);
        EXPECT_EQ(tables.DescriptionText(problem), c.description);
    }
}

TEST(TextTablesTest, MissingTextsGiveEmptyResults) {
    const CTextTables empty;
    EXPECT_EQ(empty.CategoryName(3), u"");
    EXPECT_EQ(empty.DetailText(MakeProblem(5, u"")), u"");

    const CTextTables noLookup{TextLookup{}};
    EXPECT_EQ(noLookup.DescriptionText(MakeProblem(5, u"")), u"");
}

TEST(TextTablesTest, PassesStoredTextThroughUnchanged) {
    // A lone surrogate, as a registry name may hold, and a format character in the data.
    const CTextTables tables(FakeLookup);
    CProblem problem = MakeProblem(4, u"");
    problem.Key = u"HKEY_CURRENT_USER\\%s\xD800";
    EXPECT_EQ(tables.DetailText(problem), u"IDS_PROBLEM_DETAIL_5:HKEY_CURRENT_USER\\%s\xD800||");
}

}  // namespace
}  // namespace quillary
