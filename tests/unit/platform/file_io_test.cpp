#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quillary {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("quillary-file-io-" + std::to_string(::testing::UnitTest::GetInstance()
                                                            ->random_seed()) +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<std::uint8_t> Read(const fs::path& path) {
        std::vector<std::uint8_t> bytes;
        EXPECT_FALSE(ReadWholeFile(path, 1 << 20, bytes).has_value());
        return bytes;
    }
    // Names in the folder, so a test sees a temporary file left behind.
    std::size_t EntryCount() {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }

    fs::path folder_;
};

TEST_F(FileIoTest, ReplacesContentsAndLeavesNoTemporaryFile) {
    const fs::path file = folder_ / "data.bin";
    const std::vector<std::uint8_t> first = {1, 2, 3};
    const std::vector<std::uint8_t> second = {4};
    ASSERT_FALSE(ReplaceFileAtomically(file, first).has_value());
    ASSERT_FALSE(ReplaceFileAtomically(file, second).has_value());
    EXPECT_EQ(Read(file), second);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(FileIoTest, KeepsSymbolicAndHardLinks) {
    const fs::path real = folder_ / "real.reg";
    const fs::path link = folder_ / "link.reg";
    const fs::path twin = folder_ / "twin.reg";
    const std::vector<std::uint8_t> old = {0};
    const std::vector<std::uint8_t> fresh = {9, 9};
    ASSERT_FALSE(ReplaceFileAtomically(real, old).has_value());
    fs::create_symlink(real, link);
    ASSERT_FALSE(ReplaceFileAtomically(link, fresh).has_value());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(real), fresh);

    fs::create_hard_link(real, twin);
    ASSERT_FALSE(ReplaceFileAtomically(twin, old).has_value());
    EXPECT_EQ(Read(real), old);
    EXPECT_EQ(fs::hard_link_count(real), 2u);
}

TEST_F(FileIoTest, FailureLeavesTheOldFileWhole) {
    const fs::path file = folder_ / "missing-folder" / "data.bin";
    const std::vector<std::uint8_t> bytes = {1};
    const FileError error = ReplaceFileAtomically(file, bytes);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("missing-folder"), std::string::npos);

    // A full disk: the temporary file cannot be written, the old file stays as it was.
    if (fs::exists("/dev/full")) {
        const fs::path kept = folder_ / "kept.bin";
        ASSERT_FALSE(ReplaceFileAtomically(kept, bytes).has_value());
        EXPECT_TRUE(AppendToFile("/dev/full", bytes).has_value());
        EXPECT_EQ(Read(kept), bytes);
    }
}

TEST_F(FileIoTest, ReadRefusesOversizedAndMissingFiles) {
    const fs::path file = folder_ / "big.bin";
    const std::vector<std::uint8_t> bytes(100, 7);
    ASSERT_FALSE(ReplaceFileAtomically(file, bytes).has_value());
    std::vector<std::uint8_t> read = {1};
    EXPECT_TRUE(ReadWholeFile(file, 99, read).has_value());
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(ReadWholeFile(file, 100, read).has_value());
    EXPECT_EQ(read, bytes);
    EXPECT_TRUE(ReadWholeFile(folder_ / "none", 100, read).has_value());
}

TEST_F(FileIoTest, AppendAddsToTheEnd) {
    const fs::path file = folder_ / "log.txt";
    const std::vector<std::uint8_t> a = {'a'};
    const std::vector<std::uint8_t> b = {'b'};
    ASSERT_FALSE(AppendToFile(file, a).has_value());
    ASSERT_FALSE(AppendToFile(file, b).has_value());
    EXPECT_EQ(Read(file), std::vector<std::uint8_t>({'a', 'b'}));
}

}  // namespace
}  // namespace quillary
