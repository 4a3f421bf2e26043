#include "targets/posix/posix_file_io.h"

#include <sys/stat.h>

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
                  ("quillary-file-io-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::vector<std::uint8_t> Read(const fs::path& path) {
        std::vector<std::uint8_t> bytes;
        EXPECT_FALSE(files_.ReadWholeFile(path, 1 << 20, bytes).has_value());
        return bytes;
    }
    // Names in the folder, so a test sees a temporary file left behind.
    std::size_t EntryCount() {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
    }

    fs::path folder_;
    CPosixFileIo files_;
};

TEST_F(FileIoTest, ReplacesContentsAndLeavesNoTemporaryFile) {
    const fs::path file = folder_ / "data.bin";
    const std::vector<std::uint8_t> first = {1, 2, 3};
    const std::vector<std::uint8_t> second = {4};
    ASSERT_FALSE(files_.ReplaceFileAtomically(file, first).has_value());
    ASSERT_FALSE(files_.ReplaceFileAtomically(file, second).has_value());
    EXPECT_EQ(Read(file), second);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(FileIoTest, KeepsSymbolicAndHardLinks) {
    const fs::path real = folder_ / "real.reg";
    const fs::path link = folder_ / "link.reg";
    const fs::path twin = folder_ / "twin.reg";
    const std::vector<std::uint8_t> old = {0};
    const std::vector<std::uint8_t> fresh = {9, 9};
    ASSERT_FALSE(files_.ReplaceFileAtomically(real, old).has_value());
    fs::create_symlink(real, link);
    ASSERT_FALSE(files_.ReplaceFileAtomically(link, fresh).has_value());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(real), fresh);

    fs::create_hard_link(real, twin);
    ASSERT_FALSE(files_.ReplaceFileAtomically(twin, old).has_value());
    EXPECT_EQ(Read(real), old);
    EXPECT_EQ(fs::hard_link_count(real), 2u);
}

TEST_F(FileIoTest, FailureLeavesTheOldFileWhole) {
    const fs::path file = folder_ / "missing-folder" / "data.bin";
    const std::vector<std::uint8_t> bytes = {1};
    const FileError error = files_.ReplaceFileAtomically(file, bytes);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("missing-folder"), std::string::npos);

    // A full disk: the temporary file cannot be written, the old file stays as it was.
    if (fs::exists("/dev/full")) {
        const fs::path kept = folder_ / "kept.bin";
        ASSERT_FALSE(files_.ReplaceFileAtomically(kept, bytes).has_value());
        EXPECT_TRUE(files_.AppendToFile("/dev/full", bytes).has_value());
        EXPECT_EQ(Read(kept), bytes);
    }
}

// A disk that fills up: the write that would pass its room writes what fits and fails as a full
// disk does. Later writes succeed again, as rewriting the room a file already holds does.
class CFillingDisk final : public CPosixFileIo {
public:
    explicit CFillingDisk(std::size_t room) : room_(room) {}

    FileError Write(NativeFile file, const fs::path& path,
                    std::span<const std::uint8_t> bytes) override {
        if (full_ || bytes.size() <= room_) {
            room_ -= full_ ? 0 : bytes.size();
            return CPosixFileIo::Write(file, path, bytes);
        }
        full_ = true;
        if (FileError failure = CPosixFileIo::Write(file, path, bytes.first(room_))) {
            return failure;
        }
        return "cannot write " + path.string() + ": No space left on device";
    }

private:
    std::size_t room_;
    bool full_ = false;
};

// Wherever the disk fills up, the file holds its old contents or its new ones, whole; its
// hard links stay links to it, and no temporary file is left behind.
TEST_F(FileIoTest, AFullDiskLeavesTheFileWhole) {
    const std::vector<std::uint8_t> old(1000, 'o');
    const std::vector<std::uint8_t> fresh(3000, 'n');
    struct {
        const char* why;
        bool hardLinked;
        std::size_t room;
        bool replaced;
    } cases[] = {
        {"no room at all", false, 0, false},
        {"room for part of the new file", false, 1500, false},
        {"room for the new file", false, 3000, true},
        {"linked, no room for the trial copy", true, 1500, false},
        {"linked, the rewrite fails at its start", true, 3000, false},
        {"linked, the rewrite fails part way", true, 4500, false},
        {"linked, room for the copy and the rewrite", true, 6000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const fs::path file = folder_ / "system.reg";
        const fs::path twin = folder_ / "twin.reg";
        ASSERT_FALSE(files_.ReplaceFileAtomically(file, old).has_value());
        if (c.hardLinked) {
            fs::create_hard_link(file, twin);
        }
        CFillingDisk disk(c.room);
        const FileError error = disk.ReplaceFileAtomically(file, fresh);
        ASSERT_EQ(error.has_value(), !c.replaced);
        if (error) {
            EXPECT_NE(error->find("No space left on device"), std::string::npos) << *error;
        }
        EXPECT_EQ(Read(file), c.replaced ? fresh : old);
        if (c.hardLinked) {
            EXPECT_EQ(fs::hard_link_count(file), 2u);
            EXPECT_EQ(Read(twin), Read(file));
        }
        EXPECT_EQ(EntryCount(), c.hardLinked ? 2u : 1u);
    }
}

// A replaced file keeps its permissions (a private file stays private), through a symbolic
// link too; a new one gets 0644 less the umask.
TEST_F(FileIoTest, KeepsThePermissionsOfTheFileItReplaces) {
    const auto modeOf = [](const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0);
        return info.st_mode & 07777;
    };
    const mode_t umask = ::umask(0);
    ::umask(umask);
    const fs::path file = folder_ / "user.reg";
    const std::vector<std::uint8_t> bytes = {1, 2};
    ASSERT_FALSE(files_.ReplaceFileAtomically(file, bytes).has_value());
    EXPECT_EQ(modeOf(file), 0644u & ~umask);

    for (const mode_t mode : {0600u, 0640u}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_FALSE(files_.ReplaceFileAtomically(file, bytes).has_value());
        EXPECT_EQ(modeOf(file), mode);
    }
    const fs::path link = folder_ / "link.reg";
    fs::create_symlink(file, link);
    ASSERT_FALSE(files_.ReplaceFileAtomically(link, bytes).has_value());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(modeOf(file), 0640u);
}

// A FIFO would block a reader until something writes to it; a folder or a device is no data
// file. Each is refused at once, by name.
TEST_F(FileIoTest, ReadRefusesWhatIsNotARegularFile) {
    const fs::path pipe = folder_ / "user.reg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(folder_ / "folder");
    fs::create_symlink(pipe, folder_ / "link");
    for (const fs::path& path :
         {pipe, folder_ / "folder", folder_ / "link", fs::path("/dev/null")}) {
        SCOPED_TRACE(path.string());
        std::vector<std::uint8_t> bytes;
        const FileError error = files_.ReadWholeFile(path, 100, bytes);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error, path.string() + " is not a regular file");
        int pieces = 0;
        EXPECT_TRUE(files_
                        .ReadFileInPieces(path, 100, 10,
                                          [&pieces](auto) {
                                              ++pieces;
                                              return true;
                                          })
                        .has_value());
        EXPECT_EQ(pieces, 0);
    }
}

// Pieces come in order, each at most the size asked for, until the handler says stop.
TEST_F(FileIoTest, ReadsInPiecesUntilTold) {
    const fs::path file = folder_ / "data.bin";
    std::vector<std::uint8_t> bytes(25);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_FALSE(files_.ReplaceFileAtomically(file, bytes).has_value());
    std::vector<std::uint8_t> joined;
    std::vector<std::size_t> sizes;
    ASSERT_FALSE(files_
                     .ReadFileInPieces(file, 25, 10,
                                       [&](std::span<const std::uint8_t> piece) {
                                           joined.insert(joined.end(), piece.begin(), piece.end());
                                           sizes.push_back(piece.size());
                                           return true;
                                       })
                     .has_value());
    EXPECT_EQ(joined, bytes);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 5}));
    sizes.clear();
    ASSERT_FALSE(files_
                     .ReadFileInPieces(file, 25, 10,
                                       [&](std::span<const std::uint8_t> piece) {
                                           sizes.push_back(piece.size());
                                           return false;
                                       })
                     .has_value());
    EXPECT_EQ(sizes.size(), 1u);
    EXPECT_TRUE(files_.ReadFileInPieces(file, 24, 10, [](auto) { return true; }).has_value());
}

TEST_F(FileIoTest, ReadRefusesOversizedAndMissingFiles) {
    const fs::path file = folder_ / "big.bin";
    const std::vector<std::uint8_t> bytes(100, 7);
    ASSERT_FALSE(files_.ReplaceFileAtomically(file, bytes).has_value());
    std::vector<std::uint8_t> read = {1};
    EXPECT_TRUE(files_.ReadWholeFile(file, 99, read).has_value());
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(files_.ReadWholeFile(file, 100, read).has_value());
    EXPECT_EQ(read, bytes);
    EXPECT_TRUE(files_.ReadWholeFile(folder_ / "none", 100, read).has_value());
}

TEST_F(FileIoTest, AppendAddsToTheEnd) {
    const fs::path file = folder_ / "log.txt";
    const std::vector<std::uint8_t> a = {'a'};
    const std::vector<std::uint8_t> b = {'b'};
    ASSERT_FALSE(files_.AppendToFile(file, a).has_value());
    ASSERT_FALSE(files_.AppendToFile(file, b).has_value());
    EXPECT_EQ(Read(file), std::vector<std::uint8_t>({'a', 'b'}));
}

}  // namespace
}  // namespace quillary
