#include "targets/wine/prefix_file_system.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CTempFolder;

// The registry keys a fresh prefix keeps its folders and environment in, trimmed.
constexpr std::string_view kPrefixKeys = R"reg(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion]
"SystemRoot"="C:\\windows"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\ProfileList]
"ProgramData"=str(2):"C:\\ProgramData"
"Public"=str(2):"C:\\users\\Public"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-0-0-0-1000]
"ProfileImagePath"="C:\\users\\me"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Desktop"="C:\\users\\Public\\Desktop"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Common Desktop"=str(2):"%PUBLIC%\\Desktop"
"Common Programs"=str(2):"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager\Environment]
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%"
"TEMP"=str(2):"%SystemRoot%\\temp"
"windir"=str(2):"%SystemRoot%"
"OS"="Windows_NT"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ComputerName\ComputerName]
"ComputerName"="BOX"
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"e:"="network"
[HKEY_CURRENT_USER\Environment]
"TEMP"="C:\\users\\me\\Temp"
"PATH"=str(2):"%USERPROFILE%\\bin"
[HKEY_CURRENT_USER\Volatile Environment]
"APPDATA"="C:\\users\\me\\AppData\\Roaming"
"USERNAME"="me"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Desktop"="C:\\users\\me\\Desktop"
"Personal"="C:\\users\\me\\Old Documents"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Personal"=str(2):"%USERPROFILE%\\Documents"
)reg";

class PrefixFileSystemTest : public ::testing::Test {
protected:
    PrefixFileSystemTest() {
        const fs::path& prefix = folder_.Path();
        folder_.MakeFolder("drive_c/windows/system32");
        folder_.MakeFolder("media/cd");
        folder_.MakeFolder("media/share");
        folder_.MakeFolder("dosdevices");
        fs::path devices = prefix / "dosdevices";
        fs::create_directory_symlink("../drive_c", devices / "c:");
        fs::create_directory_symlink("../media/cd", devices / "d:");
        fs::create_symlink("/dev/sr0", devices / "d::");
        fs::create_directory_symlink("../media/share", devices / "e:");
        fs::create_directory_symlink("../nowhere", devices / "f:");
        fs::create_directory_symlink("/", devices / "z:");
        fs::create_symlink("/dev/ttyS0", devices / "com1");
        fs::create_symlink("/dev/lp0", devices / "lpt1");
        registry_ = testing::MakeRegistry(kPrefixKeys);
        files_ = OpenPrefixFileSystem(prefix, *registry_, true);
    }

    CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> registry_;
    std::unique_ptr<CMappedFileSystem> files_;
};

TEST_F(PrefixFileSystemTest, DrivesComeFromDosdevices) {
    IFileSystem& files = *files_;
    // f: leads nowhere, so it is no drive.
    EXPECT_EQ(files.GetLogicalDriveStringsW(), std::u16string(u"C:\\\0D:\\\0E:\\\0Z:\\\0", 16));
    EXPECT_EQ(files.GetDriveTypeW(u"C:\\"), DriveFixed);
    EXPECT_EQ(files.GetDriveTypeW(u"D:\\"), DriveCdRom);   // its raw device is a CD-ROM
    EXPECT_EQ(files.GetDriveTypeW(u"E:\\"), DriveRemote);  // HKLM\Software\Wine\Drives says so
    EXPECT_EQ(files.GetDriveTypeW(u"F:\\"), DriveNoRootDir);
    EXPECT_EQ(files.QueryDosDeviceW(u"C:"), u"\\Device\\HarddiskVolume1");
    EXPECT_EQ(files.QueryDosDeviceW(u"D:"), u"\\Device\\CdRom0");
    EXPECT_EQ(files.QueryDosDeviceW(u"Z:"), u"\\Device\\HarddiskVolume3");
    EXPECT_EQ(files.QueryDosDeviceW(u"COM1"), u"\\Device\\Serial0");
    EXPECT_EQ(files.QueryDosDeviceW(u"LPT1"), u"\\Device\\Parallel0");
    // z: maps the whole Unix tree.
    EXPECT_EQ(files.GetFileAttributesW(u"Z:\\"), FileAttributeDirectory);
    EXPECT_NE(files.GetFileAttributesW(u"C:\\WINDOWS\\SYSTEM32"), InvalidFileAttributes);
}

TEST_F(PrefixFileSystemTest, EnvironmentComesFromTheRegistry) {
    struct {
        std::u16string_view text;
        std::u16string_view expected;
    } cases[] = {
        {u"%SystemRoot%|%windir%|%SystemDrive%", u"C:\\windows|C:\\windows|C:"},
        {u"%ComSpec%", u"C:\\windows\\system32\\cmd.exe"},
        // The user's PATH extends the machine's; the user's TEMP replaces it.
        {u"%PATH%", u"C:\\windows\\system32;C:\\windows;C:\\users\\me\\bin"},
        {u"%TEMP%", u"C:\\users\\me\\Temp"},
        {u"%ProgramFiles%|%ProgramFiles(x86)%|%ProgramW6432%",
         u"C:\\Program Files|C:\\Program Files (x86)|C:\\Program Files"},
        {u"%CommonProgramFiles(x86)%", u"C:\\Program Files (x86)\\Common Files"},
        {u"%ProgramData%|%ALLUSERSPROFILE%|%PUBLIC%",
         u"C:\\ProgramData|C:\\ProgramData|C:\\users\\Public"},
        {u"%USERPROFILE%|%APPDATA%|%USERNAME%|%COMPUTERNAME%",
         u"C:\\users\\me|C:\\users\\me\\AppData\\Roaming|me|BOX"},
        {u"%LOCALAPPDATA%", u"%LOCALAPPDATA%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(files_->ExpandEnvironmentStringsW(c.text), c.expected);
    }
}

TEST_F(PrefixFileSystemTest, SpecialFoldersComeFromTheShellFoldersKeys) {
    using Found = std::optional<std::u16string>;
    struct {
        int csidl;
        Found path;
    } cases[] = {
        {CsidlDesktop, u"C:\\users\\me\\Desktop"},     // only in Shell Folders
        {CsidlPersonal, u"C:\\users\\me\\Documents"},  // User Shell Folders wins
        {CsidlCommonDesktopDirectory, u"C:\\users\\Public\\Desktop"},
        {CsidlCommonPrograms, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        {CsidlFonts, std::nullopt},
        {CsidlNetwork, std::nullopt},
        {CsidlWindows, u"C:\\windows"},
        {CsidlSystem, u"C:\\windows\\system32"},
        {CsidlSystemX86, u"C:\\windows\\syswow64"},
        {CsidlProgramFilesX86, u"C:\\Program Files (x86)"},
        {CsidlProgramFilesCommon, u"C:\\Program Files\\Common Files"},
        {CsidlProfile, u"C:\\users\\me"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csidl);
        EXPECT_EQ(files_->GetSpecialFolderPath(c.csidl), c.path);
    }
}

TEST(PrefixFileSystemDefaultsTest, AnEmptyRegistryGivesWineDefaults) {
    CTempFolder folder;
    auto registry = testing::MakeRegistry("");
    auto files = OpenPrefixFileSystem(folder.Path(), *registry, false);
    EXPECT_EQ(files->GetWindowsDirectoryW(), u"C:\\windows");
    EXPECT_FALSE(files->GetSystemWow64DirectoryW());
    EXPECT_EQ(files->GetSpecialFolderPath(CsidlSystemX86), u"C:\\windows\\system32");
    EXPECT_TRUE(files->GetLogicalDriveStringsW().empty());
}

}  // namespace
}  // namespace quillary
