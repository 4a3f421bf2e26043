#include "engine/exclusion_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

// These tests never load or save the lists.
CPosixFileIo unusedFiles;

CProblem ProblemAt(std::u16string key, int type = 0) {
    CProblem problem;
    problem.EntryType = type;
    problem.Key = std::move(key);
    return problem;
}

TEST(ExclusionListsTest, AddExclusionBuildsUpperCaseEntriesAndRefusesEmptyAndDuplicates) {
    CExclusionLists lists{unusedFiles};
    ASSERT_TRUE(lists.AddToIgnore(ProblemAt(u"HKEY_LOCAL_MACHINE\\Software\\Baz")));
    struct {
        std::u16string root;
        std::u16string path;
        std::u16string_view refusal;  // empty: added
    } cases[] = {
        {u"HKEY_CURRENT_USER", u"Software\\Foo", {}},
        {u" HKEY_CURRENT_USER ", u"  software\\foo\t", kTextItemAlreadyExists},
        {u"HKEY_CURRENT_USER", u"   ", kTextNoEmptyKey},
        {u"HKEY_CURRENT_USER", u"", kTextNoEmptyKey},
        {u"HKEY_CURRENT_USER", u" \\ \\", kTextNoEmptyKey},
        {u"HKEY_CURRENT_USER", u"\\Software\\Bar\\ ", {}},
        // Entries from the results view keep their letter case and still count.
        {u"HKEY_LOCAL_MACHINE", u"SOFTWARE\\BAZ", kTextItemAlreadyExists},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.root + u"|" + c.path));
        const ExclusionEditResult result = lists.AddExclusion(c.root, c.path);
        EXPECT_EQ(result.done, c.refusal.empty());
        EXPECT_EQ(result.refusalTextId, c.refusal);
    }
    const std::vector<std::u16string> expected = {u"HKEY_LOCAL_MACHINE\\Software\\Baz",
                                                  u"HKEY_CURRENT_USER\\SOFTWARE\\FOO",
                                                  u"HKEY_CURRENT_USER\\SOFTWARE\\BAR"};
    EXPECT_EQ(lists.UserList().Entries(), expected);
}

TEST(ExclusionListsTest, OnlyRegistryProblemsCanBeIgnored) {
    CExclusionLists lists{unusedFiles};
    EXPECT_FALSE(lists.AddToIgnore(ProblemAt(u"", 34)));  // a file problem
    EXPECT_FALSE(lists.AddToIgnore(ProblemAt(u"C:\\Users\\me\\Desktop\\old.lnk", 40)));
    EXPECT_TRUE(lists.AddToIgnore(ProblemAt(u"HKEY_CLASSES_ROOT\\.xyz")));
    EXPECT_TRUE(lists.AddToIgnore(ProblemAt(u"HKEY_CLASSES_ROOT\\.XYZ")));
    EXPECT_EQ(lists.UserList().Entries(), std::vector<std::u16string>{u"HKEY_CLASSES_ROOT\\.xyz"});
}

TEST(ExclusionListsTest, RemovesSelectedEntriesAndStopsMatchingThem) {
    CExclusionLists lists{unusedFiles};
    for (const char16_t* path : {u"A", u"B", u"C", u"D"}) {
        ASSERT_TRUE(lists.AddExclusion(u"HKEY_USERS", path).done);
    }
    EXPECT_EQ(lists.RemoveExclusions({}).refusalTextId, kTextSelectDeleteItem);
    const std::vector<std::size_t> outOfRange = {4, 99};
    EXPECT_EQ(lists.RemoveExclusions(outOfRange).refusalTextId, kTextSelectDeleteItem);

    const std::vector<std::size_t> selected = {2, 0, 2, 99};
    EXPECT_TRUE(lists.RemoveExclusions(selected).done);
    const std::vector<std::u16string> expected = {u"HKEY_USERS\\B", u"HKEY_USERS\\D"};
    EXPECT_EQ(lists.UserList().Entries(), expected);
    EXPECT_FALSE(lists.IsExcluded(ProblemAt(u"HKEY_USERS\\A")));
    EXPECT_TRUE(lists.IsExcluded(ProblemAt(u"HKEY_USERS\\D")));
}

TEST(ExclusionListsTest, UserEntriesExcludeKeysContainingThemInAnyCase) {
    CExclusionLists lists{unusedFiles};
    ASSERT_TRUE(lists.AddExclusion(u"HKEY_CURRENT_USER", u"Software\\Foo").done);
    struct {
        std::u16string key;
        bool excluded;
    } cases[] = {
        {u"HKEY_CURRENT_USER\\Software\\Foo", true},
        {u"hkey_current_user\\software\\foo\\Bar\\Baz", true},            // below it
        {u"HKEY_USERS\\S-1-5\\HKEY_CURRENT_USER\\SOFTWARE\\FOOD", true},  // merely contains it
        {u"HKEY_CURRENT_USER\\Software\\Fo", false},
        {u"HKEY_LOCAL_MACHINE\\Software\\Foo", false},
        {u"", false},  // a file problem
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.key));
        for (int type : {0, 27, 43}) {
            EXPECT_EQ(lists.IsExcluded(ProblemAt(c.key, type)), c.excluded);
        }
    }
}

TEST(ExclusionListsTest, HistoryEntriesExcludeOnlyHistoryListProblems) {
    CExclusionLists lists{unusedFiles};
    lists.AddToHistory(u"HKEY_CURRENT_USER\\Software\\App\\Recent");
    lists.AddToHistory(u"");  // a repaired file problem: no entry
    lists.AddToHistory(u"hkey_current_user\\software\\app\\recent");
    EXPECT_EQ(lists.HistoryList().Entries().size(), 1u);

    struct {
        int type;
        bool excluded;
    } cases[] = {{25, false}, {26, true}, {29, true}, {32, true}, {33, false}, {0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(
            lists.IsExcluded(ProblemAt(u"HKEY_CURRENT_USER\\SOFTWARE\\APP\\RECENT\\a", c.type)),
            c.excluded);
    }
}

}  // namespace
}  // namespace quillary
