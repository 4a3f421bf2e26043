#include "engine/saved_results.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/archive.h"
#include "support/scan_fixture.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

using testing::CScanFixture;

class CIdleCategory : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
};

class SavedResultsTest : public ::testing::Test {
protected:
    SavedResultsTest()
        : fixture_(R"(
              [HKEY_CURRENT_USER\Software\Kept]
              @="C:\\Gone\\App.exe"
              "Run"="C:\\Gone\\run.exe"
              [HKEY_CURRENT_USER\Software\Empty]
              [HKEY_CURRENT_USER\Software\NoDefault]
              "Path"="C:\\Gone"
              [HKEY_CURRENT_USER\Software\Deleted]
              "Run"="C:\\Gone\\run.exe"
          )") {}

    std::unique_ptr<CScanDriver> MakeDriver() {
        return std::make_unique<CScanDriver>(
            [this](int) { return std::make_unique<CIdleCategory>(fixture_.Environment()); },
            ScanDriverOptions{});
    }

    // Two categories with problems of every kind the check treats differently.
    std::unique_ptr<CScanDriver> DriverWithProblems() {
        auto driver = MakeDriver();
        driver->CreateCategories(0x2 | 0x20 | 0x80, 3);
        CCategory& appPaths = *driver->CategoryOf(0x2);
        int index = appPaths.AddProblem(false, 41, u"HKEY_CURRENT_USER\\Software\\Kept", u"Run",
                                        u"C:\\Gone\\run.exe", u"");
        appPaths.AddDetailLine(index, u"first line");
        appPaths.AddDetailLine(index, u"second line");
        appPaths.AddProblem(false, 13, u"HKEY_CURRENT_USER\\Software\\Kept", u"",
                            u"c:\\gone\\app.exe", u"");
        appPaths.AddProblem(false, 13, u"HKEY_CURRENT_USER\\Software\\Kept", u"",
                            u"c:\\other\\app.exe", u"");
        appPaths.AddProblem(false, 1, u"HKEY_CURRENT_USER\\Software\\Empty", u"", u"", u"");
        appPaths.AddProblem(false, 41, u"HKEY_CURRENT_USER\\Software\\Deleted", u"Run",
                            u"C:\\Gone\\run.exe", u"");
        appPaths.AddProblem(false, 41, u"HKEY_CURRENT_USER\\Software\\Kept", u"Missing", u"x", u"");
        // Data found elsewhere than in the default value, and a value missing by its nature.
        appPaths.AddProblem(false, 13, u"HKEY_CURRENT_USER\\Software\\NoDefault", u"",
                            u"C:\\Gone\\tool.exe", u"");
        appPaths.AddProblem(false, 36, u"HKEY_CURRENT_USER\\Software\\Kept", u"UninstallString",
                            u"", u"");
        appPaths.MutableProblems()[1]->selected = false;
        CCategory& shortcuts = *driver->CategoryOf(0x80);
        shortcuts.AddProblem(false, 34, u"", u"", u"", u"");
        // A browser history entry, met only in results saved elsewhere: this target cannot
        // remove it.
        auto urlHistoryEntry = std::make_unique<CProblem>();
        urlHistoryEntry->EntryType = 32;
        urlHistoryEntry->detailLines = {u"", u"C:\\Gone\\page.htm"};
        driver->CategoryOf(0x20)->MutableProblems().push_back(std::move(urlHistoryEntry));
        return driver;
    }

    CScanFixture fixture_;
    CPosixFileIo files_;
};

TEST_F(SavedResultsTest, SavedProblemsComeBackWhenTheirEntriesStillExist) {
    auto saved = DriverWithProblems();
    const std::filesystem::path& folder = fixture_.Folder().Path();
    ASSERT_EQ(SaveResults(files_, *saved, folder), std::nullopt);

    // The file: the total, then fourteen blocks, empty ones included.
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(files_.ReadWholeFile(folder / "results.kvl", 1 << 20, bytes), std::nullopt);
    CArchiveReader reader(bytes);
    EXPECT_EQ(reader.ReadInt32(), 10);
    EXPECT_EQ(reader.ReadInt32(), 0);  // category 0
    EXPECT_EQ(reader.ReadInt32(), 8);  // category 1
    EXPECT_EQ(reader.ReadInt32(), 41);
    EXPECT_EQ(reader.ReadInt32(), 1);
    EXPECT_EQ(reader.ReadString(), u"HKEY_CURRENT_USER\\Software\\Kept");

    ASSERT_EQ(fixture_.Registry().RegDeleteKeyW(HKeyCurrentUser, u"Software\\Deleted"),
              ErrorSuccess);
    auto loaded = MakeDriver();
    RegistryTarget target{&fixture_.Registry(), true, {}};
    LoadedResults result = LoadResults(files_, *loaded, folder, target);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.savedTotal, 10);
    EXPECT_EQ(result.kept, 6);

    std::span<const std::unique_ptr<CProblem>> appPaths = loaded->ProblemsOf(0x2);
    ASSERT_EQ(appPaths.size(), 5u);
    EXPECT_EQ(appPaths[0]->ValueName, u"Run");
    EXPECT_EQ(appPaths[0]->detailLines,
              (std::vector<std::u16string>{u"first line", u"second line"}));
    EXPECT_EQ(appPaths[0]->repairContext, &loaded->RepairContext());
    // The default value still reads as the saved data, in any case.
    EXPECT_EQ(appPaths[1]->ValueData, u"c:\\gone\\app.exe");
    EXPECT_FALSE(appPaths[1]->selected);
    EXPECT_EQ(appPaths[2]->Key, u"HKEY_CURRENT_USER\\Software\\Empty");
    EXPECT_EQ(appPaths[3]->Key, u"HKEY_CURRENT_USER\\Software\\NoDefault");
    EXPECT_EQ(appPaths[4]->ValueName, u"UninstallString");
    EXPECT_EQ(loaded->ProblemsOf(0x80).size(), 1u);  // a file problem is always kept
    EXPECT_TRUE(loaded->ProblemsOf(0x20).empty());
    // Every category exists after loading, and checking created no key.
    EXPECT_NE(loaded->CategoryOf(0x2000), nullptr);
    EXPECT_FALSE(testing::KeyExists(fixture_.Registry(), HKeyCurrentUser, u"Software\\Deleted"));
}

TEST_F(SavedResultsTest, DamagedFilesLoadWhatIsSound) {
    const std::filesystem::path& folder = fixture_.Folder().Path();
    auto none = MakeDriver();
    RegistryTarget target{&fixture_.Registry(), true, {}};
    EXPECT_EQ(LoadResults(files_, *none, folder, target).savedTotal, 0);  // no file
    EXPECT_EQ(none->CategoryOf(0x1), nullptr);

    ASSERT_EQ(SaveResults(files_, *DriverWithProblems(), folder), std::nullopt);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(files_.ReadWholeFile(folder / "results.kvl", 1 << 20, bytes), std::nullopt);

    // Cut inside the second problem's record: the first problem is kept.
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 200);
    ASSERT_EQ(files_.ReplaceFileAtomically(folder / "results.kvl", cut), std::nullopt);
    auto loaded = MakeDriver();
    LoadedResults result = LoadResults(files_, *loaded, folder, target);
    EXPECT_NE(result.error, "");
    EXPECT_EQ(result.kept, 1);

    // A hostile count larger than the file is refused before anything is allocated.
    CArchiveWriter hostile;
    hostile.WriteInt32(1);
    hostile.WriteInt32(0x7FFFFFFF);
    ASSERT_EQ(files_.ReplaceFileAtomically(folder / "results.kvl", hostile.Bytes()), std::nullopt);
    result = LoadResults(files_, *loaded, folder, target);
    EXPECT_NE(result.error, "");
    EXPECT_EQ(result.kept, 0);

    CArchiveWriter empty;
    empty.WriteInt32(0);
    ASSERT_EQ(files_.ReplaceFileAtomically(folder / "results.kvl", empty.Bytes()), std::nullopt);
    auto fresh = MakeDriver();
    EXPECT_EQ(LoadResults(files_, *fresh, folder, target).savedTotal, 0);
    EXPECT_EQ(fresh->CategoryOf(0x1), nullptr);
}

}  // namespace
}  // namespace quillary
