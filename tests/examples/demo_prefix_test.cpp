// The demo prefix generator: the prefix it writes, checked against its table of planted
// entries, and how it treats the folder it is asked to write into.

#include "demo_prefix.h"

#include <liblnk.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "core/registry_access.h"
#include "core/text_case.h"
#include "core/text_encoding.h"
#include "planted_entries.h"
#include "readme_table.h"
#include "shell_link_writer.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"

namespace quillary::demo {
namespace {

namespace fs = std::filesystem;

// The demo prefix is written, and its registry read, through the host's file I/O.
CPosixFileIo hostFiles;

fs::path MakeTempFolder(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    return pattern;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// Finds a path of drive C: the way Wine does: each component by its exact name first, else
// by a name that differs only in letter case.
std::optional<fs::path> FindOnDriveC(const fs::path& prefix, std::u16string_view windowsPath) {
    const std::optional<fs::path> exact = PathOnDriveC(prefix, windowsPath);
    if (!exact) {
        return std::nullopt;
    }
    fs::path found = prefix / "drive_c";
    for (const fs::path& component : exact->lexically_relative(found)) {
        std::error_code error;
        if (fs::exists(found / component, error)) {
            found /= component;
            continue;
        }
        const std::u16string wanted = ToLower(Utf8ToUtf16(component.string()));
        std::optional<fs::path> match;
        for (const fs::directory_entry& entry : fs::directory_iterator(found, error)) {
            if (ToLower(Utf8ToUtf16(entry.path().filename().string())) == wanted) {
                match = entry.path();
                break;
            }
        }
        if (!match) {
            return std::nullopt;
        }
        found = *match;
    }
    return found;
}

bool IsFileOnDriveC(const fs::path& prefix, std::u16string_view windowsPath) {
    const std::optional<fs::path> path = FindOnDriveC(prefix, windowsPath);
    return path && fs::is_regular_file(*path);
}

// The same path in the other view of a 64-bit system, where a scan may look for it too.
std::u16string OtherViewOf(std::u16string_view path) {
    struct Twin {
        std::u16string_view a;
        std::u16string_view b;
    };
    constexpr Twin kTwins[] = {{u"\\program files\\", u"\\program files (x86)\\"},
                               {u"\\system32\\", u"\\syswow64\\"}};
    std::u16string text(path);
    const std::u16string lower = ToLower(path);
    for (const Twin& twin : kTwins) {
        if (std::size_t at = lower.find(twin.b); at != std::u16string::npos) {
            return text.replace(at, twin.b.size(), twin.a);
        }
        if (std::size_t at = lower.find(twin.a); at != std::u16string::npos) {
            return text.replace(at, twin.a.size(), twin.b);
        }
    }
    return text;
}

bool KeyExists(IRegistry& store, std::u16string_view path) {
    const RegistryPath parts = SplitRegistryPath(path);
    const std::optional<HKey> root = RootKeyFromName(parts.rootName);
    if (!root) {
        return false;
    }
    RegKey key(store);
    return key.Open(*root, parts.subKey, kMaskReadOnly | KeyWow64_64Key) == ErrorSuccess;
}

std::string Describe(const PlantedEntry& entry) {
    const std::u16string where = entry.shortcut ? entry.shortcut->path : entry.key;
    return std::string(CategoryLabel(entry.category)) + ": " + Utf16ToUtf8(where) + " " +
           Utf16ToUtf8(entry.valueName);
}

class DemoPrefixTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        parent_ = new fs::path(MakeTempFolder("quillary-demo-test"));
        prefix_ = new fs::path(*parent_ / "prefix");
        const FileError failure = WriteDemoPrefix(hostFiles, *prefix_);
        ASSERT_FALSE(failure) << *failure;
        std::string error;
        store_ = CWinePrefixRegistry::Open(hostFiles, *prefix_, &error).release();
        ASSERT_NE(store_, nullptr) << error;
    }

    static void TearDownTestSuite() {
        delete store_;
        std::error_code error;
        fs::remove_all(*parent_, error);
        delete prefix_;
        delete parent_;
    }

    static fs::path* parent_;
    static fs::path* prefix_;
    static CWinePrefixRegistry* store_;
};

fs::path* DemoPrefixTest::parent_ = nullptr;
fs::path* DemoPrefixTest::prefix_ = nullptr;
CWinePrefixRegistry* DemoPrefixTest::store_ = nullptr;

TEST_F(DemoPrefixTest, OpensAsAWritable64BitPrefixWithDriveCOnly) {
    for (const WineRegDiagnostic& diagnostic : store_->Diagnostics()) {
        ADD_FAILURE() << DescribeDiagnostic(diagnostic);
    }
    EXPECT_EQ(store_->WriteRefusal(), std::nullopt);
    EXPECT_TRUE(store_->Is64Bit());
    EXPECT_TRUE(ReadFile(*prefix_ / "system.reg")
                    .starts_with("WINE REGISTRY Version 2\n;; All keys relative to "
                                 "REGISTRY\\\\Machine\n\n#arch=win64\n"));

    std::vector<std::string> drives;
    for (const fs::directory_entry& entry : fs::directory_iterator(*prefix_ / "dosdevices")) {
        drives.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(drives, std::vector<std::string>{"c:"});
    EXPECT_EQ(fs::read_symlink(*prefix_ / "dosdevices" / "c:"), fs::path("../drive_c"));
    EXPECT_TRUE(fs::is_directory(*prefix_ / "dosdevices" / "c:" / "windows" / "system32"));
}

TEST_F(DemoPrefixTest, TheSystemFindsItsFoldersAndThe32BitView) {
    const RegistryTarget target{store_, true, {}};
    struct Case {
        HKey root;
        std::u16string_view key;
        std::u16string_view value;
        std::u16string_view expected;
    } const cases[] = {
        {HKeyLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion", u"SystemRoot",
         u"C:\\windows"},
        {HKeyLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir",
         u"C:\\Program Files"},
        {HKeyLocalMachine, u"System\\CurrentControlSet\\Control\\Session Manager\\Environment",
         u"PROCESSOR_ARCHITECTURE", u"AMD64"},
        {HKeyCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
         u"Desktop", u"C:\\users\\demo\\Desktop"},
        {HKeyCurrentUser, u"Volatile Environment", u"USERPROFILE", u"C:\\users\\demo"},
        {HKeyUsers,
         u".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
         u"Personal", u"%USERPROFILE%\\Documents"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(Utf16ToUtf8(row.key) + " " + Utf16ToUtf8(row.value));
        std::u16string text;
        EXPECT_TRUE(ReadValueText64(target, row.root, row.key, row.value, text));
        EXPECT_EQ(text, row.expected);
    }
    // 32-bit programs see the machine's 32-bit software and classes through Wow6432Node.
    std::u16string programFiles;
    ReadValueText32(target, HKeyLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion",
                    u"ProgramFilesDir", programFiles);
    EXPECT_EQ(programFiles, u"C:\\Program Files (x86)");
    RegKey classes32(*store_);
    EXPECT_EQ(classes32.Open(HKeyClassesRoot, u"CLSID\\{3F6A8B20-1D2E-4C3B-A4F5-6789ABCDEF01}",
                             kMaskReadOnly | KeyWow64_32Key),
              ErrorSuccess);
    RegKey sharedAppId(*store_);
    EXPECT_EQ(
        sharedAppId.Open(HKeyClassesRoot, u"AppID\\larkspur.exe", kMaskReadOnly | KeyWow64_32Key),
        ErrorSuccess);
}

TEST_F(DemoPrefixTest, EveryPlantedEntryIsInTheRegistryAsPlanted) {
    for (const PlantedEntry& entry : PlantedEntries()) {
        if (entry.shortcut) {
            continue;
        }
        SCOPED_TRACE(Describe(entry));
        const RegistryPath parts = SplitRegistryPath(entry.key);
        RegKey key(*store_);
        ASSERT_EQ(key.Open(*RootKeyFromName(parts.rootName), parts.subKey,
                           kMaskReadOnly | KeyWow64_64Key),
                  ErrorSuccess);
        RegKeyInfo info;
        ASSERT_EQ(store_->RegQueryInfoKeyW(key.Handle(), &info), ErrorSuccess);
        EXPECT_EQ(entry.emptyKey, info.values == 0 && info.subKeys == 0);
        if (entry.valueText) {
            char16_t buffer[1024];
            std::uint32_t length = 1024;
            ASSERT_EQ(key.QueryString(entry.valueName, buffer, &length), ErrorSuccess);
            EXPECT_EQ(std::u16string(buffer, length - 1), *entry.valueText);
        } else if (!entry.valueName.empty()) {
            EXPECT_EQ(
                store_->RegQueryValueExW(key.Handle(), entry.valueName, nullptr, nullptr, nullptr),
                ErrorSuccess);
        }
    }
}

TEST_F(DemoPrefixTest, TargetsExistOrAreMissingAsPlanted) {
    for (const PlantedEntry& entry : PlantedEntries()) {
        SCOPED_TRACE(Describe(entry));
        for (const Target& target : entry.targets) {
            SCOPED_TRACE(Utf16ToUtf8(target.path));
            if (target.kind == TargetKind::Key) {
                EXPECT_EQ(KeyExists(*store_, target.path), target.exists);
                continue;
            }
            const std::optional<fs::path> found = FindOnDriveC(*prefix_, target.path);
            if (target.exists) {
                ASSERT_TRUE(found);
                EXPECT_EQ(fs::is_directory(*found), target.kind == TargetKind::Folder);
                continue;
            }
            EXPECT_FALSE(found);
            // A scan also accepts a missing file when the same path in the other view
            // exists, or when the text begins with the name of an existing file.
            const std::u16string twin = OtherViewOf(target.path);
            EXPECT_FALSE(FindOnDriveC(*prefix_, twin)) << Utf16ToUtf8(twin);
            for (const std::u16string& path : {target.path, twin}) {
                for (std::size_t length = 3; length < path.size(); ++length) {
                    EXPECT_FALSE(IsFileOnDriveC(*prefix_, path.substr(0, length)))
                        << Utf16ToUtf8(path.substr(0, length));
                }
            }
        }
    }
}

TEST_F(DemoPrefixTest, ShortcutsPointAtTheirTargetsAsAShortcutReaderSeesThem) {
    for (const PlantedEntry& entry : PlantedEntries()) {
        if (!entry.shortcut) {
            continue;
        }
        SCOPED_TRACE(Describe(entry));
        const std::optional<fs::path> file = FindOnDriveC(*prefix_, entry.shortcut->path);
        ASSERT_TRUE(file);
        liblnk_file_t* link = nullptr;
        liblnk_error_t* error = nullptr;
        ASSERT_EQ(liblnk_file_initialize(&link, &error), 1);
        ASSERT_EQ(liblnk_file_open(link, file->c_str(), LIBLNK_OPEN_READ, &error), 1);
        std::size_t size = 0;
        ASSERT_EQ(liblnk_file_get_utf8_local_path_size(link, &size, &error), 1);
        std::string path(size, '\0');
        ASSERT_EQ(liblnk_file_get_utf8_local_path(
                      link, reinterpret_cast<std::uint8_t*>(path.data()), size, &error),
                  1);
        path.resize(size - 1);
        EXPECT_EQ(path, Utf16ToUtf8(entry.shortcut->target));
        liblnk_file_close(link, &error);
        liblnk_file_free(&link, &error);
        liblnk_error_free(&error);
    }
}

TEST(PlantedEntries, EachVerdictFollowsFromWhatTheEntryPointsAt) {
    std::set<int> reported;
    std::set<int> notReported;
    for (const PlantedEntry& entry : PlantedEntries()) {
        SCOPED_TRACE(Describe(entry));
        bool anyMissing = false;
        for (const Target& target : entry.targets) {
            anyMissing = anyMissing || !target.exists;
        }
        if (entry.verdict == Verdict::Reported) {
            reported.insert(entry.category);
            EXPECT_TRUE(anyMissing || entry.emptyKey || entry.incomplete);
            EXPECT_TRUE(entry.excludedBy.empty());
            continue;
        }
        notReported.insert(entry.category);
        EXPECT_FALSE(entry.emptyKey);
        EXPECT_FALSE(entry.incomplete);
        EXPECT_FALSE(entry.onlyWhenSearchingEmptyKeys);
        if (!anyMissing) {
            EXPECT_TRUE(entry.excludedBy.empty());
            continue;
        }
        // Kept out of the results only by a rule fragment that the entry really holds.
        ASSERT_FALSE(entry.excludedBy.empty());
        const std::u16string text =
            ToLower(entry.key + u"\n" + entry.valueName + u"\n" + entry.valueText.value_or(u""));
        EXPECT_NE(text.find(ToLower(entry.excludedBy)), std::u16string::npos);
    }
    EXPECT_EQ(reported.size(), 14u);
    EXPECT_EQ(notReported.size(), 14u);
}

TEST(PlantedEntries, TheReadmeListsThemAsTheGeneratorPrintsThem) {
    const std::string readme = ReadFile("examples/README.md");
    const std::string begin = "<!-- planted entries: begin -->\n";
    const std::string end = "<!-- planted entries: end -->";
    const std::size_t from = readme.find(begin);
    const std::size_t to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()),
              FormatPlantedEntriesMarkdown())
        << "regenerate the table with `quillary-demo-prefix --readme-table`";
}

// --- the output folder ----------------------------------------------------------------------

class DemoPrefixOutputTest : public ::testing::Test {
protected:
    void SetUp() override { parent_ = MakeTempFolder("quillary-demo-output"); }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(parent_, error);
    }

    std::vector<std::string> ParentListing() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(parent_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path parent_;
};

TEST_F(DemoPrefixOutputTest, RefusesWhatIsNotAnEmptyFolderOrAnEarlierDemoPrefix) {
    const fs::path foreign = parent_ / "documents";
    fs::create_directory(foreign);
    std::ofstream(foreign / "letter.txt") << "keep me";
    std::ofstream(parent_ / "file") << "keep me too";
    fs::create_directory_symlink("documents", parent_ / "link");

    for (const char* name : {"documents", "file", "link"}) {
        SCOPED_TRACE(name);
        const FileError failure = WriteDemoPrefix(hostFiles, parent_ / name);
        ASSERT_TRUE(failure);
        EXPECT_NE(failure->find((parent_ / name).string()), std::string::npos) << *failure;
    }
    EXPECT_EQ(ReadFile(foreign / "letter.txt"), "keep me");
    EXPECT_EQ(ReadFile(parent_ / "file"), "keep me too");
    EXPECT_EQ(ParentListing(), (std::vector<std::string>{"documents", "file", "link"}));
}

TEST_F(DemoPrefixOutputTest, ReplacesAnEarlierDemoPrefixWholeWithTheSameBytes) {
    const fs::path prefix = parent_ / "prefix";
    fs::create_directory(prefix);
    ASSERT_FALSE(WriteDemoPrefix(hostFiles, prefix));  // an empty folder is taken
    const std::string systemReg = ReadFile(prefix / "system.reg");
    const std::string userReg = ReadFile(prefix / "user.reg");
    const fs::path link = prefix / "drive_c" / "users" / "demo" / "Desktop" / "Fernpad.lnk";
    const std::string shortcut = ReadFile(link);
    std::ofstream(prefix / "drive_c" / "stray.txt") << "left by a user";

    ASSERT_FALSE(WriteDemoPrefix(hostFiles,
                                 prefix.string() + "/"));  // the same folder, written as a user may

    EXPECT_FALSE(fs::exists(prefix / "drive_c" / "stray.txt"));
    EXPECT_TRUE(fs::is_regular_file(prefix / kMarkerFileName));
    EXPECT_EQ(ReadFile(prefix / "system.reg"), systemReg);
    EXPECT_EQ(ReadFile(prefix / "user.reg"), userReg);
    EXPECT_EQ(ReadFile(link), shortcut);
    EXPECT_EQ(ParentListing(), std::vector<std::string>{"prefix"});  // no work folders left
}

TEST(ShellLinkWriter, WritesOnlyAbsolutePathsOfADrive) {
    struct Case {
        std::u16string path;
        bool written;
    } const cases[] = {
        {u"C:\\Program Files\\App\\app.exe", true},
        {u"d:\\data", true},
        {u"app.exe", false},
        {u"\\\\server\\share\\app.exe", false},
        {u"C:relative.exe", false},
        {u"C:\\" + std::u16string(256, u'x'), true},
        {u"C:\\" + std::u16string(257, u'x'), false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(Utf16ToUtf8(row.path).substr(0, 40));
        EXPECT_EQ(!FormatShellLink(ShellLinkTarget{row.path, false, 0}).empty(), row.written);
    }
}

TEST(PathOnDriveC, MapsOnlyPathsThatStayOnDriveC) {
    const fs::path prefix = "/prefix";
    struct Case {
        std::u16string_view windowsPath;
        std::optional<fs::path> expected;
    } const cases[] = {
        {u"C:\\users\\demo", fs::path("/prefix/drive_c/users/demo")},
        {u"c:\\Program Files\\", fs::path("/prefix/drive_c/Program Files")},
        {u"C:\\", fs::path("/prefix/drive_c")},
        {u"C:\\users\\..\\..\\etc", std::nullopt},
        {u"C:\\users\\.\\demo", std::nullopt},
        {u"C:\\a\\\\b", std::nullopt},
        {u"C:\\a/b", std::nullopt},
        {u"Z:\\etc", std::nullopt},
        {u"users\\demo", std::nullopt},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(Utf16ToUtf8(row.windowsPath));
        EXPECT_EQ(PathOnDriveC(prefix, row.windowsPath), row.expected);
    }
}

}  // namespace
}  // namespace quillary::demo
