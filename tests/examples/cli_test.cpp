// quillary-cli from end to end on a fresh demo prefix: the README's main job (scan, repair,
// backups, undo) and the exit codes a script relies on.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../integration/command.h"
#include "demo_prefix.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        fs::create_directories(folder_.Path() / "run");
        fs::permissions(folder_.Path() / "run", fs::perms::owner_all, fs::perm_options::replace);
        EXPECT_EQ(demo::WriteDemoPrefix(Prefix()), std::nullopt);
    }

    fs::path Prefix() const { return folder_.Path() / "prefix"; }

    testing::CommandResult Cli(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUILLARY_CLI);
        const fs::path& root = folder_.Path();
        return testing::RunCommand(arguments, {"XDG_DATA_HOME=" + (root / "data").string(),
                                               "XDG_CONFIG_HOME=" + (root / "config").string(),
                                               "XDG_RUNTIME_DIR=" + (root / "run").string(),
                                               "WINEPREFIX=" + Prefix().string()});
    }

    std::string Export(const std::string& name) {
        fs::path file = folder_.Path() / name;
        EXPECT_EQ(Cli({"export", "HKEY_LOCAL_MACHINE", file.string()}).exitCode, 0);
        std::ifstream stream(file, std::ios::binary);
        std::stringstream bytes;
        bytes << stream.rdbuf();
        return bytes.str();
    }

    testing::CTempFolder folder_;
};

TEST_F(CliTest, ScanRepairAndUndoTheDemoPrefix) {
    const std::string before = Export("before.reg");
    testing::CommandResult scan = Cli({"scan", "--categories", "all", "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    nlohmann::json found = nlohmann::json::parse(scan.out);
    EXPECT_EQ(found["target"], Prefix().string());
    EXPECT_EQ(found["counts"], nlohmann::json::parse("[4,0,0,0,0,0,0,2,0,0,3,2,0,0]"));
    EXPECT_EQ(found["problems"].size(), 11u);
    EXPECT_EQ(found["problems"][0]["category"], 0);
    EXPECT_FALSE(found["problems"][0]["details"].empty());

    testing::CommandResult repair = Cli({"repair", "--json"});
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
    nlohmann::json repaired = nlohmann::json::parse(repair.out);
    EXPECT_EQ(repaired["repaired"], 11);
    EXPECT_EQ(repaired["failed"], 0);
    EXPECT_EQ(repaired["backup"], "00000001");
    EXPECT_NE(Export("repaired.reg"), before);

    testing::CommandResult backups = Cli({"backups", "--json"});
    ASSERT_EQ(backups.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(backups.out)[0]["number"], "00000001");
    ASSERT_EQ(Cli({"undo", "00000001"}).exitCode, 0);
    EXPECT_EQ(Export("after.reg"), before);
}

TEST_F(CliTest, ExitCodesSayWhatWentWrong) {
    EXPECT_EQ(Cli({"scan", "--bogus"}).exitCode, 2);
    EXPECT_EQ(Cli({"scan", "--categories", "nosuch"}).exitCode, 2);
    EXPECT_EQ(Cli({"undo", "00000042"}).exitCode, 2);
    testing::CommandResult missing = Cli({"scan", "--prefix", (folder_.Path() / "none").string()});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
    std::ofstream(folder_.Path() / "damaged.reg") << "REGEDIT4\n[HKEY_NOWHERE\\x]\n";
    testing::CommandResult damaged = Cli({"import", (folder_.Path() / "damaged.reg").string()});
    EXPECT_EQ(damaged.exitCode, 2);
    EXPECT_NE(damaged.err.find("line 2"), std::string::npos) << damaged.err;
}

}  // namespace
}  // namespace quillary
