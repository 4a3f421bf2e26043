// Opening targets: each prefix gets a data folder of its own whichever path reaches it, and a
// target built in memory scans and keeps its repairs inside its drive C:.

#include "app/target_factory.h"

#include <gtest/gtest.h>

#include "support/registry_fixture.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

class TargetFactoryTest : public ::testing::Test {
protected:
    TargetOptions Options() const {
        return {{folder_.Path() / "config", folder_.Path() / "data",
                 fs::current_path() / "lang" / "quillary"},
                {},
                false,
                [](int, const char*) { return true; }};
    }
    // A folder holding a registry file with no keys: the least Wine prefix.
    fs::path MakePrefix(std::string_view name) const {
        return folder_.Write(std::string(name) + "/system.reg", "WINE REGISTRY Version 2\n")
            .parent_path();
    }
    std::unique_ptr<COpenTarget> Open(const fs::path& prefix) const {
        std::string error;
        std::unique_ptr<COpenTarget> target =
            COpenTarget::OpenPrefix({prefix, PrefixOrigin::Argument}, Options(), &error);
        EXPECT_TRUE(target) << error;
        return target;
    }

    testing::CTempFolder folder_;
};

TEST_F(TargetFactoryTest, EachPrefixHasADataFolderOfItsOwnByWhicheverPathItIsReached) {
    const fs::path first = MakePrefix("one/wine");
    const fs::path second = MakePrefix("two/wine");  // the same folder name
    const fs::path link = folder_.Path() / "link";
    fs::create_directory_symlink(first, link);

    std::unique_ptr<COpenTarget> a = Open(first);
    std::unique_ptr<COpenTarget> b = Open(second);
    std::unique_ptr<COpenTarget> viaLink = Open(link);
    ASSERT_TRUE(a && b && viaLink);
    const fs::path dataFolder = a->Context().DataFolder();
    EXPECT_EQ(dataFolder.parent_path(), folder_.Path() / "data" / "quillary");
    EXPECT_TRUE(fs::is_directory(dataFolder));
    EXPECT_NE(b->Context().DataFolder(), dataFolder);
    EXPECT_EQ(viaLink->Context().DataFolder(), dataFolder);
}

TEST_F(TargetFactoryTest, AMissingPrefixOrConfigFolderIsAnError) {
    std::string error;
    EXPECT_FALSE(COpenTarget::OpenPrefix({folder_.Path() / "none", PrefixOrigin::Argument},
                                         Options(), &error));
    EXPECT_FALSE(error.empty());

    TargetOptions noConfig = Options();
    noConfig.folders.configFolder = folder_.Write("config-file");  // a file in the way
    error.clear();
    EXPECT_FALSE(
        COpenTarget::OpenPrefix({MakePrefix("p"), PrefixOrigin::Argument}, noConfig, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(TargetFactoryTest, DemoPrefixIsWrittenOnceIntoTheDataHome) {
    int written = 0;
    const DemoPrefixWriter writeDemo = [&](IFileIo&, const fs::path& folder) -> FileError {
        ++written;
        folder_.Write(fs::relative(folder / "system.reg", folder_.Path()).string(),
                      "WINE REGISTRY Version 2\n");
        return std::nullopt;
    };
    std::string error;
    for (int run = 0; run < 2; ++run) {
        std::unique_ptr<COpenTarget> demo =
            COpenTarget::OpenDemoPrefix(writeDemo, Options(), &error);
        ASSERT_TRUE(demo) << error;
        EXPECT_EQ(demo->Folder(), DemoPrefixFolder(folder_.Path() / "data"));
    }
    EXPECT_EQ(written, 1);

    TargetOptions noDataHome = Options();
    noDataHome.folders.dataHome.clear();
    EXPECT_FALSE(COpenTarget::OpenDemoPrefix(writeDemo, noDataHome, &error));
    EXPECT_NE(error.find("data home"), std::string::npos) << error;
}

TEST_F(TargetFactoryTest, InMemoryTargetScansAndChangesFilesOnItsDriveOnly) {
    const fs::path driveC = folder_.MakeFolder("c");
    folder_.MakeFolder("c/windows/system32");
    std::string error;
    std::unique_ptr<COpenTarget> target = COpenTarget::OpenInMemory(testing::MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
        "Gone"="C:\\Program Files\\Gone\\gone.exe"
    )"),
                                                                    driveC, Options(), &error);
    ASSERT_TRUE(target) << error;
    CAppContext& context = target->Context();
    context.Load();

    constexpr std::uint32_t kStartup = 1u << 11;
    ASSERT_TRUE(context.Scans().StartScan(kStartup));
    context.Scans().WaitForScan();
    ASSERT_EQ(context.Scans().ProblemsOf(kStartup).size(), 1u);
    EXPECT_EQ(context.Scans().ProblemsOf(kStartup)[0]->ValueName, u"Gone");

    // A link on C: that leads out of the drive does not make the folder it leads to the
    // target's.
    const fs::path outside = folder_.MakeFolder("outside");
    fs::create_directory_symlink(outside, driveC / "out");
    const auto& mayChange = context.Backups().mayChangeFile;
    EXPECT_TRUE(mayChange(u"C:\\windows\\gone.exe"));  // need not exist
    EXPECT_FALSE(mayChange(u"C:\\out\\x.lnk"));
    EXPECT_FALSE(mayChange(u"D:\\x.lnk"));
}

}  // namespace
}  // namespace quillary
