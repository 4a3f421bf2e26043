// All fourteen categories under Debian's wine, as a user runs quillary-cli. A prefix fresh from
// `wineboot -i` reports only the entries defended below; entries planted afterwards, the
// machine's ones in the 32-bit view as a 32-bit installer writes them, are each reported where
// they live and nothing else is.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "cli_scan.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::Describe;
using testing::Reported;

// Wine registers 16-bit servers (InprocServer, without "32") for these classes of its AVI
// and OLE automation libraries. A 64-bit Wine has no 16-bit libraries to load: nothing in the
// prefix is named avifile.dll or ole2disp.dll, and no program that could use them runs. The
// 32-bit and 64-bit servers of the same classes are present and never reported.
const std::vector<std::string> kSixteenBitServers = {
    "{00020000-0000-0000-C000-000000000046}", "{00020001-0000-0000-C000-000000000046}",
    "{00020003-0000-0000-C000-000000000046}", "{0002000D-0000-0000-C000-000000000046}",
    "{0002000F-0000-0000-C000-000000000046}", "{00020420-0000-0000-C000-000000000046}",
    "{00020421-0000-0000-C000-000000000046}", "{00020422-0000-0000-C000-000000000046}",
    "{00020423-0000-0000-C000-000000000046}", "{00020424-0000-0000-C000-000000000046}",
    "{00020425-0000-0000-C000-000000000046}", "{DF0B3D60-548F-101B-8E65-08002B2BD119}",
};

// Wine writes the bitmap fonts of the system's code page into the font list whether or not
// their files exist. Its own font folder (Debian's fonts-wine) holds coure.fon, sserife.fon and
// smalle.fon but no serife.fon, so "MS Serif" names a file Wine cannot load either; deleting the
// value changes nothing Wine does.
bool IsWinesMissingSerifFont(const Reported& problem) {
    return problem.category == 3 && problem.entryType == 23 && problem.valueName == "MS Serif" &&
           problem.valueData == "serife.fon";
}

bool IsSixteenBitServer(const Reported& problem) {
    if (problem.category != 0 || problem.entryType != 0)
        return false;
    return std::any_of(kSixteenBitServers.begin(), kSixteenBitServers.end(), [&](auto& clsid) {
        return testing::EqualIgnoringCase(problem.key,
                                          "HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\InprocServer");
    });
}

// What the test plants: a 32-bit program's machine entries under Wow6432Node (help files, a
// font, settings, a Run entry, an uninstall entry; Wine shares the font list between the views) and
// its user entries (a sound, a recent file of a file dialog), each naming a file of C:\Program
// Files (x86)\Quillgone that does not exist, beside entries that name what exists.
constexpr const char* kPlanted = R"reg(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\Help]
"quillgone.hlp"="C:\\Program Files (x86)\\Quillgone\\help"
"present.hlp"="C:\\quill"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\HTML Help]
"quillgone.chm"="C:\\Program Files (x86)\\Quillgone\\help\\"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\Fonts]
"Quillgone Sans (TrueType)"="C:\\Program Files (x86)\\Quillgone\\qgsans.ttf"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Quillgone\Settings]
"DataFile"="C:\\Program Files (x86)\\Quillgone\\data.bin"
"Home"="C:\\quill"
"Present"="C:\\quill\\present.hlp"
"Site"="https://example.org/quillgone"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Quillgone"="C:\\Program Files (x86)\\Quillgone\\tray.exe /min"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Quillgone]
"DisplayName"="Quillgone"
"UninstallString"="C:\\Program Files (x86)\\Quillgone\\remove.exe"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Quillgone]
@="Quillgone"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Quillgone\Done\.Current]
@="C:\\Program Files (x86)\\Quillgone\\done.wav"

[HKEY_CURRENT_USER\AppEvents\Schemes\Apps\Quillgone\Done\.None]
@=""

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\qgn]
"a"="C:\\Program Files (x86)\\Quillgone\\last.qgn"
"b"="C:\\quill\\present.hlp"
"MRUList"="ab"
)reg";

const std::string kLocalMachine = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
const std::string kCurrentUser = "HKEY_CURRENT_USER\\";

class WineScanAllTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A copy of each test's own: ctest runs the tests of this file side by side.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        copy_ = std::make_unique<testing::CWinePrefixCopy>(
            testing::FreshWinePrefix(), testing::WinePrefixCopies() / ("scan-all-" + name));
        ASSERT_EQ(copy_->Error(), "");
    }

    void Plant() {
        const fs::path driveC = copy_->Path() / "drive_c";
        fs::create_directories(driveC / "quill");
        std::ofstream(driveC / "quill" / "present.hlp") << "help";
        std::ofstream(driveC / "planted.reg") << kPlanted;
        const testing::CommandResult imported = copy_->Wine({"regedit", "/s", "C:\\planted.reg"});
        ASSERT_EQ(imported.exitCode, 0) << testing::WhyFailed("regedit planted.reg", imported);
        copy_->StopWineServer();
    }

    std::unique_ptr<testing::CWinePrefixCopy> copy_;
};

TEST_F(WineScanAllTest, AFreshPrefixReportsOnlyWhatWineCannotLoad) {
    std::vector<Reported> fresh;
    ASSERT_NO_FATAL_FAILURE(testing::ScanWithCli(copy_->Path(), "all", &fresh));
    std::vector<Reported> others;
    std::copy_if(fresh.begin(), fresh.end(), std::back_inserter(others),
                 [](const Reported& problem) {
                     return !IsSixteenBitServer(problem) && !IsWinesMissingSerifFont(problem);
                 });
    EXPECT_EQ(fresh.size() - others.size(), kSixteenBitServers.size() + 1);
    EXPECT_TRUE(others.empty()) << "reported on a fresh prefix:" << Describe(others);
}

TEST_F(WineScanAllTest, PlantedEntriesAreReportedWhereTheyLiveAndNothingElse) {
    std::vector<Reported> fresh;
    ASSERT_NO_FATAL_FAILURE(testing::ScanWithCli(copy_->Path(), "all", &fresh));
    ASSERT_NO_FATAL_FAILURE(Plant());
    std::vector<Reported> planted;
    ASSERT_NO_FATAL_FAILURE(testing::ScanWithCli(copy_->Path(), "all", &planted));
    std::vector<Reported> added = testing::Added(fresh, planted);

    const std::string help = kLocalMachine + "Microsoft\\Windows\\Help";
    const std::string htmlHelp = kLocalMachine + "Microsoft\\Windows\\HTML Help";
    const std::string fonts = kLocalMachine + "Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    const std::string settings = "HKEY_LOCAL_MACHINE\\software\\Quillgone\\Settings";
    const std::string run = kLocalMachine + "Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string uninstall =
        kLocalMachine + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillgone";
    const std::string sound = kCurrentUser + "AppEvents\\Schemes\\Apps\\Quillgone\\Done\\.Current";
    const std::string dialog = kCurrentUser +
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\"
                               "OpenSaveMRU\\qgn";
    const std::string deepUser = "HKEY_CURRENT_USER\\";
    const struct {
        int category;
        int entryType;
        std::string key;
        std::string valueName;
        bool is32Bit;
    } expected[] = {
        {4, 24, help, "quillgone.hlp", true},
        {4, 25, htmlHelp, "quillgone.chm", true},
        {8, 36, uninstall, "UninstallString", true},
        {11, 41, run, "Quillgone", true},
        {9, 37, sound, "", false},
        {5, 27, dialog, "a", false},
        // Wine shares the font list between the views: the 32-bit program's font lands in the
        // key the fonts scan reads.
        {3, 23, fonts, "Quillgone Sans (TrueType)", false},
        // The deep scans see every value that names a missing file or folder, the ones above
        // included.
        {12, 42, "HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\Help", "quillgone.hlp", true},
        {12, 42, "HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\HTML Help", "quillgone.chm",
         true},
        {12, 42, "HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
         "Quillgone Sans (TrueType)", false},
        {12, 42, settings, "DataFile", true},
        {12, 42, "HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Run",
         "Quillgone", true},
        {12, 42,
         "HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillgone",
         "UninstallString", true},
        {13, 43, "HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\Quillgone\\Done\\.Current", "",
         false},
        {13, 43, deepUser + dialog.substr(kCurrentUser.size()), "a", false},
    };
    for (const auto& entry : expected) {
        SCOPED_TRACE(entry.key + " [" + entry.valueName + "]");
        auto matches = [&](const Reported& problem) {
            return problem.category == entry.category && problem.entryType == entry.entryType &&
                   testing::EqualIgnoringCase(problem.key, entry.key) &&
                   testing::EqualIgnoringCase(problem.valueName, entry.valueName);
        };
        const auto found = std::find_if(added.begin(), added.end(), matches);
        if (found == added.end()) {
            ADD_FAILURE() << "not reported";
            continue;
        }
        EXPECT_EQ(found->is32Bit, entry.is32Bit);
        added.erase(found);
    }
    EXPECT_TRUE(added.empty()) << "reported beyond the entries expected:" << Describe(added);
}

}  // namespace
}  // namespace quillary
