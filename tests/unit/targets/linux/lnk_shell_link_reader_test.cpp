#include "targets/linux/lnk_shell_link_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "support/shared_testdata.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// A file system with drive C: on folder and the variables Windows shortcuts use.
std::unique_ptr<CMappedFileSystem> FilesOn(const fs::path& folder) {
    MappedFileSystemSetup setup;
    setup.drives = {{u'C', folder, DriveFixed, {}}};
    setup.environment.Set(u"SystemRoot", u"C:\\windows");
    return std::make_unique<CMappedFileSystem>(std::move(setup));
}

const fs::path kWineFixtures = "tests/fixtures/shortcuts";

TEST(LnkShellLinkReaderTest, ShortcutsWrittenByWinesShellLinkObject) {
    auto files = FilesOn(kWineFixtures);
    CLnkShellLinkReader reader(*files);
    struct {
        std::u16string_view file;
        std::u16string_view path;
        std::u16string_view idListPath;
    } cases[] = {
        {u"TargetExists.lnk", u"C:\\fixture\\app\\tool.exe", u"C:\\fixture\\app\\tool.exe"},
        {u"TargetMissing.lnk", u"C:\\fixture\\gone\\fernpad.exe",
         u"C:\\fixture\\gone\\fernpad.exe"},
        {u"TargetFolder.lnk", u"C:\\fixture\\docs", u"C:\\fixture\\docs"},
        {u"TargetNetworkShare.lnk", u"\\\\server\\share\\report.txt", u""},
        {u"TargetNonAsciiNames.lnk", u"C:\\fixture\\Ünïcode folder\\naïve café.txt",
         u"C:\\fixture\\Ünïcode folder\\naïve café.txt"},
        {u"TargetWithArguments.lnk", u"C:\\fixture\\app\\tool.exe", u"C:\\fixture\\app\\tool.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.file));
        // Any letter case finds the file, as on Windows.
        EXPECT_EQ(reader.GetPath(u"c:\\" + ToLower(c.file)), c.path);
        auto locations = ReadShellLinkLocations(ReadBytes(kWineFixtures / Utf16ToUtf8(c.file)));
        ASSERT_TRUE(locations);
        EXPECT_EQ(locations->idListPath, c.idListPath);
        EXPECT_EQ(locations->environmentPath, u"");
    }
}

TEST(LnkShellLinkReaderTest, WhatIsNoReadableShortcutGivesNoPath) {
    testing::CTempFolder folder;
    folder.Write("empty.lnk");
    folder.Write("text.lnk", "[InternetShortcut]\r\nURL=http://example.com/\r\n");
    folder.MakeFolder("folder.lnk");
    ASSERT_EQ(::mkfifo((folder.Path() / "pipe.lnk").c_str(), 0644), 0);
    std::string big(CLnkShellLinkReader::kMaxFileSize + 1, '\0');
    std::vector<std::uint8_t> real = ReadBytes(kWineFixtures / "TargetExists.lnk");
    std::copy(real.begin(), real.end(), big.begin());
    folder.Write("big.lnk", big);
    auto files = FilesOn(folder.Path());
    CLnkShellLinkReader reader(*files);

    for (std::u16string_view name :
         {u"missing.lnk", u"empty.lnk", u"text.lnk", u"folder.lnk", u"pipe.lnk", u"big.lnk"}) {
        SCOPED_TRACE(Utf16ToUtf8(name));
        EXPECT_EQ(reader.GetPath(u"C:\\" + std::u16string(name)), u"");
    }
}

TEST(LnkShellLinkReaderTest, DamagedCopiesNeverGiveAnotherPath) {
    std::vector<std::uint8_t> real = ReadBytes(kWineFixtures / "TargetExists.lnk");
    ASSERT_FALSE(real.empty());
    const std::u16string path = u"C:\\fixture\\app\\tool.exe";
    auto check = [&](const std::vector<std::uint8_t>& bytes) {
        auto locations = ReadShellLinkLocations(bytes);
        if (!locations)
            return;
        for (const std::u16string* found : {&locations->localPath, &locations->idListPath}) {
            EXPECT_TRUE(found->empty() || *found == path) << Utf16ToUtf8(*found);
        }
    };
    for (std::size_t length = 0; length < real.size(); ++length) {
        SCOPED_TRACE("truncated to " + std::to_string(length));
        check(std::vector<std::uint8_t>(real.begin(), real.begin() + length));
    }
    // Every byte set to 0xFF in turn makes sizes and offsets huge; a byte of a path's own text
    // may change that path, so here only the reading itself is checked (the sanitizers watch
    // every access).
    for (std::size_t at = 0; at < real.size(); ++at) {
        std::vector<std::uint8_t> damaged = real;
        damaged[at] = 0xFF;
        ReadShellLinkLocations(damaged);
    }
}

// Windows file names may hold a lone surrogate; the path must keep it and the unit after it.
TEST(LnkShellLinkReaderTest, LoneSurrogateInTheTargetPathIsKept) {
    auto files = FilesOn(kWineFixtures);
    CLnkShellLinkReader reader(*files);
    EXPECT_EQ(reader.GetPath(u"C:\\TargetLoneSurrogate.lnk"), u"C:\\x_\xD800.exe");
}

TEST(LnkShellLinkReaderTest, Utf16PathsOfShortcutsWrittenByWindows) {
    std::optional<fs::path> shared = testing::SharedTestData("lnk");
    if (!shared)
        GTEST_SKIP() << "the shared test data (shared/testdata/lnk) is absent";
    struct {
        const char* file;
        std::u16string_view localPath;
        std::u16string_view networkPath;
    } cases[] = {
        // A lone surrogate in the file name, which the ID list names as well.
        {"plaso/unpaired_surrogate.lnk", u"C:\\test\\unicode_U+0000d800_\xD800.exe", u""},
        // A share name and a suffix beyond the ANSI code page, joined by a backslash.
        {"Misc/unicodeNetworkPath.lnk.test", u"", u"\\\\\x0793\\C\\relay\\\x8BF4\x660E.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto locations = ReadShellLinkLocations(ReadBytes(*shared / c.file));
        ASSERT_TRUE(locations);
        EXPECT_EQ(locations->localPath, c.localPath);
        EXPECT_EQ(locations->networkPath, c.networkPath);
    }
}

// Stores value in little-endian order over size bytes from at.
void Overwrite(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size,
               std::uint32_t value) {
    for (std::size_t index = 0; index < size; ++index)
        bytes.at(at + index) = static_cast<std::uint8_t>(value >> (8 * index));
}

TEST(LnkShellLinkReaderTest, DamagedUtf16PathsGiveNoOtherPath) {
    const std::vector<std::uint8_t> real = ReadBytes(kWineFixtures / "TargetLoneSurrogate.lnk");
    ASSERT_FALSE(real.empty());
    // Where the fixture's parts lie: the link information follows the header, the string data
    // (the working folder) follows the link information.
    constexpr std::size_t kLinkInfo = 0x4C;
    constexpr std::size_t kLinkInfoHeaderSize = kLinkInfo + 0x04;
    constexpr std::size_t kBasePathUnicodeOffset = kLinkInfo + 0x1C;
    constexpr std::size_t kSuffixUnicodeOffset = kLinkInfo + 0x20;
    const std::size_t linkInfoSize = real.at(kLinkInfo);  // a single byte: it is that short
    const std::size_t workingDirCount = kLinkInfo + linkInfoSize;
    struct {
        const char* what;
        std::size_t at;
        std::size_t size;
        std::uint32_t value;
        std::u16string_view localPath;  // empty when the file is not read at all
    } cases[] = {
        // Offsets past the end of the link information or of the file.
        {"base path offset at the end of the link information", kBasePathUnicodeOffset, 4,
         static_cast<std::uint32_t>(linkInfoSize), u""},
        {"base path offset at its last byte", kBasePathUnicodeOffset, 4,
         static_cast<std::uint32_t>(linkInfoSize - 1), u""},
        {"base path offset far past the end", kBasePathUnicodeOffset, 4, 0xFFFFFFFF, u""},
        {"suffix offset past the end", kSuffixUnicodeOffset, 4, 0x7FFFFFFF, u""},
        {"link information larger than the file", kLinkInfo, 4, 0xFFFF, u""},
        // Counts past the end of the file.
        {"working folder count past the end", workingDirCount, 2, 0xFFFF, u""},
        {"working folder count one past the end", workingDirCount, 2,
         static_cast<std::uint32_t>((real.size() - workingDirCount - 2) / 2 + 1), u""},
        // A header without the UTF-16 offsets: the ANSI path is all there is.
        {"short link information header", kLinkInfoHeaderSize, 4, 0x1C, u"C:\\x_?.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> damaged = real;
        Overwrite(damaged, c.at, c.size, c.value);
        auto locations = ReadShellLinkLocations(damaged);
        EXPECT_EQ(locations ? locations->localPath : u"", c.localPath);
    }
    // A cut copy gives no path, or the whole one when only the end of the extra data is cut.
    for (std::size_t length = 0; length < real.size(); ++length) {
        SCOPED_TRACE("truncated to " + std::to_string(length));
        auto locations =
            ReadShellLinkLocations(std::vector<std::uint8_t>(real.begin(), real.begin() + length));
        std::u16string path = locations ? locations->localPath : u"";
        EXPECT_TRUE(path.empty() || path == u"C:\\x_\xD800.exe") << Utf16ToUtf8(path);
    }
}

TEST(LnkShellLinkReaderTest, ShortcutsWrittenByWindows) {
    std::optional<fs::path> shared = testing::SharedTestData("lnk");
    if (!shared)
        GTEST_SKIP() << "the shared test data (shared/testdata/lnk) is absent";
    auto files = FilesOn(*shared);
    CLnkShellLinkReader reader(*files);
    struct {
        std::u16string_view file;
        std::u16string_view path;
    } cases[] = {
        // The environment block's path, expanded with the target's variables.
        {u"Misc\\local.file.env.test",
         u"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe"},
        // A shared local folder: the network path comes first.
        {u"Misc\\local.directory.seven.test", u"\\\\NETBOOK\\Users\\Administrator"},
        // No link information at all: the ID list names the target.
        {u"Misc\\local.file.darwin.test",
         u"C:\\Windows\\Installer\\{AC76BA86-7AD7-1036-7B44-A93000000001}\\SC_Reader.ico"},
        {u"Misc\\local.file.xp.test", u"C:\\WINDOWS\\desktop.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.file));
        EXPECT_EQ(reader.GetPath(u"C:\\" + std::u16string(c.file)), c.path);
    }
}

TEST(LnkShellLinkReaderTest, IdListsOfWindowsShortcutsAgreeWithTheirLinkInformation) {
    std::optional<fs::path> shared = testing::SharedTestData("lnk");
    if (!shared)
        GTEST_SKIP() << "the shared test data (shared/testdata/lnk) is absent";
    int read = 0;
    int compared = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(*shared)) {
        if (!entry.is_regular_file() || entry.path().filename() == "MANIFEST.txt")
            continue;
        std::optional<ShellLinkLocations> locations =
            ReadShellLinkLocations(ReadBytes(entry.path()));
        if (!locations)
            continue;
        ++read;
        const std::u16string& local = locations->localPath;
        const std::u16string& idList = locations->idListPath;
        // A name liblnk could not decode is left out: it has no one right spelling.
        if (local.empty() || idList.empty() || local.find(u'\xFFFD') != std::u16string::npos)
            continue;
        ++compared;
        EXPECT_TRUE(EqualsNoCase(local, idList))
            << entry.path() << ": " << Utf16ToUtf8(local) << " / " << Utf16ToUtf8(idList);
    }
    EXPECT_GT(read, 500);
    EXPECT_GT(compared, 200);
}

}  // namespace
}  // namespace quillary
