#include "targets/wine/prefix_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

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

// A Wine installation laid out as a distribution installs it, its loader reached through a
// chain of links, and a prefix whose fonts folder holds one font of its own.
class WineFontsTest : public ::testing::Test {
protected:
    WineFontsTest() {
        folder_.Write("install/lib/wine/wine64");
        folder_.Write("install/share/wine/fonts/coure.fon");
        folder_.MakeFolder("install/share/wine/fonts/folder.fon");
        folder_.MakeFolder("install/bin");
        fs::create_symlink("../lib/wine/wine64", Path("install/bin/wine"));
        folder_.MakeFolder("links");
        fs::create_symlink(Path("install/bin/wine"), Path("links/wine"));
        folder_.Write("prefix/drive_c/windows/Fonts/own.ttf");
        folder_.MakeFolder("prefix/drive_c/windows/system32");
        folder_.MakeFolder("prefix/dosdevices");
        fs::create_directory_symlink("../drive_c", Path("prefix/dosdevices/c:"));
        registry_ = testing::MakeRegistry(R"reg(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Fonts"="C:\\windows\\Fonts"
)reg");
    }

    fs::path Path(std::string_view relative) const { return folder_.Path() / relative; }

    CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> registry_;
};

TEST_F(WineFontsTest, TheInstallationIsFoundAboveItsLoader) {
    const fs::path fonts = fs::canonical(Path("install/share/wine/fonts"));
    EXPECT_EQ(WineFontFolderOf(Path("links/wine")), fonts);
    EXPECT_EQ(WineFontFolderOf(Path("install/lib/wine/wine64")), fonts);
    EXPECT_EQ(WineFontFolderOf(Path("prefix/drive_c/windows/system32")), fs::path());
    EXPECT_EQ(WineFontFolderOf(Path("nowhere/wine")), fs::path());
}

TEST_F(WineFontsTest, TheInstallationsFontsAreInThePrefixsFontsFolder) {
    auto files = OpenPrefixFileSystem(Path("prefix"), *registry_, true, Path("links/wine"));
    struct {
        std::u16string_view path;
        std::uint32_t attributes;
        LStatus error;
    } cases[] = {
        {u"C:\\windows\\Fonts\\coure.fon", FileAttributeArchive, ErrorSuccess},
        {u"c:\\WINDOWS\\fonts\\COURE.FON", FileAttributeArchive, ErrorSuccess},
        {u"C:\\windows\\Fonts\\own.ttf", FileAttributeArchive, ErrorSuccess},
        {u"C:\\windows\\Fonts\\gone.fon", InvalidFileAttributes, ErrorFileNotFound},
        // Only files, and only in the fonts folder itself.
        {u"C:\\windows\\Fonts\\folder.fon", InvalidFileAttributes, ErrorFileNotFound},
        {u"C:\\windows\\system32\\coure.fon", InvalidFileAttributes, ErrorFileNotFound},
        {u"C:\\windows\\Fonts\\sub\\coure.fon", InvalidFileAttributes, ErrorPathNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        LStatus error = ErrorSuccess;
        EXPECT_EQ(files->GetFileAttributesW(c.path, &error), c.attributes);
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(WineFontsTest, WithoutAnInstallationOnlyThePrefixsFontsExist) {
    auto opened = OpenPrefixFileSystem(Path("prefix"), *registry_, true, Path("nowhere/wine"));
    IFileSystem& files = *opened;
    EXPECT_EQ(files.GetFileAttributesW(u"C:\\windows\\Fonts\\coure.fon"), InvalidFileAttributes);
    EXPECT_EQ(files.GetFileAttributesW(u"C:\\windows\\Fonts\\own.ttf"), FileAttributeArchive);
}

// Sets an environment variable for one test and puts back what was there.
class CEnvironmentVariable {
public:
    CEnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~CEnvironmentVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(WineFontsTest, TheLoaderIsTheOneWineRuns) {
    const std::string path =
        "::" + Path("install").string() + ":" + Path("links").string() + ":" + Path("bin").string();
    {
        CEnvironmentVariable loader("WINELOADER", Path("install/lib/wine/wine64").c_str());
        CEnvironmentVariable search("PATH", path.c_str());
        EXPECT_EQ(FindWineLoader(), Path("install/lib/wine/wine64"));
    }
    {
        // The first "wine" on PATH that may be run: install/ has none, links/ has one.
        ::chmod(Path("install/lib/wine/wine64").c_str(), 0755);
        CEnvironmentVariable loader("WINELOADER", nullptr);
        CEnvironmentVariable search("PATH", path.c_str());
        EXPECT_EQ(FindWineLoader(), Path("links/wine"));
    }
}

}  // namespace
}  // namespace quillary
