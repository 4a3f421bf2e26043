// The Linux platform answers: what is read from the target, what is kept in the config store,
// and the per-target data folder.

#include "targets/linux/target_platform_queries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

using testing::KeyExists;
using testing::MakeRegistry;
using testing::ValueBytes;

constexpr std::u16string_view kPlatformKey = u"Software\\Kestrow\\ORV\\Platform";

std::unique_ptr<CMemoryRegistry> MakeStore(std::string_view text, bool is64Bit = true) {
    MemoryRegistryOptions options;
    options.is64Bit = is64Bit;
    return MakeRegistry(text, std::move(options));
}

// Queries over an empty target, for the answers kept in the config store.
class CConfigStoreQueries {
public:
    explicit CConfigStoreQueries(IRegistry& configStore)
        : queries_(target_, configStore, u"target", {}) {}
    CTargetPlatformQueries& operator*() { return queries_; }
    CTargetPlatformQueries* operator->() { return &queries_; }

private:
    CMemoryRegistry target_;
    CTargetPlatformQueries queries_;
};

// --- bitness -----------------------------------------------------------------------------------

constexpr std::string_view kEnvironmentKey =
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\Environment]\n";

TEST(TargetPlatformQueriesTest, BitnessFollowsTheArchitectureElseTheWow6432NodeKey) {
    // A 64-bit store has HKLM\Software\Wow6432Node; a 32-bit one does not.
    const struct {
        std::string_view architectureLine;
        bool storeIs64Bit;
        bool expected;
    } cases[] = {
        {R"("PROCESSOR_ARCHITECTURE"="AMD64")", true, true},
        {R"("PROCESSOR_ARCHITECTURE"="amd64")", true, true},
        {R"("PROCESSOR_ARCHITECTURE"="IA64")", true, true},
        {R"("PROCESSOR_ARCHITECTURE"="ARM64")", true, true},
        {R"("PROCESSOR_ARCHITECTURE"="x86")", false, false},
        {R"("PROCESSOR_ARCHITECTURE"="X86")", false, false},
        // The named architecture wins over the presence of the key.
        {R"("PROCESSOR_ARCHITECTURE"="x86")", true, false},
        // Missing, unknown or not text: the key decides.
        {"", true, true},
        {"", false, false},
        {R"("PROCESSOR_ARCHITECTURE"="sparc")", true, true},
        {R"("PROCESSOR_ARCHITECTURE"="sparc")", false, false},
        {R"("PROCESSOR_ARCHITECTURE"=dword:00000009)", false, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(::testing::Message() << row.architectureLine << " on a "
                                          << (row.storeIs64Bit ? "64" : "32") << "-bit store");
        auto target = MakeStore(std::string(kEnvironmentKey) + std::string(row.architectureLine),
                                row.storeIs64Bit);
        CMemoryRegistry config;
        EXPECT_EQ(CTargetPlatformQueries(*target, config, u"t", {}).Is64BitWindows(), row.expected);
    }
}

TEST(TargetPlatformQueriesTest, BitnessIsReadThroughACurrentControlSetLink) {
    auto target = MakeStore(R"(
        [HKEY_LOCAL_MACHINE\System\ControlSet001\Control\Session Manager\Environment]
        "PROCESSOR_ARCHITECTURE"="x86"
        [HKEY_LOCAL_MACHINE\System\CurrentControlSet]
        #link=\Registry\Machine\System\ControlSet001
    )");
    CMemoryRegistry config;
    EXPECT_FALSE(CTargetPlatformQueries(*target, config, u"t", {}).Is64BitWindows());
}

TEST(TargetPlatformQueriesTest, BitnessIsReadOnce) {
    auto target = MakeStore(std::string(kEnvironmentKey) + R"("PROCESSOR_ARCHITECTURE"="x86")");
    CMemoryRegistry config;
    const CTargetPlatformQueries queries(*target, config, u"t", {});
    testing::LoadRegistryText(*target,
                              std::string(kEnvironmentKey) + R"("PROCESSOR_ARCHITECTURE"="AMD64")");
    EXPECT_FALSE(queries.Is64BitWindows());
}

// --- version -----------------------------------------------------------------------------------

TEST(TargetPlatformQueriesTest, VersionIsTheOneAnUnmanifestedProgramSees) {
    const struct {
        std::string_view values;  // under HKLM\Software\Microsoft\Windows NT\CurrentVersion
        int major;
        int minor;
    } cases[] = {
        {R"("CurrentVersion"="5.0")", 5, 0},
        {R"("CurrentVersion"="5.1")", 5, 1},
        {R"("CurrentVersion"="5.2")", 5, 2},
        {R"("CurrentVersion"="6.0")", 6, 0},
        {R"("CurrentVersion"="6.1")", 6, 1},
        {R"("CurrentVersion"="6.2")", 6, 2},
        {R"("CurrentVersion"=" 6.1 ")", 6, 1},
        {R"("CurrentVersion"=str(2):"6.1")", 6, 1},
        // Windows 8.1 and later answer 6.2.
        {R"("CurrentVersion"="6.3")", 6, 2},
        {R"("CurrentVersion"="10.0")", 6, 2},
        {"\"CurrentVersion\"=\"6.3\"\n\"CurrentMajorVersionNumber\"=dword:0000000a", 6, 2},
        {"\"CurrentVersion\"=\"6.1\"\n\"CurrentMajorVersionNumber\"=dword:0000000b", 6, 2},
        {"\"CurrentVersion\"=\"6.1\"\n\"CurrentMajorVersionNumber\"=dword:00000006", 6, 1},
        {"\"CurrentVersion\"=\"6.1\"\n\"CurrentMajorVersionNumber\"=\"10\"", 6, 1},
        // Missing or malformed: a current system.
        {"", 6, 2},
        {R"("CurrentVersion"="")", 6, 2},
        {R"("CurrentVersion"="6")", 6, 2},
        {R"("CurrentVersion"="6.")", 6, 2},
        {R"("CurrentVersion"=".1")", 6, 2},
        {R"("CurrentVersion"="x.y")", 6, 2},
        {R"("CurrentVersion"="5.1x")", 6, 2},
        {R"("CurrentVersion"="5.1.2600")", 6, 2},
        {R"("CurrentVersion"="-5.1")", 6, 2},
        {R"("CurrentVersion"="+5.1")", 6, 2},
        {R"("CurrentVersion"="0.0")", 6, 2},
        {R"("CurrentVersion"="99999999999.1")", 6, 2},
        {R"("CurrentVersion"="5.99999999999")", 6, 2},
        {R"("CurrentVersion"=dword:00000005)", 6, 2},
    };
    for (const bool is64Bit : {true, false}) {
        for (const auto& row : cases) {
            SCOPED_TRACE(::testing::Message()
                         << row.values << (is64Bit ? " (64-bit)" : " (32-bit)"));
            auto target = MakeStore(
                "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n" +
                    std::string(row.values),
                is64Bit);
            CMemoryRegistry config;
            const CTargetPlatformQueries queries(*target, config, u"t", {});
            EXPECT_EQ(queries.WindowsMajorVersion(), row.major);
            EXPECT_EQ(queries.WindowsMinorVersion(), row.minor);
        }
    }
}

TEST(TargetPlatformQueriesTest, VersionOfA64BitTargetComesFromThe64BitView) {
    auto target = MakeStore(R"(
        [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]
        "CurrentVersion"="6.1"
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion]
        "CurrentVersion"="5.2"
    )");
    CMemoryRegistry config;
    const CTargetPlatformQueries queries(*target, config, u"t", {});
    EXPECT_EQ(queries.WindowsMajorVersion(), 6);
    EXPECT_EQ(queries.WindowsMinorVersion(), 1);
}

// --- language ----------------------------------------------------------------------------------

TEST(TargetPlatformQueriesTest, LanguageIndexIsTheStoredChoiceWithinTheTable) {
    const struct {
        std::string_view config;
        int expected;
    } cases[] = {
        {"", 0},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]", 0},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=dword:00000003", 3},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=dword:0000000d", 13},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=dword:0000000e", 0},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=dword:ffffffff", 0},
        {"[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=\"3\"", 0},
        // The choice of the machine's key is not this user's.
        {"[HKEY_LOCAL_MACHINE\\Software\\Kestrow\\ORV\\LANG]\n\"LangID\"=dword:00000003", 0},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.config);
        auto config = MakeStore(row.config);
        EXPECT_EQ(CConfigStoreQueries(*config)->CurrentLanguageIndex(), row.expected);
    }
}

// --- text width --------------------------------------------------------------------------------

TEST(TargetPlatformQueriesTest, TextWidthEstimatesFromTheHeightAndCapsAtTheLimit) {
    constexpr int kWidest = std::numeric_limits<int>::max();
    constexpr std::int32_t kLowest = std::numeric_limits<std::int32_t>::min();
    const struct {
        std::u16string_view text;
        std::int32_t height;
        int limit;
        int expected;
    } cases[] = {
        {u"", -12, 0, 0},
        {u"abcd", -12, 0, 26},  // 4 x 12 x 0.55 = 26.4
        {u"abcd", 12, 0, 26},
        {u"abcd", 0, 0, 26},  // the interface font's height
        {u"abcde", -12, 0, 33},
        {u"abcd", -12, 20, 20},
        {u"abcd", -12, -1, 26},
        {u"\xD83D\xDE00", -20, 0, 11},  // one character in a surrogate pair
        {u"\xDE00\xD83D", -20, 0, 22},  // two lone halves
        {u"ab", kLowest, 0, kWidest},
        {u"ab", kLowest, 100, 100},
    };
    CMemoryRegistry config;
    CConfigStoreQueries queries(config);
    for (const auto& row : cases) {
        SCOPED_TRACE(::testing::Message() << Utf16ToUtf8(row.text) << " height " << row.height
                                          << " limit " << row.limit);
        EXPECT_EQ(queries->TextWidth(row.text, row.height, row.limit), row.expected);
    }
}

// --- values kept in the config store -----------------------------------------------------------

TEST(TargetPlatformQueriesTest, FirstRunIsAnsweredOncePerUser) {
    CMemoryRegistry config;
    {
        CConfigStoreQueries queries(config);
        EXPECT_TRUE(queries->IsFirstRun());
        EXPECT_FALSE(queries->IsFirstRun());
    }
    CConfigStoreQueries nextRun(config);
    EXPECT_FALSE(nextRun->IsFirstRun());
}

TEST(TargetPlatformQueriesTest, FirstRunIsAnsweredOnceEvenWhenTheMarkCannotBeStored) {
    auto config = MakeStore(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV\Platform]
        #deny=write
    )");
    CConfigStoreQueries queries(*config);
    EXPECT_TRUE(queries->IsFirstRun());
    EXPECT_FALSE(queries->IsFirstRun());
}

TEST(TargetPlatformQueriesTest, StartScanRequestIsSpentByItsAcknowledgement) {
    const struct {
        std::string_view request;
        bool expected;
    } cases[] = {
        {R"("StartScanRequested"=dword:00000001)", true},
        {R"("StartScanRequested"=dword:00000002)", true},
        {R"("StartScanRequested"=dword:00000000)", false},
        {R"("StartScanRequested"="1")", false},
        {"", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.request);
        auto config = MakeStore("[HKEY_CURRENT_USER\\Software\\Kestrow\\ORV\\Platform]\n" +
                                std::string(row.request) + "\n\"LastScanProblems\"=dword:00000007");
        CConfigStoreQueries queries(*config);
        EXPECT_EQ(queries->IsStartScanRequested(), row.expected);
        queries->AcknowledgeStartScan();
        EXPECT_FALSE(queries->IsStartScanRequested());
        EXPECT_FALSE(ValueBytes(*config, HKeyCurrentUser, kPlatformKey, u"StartScanRequested"));
        // Only the request is spent.
        EXPECT_EQ(queries->LastScanProblemCount(), 7);
    }
}

TEST(TargetPlatformQueriesTest, AcknowledgingWithoutARequestCreatesNothing) {
    CMemoryRegistry config;
    CConfigStoreQueries(config)->AcknowledgeStartScan();
    EXPECT_FALSE(KeyExists(config, HKeyCurrentUser, kPlatformKey));
}

TEST(TargetPlatformQueriesTest, LastScanProblemCountIsKeptAcrossRuns) {
    CMemoryRegistry config;
    EXPECT_EQ(CConfigStoreQueries(config)->LastScanProblemCount(), 0);
    CConfigStoreQueries(config)->StoreLastScanProblemCount(42);
    EXPECT_EQ(CConfigStoreQueries(config)->LastScanProblemCount(), 42);
    CConfigStoreQueries(config)->StoreLastScanProblemCount(-5);
    EXPECT_EQ(CConfigStoreQueries(config)->LastScanProblemCount(), 0);
}

TEST(TargetPlatformQueriesTest, LastScanProblemCountBeyondAnIntIsTheLargestInt) {
    auto config = MakeStore(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV\Platform]
        "LastScanProblems"=dword:ffffffff
    )");
    EXPECT_EQ(CConfigStoreQueries(*config)->LastScanProblemCount(),
              std::numeric_limits<int>::max());
}

// --- data home ---------------------------------------------------------------------------------

TEST(DataHomeTest, ComesFromXdgDataHomeElseHome) {
    using Environment = std::map<std::string, std::string>;
    const struct {
        Environment environment;
        std::filesystem::path expected;
    } cases[] = {
        {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}}, "/data"},
        {{{"HOME", "/home/u"}}, "/home/u/.local/share"},
        {{{"XDG_DATA_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.local/share"},
        {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/home/u"}}, "/home/u/.local/share"},
        {{{"HOME", "relative"}}, ""},
        {{{"HOME", ""}}, ""},
        {{}, ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.expected);
        const auto lookup = [&row](const char* name) -> std::optional<std::string> {
            const auto found = row.environment.find(name);
            return found == row.environment.end() ? std::nullopt
                                                  : std::optional<std::string>(found->second);
        };
        EXPECT_EQ(DataHomeFrom(lookup), row.expected);
    }
    EXPECT_EQ(DataHomeFrom(nullptr), std::filesystem::path());
}

// --- folders -----------------------------------------------------------------------------------

// An empty folder of its own for each test, removed afterwards.
class TargetPlatformFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillary-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(home_, error);
    }

    std::u16string DataFolderOf(std::u16string targetId) {
        return CTargetPlatformQueries(target_, config_, std::move(targetId), home_).DataFolder();
    }

    std::filesystem::path home_;
    CMemoryRegistry target_;
    CMemoryRegistry config_;
};

TEST_F(TargetPlatformFolderTest, DataFolderIsCreatedOncePerTarget) {
    const std::u16string first = DataFolderOf(u"3f2a9c");
    EXPECT_EQ(first, Utf8ToUtf16((home_ / "quillary" / "3f2a9c").native()));
    EXPECT_TRUE(std::filesystem::is_directory(Utf16ToUtf8(first)));
    EXPECT_EQ(DataFolderOf(u"3f2a9c"), first);

    const std::u16string second = DataFolderOf(u"b7e0d1");
    EXPECT_NE(second, first);
    EXPECT_TRUE(std::filesystem::is_directory(Utf16ToUtf8(second)));
}

TEST_F(TargetPlatformFolderTest, DataFolderTakesAnyPlainFolderName) {
    for (std::u16string_view id : {u"prefix \x00E4\x20AC", u"a..b", u"..hidden", u"\xD83D\xDE00"}) {
        SCOPED_TRACE(Utf16ToUtf8(id));
        const std::filesystem::path folder(Utf16ToUtf8(DataFolderOf(std::u16string(id))));
        EXPECT_EQ(folder.parent_path(), home_ / "quillary");
        EXPECT_TRUE(std::filesystem::is_directory(folder));
    }
}

TEST_F(TargetPlatformFolderTest, DataFolderRefusesATargetIdThatIsNotOneFolderName) {
    const std::u16string_view ids[] = {
        u"",          u".",     u"..",
        u"../escape", u"a/b",   u"/abs",
        u"a\\b",      u"..\\x", std::u16string_view(u"a\0b", 3),
        u"\xD800x",  // a lone surrogate would come back as another name
    };
    for (std::u16string_view id : ids) {
        SCOPED_TRACE(::testing::Message() << "id of " << id.size() << " units");
        EXPECT_EQ(DataFolderOf(std::u16string(id)), u"");
        EXPECT_TRUE(std::filesystem::is_empty(home_));
    }
}

TEST_F(TargetPlatformFolderTest, DataFolderIsEmptyWhenAFileIsInTheWay) {
    std::ofstream(home_ / "quillary") << "not a folder";
    EXPECT_EQ(DataFolderOf(u"3f2a9c"), u"");
}

TEST_F(TargetPlatformFolderTest, DataFolderIsEmptyWithoutADataHome) {
    EXPECT_EQ(CTargetPlatformQueries(target_, config_, u"3f2a9c", {}).DataFolder(), u"");
}

TEST_F(TargetPlatformFolderTest, CreateFolderMakesMissingParents) {
    CTargetPlatformQueries queries(target_, config_, u"t", home_);
    const std::filesystem::path nested = home_ / "one" / "two" / "three";
    queries.CreateFolder(Utf8ToUtf16(nested.native()));
    EXPECT_TRUE(std::filesystem::is_directory(nested));
}

TEST_F(TargetPlatformFolderTest, CreateFolderLeavesPathsItCannotHoldExactly) {
    CTargetPlatformQueries queries(target_, config_, u"t", home_);
    const std::u16string base = Utf8ToUtf16(home_.native());
    queries.CreateFolder(base + std::u16string(u"/cut\0rest", 9));
    queries.CreateFolder(base + u"/lone\xDC00");
    queries.CreateFolder(u"");
    EXPECT_TRUE(std::filesystem::is_empty(home_));

    std::ofstream(home_ / "file") << "in the way";
    queries.CreateFolder(base + u"/file/below");
    EXPECT_TRUE(std::filesystem::is_regular_file(home_ / "file"));
}

}  // namespace
}  // namespace quillary
