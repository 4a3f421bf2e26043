#include "categories/software.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;

// Short names for the keys the fixtures use, expanded in registry texts and in the expected
// problems alike. The 32-bit view's keys are written where a 32-bit installer writes them.
const std::vector<std::pair<std::string, std::string>> kNames = {
    {"$UNINSTALL32",
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall)"},
    {"$UNINSTALL", R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)"},
    {"$CACHE32",
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Management\ARPCache)"},
    {"$CACHE",
     R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Management\ARPCache)"},
    {"$FOLDERS",
     R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\Folders)"},
    {"$PRODUCT", R"(HKEY_CLASSES_ROOT\Installer\Products\A7B2C3D4E5F60714293A4B5C6D7E8F90)"},
    {"$CODE", "{4D3C2B7A-6F5E-4170-92A3-B4C5D6E7F809}"},
};

std::string Expand(std::string text) {
    return testing::ExpandNames(std::move(text), kNames);
}

// A problem as one line: type|key|value name|value data|detail line 0, and "|32" for an
// entry of the 32-bit view.
std::string Describe(const CProblem& problem) {
    return std::to_string(problem.EntryType) + "|" + Utf16ToUtf8(problem.Key) + "|" +
           Utf16ToUtf8(problem.ValueName) + "|" + Utf16ToUtf8(problem.ValueData) + "|" +
           Utf16ToUtf8(problem.DetailLine(0)) + (problem.is32BitEntry ? "|32" : "");
}

std::vector<std::string> Describe(const CCategory& category) {
    std::vector<std::string> lines;
    for (const auto& problem : category.Problems())
        lines.push_back(Describe(*problem));
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> ExpandAll(std::vector<std::string> lines) {
    for (std::string& line : lines)
        line = Expand(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What the fixtures' Wine prefix has: the installer in the system folder, and one program.
void MakeProgramFiles(const CScanFixture& fixture) {
    fixture.MakeFile(u"C:\\windows\\system32\\msiexec.exe");
    fixture.MakeFile(u"C:\\Program Files\\Acme\\acme.exe");
    fixture.MakeFile(u"C:\\Program Files\\Acme\\remove.exe");
}

struct EntryCase {
    const char* why;
    const char* registry;
    std::vector<std::string> expected;
    bool preferSafety = true;
    bool skipEmptyKeys = false;
};

TEST(SoftwareTest, EachKindOfUninstallEntry) {
    const EntryCase cases[] = {
        // The uninstall command.
        {"quoted uninstaller gone",
         R"([$UNINSTALL\Acme]
            "DisplayName"="Acme Writer"
            "UninstallString"="\"C:\\Program Files\\Acme\\gone.exe\" /S")",
         {R"(36|$UNINSTALL\Acme|UninstallString|"C:\Program Files\Acme\gone.exe" /S|Acme Writer)"}},
        {"unquoted uninstaller gone",
         R"([$UNINSTALL\Acme]
            "DisplayName"="Acme Writer"
            "UninstallString"="C:\\Program Files\\Acme\\gone.exe /S")",
         {R"(36|$UNINSTALL\Acme|UninstallString|C:\Program Files\Acme\gone.exe /S|Acme Writer)"}},
        {"uninstaller there, quoted and not",
         R"([$UNINSTALL\Acme]
            "UninstallString"="\"C:\\Program Files\\Acme\\remove.exe\" /S"
            "QuietUninstallString"="C:\\Program Files\\Acme\\remove.exe /S /quiet")",
         {}},
        {"only a quiet uninstaller, which is gone, and no display name",
         R"([$UNINSTALL\Acme]
            "QuietUninstallString"="\"C:\\Acme\\quiet.exe\" /quiet")",
         {R"(36|$UNINSTALL\Acme|QuietUninstallString|"C:\Acme\quiet.exe" /quiet|Acme)"}},
        {"no uninstall command at all",
         R"([$UNINSTALL\Acme]
            "DisplayName"="Acme Writer")",
         {R"(36|$UNINSTALL\Acme|UninstallString||Acme Writer)"}},
        {"an uninstall command that is there but empty",
         R"([$UNINSTALL\Acme]
            "DisplayName"="Acme Writer"
            "UninstallString"="")",
         {}},
        {"a bare program name the system folder does not have",
         R"([$UNINSTALL\Acme]
            "UninstallString"="acmeremove.exe /x")",
         {R"(36|$UNINSTALL\Acme|UninstallString|acmeremove.exe /x|Acme)"}},
        {"an installer package's entry as Wine's msiexec writes it",
         R"([$UNINSTALL\$CODE]
            "DisplayName"="Acme Stencils"
            "InstallLocation"="C:\\Program Files\\Acme\\"
            "ModifyPath"="MsiExec.exe /I$CODE"
            "UninstallString"="MsiExec.exe /I$CODE"
            "WindowsInstaller"=dword:00000001)",
         {}},

        // The other files an entry names; the stored spelling of the name is reported.
        {"icon gone",
         R"([$UNINSTALL\Acme]
            "UninstallString"="C:\\Program Files\\Acme\\remove.exe"
            "DisplayIcon"="C:\\Program Files\\Acme\\acme.ico")",
         {R"(42|$UNINSTALL\Acme|DisplayIcon|C:\Program Files\Acme\acme.ico|Acme)"}},
        {"icon taken from a program that is there",
         R"([$UNINSTALL\Acme]
            "UninstallString"="C:\\Program Files\\Acme\\remove.exe"
            "DisplayIcon"="\"C:\\Program Files\\Acme\\acme.exe\",0")",
         {}},
        {"install folder and source folder gone",
         R"([$UNINSTALL\Acme]
            "UninstallString"="C:\\Program Files\\Acme\\remove.exe"
            "InstallLocation"="C:\\Program Files\\Gone Writer\\"
            "InstallSource"="C:\\users\\demo\\Temp\\acme-setup\\"
            "Readme"="https://acme.example/readme")",
         {R"(42|$UNINSTALL\Acme|InstallLocation|C:\Program Files\Gone Writer\|Acme)",
          R"(42|$UNINSTALL\Acme|InstallSource|C:\users\demo\Temp\acme-setup\|Acme)"}},

        // Entries without content.
        {"no values and no subkeys",
         R"([$UNINSTALL\Acme])",
         {R"(35|$UNINSTALL\Acme|UninstallString||text of IDS_INCOMPLETE_ENTRYAcme)"}},
        {"only a default value",
         R"([$UNINSTALL\Acme]
            @="Acme")",
         {R"(35|$UNINSTALL\Acme|UninstallString||text of IDS_INCOMPLETE_ENTRYAcme)"}},
        {"no values, but a subkey", R"([$UNINSTALL\Acme\Components])", {}},
        {"no values, empty keys skipped", R"([$UNINSTALL\Acme])", {}, true, true},

        // Entries the system owns.
        {"a system component, safety preferred",
         R"([$UNINSTALL\Acme]
            "SystemComponent"=dword:00000001
            "UninstallString"="C:\\Acme\\gone.exe")",
         {}},
        {"a system component, safety not preferred",
         R"([$UNINSTALL\Acme]
            "SystemComponent"=dword:00000001
            "UninstallString"="C:\\Acme\\gone.exe")",
         {R"(36|$UNINSTALL\Acme|UninstallString|C:\Acme\gone.exe|Acme)"},
         false},
        {"an entry that may not be removed, marked in capitals",
         R"([$UNINSTALL\Acme]
            "NOREMOVE"=dword:00000001)",
         {}},

        // Scanning only reads.
        {"an entry that may not be changed is examined all the same",
         R"([$UNINSTALL\Acme]
            #deny=write
            "UninstallString"="C:\\Acme\\gone.exe")",
         {R"(36|$UNINSTALL\Acme|UninstallString|C:\Acme\gone.exe|Acme)"}},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture(Expand(c.registry));
        MakeProgramFiles(fixture);
        fixture.Settings().PreferSafetyOverCount = c.preferSafety;
        fixture.Settings().SetChkSkipEmptyKeys = c.skipEmptyKeys ? 1 : 0;
        CSoftware software(fixture.Environment());

        EXPECT_EQ(software.Scan(), CCategory::kScanDone);
        EXPECT_EQ(Describe(software), ExpandAll(c.expected));
    }
}

TEST(SoftwareTest, CachedEntriesAndInstallerFoldersInBothViews) {
    CScanFixture fixture(Expand(R"(
        [$UNINSTALL\Acme]
        "UninstallString"="C:\\Program Files\\Acme\\remove.exe"
        [$UNINSTALL\Locked]
        #deny=all
        [$CACHE\Acme]
        "SlowInfoCache"=hex:00
        [$CACHE\Gone Game]
        [$CACHE\Locked]
        [$CACHE32\Acme]
        [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\Folders]
        "C:\\Program Files\\Acme\\"=""
        "C:\\Program Files\\Gone Writer\\"=""
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Installer\Folders]
        "C:\\Program Files (x86)\\Gone Player\\"=""
    )"));
    MakeProgramFiles(fixture);
    CSoftware software(fixture.Environment());

    EXPECT_EQ(software.Scan(), CCategory::kScanDone);
    // The 32-bit view's cached entry is looked for in the 32-bit view's uninstall key; a
    // denied entry is there all the same.
    EXPECT_EQ(
        Describe(software),
        ExpandAll({
            R"(35|$CACHE\Gone Game|||text of IDS_INCOMPLETE_ENTRYGone Game)",
            R"(35|$CACHE\Acme|||text of IDS_INCOMPLETE_ENTRYAcme|32)",
            R"(36|$FOLDERS|C:\Program Files\Gone Writer\||C:\Program Files\Gone Writer\)",
            R"(36|$FOLDERS|C:\Program Files (x86)\Gone Player\||C:\Program Files (x86)\Gone Player\|32)",
        }));
}

TEST(SoftwareTest, BothViewsReportAKeyTheyShareOnce) {
    CScanFixture fixture(Expand(R"(
        [$UNINSTALL\Acme]
        "UninstallString"="C:\\Acme\\gone.exe"
        [$UNINSTALL32\Player]
        "DisplayName"="Acme Player"
        "UninstallString"="C:\\Player\\gone.exe"
        [$UNINSTALL\Shared]
        "UninstallString"="C:\\Shared\\gone.exe"
        [$UNINSTALL32\Shared]
        #link=\Registry\Machine\Software\Microsoft\Windows\CurrentVersion\Uninstall\Shared
    )"));
    CSoftware software(fixture.Environment());

    EXPECT_EQ(software.CountItems(), 4);
    EXPECT_EQ(software.Scan(), CCategory::kScanDone);
    // Keys are written without Wow6432Node: the 32-bit flag says which view they are in.
    EXPECT_EQ(Describe(software),
              ExpandAll({
                  R"(36|$UNINSTALL\Acme|UninstallString|C:\Acme\gone.exe|Acme)",
                  R"(36|$UNINSTALL\Player|UninstallString|C:\Player\gone.exe|Acme Player|32)",
                  R"(36|$UNINSTALL\Shared|UninstallString|C:\Shared\gone.exe|Shared)",
              }));
}

TEST(SoftwareTest, OneViewOnA32BitSystem) {
    CScanFixture fixture(Expand(R"(
        [$UNINSTALL\Acme]
        "UninstallString"="C:\\Acme\\gone.exe"
        [$CACHE\Gone Game]
    )"),
                         false);
    CSoftware software(fixture.Environment());

    EXPECT_EQ(software.CountItems(), 2);
    EXPECT_EQ(software.Scan(), CCategory::kScanDone);
    EXPECT_EQ(Describe(software),
              ExpandAll({R"(35|$CACHE\Gone Game|||text of IDS_INCOMPLETE_ENTRYGone Game)",
                         R"(36|$UNINSTALL\Acme|UninstallString|C:\Acme\gone.exe|Acme)"}));
}

// A product installed by Wine's msiexec from a temporary folder that is gone since, with
// what Wine writes for it: many empty texts, an uninstall command that is the installer
// itself, and the installer's registration. The source folder is named by the uninstall entry
// and may be by the source list, which the built-in key rules keep out of the results (the
// installer looks for its source there when it repairs the product). Nothing else is a path
// but the product's icon, gone too.
TEST(SoftwareTest, InstallerTreeAsWineMsiexecWritesIt) {
    CScanFixture fixture(Expand(R"(
        [$UNINSTALL\$CODE]
        "AuthorizedCDFPrefix"=""
        "Comments"=""
        "DisplayName"="Acme Stencils"
        "DisplayVersion"="2.1.0"
        "EstimatedSize"=dword:00000000
        "HelpLink"=""
        "InstallDate"="20240611"
        "InstallLocation"=""
        "InstallSource"="C:\\users\\Public\\Temp\\acme-setup\\"
        "Language"=dword:00000409
        "ModifyPath"=str(2):"MsiExec.exe /I$CODE"
        "Publisher"="Acme"
        "ReadMe"=""
        "UninstallString"=str(2):"MsiExec.exe /I$CODE"
        "Version"=dword:02010000
        "WindowsInstaller"=dword:00000001
        [$PRODUCT]
        "AdvertiseFlags"=dword:00000184
        "Assignment"=dword:00000000
        "AuthorizedLUAApp"=dword:00000000
        "Clients"=hex(7):3a,00,00,00,00,00
        "InstanceType"=dword:00000000
        "Language"=dword:00000409
        "PackageCode"="4F3E2D1C6B5A8174394A5B6C7D8E9F00"
        "ProductIcon"="C:\\windows\\Installer\\$CODE\\stencils.ico"
        "ProductName"="Acme Stencils"
        "Version"=dword:02010000
        [$PRODUCT\SourceList]
        "LastUsedSource"=str(2):"n;1;C:\\users\\Public\\Temp\\acme-setup\\"
        "PackageName"="acme-stencils.msi"
        [$PRODUCT\SourceList\Media]
        "1"=";"
        "DiskPrompt"=""
        "MediaPackage"=""
        [$PRODUCT\SourceList\Net]
        "1"=str(2):"C:\\users\\Public\\Temp\\acme-setup\\"
        [HKEY_CLASSES_ROOT\Installer\Features\A7B2C3D4E5F60714293A4B5C6D7E8F90]
        "Complete"=""
        [HKEY_CLASSES_ROOT\Installer\UpgradeCodes\C3D2E1F0A5B4879478695A4B3C2D1E0F]
        "A7B2C3D4E5F60714293A4B5C6D7E8F90"=""
    )"));
    MakeProgramFiles(fixture);
    CSoftware software(fixture.Environment());

    EXPECT_EQ(software.Scan(), CCategory::kScanDone);
    EXPECT_EQ(
        Describe(software),
        ExpandAll({
            R"(42|$UNINSTALL\$CODE|InstallSource|C:\users\Public\Temp\acme-setup\|Acme Stencils)",
            R"(42|$PRODUCT|ProductIcon|C:\windows\Installer\$CODE\stencils.ico|text of IDS_ENG_MISSING_FILEC:\windows\Installer\$CODE\stencils.ico)",
        }));
}

// Which of an installer key's values are looked for: only names and string data that are
// paths, whatever else the file test would make of them.
TEST(SoftwareTest, InstallerTreeLooksOnlyAtPaths) {
    struct {
        const char* why;
        const char* value;
        std::vector<std::string> expected;
    } cases[] = {
        {"a source folder that is gone",
         R"("1"="C:\\Temp\\gone\\")",
         {R"(42|$PRODUCT|1|C:\Temp\gone\|text of IDS_ENG_MISSING_FILEC:\Temp\gone\)"}},
        {"a quoted file that is gone",
         R"("Icon"="\"C:\\Temp\\gone.ico\"")",
         {R"(42|$PRODUCT|Icon|"C:\Temp\gone.ico"|text of IDS_ENG_MISSING_FILE"C:\Temp\gone.ico")"}},
        {"a value named after a folder that is gone",
         R"("C:\\Temp\\gone\\"="")",
         {R"(42|$PRODUCT|C:\Temp\gone\|C:\Temp\gone\|text of IDS_ENG_MISSING_FILEC:\Temp\gone\)"}},
        {"a folder that is there", R"("1"="C:\\Program Files\\Acme\\")", {}},
        {"a media line naming a folder that is gone", R"("1"="n;1;C:\\Temp\\gone\\")", {}},
        {"a product name that mentions a program", R"("ProductName"="Acme.exe Helper")", {}},
        {"a feature named after a program", R"("Acme.exe"="")", {}},
        {"a folder in a list of strings",
         R"("Paths"=hex(7):43,00,3a,00,5c,00,78,00,00,00,00,00)",
         {}},
        {"binary data", R"("Blob"=hex:43,00,3a,00,5c,00,78,00,5c,00,00,00)", {}},
        {"a string without its terminator",
         R"("1"=hex(1):43,00,3a,00,5c,00,78,00,5c,00)",
         {R"(42|$PRODUCT|1|C:\x\|text of IDS_ENG_MISSING_FILEC:\x\)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture(Expand("[$PRODUCT]\n" + std::string(c.value) + "\n"));
        MakeProgramFiles(fixture);
        CSoftware software(fixture.Environment());

        EXPECT_EQ(software.Scan(), CCategory::kScanDone);
        EXPECT_EQ(Describe(software), ExpandAll(c.expected));
    }
}

// A link in the installer tree that leads back up it is not followed.
TEST(SoftwareTest, InstallerTreeWalkEndsAtALinkBackUp) {
    CScanFixture fixture(Expand(R"(
        [$PRODUCT]
        "ProductIcon"="C:\\Temp\\gone.ico"
        [$PRODUCT\SourceList\Loop]
        #link=\Registry\Machine\Software\Classes\Installer\Products
    )"));
    CSoftware software(fixture.Environment());

    EXPECT_EQ(software.Scan(), CCategory::kScanDone);
    EXPECT_EQ(
        Describe(software),
        ExpandAll(
            {R"(42|$PRODUCT|ProductIcon|C:\Temp\gone.ico|text of IDS_ENG_MISSING_FILEC:\Temp\gone.ico)"}));
}

class StoppingObserver final : public IScanObserver {
public:
    explicit StoppingObserver(CManualResetEvent& stopEvent) : stopEvent_(stopEvent) {}
    void OnStatus(std::u16string_view text) override {
        if (text.starts_with(u"Install Folder: "))
            stopEvent_.Set();
    }

private:
    CManualResetEvent& stopEvent_;
};

TEST(SoftwareTest, StopsWhenAskedAndSkipsWhatIsLeft) {
    CScanFixture fixture(Expand(R"(
        [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\Folders]
        "C:\\Gone\\One\\"=""
        "C:\\Gone\\Two\\"=""
        [$PRODUCT]
        "ProductIcon"="C:\\Temp\\gone.ico"
    )"));
    CManualResetEvent stopEvent;
    StoppingObserver observer(stopEvent);
    CSoftware software(fixture.Environment());
    software.Attach(&stopEvent, &observer, nullptr);

    EXPECT_EQ(software.Scan(), CCategory::kScanStopped);
    // The folder being looked at when the stop came is finished; nothing after it is.
    EXPECT_EQ(Describe(software), ExpandAll({R"(36|$FOLDERS|C:\Gone\One\||C:\Gone\One\)"}));
}

}  // namespace
}  // namespace quillary
