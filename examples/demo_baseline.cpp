#include "demo_baseline.h"

#include <span>
#include <string_view>

#include "core/bytes.h"

namespace quillary::demo {
namespace {

const std::u16string kProfile = u"C:\\users\\demo";
const std::u16string kProgramData = u"C:\\ProgramData";
const std::u16string kPublic = u"C:\\users\\Public";

// A folder value of Explorer: its name and its form with environment variables, which
// "User Shell Folders" keeps; "Shell Folders" keeps the expanded form.
struct ShellFolder {
    std::u16string_view name;
    std::u16string_view unexpanded;
};

constexpr ShellFolder kUserShellFolders[] = {
    {u"Administrative Tools",
     u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative "
     u"Tools"},
    {u"AppData", u"%USERPROFILE%\\AppData\\Roaming"},
    {u"Cache", u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
    {u"Cookies", u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {u"Desktop", u"%USERPROFILE%\\Desktop"},
    {u"Favorites", u"%USERPROFILE%\\Favorites"},
    {u"Fonts", u"C:\\windows\\Fonts"},
    {u"History", u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\History"},
    {u"Local AppData", u"%USERPROFILE%\\AppData\\Local"},
    {u"My Music", u"%USERPROFILE%\\Music"},
    {u"My Pictures", u"%USERPROFILE%\\Pictures"},
    {u"My Videos", u"%USERPROFILE%\\Videos"},
    {u"NetHood", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {u"Personal", u"%USERPROFILE%\\Documents"},
    {u"PrintHood", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {u"Programs", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {u"Recent", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {u"SendTo", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {u"Start Menu", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {u"StartUp",
     u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {u"Templates", u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {u"{374DE290-123F-4565-9164-39C4925E467B}", u"%USERPROFILE%\\Downloads"},
    {u"{A520A1A4-1780-4FF6-BD18-167343C5AF16}", u"%USERPROFILE%\\AppData\\LocalLow"},
};

constexpr ShellFolder kCommonShellFolders[] = {
    {u"Common Administrative Tools",
     u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {u"Common AppData", u"%ProgramData%"},
    {u"Common Desktop", u"%PUBLIC%\\Desktop"},
    {u"Common Documents", u"%PUBLIC%\\Documents"},
    {u"Common Programs", u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {u"Common Start Menu", u"%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {u"Common StartUp", u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {u"Common Templates", u"%ProgramData%\\Microsoft\\Windows\\Templates"},
    {u"CommonMusic", u"%PUBLIC%\\Music"},
    {u"CommonPictures", u"%PUBLIC%\\Pictures"},
    {u"CommonVideo", u"%PUBLIC%\\Videos"},
};

// Folders that no folder value names but every prefix has.
constexpr std::u16string_view kOtherFolders[] = {
    u"C:\\windows\\system32",
    u"C:\\windows\\syswow64",
    u"C:\\windows\\Help",
    u"C:\\windows\\Media",
    u"C:\\windows\\temp",
    u"C:\\Program Files\\Common Files",
    u"C:\\Program Files (x86)\\Common Files",
    u"C:\\users\\demo\\Temp",
    u"C:\\users\\demo\\Saved Games",
};

constexpr std::u16string_view kSystemFiles[] = {
    u"C:\\windows\\notepad.exe",           u"C:\\windows\\regedit.exe",
    u"C:\\windows\\system32\\cmd.exe",     u"C:\\windows\\system32\\notepad.exe",
    u"C:\\windows\\system32\\msiexec.exe", u"C:\\windows\\syswow64\\cmd.exe",
};

std::u16string Expand(std::u16string_view text) {
    struct Variable {
        std::u16string_view name;
        const std::u16string& value;
    };
    const Variable variables[] = {
        {u"%USERPROFILE%", kProfile}, {u"%ProgramData%", kProgramData}, {u"%PUBLIC%", kPublic}};
    std::u16string result(text);
    for (const Variable& variable : variables) {
        if (result.starts_with(variable.name)) {
            result.replace(0, variable.name.size(), variable.value);
        }
    }
    return result;
}

RegWrite Text(std::u16string key, std::u16string_view name, std::u16string text,
              RegType type = RegSz) {
    return RegWrite{std::move(key), std::u16string(name), type, std::move(text), {}};
}

RegWrite Dword(std::u16string key, std::u16string_view name, std::uint32_t value) {
    return RegWrite{
        std::move(key), std::u16string(name), RegDword, {}, LittleEndianBytes(value, 4)};
}

RegWrite KeyOnly(std::u16string key) {
    return RegWrite{std::move(key), {}, RegNone, {}, {}};
}

// Explorer's folder values of one account (or of the machine) under root\Software.
void AddShellFolders(Baseline& baseline, const std::u16string& software,
                     std::span<const ShellFolder> table) {
    const std::u16string explorer = software + u"\\Microsoft\\Windows\\CurrentVersion\\Explorer";
    for (const ShellFolder& folder : table) {
        const std::u16string expanded = Expand(folder.unexpanded);
        baseline.writes.push_back(Text(explorer + u"\\Shell Folders", folder.name, expanded));
        baseline.writes.push_back(Text(explorer + u"\\User Shell Folders", folder.name,
                                       std::u16string(folder.unexpanded), RegExpandSz));
        baseline.folders.push_back(expanded);
    }
}

void AddMachine(Baseline& baseline) {
    const std::u16string windowsNt =
        u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion";
    baseline.writes.push_back(Text(windowsNt, u"CSDVersion", u"Service Pack 1"));
    baseline.writes.push_back(Text(windowsNt, u"CurrentBuild", u"7601"));
    baseline.writes.push_back(Text(windowsNt, u"CurrentBuildNumber", u"7601"));
    baseline.writes.push_back(Text(windowsNt, u"CurrentType", u"Multiprocessor Free"));
    baseline.writes.push_back(Text(windowsNt, u"CurrentVersion", u"6.1"));
    baseline.writes.push_back(Text(windowsNt, u"ProductName", u"Microsoft Windows 7"));
    baseline.writes.push_back(Text(windowsNt, u"RegisteredOrganization", u""));
    baseline.writes.push_back(Text(windowsNt, u"RegisteredOwner", u"demo"));
    baseline.writes.push_back(Text(windowsNt, u"SystemRoot", u"C:\\windows"));

    const std::u16string profiles = windowsNt + u"\\ProfileList";
    baseline.writes.push_back(Text(profiles, u"ProfilesDirectory", u"C:\\users", RegExpandSz));
    baseline.writes.push_back(Text(profiles, u"ProgramData", kProgramData, RegExpandSz));
    baseline.writes.push_back(Text(profiles, u"Public", kPublic, RegExpandSz));
    baseline.writes.push_back(Dword(profiles + u"\\S-1-5-21-0-0-0-1000", u"Flags", 0));
    baseline.writes.push_back(
        Text(profiles + u"\\S-1-5-21-0-0-0-1000", u"ProfileImagePath", kProfile));

    const std::u16string windows =
        u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion";
    baseline.writes.push_back(Text(windows, u"CommonFilesDir", u"C:\\Program Files\\Common Files"));
    baseline.writes.push_back(
        Text(windows, u"CommonFilesDir (x86)", u"C:\\Program Files (x86)\\Common Files"));
    baseline.writes.push_back(Text(windows, u"ProgramFilesDir", u"C:\\Program Files"));
    baseline.writes.push_back(Text(windows, u"ProgramFilesDir (x86)", u"C:\\Program Files (x86)"));
    baseline.writes.push_back(Text(windows, u"ProgramFilesPath", u"%ProgramFiles%", RegExpandSz));

    // What 32-bit programs read in their own view of the machine's software.
    const std::u16string windows32 =
        u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
    baseline.writes.push_back(
        Text(windows32, u"CommonFilesDir", u"C:\\Program Files (x86)\\Common Files"));
    baseline.writes.push_back(Text(windows32, u"ProgramFilesDir", u"C:\\Program Files (x86)"));

    const std::u16string environment =
        u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    baseline.writes.push_back(
        Text(environment, u"ComSpec", u"%SystemRoot%\\system32\\cmd.exe", RegExpandSz));
    baseline.writes.push_back(Text(environment, u"NUMBER_OF_PROCESSORS", u"2"));
    baseline.writes.push_back(Text(environment, u"OS", u"Windows_NT"));
    baseline.writes.push_back(
        Text(environment, u"PATH",
             u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem", RegExpandSz));
    baseline.writes.push_back(
        Text(environment, u"PATHEXT", u".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH"));
    baseline.writes.push_back(Text(environment, u"PROCESSOR_ARCHITECTURE", u"AMD64"));
    baseline.writes.push_back(Text(environment, u"SystemRoot", u"C:\\windows"));
    baseline.writes.push_back(Text(environment, u"TEMP", u"%SystemRoot%\\temp", RegExpandSz));
    baseline.writes.push_back(Text(environment, u"TMP", u"%SystemRoot%\\temp", RegExpandSz));
    baseline.writes.push_back(Text(environment, u"windir", u"%SystemRoot%", RegExpandSz));
    baseline.writes.push_back(Text(environment, u"winsysdir", u"C:\\windows\\system32"));

    AddShellFolders(baseline, u"HKEY_LOCAL_MACHINE\\Software", kCommonShellFolders);

    // The 32-bit view: its own classes, and the keys both views share as links.
    baseline.writes.push_back(KeyOnly(u"HKEY_LOCAL_MACHINE\\Software\\Classes\\AppID"));
    baseline.writes.push_back(KeyOnly(u"HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib"));
    baseline.links = {
        {u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes",
         u"\\Registry\\Machine\\Software\\Classes\\Wow6432Node"},
        {u"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\AppID",
         u"\\Registry\\Machine\\Software\\Classes\\AppID"},
        {u"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\TypeLib",
         u"\\Registry\\Machine\\Software\\Classes\\TypeLib"},
    };
}

void AddUser(Baseline& baseline) {
    const std::u16string user = u"HKEY_CURRENT_USER";
    const std::u16string temp = kProfile + u"\\Temp";
    baseline.writes.push_back(Text(user + u"\\Environment", u"TEMP", temp));
    baseline.writes.push_back(Text(user + u"\\Environment", u"TMP", temp));

    const std::u16string volatileEnvironment = user + u"\\Volatile Environment";
    baseline.writes.push_back(
        Text(volatileEnvironment, u"APPDATA", kProfile + u"\\AppData\\Roaming"));
    baseline.writes.push_back(Text(volatileEnvironment, u"HOMEDRIVE", u"C:"));
    baseline.writes.push_back(Text(volatileEnvironment, u"HOMEPATH", u"\\users\\demo"));
    baseline.writes.push_back(
        Text(volatileEnvironment, u"LOCALAPPDATA", kProfile + u"\\AppData\\Local"));
    baseline.writes.push_back(Text(volatileEnvironment, u"USERDOMAIN", u"DEMO-PC"));
    baseline.writes.push_back(Text(volatileEnvironment, u"USERNAME", std::u16string(kUserName)));
    baseline.writes.push_back(Text(volatileEnvironment, u"USERPROFILE", kProfile));

    AddShellFolders(baseline, user + u"\\Software", kUserShellFolders);
    // Wine gives the default account the folders of the prefix's own user.
    AddShellFolders(baseline, u"HKEY_USERS\\.Default\\Software", kUserShellFolders);
}

}  // namespace

const Baseline& DemoBaseline() {
    static const Baseline baseline = [] {
        Baseline result;
        AddMachine(result);
        AddUser(result);
        for (std::u16string_view folder : kOtherFolders) {
            result.folders.emplace_back(folder);
        }
        for (std::u16string_view file : kSystemFiles) {
            result.files.emplace_back(file);
        }
        return result;
    }();
    return baseline;
}

}  // namespace quillary::demo
