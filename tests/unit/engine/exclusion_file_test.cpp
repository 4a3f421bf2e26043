#include "engine/exclusion_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/archive.h"
#include "engine/exclusion_lists.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A copy of bytes with the byte at index set to value (appended when index is the size).
Bytes WithByte(Bytes bytes, std::size_t index, std::uint8_t value) {
    bytes.resize(std::max(bytes.size(), index + 1));
    bytes[index] = value;
    return bytes;
}

class ExclusionFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("quillary-exclusions-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path UserFile() const { return folder_ / kUserExclusionFileName; }
    fs::path HistoryFile() const { return folder_ / kHistoryExclusionFileName; }

    void Write(const fs::path& path, const Bytes& bytes) {
        ASSERT_FALSE(files_.ReplaceFileAtomically(path, bytes).has_value());
    }
    Bytes Read(const fs::path& path) {
        Bytes bytes;
        EXPECT_FALSE(files_.ReadWholeFile(path, 1 << 20, bytes).has_value());
        return bytes;
    }

    fs::path folder_;
    CPosixFileIo files_;
};

TEST_F(ExclusionFileTest, WritesCountTwiceThenOneStringRecordPerEntry) {
    CExclusionLists lists{files_};
    ASSERT_TRUE(lists.AddExclusion(u"HKEY_USERS", u"a").done);
    ASSERT_TRUE(lists.AddExclusion(u"HKEY_USERS", u"b").done);
    ASSERT_TRUE(lists.AddToIgnore([] {
        CProblem problem;
        problem.Key = u"HKEY_CLASSES_ROOT\\.x";
        return problem;
    }()));
    EXPECT_TRUE(lists.SaveExclusions(folder_).empty());

    Bytes expected = {0x03, 0x00, 0x00, 0x00, 0x03, 0x00};
    for (std::u16string_view entry :
         {u"HKEY_USERS\\A", u"HKEY_USERS\\B", u"HKEY_CLASSES_ROOT\\.x"}) {
        expected.insert(expected.end(),
                        {0xFF, 0xFE, 0xFF, static_cast<std::uint8_t>(entry.size())});
        for (char16_t unit : entry) {
            expected.insert(expected.end(), {static_cast<std::uint8_t>(unit), 0x00});
        }
    }
    EXPECT_EQ(Read(UserFile()), expected);
    // The empty history list changed nothing, so its file was not made.
    EXPECT_FALSE(fs::exists(HistoryFile()));
}

TEST_F(ExclusionFileTest, SavedListsLoadBack) {
    CExclusionLists saved{files_};
    ASSERT_TRUE(saved.AddExclusion(u"HKEY_CURRENT_USER", std::u16string(300, u'k')).done);
    ASSERT_TRUE(saved.AddExclusion(u"HKEY_CURRENT_USER", u"Caf\x00E9\xD800").done);
    saved.AddToHistory(u"HKEY_CURRENT_USER\\Software\\App\\Recent");
    ASSERT_TRUE(saved.SaveExclusions(folder_).empty());

    CExclusionLists loaded{files_};
    EXPECT_TRUE(loaded.LoadExclusions(folder_).empty());
    EXPECT_EQ(loaded.UserList().Entries(), saved.UserList().Entries());
    EXPECT_EQ(loaded.HistoryList().Entries(), saved.HistoryList().Entries());

    // Unchanged lists are not written again.
    fs::remove(UserFile());
    EXPECT_TRUE(loaded.SaveExclusions(folder_).empty());
    EXPECT_FALSE(fs::exists(UserFile()));
}

TEST_F(ExclusionFileTest, MissingFilesGiveEmptyLists) {
    CExclusionLists lists{files_};
    EXPECT_TRUE(lists.LoadExclusions(folder_).empty());
    EXPECT_TRUE(lists.UserList().Entries().empty());
    EXPECT_TRUE(lists.HistoryList().Entries().empty());
}

TEST_F(ExclusionFileTest, DecodesWholeAndDamagedFiles) {
    CArchiveWriter whole;
    whole.WriteInt32(3);
    whole.WriteCount(3);
    whole.WriteString(u"HKEY_USERS\\ONE");
    whole.WriteString(u"HKEY_USERS\\TWO");
    whole.WriteString(u"HKEY_USERS\\THREE");
    const Bytes& bytes = whole.Bytes();
    const std::size_t thirdOffset = bytes.size() - 4 - 2 * 16;

    struct {
        const char* name;
        Bytes bytes;
        std::size_t entries;
        std::string damage;  // part of the message; empty: whole
    } cases[] = {
        {"whole", bytes, 3, ""},
        // The stored entry count is not trusted; the array count is.
        {"entry count disagrees", WithByte(bytes, 0, 0x7F), 3, ""},
        {"empty file", {}, 0, "32-bit integer at offset 0"},
        {"truncated in the entry count", Bytes(bytes.begin(), bytes.begin() + 2), 0,
         "32-bit integer at offset 0"},
        {"truncated in the array count", Bytes(bytes.begin(), bytes.begin() + 5), 0,
         "array count at offset 4"},
        {"truncated in the third entry", Bytes(bytes.begin(), bytes.end() - 1), 2,
         "string record at offset " + std::to_string(thirdOffset)},
        {"count of two billion",
         {0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x94, 0x35, 0x77, 0x00},
         0,
         "2000000000 elements cannot fit"},
        {"bytes after the last entry", WithByte(bytes, bytes.size(), 0), 3, "1 unexpected bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedExclusions decoded = DecodeExclusionFile(c.bytes);
        EXPECT_EQ(decoded.entries.size(), c.entries);
        if (c.damage.empty()) {
            EXPECT_EQ(decoded.damage, "");
        } else {
            EXPECT_NE(decoded.damage.find(c.damage), std::string::npos) << decoded.damage;
        }
    }

    // Files of older versions may hold 8-bit text.
    const Bytes ansi = {1, 0, 0, 0, 1, 0, 4, 'H', 'K', 0xC4, 'X'};
    const DecodedExclusions decoded = DecodeExclusionFile(ansi);
    EXPECT_EQ(decoded.entries, std::vector<std::u16string>{u"HK\x00C4X"});
    EXPECT_EQ(decoded.damage, "");
}

TEST_F(ExclusionFileTest, DamagedFileKeepsItsEntriesAndIsMovedAsideBeforeSaving) {
    CExclusionLists whole{files_};
    ASSERT_TRUE(whole.AddExclusion(u"HKEY_USERS", u"one").done);
    ASSERT_TRUE(whole.AddExclusion(u"HKEY_USERS", u"two").done);
    ASSERT_TRUE(whole.SaveExclusions(folder_).empty());
    Bytes damaged = Read(UserFile());
    damaged.pop_back();
    Write(UserFile(), damaged);

    CExclusionLists lists{files_};
    const std::vector<std::string> messages = lists.LoadExclusions(folder_);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("damaged"), std::string::npos) << messages[0];
    EXPECT_EQ(lists.UserList().Entries(), std::vector<std::u16string>{u"HKEY_USERS\\ONE"});
    EXPECT_TRUE(lists.IsExcluded([] {
        CProblem problem;
        problem.Key = u"HKEY_USERS\\One\\Sub";
        return problem;
    }()));

    fs::path aside = UserFile();
    aside += ".damaged";
    EXPECT_EQ(Read(aside), damaged);
    // What was read is written back at exit, even unchanged.
    EXPECT_TRUE(lists.SaveExclusions(folder_).empty());
    EXPECT_EQ(DecodeExclusionFile(Read(UserFile())).entries, lists.UserList().Entries());
}

TEST_F(ExclusionFileTest, EmptyEntryOfAFileHidesNothing) {
    Write(UserFile(), EncodeExclusionFile(std::vector<std::u16string>{u"", u"SOFTWARE\\X"}));
    CExclusionLists lists{files_};
    ASSERT_TRUE(lists.LoadExclusions(folder_).empty());
    CProblem problem;
    problem.Key = u"HKEY_CURRENT_USER\\Software\\Y";
    EXPECT_FALSE(lists.IsExcluded(problem));
    problem.Key = u"HKEY_CURRENT_USER\\Software\\X";
    EXPECT_TRUE(lists.IsExcluded(problem));
}

TEST_F(ExclusionFileTest, UnreadableFileIsNeverOverwritten) {
    // A folder in place of the file cannot be read, like a file the user may not open.
    fs::create_directory(UserFile());
    CExclusionLists lists{files_};
    const std::vector<std::string> loadMessages = lists.LoadExclusions(folder_);
    ASSERT_EQ(loadMessages.size(), 1u);
    EXPECT_NE(loadMessages[0].find("kept as it is"), std::string::npos) << loadMessages[0];

    // Nothing changed: nothing to say at exit.
    EXPECT_TRUE(lists.SaveExclusions(folder_).empty());
    ASSERT_TRUE(lists.AddExclusion(u"HKEY_USERS", u"new").done);
    const std::vector<std::string> saveMessages = lists.SaveExclusions(folder_);
    ASSERT_EQ(saveMessages.size(), 1u);
    EXPECT_NE(saveMessages[0].find("not saved"), std::string::npos) << saveMessages[0];
    EXPECT_TRUE(fs::is_directory(UserFile()));
}

TEST_F(ExclusionFileTest, RefusesFilesBeyondTheSizeLimit) {
    const std::vector<std::u16string> entries = {u"HKEY_USERS\\A", u"HKEY_USERS\\B"};
    const Bytes bytes = EncodeExclusionFile(entries);
    const fs::path name = "limited.kvl";
    Write(folder_ / name, bytes);

    CExclusionList list;
    CExclusionFile tooSmall(files_, name, bytes.size() - 1);
    const FileError loadError = tooSmall.Load(folder_, list);
    ASSERT_TRUE(loadError.has_value());
    EXPECT_NE(loadError->find("more than the"), std::string::npos) << *loadError;
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_TRUE(fs::exists(folder_ / "limited.kvl.damaged"));

    // A list that could not be read back is not written either.
    list.Assign(entries);
    const FileError saveError = tooSmall.Save(folder_, list);
    ASSERT_TRUE(saveError.has_value());
    EXPECT_NE(saveError->find("read back"), std::string::npos) << *saveError;
    EXPECT_FALSE(fs::exists(folder_ / name));
}

TEST_F(ExclusionFileTest, ReportsFilesThatCannotBeWritten) {
    CExclusionLists lists{files_};
    ASSERT_TRUE(lists.AddExclusion(u"HKEY_USERS", u"x").done);
    EXPECT_EQ(lists.SaveExclusions(folder_ / "missing").size(), 1u);
    EXPECT_EQ(lists.SaveExclusions(fs::path()).size(), 1u);
    EXPECT_EQ(lists.LoadExclusions(fs::path()).size(), 1u);
    // The failed saves lost nothing: the next one writes the list.
    EXPECT_TRUE(lists.SaveExclusions(folder_).empty());
    EXPECT_TRUE(fs::exists(UserFile()));
}

}  // namespace
}  // namespace quillary
