#include "repair/undo_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "backup_fixture.h"

namespace quillary {
namespace {

using testing::CBackupFixture;

constexpr std::string_view kRegistry = R"(
    [HKEY_CURRENT_USER\Software\Vendor\A]
    [HKEY_CURRENT_USER\Software\Vendor\B]
)";

// Makes partial backup n, which deleted one key.
void MakeBackup(CBackupFixture& fixture, std::u16string_view key) {
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    ASSERT_TRUE(backup->DeleteKey(HKeyCurrentUser, key, KeyScope::Key, RegistryView::Bits64));
    ASSERT_TRUE(EndPartialBackup(*backup));
}

TEST(UndoListTest, AnEmptyFolderShowsNoRows) {
    CBackupFixture fixture(kRegistry);
    CUndoList list(fixture.Environment());
    list.RefreshUndoList();
    EXPECT_TRUE(list.Rows().empty());
    EXPECT_EQ(list.EmptyText(), u"text of IDS_NO_ITEM_TO_SHOW");
}

// Rows come in the order of the backups' numbers, each pointing at its own backup; a list
// file that cannot be read is left out; restoring a row undoes that row's backup only.
TEST(UndoListTest, RowsUndoTheirOwnBackup) {
    CBackupFixture fixture(kRegistry);
    MakeBackup(fixture, u"Software\\Vendor\\A");
    fixture.Clock().Advance(std::chrono::hours(1));
    MakeBackup(fixture, u"Software\\Vendor\\B");
    std::ofstream(fixture.UndoFolder() / "00000003.rmx");  // zero bytes

    CUndoList list(fixture.Environment());
    list.RefreshUndoList();
    ASSERT_EQ(list.Rows().size(), 2u);
    EXPECT_EQ(list.Rows()[1].listFile.filename(), "00000002.rmx");
    EXPECT_TRUE(list.Rows()[0].text.starts_with(u"text of IDS_PARTIAL_BACKUP"));
    EXPECT_NE(list.Rows()[0].text, list.Rows()[1].text);
    EXPECT_EQ(list.Unreadable(),
              std::vector<std::filesystem::path>{fixture.UndoFolder() / "00000003.rmx"});

    EXPECT_TRUE(list.Restore(list.Rows()[1]));
    EXPECT_FALSE(list.IsRestoreRunning());
    EXPECT_TRUE(testing::KeyExists(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\B"));
    EXPECT_FALSE(testing::KeyExists(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\A"));
    EXPECT_EQ(fixture.messages, std::vector<std::u16string>{u"text of IDS_SUCCESSFULL_RESTORE"});
}

// Deleting a row removes its list file only; its archive stays, and a later backup still
// takes a number of its own.
TEST(UndoListTest, DeleteKeepsTheArchive) {
    CBackupFixture fixture(kRegistry);
    MakeBackup(fixture, u"Software\\Vendor\\A");
    CUndoList list(fixture.Environment());
    list.RefreshUndoList();
    ASSERT_EQ(list.Rows().size(), 1u);
    EXPECT_TRUE(list.Delete(list.Rows()[0]));
    EXPECT_TRUE(list.Rows().empty());
    EXPECT_FALSE(std::filesystem::exists(fixture.UndoFolder() / "00000001.rmx"));
    EXPECT_TRUE(std::filesystem::exists(fixture.UndoFolder() / "00000001.rxb"));

    MakeBackup(fixture, u"Software\\Vendor\\B");
    list.RefreshUndoList();
    ASSERT_EQ(list.Rows().size(), 1u);
    EXPECT_EQ(list.Rows()[0].listFile.filename(), "00000002.rmx");
}

}  // namespace
}  // namespace quillary
