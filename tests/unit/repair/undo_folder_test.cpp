#include "repair/undo_folder.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace quillary {
namespace {

TEST(UndoFolderTest, NextNumberFollowsTheHighestNumberedFile) {
    struct {
        const char* why;
        std::vector<std::string> files;
        std::vector<std::string> folders;
        std::int64_t next;
    } cases[] = {
        {"empty folder", {}, {}, 1},
        {"highest of several", {"00000003.rmx", "00000010.rmx"}, {}, 11},
        {"leading digits count", {"00000003.rmx", "00000010.rmx", "12abc.rmx"}, {}, 13},
        {"no digits is 0", {"abc.rmx"}, {}, 1},
        // An archive or a journal left by an interrupted run is never written over.
        {"orphaned archive", {"00000007.rxb", "00000002.rmx"}, {}, 8},
        {"orphaned journal", {"00000004.rjl"}, {}, 5},
        {"any numbered file", {"00000008.rmx.bak", "9.RMX"}, {}, 10},
        {"rmx must first occur at the end", {"rmx5.rmx", "00000002.rmx"}, {}, 3},
        {"folders do not count", {"00000002.rmx"}, {"00000040.rmx"}, 3},
        {"absurd numbers saturate", {"99999999999999999999999.rmx"}, {}, 1'000'000'000'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        testing::CTempFolder folder;
        for (const std::string& name : c.files)
            folder.Write(name, "x");
        for (const std::string& name : c.folders)
            folder.MakeFolder(name);
        EXPECT_EQ(NextUndoNumber(folder.Path()), c.next);
    }
    EXPECT_EQ(NextUndoNumber("/nonexistent/quillary/undo"), 1);
}

TEST(UndoFolderTest, FileNames) {
    EXPECT_EQ(UndoBasePath("/d", 11), std::filesystem::path("/d/00000011"));
    EXPECT_EQ(UndoBasePath("/d", 123456789), std::filesystem::path("/d/123456789"));
    EXPECT_EQ(ArchivePathOfList("/d/00000011.rmx"), std::filesystem::path("/d/00000011.rxb"));
    EXPECT_EQ(ListPathOfArchive("/d/00000011.rxb"), std::filesystem::path("/d/00000011.rmx"));
}

}  // namespace
}  // namespace quillary
