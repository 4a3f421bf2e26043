// quillary-cli from end to end on a fresh demo prefix: the README's main job (scan, repair,
// backups, undo) and the exit codes a script relies on.

#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CliTest;

TEST_F(CliTest, ScanRepairAndUndoTheDemoPrefix) {
    const std::string before = Export("before.reg");
    testing::CommandResult scan = Cli({"scan", "--categories", "all", "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    nlohmann::json found = nlohmann::json::parse(scan.out);
    EXPECT_EQ(found["target"], Prefix().string());
    ASSERT_TRUE(found.contains("readOnly"));
    EXPECT_TRUE(found["readOnly"].is_null());
    EXPECT_EQ(found["counts"], nlohmann::json::parse("[4,6,6,3,2,6,2,2,5,2,3,2,8,6]"));
    EXPECT_EQ(found["problems"].size(), 57u);
    EXPECT_EQ(found["problems"][0]["category"], 0);
    EXPECT_FALSE(found["problems"][0]["details"].empty());

    testing::CommandResult repair = Cli({"repair", "--json"});
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
    nlohmann::json repaired = nlohmann::json::parse(repair.out);
    EXPECT_EQ(repaired["repaired"], 57);
    EXPECT_EQ(repaired["failed"], 0);
    EXPECT_EQ(repaired["backup"], "00000001");
    EXPECT_NE(Export("repaired.reg"), before);

    testing::CommandResult backups = Cli({"backups", "--json"});
    ASSERT_EQ(backups.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(backups.out)[0]["number"], "00000001");
    ASSERT_EQ(Cli({"undo", "00000001"}).exitCode, 0);
    EXPECT_EQ(Export("after.reg"), before);

    // The counters of found and repaired problems outlive the program.
    const std::string settings = ReadBytes(folder_.Path() / "config/quillary/user.reg");
    EXPECT_NE(settings.find("\"RegErrFoundTillDate\"=dword:00000039"), std::string::npos);
    EXPECT_NE(settings.find("\"RegErrsFixedTillDate\"=dword:00000039"), std::string::npos);

    // Deleting the backup takes it off the undo list; its archive stays.
    ASSERT_EQ(Cli({"backups", "--delete", "1"}).exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(Cli({"backups", "--json"}).out).size(), 0u);
}

TEST_F(CliTest, APrefixThatMayNotBeWrittenIsScannedInFullAndSaysWhy) {
    // A line that does not parse makes the store refuse every change to the prefix.
    std::ofstream(Prefix() / "user.reg", std::ios::app) << "hello";

    testing::CommandResult scan = Cli({"scan", "--categories", "all", "--json"});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    nlohmann::json found = nlohmann::json::parse(scan.out);
    EXPECT_EQ(found["counts"], nlohmann::json::parse("[4,6,6,3,2,6,2,2,5,2,3,2,8,6]"));
    ASSERT_TRUE(found["readOnly"].is_string()) << found["readOnly"];
    EXPECT_NE(found["readOnly"].get<std::string>().find("user.reg"), std::string::npos)
        << found["readOnly"];

    testing::CommandResult table = Cli({"scan", "--categories", "all"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    const std::size_t notice = table.out.find("The prefix is read-only: ");
    ASSERT_NE(notice, std::string::npos) << table.out;
    EXPECT_LT(notice, table.out.find("57 problems found."));
    EXPECT_NE(table.out.find("Repairs will be refused until it can be written.", notice),
              std::string::npos);
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

TEST_F(CliTest, WithoutAPrefixItSaysHowToNameOne) {
    // No --prefix, no $WINEPREFIX and a home without ~/.wine: the demo prefix is not taken in
    // their place.
    const std::vector<std::string> nothingNamed = {"WINEPREFIX=",
                                                   "HOME=" + folder_.MakeFolder("home").string()};
    testing::CommandResult scan = Cli({"scan"}, nothingNamed);
    EXPECT_EQ(scan.exitCode, 3);
    for (const char* hint : {"--prefix DIR", "WINEPREFIX", "--demo"})
        EXPECT_NE(scan.err.find(hint), std::string::npos) << hint << " in: " << scan.err;
    EXPECT_FALSE(fs::exists(DataHome() / "quillary" / "demo-prefix"));

    EXPECT_EQ(Cli({"scan", "--demo", "--prefix", Prefix().string()}).exitCode, 2);
}

TEST_F(CliTest, DemoWorksOnTheDemoPrefixInTheDataHome) {
    const std::vector<std::string> nothingNamed = {"WINEPREFIX=",
                                                   "HOME=" + folder_.MakeFolder("home").string()};
    // Without --categories the stored selection is scanned: every category on a new
    // installation.
    testing::CommandResult scan = Cli({"scan", "--demo", "--json"}, nothingNamed);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    const fs::path demo = DataHome() / "quillary" / "demo-prefix";
    EXPECT_EQ(nlohmann::json::parse(scan.out)["target"], demo.string());
    EXPECT_EQ(nlohmann::json::parse(scan.out)["problems"].size(), 57u);

    // The copy is written once and kept: a repair of it shows in the next run.
    ASSERT_EQ(Cli({"repair", "--demo"}, nothingNamed).exitCode, 0);
    testing::CommandResult again =
        Cli({"scan", "--demo", "--categories", "all", "--json"}, nothingNamed);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(nlohmann::json::parse(again.out)["problems"].size(), 0u);
}

}  // namespace
}  // namespace quillary
