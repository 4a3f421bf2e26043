// Real installers under Debian's wine: an NSIS installer and a Windows Installer package, built
// from the sources in installers/, are installed into a prefix of the test's own and the
// registry scanners run over it as a user runs quillary-cli. What a sound installation wrote is
// never reported; once the programs' folders are deleted, the entries that named them are.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

#include "cli_scan.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::Added;
using testing::CommandResult;
using testing::CWinePrefixCopy;
using testing::Describe;
using testing::EqualIgnoringCase;
using testing::Reported;
using testing::WhyFailed;

// ActiveX, application paths, file types, shared DLLs and installed software.
constexpr const char* kCategories = "0,1,2,6,8";

const std::string kUninstall =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kAppPaths =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::string kSharedDlls =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
// The product code that larkspur.wxs gives its package: Windows Installer names the uninstall
// entry after it.
const std::string kLarkspurProduct = "{5B0E6C2A-8D41-4F3E-9C57-1A2B3C4D5E6F}";

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        std::error_code error;
        if (fs::exists(fs::path(folders.substr(0, colon)) / program, error)) {
            return true;
        }
        folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
    }
    return false;
}

class WineInstallersTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"makensis", "wixl"}) {
            if (!OnPath(program)) {
                GTEST_SKIP() << program << " is not installed (scripts/bootstrap.sh installs "
                             << "the nsis and wixl packages): the installers cannot be built";
            }
        }
        copy_ = std::make_unique<CWinePrefixCopy>(testing::FreshWinePrefix(),
                                                  testing::WinePrefixCopies() / "installers");
        ASSERT_EQ(copy_->Error(), "");
    }

    // Builds fernwood-setup.exe and larkspur.msi into the prefix's C:\installers. The files
    // they install are a few bytes of text each: nothing runs them.
    void BuildInstallers() {
        const fs::path sources = fs::path(__FILE__).parent_path() / "installers";
        const fs::path payload = copy_->Path() / "payload";
        const fs::path output = copy_->Path() / "drive_c" / "installers";
        fs::create_directories(payload);
        fs::create_directories(output);
        for (const char* name : {"fernpad.exe", "fernwood.dll", "larkview.exe", "larkcore.dll"}) {
            std::ofstream(payload / name, std::ios::binary) << name << "\r\n";
        }
        // wixl looks for the files a package installs beside the package's source.
        fs::copy_file(sources / "larkspur.wxs", payload / "larkspur.wxs",
                      fs::copy_options::overwrite_existing);

        const CommandResult nsis =
            testing::RunCommand({"makensis", "-V2", "-DPAYLOAD=" + payload.string(),
                                 "-DSETUP=" + (output / "fernwood-setup.exe").string(),
                                 (sources / "fernwood.nsi").string()});
        ASSERT_EQ(nsis.exitCode, 0) << WhyFailed("makensis fernwood.nsi", nsis);
        const CommandResult msi =
            testing::RunCommand({"wixl", "--arch", "x64", "-o", (output / "larkspur.msi").string(),
                                 (payload / "larkspur.wxs").string()});
        ASSERT_EQ(msi.exitCode, 0) << WhyFailed("wixl larkspur.wxs", msi);
    }

    // Runs `wine <arguments>` in the copy with Wine's menu builder off: it would otherwise
    // mirror the shortcuts and file types the installers register into the Unix user's menus.
    CommandResult WineInstaller(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = {"wine"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return testing::RunCommand(
            argv, {"WINEPREFIX=" + copy_->Path().string(), "WINEDEBUG=-all", "LC_ALL=C.UTF-8",
                   "DISPLAY=", "WINEDLLOVERRIDES=winemenubuilder.exe=d"});
    }

    void Install() {
        const CommandResult nsis = WineInstaller({"C:\\installers\\fernwood-setup.exe", "/S"});
        ASSERT_EQ(nsis.exitCode, 0) << WhyFailed("fernwood-setup.exe /S", nsis);
        const CommandResult msi =
            WineInstaller({"msiexec", "/i", "C:\\installers\\larkspur.msi", "/qn"});
        ASSERT_EQ(msi.exitCode, 0) << WhyFailed("msiexec /i larkspur.msi /qn", msi);
        // Wine writes the registry files when its server ends.
        copy_->WineServer({"-w"});
    }

    void Scan(std::vector<Reported>* problems) const {
        testing::ScanWithCli(copy_->Path(), kCategories, problems);
    }

    std::unique_ptr<CWinePrefixCopy> copy_;
};

TEST_F(WineInstallersTest, InstalledProgramsAreCleanAndTheirEntriesAreFoundOnceTheyAreDeleted) {
    std::vector<Reported> fresh;
    ASSERT_NO_FATAL_FAILURE(Scan(&fresh));
    ASSERT_NO_FATAL_FAILURE(BuildInstallers());
    ASSERT_NO_FATAL_FAILURE(Install());
    std::vector<Reported> installed;
    ASSERT_NO_FATAL_FAILURE(Scan(&installed));
    const std::vector<Reported> sound = Added(fresh, installed);
    EXPECT_TRUE(sound.empty()) << "reported in sound installations:" << Describe(sound);

    const fs::path programFiles = copy_->Path() / "drive_c" / "Program Files";
    ASSERT_TRUE(fs::remove_all(programFiles / "Fernwood") > 0);
    ASSERT_TRUE(fs::remove_all(programFiles / "Larkspur") > 0);
    std::vector<Reported> deleted;
    ASSERT_NO_FATAL_FAILURE(Scan(&deleted));
    std::vector<Reported> orphaned = Added(installed, deleted);

    // Each entry that names a deleted file or folder, reported once and as a 64-bit entry.
    // Wine's msiexec writes `MsiExec.exe /I{product}` as the uninstall command and no display
    // icon, so of its uninstall entry only the install folder is left pointing nowhere. The
    // built-in key rules leave out every key whose path holds "\open\", so the open verbs are
    // not reported.
    const struct {
        int category;
        int entryType;
        std::string key;
        std::string valueName;
    } expected[] = {
        // fernwood.nsi
        {8, 36, kUninstall + "Fernwood", "UninstallString"},
        {8, 36, kUninstall + "Fernwood", "QuietUninstallString"},
        {8, 42, kUninstall + "Fernwood", "DisplayIcon"},
        {8, 42, kUninstall + "Fernwood", "InstallLocation"},
        {1, 13, kAppPaths + "fernpad.exe", ""},
        {2, 17, "HKEY_CLASSES_ROOT\\Fernwood.Note\\DefaultIcon", ""},
        {2, 21, "HKEY_CLASSES_ROOT\\Fernwood.Note\\shell\\print\\command", ""},
        {6, 33, kSharedDlls, "C:\\Program Files\\Fernwood\\fernwood.dll"},
        // larkspur.wxs
        {8, 42, kUninstall + kLarkspurProduct, "InstallLocation"},
        {1, 13, kAppPaths + "larkview.exe", ""},
        {2, 17, "HKEY_CLASSES_ROOT\\Larkspur.Sketch\\DefaultIcon", ""},
        {2, 21, "HKEY_CLASSES_ROOT\\Larkspur.Sketch\\shell\\print\\command", ""},
        {6, 33, kSharedDlls, "C:\\Program Files\\Larkspur\\larkcore.dll"},
    };
    for (const auto& entry : expected) {
        SCOPED_TRACE(entry.key + " [" + entry.valueName + "]");
        auto matches = [&](const Reported& problem) {
            return problem.category == entry.category && problem.entryType == entry.entryType &&
                   EqualIgnoringCase(problem.key, entry.key) &&
                   EqualIgnoringCase(problem.valueName, entry.valueName);
        };
        const auto found = std::find_if(orphaned.begin(), orphaned.end(), matches);
        if (found == orphaned.end()) {
            ADD_FAILURE() << "not reported";
            continue;
        }
        EXPECT_FALSE(found->is32Bit);
        orphaned.erase(found);
        EXPECT_EQ(std::find_if(orphaned.begin(), orphaned.end(), matches), orphaned.end())
            << "reported twice";
    }
    EXPECT_TRUE(orphaned.empty()) << "reported beyond the entries expected:" << Describe(orphaned);
}

}  // namespace
}  // namespace quillary
