// A real repair run against a Wine prefix, ended after each of its writes as a kill would end
// it, made to fail at each of them as a full disk would, and interrupted by Wine starting in
// the middle. After each, the registry files are whole, Wine reads them, and the partial
// backup (completed from its journal when the run died) puts back exactly what was there.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"
#include "wine_export.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CommandResult;
using testing::CWinePrefixCopy;
using testing::ExportedKeys;

constexpr int kShortcuts = 4;
constexpr const char* kDesktop = "drive_c/users/Public/Desktop";
// More steps than any run here takes: the loops below stop at the first run that ends.
constexpr int kMostSteps = 200;

std::string ReadBytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

class WineFaultInjectionTest : public ::testing::Test {
protected:
    // The prefix every trial starts from: Run values naming missing programs in both hives,
    // and broken shortcuts on the public desktop, with what Wine exports of it. Each test makes
    // its own, in folders named after it, since the tests may run side by side.
    void SetUp() override {
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        template_ = std::make_unique<CWinePrefixCopy>(testing::FreshWinePrefix(),
                                                      testing::WinePrefixCopies() / name_);
        ASSERT_EQ(template_->Error(), "");
        std::ofstream(template_->Path() / "drive_c/planted.reg")
            << "REGEDIT4\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
               "\"GhostA\"=\"C:\\\\missing\\\\a.exe\"\r\n"
               "\"GhostB\"=\"C:\\\\missing\\\\b.exe /tray\"\r\n"
               "\r\n"
               "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
               "\"GhostC\"=\"C:\\\\missing\\\\c.exe\"\r\n";
        ASSERT_EQ(template_->Wine({"regedit", "/s", "C:\\planted.reg"}).exitCode, 0);
        template_->StopWineServer();
        fs::create_directories(template_->Path() / kDesktop);
        for (int i = 0; i < kShortcuts; ++i) {
            fs::copy_file("tests/fixtures/shortcuts/TargetMissing.lnk",
                          template_->Path() / kDesktop / ("broken" + std::to_string(i) + ".lnk"),
                          fs::copy_options::overwrite_existing);
        }
        before_ = testing::ExportRoots(*template_, {"HKLM", "HKU"});
    }

    // A fresh copy of the planted prefix, with user.reg hard-linked as Wine keeps it for some.
    void StartTrial() {
        copy_.reset();
        copy_ = std::make_unique<CWinePrefixCopy>(template_->Path(),
                                                  testing::WinePrefixCopies() / (name_ + "-trial"));
        ASSERT_EQ(copy_->Error(), "");
        fs::create_directories(Data() / "run");
        fs::permissions(Data() / "run", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_hard_link(copy_->Path() / "user.reg", copy_->Path() / "user.reg.link");
    }

    fs::path Data() const { return copy_->Path() / "quillary-data"; }

    CommandResult Cli(std::vector<std::string> arguments, std::vector<std::string> extra = {}) {
        arguments.insert(arguments.begin(), QUILLARY_CLI);
        arguments.push_back("--prefix");
        arguments.push_back(copy_->Path().string());
        extra.push_back("XDG_DATA_HOME=" + Data().string());
        extra.push_back("XDG_CONFIG_HOME=" + (Data() / "config").string());
        extra.push_back("XDG_RUNTIME_DIR=" + (Data() / "run").string());
        return testing::RunCommand(arguments, extra);
    }

    // What every trial must leave: whole registry files that the store and Wine read, every
    // partial backup listed and undone, and then the registry and the desktop as they were.
    void CheckNothingIsLost() {
        std::string error;
        {
            auto store = CWinePrefixRegistry::Open(files_, copy_->Path(), &error);
            ASSERT_TRUE(store) << error;
            EXPECT_TRUE(store->Diagnostics().empty())
                << DescribeDiagnostic(store->Diagnostics().front());
        }
        EXPECT_EQ(ReadBytes(copy_->Path() / "user.reg"),
                  ReadBytes(copy_->Path() / "user.reg.link"));
        CommandResult backups = Cli({"backups", "--json"});
        ASSERT_EQ(backups.exitCode, 0) << backups.err;
        nlohmann::json listed = nlohmann::json::parse(backups.out);
        for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
            CommandResult undo = Cli({"undo", (*it)["number"].get<std::string>()});
            EXPECT_EQ(undo.exitCode, 0) << undo.out << undo.err;
        }
        for (int i = 0; i < kShortcuts; ++i) {
            const std::string name = "broken" + std::to_string(i) + ".lnk";
            EXPECT_EQ(ReadBytes(copy_->Path() / kDesktop / name),
                      ReadBytes(template_->Path() / kDesktop / name))
                << name;
        }
        ExportedKeys after = testing::ExportRoots(*copy_, {"HKLM", "HKU"});
        auto store = CWinePrefixRegistry::Open(files_, copy_->Path(), &error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(testing::KeysOfTheFiles(after, *store), testing::KeysOfTheFiles(before_, *store));
    }

    std::string name_;
    std::unique_ptr<CWinePrefixCopy> template_;
    ExportedKeys before_;
    std::unique_ptr<CWinePrefixCopy> copy_;
    CPosixFileIo files_;
};

// Killed right after each write of the run in turn: the journal, the files it deletes, the
// archive and list file, the registry files, the program's own files.
TEST_F(WineFaultInjectionTest, KilledAfterEveryWrite) {
    int steps = 0;
    for (int n = 1; n <= kMostSteps; ++n) {
        SCOPED_TRACE("killed after write " + std::to_string(n));
        StartTrial();
        CommandResult repair =
            Cli({"repair", "--scan"}, {"QUILLARY_EXIT_AFTER_WRITE=" + std::to_string(n)});
        CheckNothingIsLost();
        if (repair.exitCode != 137) {
            EXPECT_EQ(repair.exitCode, 0) << repair.out << repair.err;
            steps = n - 1;
            break;
        }
    }
    // The run deletes every shortcut and registry entry, so it takes a write for each.
    EXPECT_GT(steps, 2 * kShortcuts);
    std::cout << "a repair run of " << steps << " writes was killed after each of them\n";
}

// Each write in turn fails as on a full disk.
TEST_F(WineFaultInjectionTest, DiskFullAtEveryWrite) {
    for (int n = 1; n <= kMostSteps; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " fails");
        StartTrial();
        CommandResult repair =
            Cli({"repair", "--scan"}, {"QUILLARY_FAIL_WRITE=" + std::to_string(n)});
        const bool failed = repair.err.find("fails as injected") != std::string::npos;
        if (failed) {
            // Every failure reaches the user; the run fails when it touched what the repair
            // changes, and goes on when it was only the restore point's or the program's own.
            EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == 3) << repair.err;
            EXPECT_NE(repair.err.find("No space left on device (injected)"), std::string::npos)
                << repair.out << repair.err;
        }
        CheckNothingIsLost();
        if (!failed) {
            EXPECT_EQ(repair.exitCode, 0) << repair.out << repair.err;
            break;
        }
    }
}

// Wine starts for the prefix after the run deleted its first file: the run stops there and
// says why, saves no registry change, and what it did is undone.
TEST_F(WineFaultInjectionTest, WineStartingMidRun) {
    StartTrial();
    const fs::path hold = copy_->Path() / "hold";
    std::ofstream(hold).put('\n');
    CommandResult repair;
    std::thread run([&] {
        repair = Cli({"repair", "--scan"}, {"QUILLARY_HOLD_AFTER_DELETION=" + hold.string()});
    });
    fs::path held = hold;
    held += ".held";
    for (int i = 0; i < 3000 && !fs::exists(held); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fs::exists(held));
    copy_->WineServer({"-p"});
    fs::remove(hold);
    run.join();
    EXPECT_EQ(repair.exitCode, 4) << repair.out << repair.err;
    EXPECT_NE(repair.err.find("Wine is running"), std::string::npos) << repair.err;
    copy_->StopWineServer();
    CheckNothingIsLost();
}

}  // namespace
}  // namespace quillary
