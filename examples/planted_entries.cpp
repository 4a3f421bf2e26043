#include "planted_entries.h"

#include <array>

#include "core/bytes.h"

namespace quillary::demo {
namespace {

enum Category : int {
    kActiveX,
    kAppPaths,
    kFileTypes,
    kFonts,
    kHelpFiles,
    kHistoryLists,
    kSharedFiles,
    kShortcuts,
    kSoftware,
    kSounds,
    kStartMenu,
    kStartup,
    kDeepScanMachine,
    kDeepScanUser,
};

constexpr std::array<std::string_view, 14> kCategoryLabels = {"ActiveX/COM",
                                                              "Application paths",
                                                              "File types",
                                                              "Fonts",
                                                              "Help files",
                                                              "History lists",
                                                              "Shared DLLs",
                                                              "Shortcuts",
                                                              "Software",
                                                              "Sounds",
                                                              "Start menu",
                                                              "Startup",
                                                              "Deep scan (machine)",
                                                              "Deep scan (current user)"};

// Folders of drive C:, as the prefix's own folder values name them.
const std::u16string kProgramFiles = u"C:\\Program Files";
const std::u16string kProgramFilesX86 = u"C:\\Program Files (x86)";
const std::u16string kCommonFiles = kProgramFiles + u"\\Common Files";
const std::u16string kProfile = u"C:\\users\\demo";
const std::u16string kDocuments = kProfile + u"\\Documents";
const std::u16string kDesktop = kProfile + u"\\Desktop";
const std::u16string kRoaming = kProfile + u"\\AppData\\Roaming";
const std::u16string kLocal = kProfile + u"\\AppData\\Local";
const std::u16string kRecent = kRoaming + u"\\Microsoft\\Windows\\Recent";
const std::u16string kUserPrograms = kRoaming + u"\\Microsoft\\Windows\\Start Menu\\Programs";
const std::u16string kCommonPrograms = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const std::u16string kPublicDesktop = u"C:\\users\\Public\\Desktop";
const std::u16string kFontsFolder = u"C:\\windows\\Fonts";
const std::u16string kMedia = u"C:\\windows\\Media";

// The three products the demo tells a story about: Larkspur (a drawing program, installed),
// Fernwood Notes (uninstalled, leaving traces behind) and Quartz Player (a 32-bit program,
// partly broken).
const std::u16string kLarkspur = kProgramFiles + u"\\Larkspur";
const std::u16string kFernwood = kProgramFiles + u"\\Fernwood";
const std::u16string kQuartz = kProgramFilesX86 + u"\\Quartz Player";

const std::u16string kCanvasClass = u"{6B1E3F20-5C4D-4E8A-9F71-2A3B4C5D6E70}";
const std::u16string kBrushClass = u"{6B1E3F21-5C4D-4E8A-9F71-2A3B4C5D6E70}";
const std::u16string kCanvasTypeLib = u"{6B1E3F2F-5C4D-4E8A-9F71-2A3B4C5D6E70}";
const std::u16string kPreviewClass = u"{9D2C4A10-7E3B-4F55-8C21-3E4F5A6B7C80}";
const std::u16string kPreviewAppId = u"{9D2C4A11-7E3B-4F55-8C21-3E4F5A6B7C80}";
const std::u16string kSyncAgentClass = u"{9D2C4A12-7E3B-4F55-8C21-3E4F5A6B7C80}";
const std::u16string kPreviewHandlerClass = u"{9D2C4A13-7E3B-4F55-8C21-3E4F5A6B7C80}";
const std::u16string kVisualizerClass = u"{3F6A8B20-1D2E-4C3B-A4F5-6789ABCDEF01}";
const std::u16string kPluginClass = u"{3F6A8B21-1D2E-4C3B-A4F5-6789ABCDEF01}";
const std::u16string kToolbarClass = u"{0A1B2C3D-4E5F-11D3-8000-00A0C9AAAAAA}";
const std::u16string kShareHandlerClass = u"{9D2C4A14-7E3B-4F55-8C21-3E4F5A6B7C80}";

const std::u16string kHkcr = u"HKEY_CLASSES_ROOT\\";
const std::u16string kHklmSoftware = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\";
const std::u16string kHkcuSoftware = u"HKEY_CURRENT_USER\\Software\\";
const std::u16string kCurrentVersion = u"Microsoft\\Windows\\CurrentVersion";
const std::u16string kMachineVersion = kHklmSoftware + kCurrentVersion;
const std::u16string kMachineVersion32 = kHklmSoftware + u"Wow6432Node\\" + kCurrentVersion;
const std::u16string kUserVersion = kHkcuSoftware + kCurrentVersion;
const std::u16string kExplorer = kUserVersion + u"\\Explorer";
const std::u16string kUserAssistCount =
    kExplorer + u"\\UserAssist\\{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count";
const std::u16string kMenuOrder = kExplorer + u"\\MenuOrder\\Start Menu\\Programs";
const std::u16string kSchemes = u"HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps";
const std::u16string kEventLabels = u"HKEY_CURRENT_USER\\AppEvents\\EventLabels";

RegWrite Text(std::u16string key, std::u16string name, std::u16string text, RegType type = RegSz) {
    return RegWrite{std::move(key), std::move(name), type, std::move(text), {}};
}

RegWrite Dword(std::u16string key, std::u16string name, std::uint32_t value) {
    return RegWrite{std::move(key), std::move(name), RegDword, {}, LittleEndianBytes(value, 4)};
}

RegWrite Binary(std::u16string key, std::u16string name, std::vector<std::uint8_t> bytes) {
    return RegWrite{std::move(key), std::move(name), RegBinary, {}, std::move(bytes)};
}

RegWrite KeyOnly(std::u16string key) {
    return RegWrite{std::move(key), {}, RegNone, {}, {}};
}

Target File(std::u16string path, bool exists) {
    return Target{TargetKind::File, std::move(path), exists};
}

Target Folder(std::u16string path, bool exists) {
    return Target{TargetKind::Folder, std::move(path), exists};
}

Target Key(std::u16string path, bool exists) {
    return Target{TargetKind::Key, std::move(path), exists};
}

// An entry that is one text value; extra writes give it the company a real entry keeps.
PlantedEntry ValueEntry(int category, Verdict verdict, std::u16string key, std::u16string name,
                        std::u16string text, std::vector<Target> targets, std::string why,
                        std::vector<RegWrite> extra = {}) {
    PlantedEntry entry{.category = category,
                       .verdict = verdict,
                       .key = key,
                       .valueName = name,
                       .valueText = text,
                       .targets = std::move(targets),
                       .why = std::move(why)};
    entry.writes.push_back(Text(std::move(key), std::move(name), std::move(text)));
    entry.writes.insert(entry.writes.end(), extra.begin(), extra.end());
    return entry;
}

// An entry whose value name is what is judged (its data is a count or a description).
PlantedEntry NamedValueEntry(int category, Verdict verdict, RegWrite value,
                             std::vector<Target> targets, std::string why) {
    PlantedEntry entry{.category = category,
                       .verdict = verdict,
                       .key = value.key,
                       .valueName = value.name,
                       .targets = std::move(targets),
                       .why = std::move(why)};
    if (value.type == RegSz) {
        entry.valueText = value.text;
    }
    entry.writes.push_back(std::move(value));
    return entry;
}

PlantedEntry EmptyKeyEntry(int category, Verdict verdict, std::u16string key,
                           std::vector<Target> targets, std::string why,
                           std::vector<RegWrite> extra = {}) {
    PlantedEntry entry{.category = category,
                       .verdict = verdict,
                       .key = key,
                       .emptyKey = true,
                       .targets = std::move(targets),
                       .why = std::move(why)};
    entry.writes.push_back(KeyOnly(std::move(key)));
    entry.writes.insert(entry.writes.end(), extra.begin(), extra.end());
    return entry;
}

// A key that holds only values the scan does not judge, found by its name or by where it is.
PlantedEntry KeyEntry(int category, Verdict verdict, std::u16string key,
                      std::vector<Target> targets, std::string why, std::vector<RegWrite> writes) {
    return PlantedEntry{.category = category,
                        .verdict = verdict,
                        .key = std::move(key),
                        .targets = std::move(targets),
                        .why = std::move(why),
                        .writes = std::move(writes)};
}

PlantedEntry ShortcutEntry(int category, Verdict verdict, std::u16string linkPath,
                           std::u16string targetPath, bool targetIsFolder, bool targetExists,
                           std::string why) {
    Target target =
        targetIsFolder ? Folder(targetPath, targetExists) : File(targetPath, targetExists);
    return PlantedEntry{
        .category = category,
        .verdict = verdict,
        .shortcut = ShortcutFile{std::move(linkPath), std::move(targetPath), targetIsFolder},
        .targets = {std::move(target)},
        .why = std::move(why)};
}

// An entry broken by what it lacks rather than by a missing target.
PlantedEntry Incomplete(PlantedEntry entry) {
    entry.incomplete = true;
    return entry;
}

// An empty key that only the search for empty keys reports.
PlantedEntry OnlyWhenSearchingEmptyKeys(PlantedEntry entry) {
    entry.onlyWhenSearchingEmptyKeys = true;
    return entry;
}

PlantedEntry ReportedAt(PlantedEntry entry, std::u16string key) {
    entry.reportedAt = std::move(key);
    return entry;
}

PlantedEntry Excluded(PlantedEntry entry, std::u16string fragment) {
    entry.excludedBy = std::move(fragment);
    return entry;
}

// A UserAssist value: the encoded name of an item, with a run count and the time of the last
// run as its data.
RegWrite UserAssistValue(std::u16string_view item) {
    std::vector<std::uint8_t> data;
    AppendLittleEndian(data, 1, 4);                   // session
    AppendLittleEndian(data, 6, 4);                   // runs, counted from 5
    AppendLittleEndian(data, 0x01DA6B9E2C8E5A00, 8);  // last run, a file time
    return Binary(kUserAssistCount, Rot13(item), std::move(data));
}

// The order Explorer keeps for a Start menu folder; its contents are not judged.
RegWrite MenuOrderValue(std::u16string key) {
    return Binary(std::move(key), u"Order", {0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00});
}

void AddActiveX(std::vector<PlantedEntry>& entries) {
    const std::u16string clsid = kHkcr + u"CLSID\\";
    const std::u16string clsid32 = kHkcr + u"Wow6432Node\\CLSID\\";
    entries.push_back(ValueEntry(
        kActiveX, Verdict::Reported, clsid + kBrushClass + u"\\InprocServer32", u"",
        kLarkspur + u"\\lkbrush.dll", {File(kLarkspur + u"\\lkbrush.dll", false)},
        "the class's in-process server file is missing",
        {Text(clsid + kBrushClass, u"", u"Larkspur Brush Control"),
         Text(clsid + kBrushClass + u"\\InprocServer32", u"ThreadingModel", u"Apartment")}));
    entries.push_back(ValueEntry(kActiveX, Verdict::Reported, clsid + kPreviewClass, u"AppID",
                                 kPreviewAppId, {Key(kHkcr + u"AppID\\" + kPreviewAppId, false)},
                                 "the class names an application identifier that has no key",
                                 {Text(clsid + kPreviewClass, u"", u"Fernwood Preview")}));
    entries.push_back(EmptyKeyEntry(
        kActiveX, Verdict::Reported, clsid + kSyncAgentClass + u"\\LocalServer32", {},
        "an empty server key, which the 64-bit pass reports whatever the skip-empty-keys "
        "setting says",
        {Text(clsid + kSyncAgentClass, u"", u"Fernwood Sync Agent")}));
    entries.push_back(
        ValueEntry(kActiveX, Verdict::Reported, clsid32 + kPluginClass + u"\\InprocServer32", u"",
                   kQuartz + u"\\qplugin.dll", {File(kQuartz + u"\\qplugin.dll", false)},
                   "a 32-bit class whose server file is missing (32-bit pass)",
                   {Text(clsid32 + kPluginClass, u"", u"Quartz Visualizer Plug-in")}));
    entries.push_back(ValueEntry(
        kActiveX, Verdict::NotReported, clsid + kCanvasClass + u"\\InprocServer32", u"",
        kLarkspur + u"\\lkcanvas.dll", {File(kLarkspur + u"\\lkcanvas.dll", true)},
        "the server file exists",
        {Text(clsid + kCanvasClass, u"", u"Larkspur Canvas Control"),
         Text(clsid + kCanvasClass + u"\\InprocServer32", u"ThreadingModel", u"Apartment"),
         Text(clsid + kCanvasClass + u"\\ProgID", u"", u"Larkspur.Canvas.1"),
         Text(clsid + kCanvasClass + u"\\TypeLib", u"", kCanvasTypeLib),
         Text(kHkcr + u"Larkspur.Canvas.1", u"", u"Larkspur Canvas Control"),
         Text(kHkcr + u"Larkspur.Canvas.1\\CLSID", u"", kCanvasClass)}));
    entries.push_back(ValueEntry(kActiveX, Verdict::NotReported, kHkcr + u"AppID\\larkspur.exe",
                                 u"AppID", kCanvasClass,
                                 {Key(kHkcr + u"AppID\\" + kCanvasClass, true)},
                                 "the application identifier it names exists",
                                 {Text(kHkcr + u"AppID\\" + kCanvasClass, u"", u"Larkspur")}));
    const std::u16string typeLib = kHkcr + u"TypeLib\\" + kCanvasTypeLib + u"\\1.0";
    entries.push_back(ValueEntry(
        kActiveX, Verdict::NotReported, typeLib + u"\\0\\win64", u"", kLarkspur + u"\\lkcanvas.dll",
        {File(kLarkspur + u"\\lkcanvas.dll", true), Folder(kLarkspur + u"\\help", true)},
        "the type library's file and help folder exist",
        {Text(typeLib, u"", u"Larkspur Canvas 1.0 Type Library"),
         Text(typeLib + u"\\FLAGS", u"", u"0"),
         Text(typeLib + u"\\HELPDIR", u"", kLarkspur + u"\\help")}));
    entries.push_back(ValueEntry(kActiveX, Verdict::NotReported,
                                 clsid32 + kVisualizerClass + u"\\InprocServer32", u"",
                                 kQuartz + u"\\qvis.dll", {File(kQuartz + u"\\qvis.dll", true)},
                                 "a 32-bit class whose server file exists",
                                 {Text(clsid32 + kVisualizerClass, u"", u"Quartz Visualizer")}));
    entries.push_back(Excluded(
        ValueEntry(kActiveX, Verdict::NotReported, clsid + kToolbarClass + u"\\InprocServer32", u"",
                   kProgramFiles + u"\\Old Toolbar\\toolbar.dll",
                   {File(kProgramFiles + u"\\Old Toolbar\\toolbar.dll", false)},
                   "the server file is missing, but the class identifier holds \"-11d3-\", a "
                   "built-in key rule",
                   {Text(clsid + kToolbarClass, u"", u"Old Toolbar Band")}),
        u"-11d3-"));
}

void AddAppPaths(std::vector<PlantedEntry>& entries) {
    const std::u16string machine = kMachineVersion + u"\\App Paths\\";
    const std::u16string user = kUserVersion + u"\\App Paths\\";
    entries.push_back(
        ValueEntry(kAppPaths, Verdict::Reported, machine + u"fernpad.exe", u"",
                   kFernwood + u"\\fernpad.exe", {File(kFernwood + u"\\fernpad.exe", false)},
                   "the program is missing", {Text(machine + u"fernpad.exe", u"Path", kFernwood)}));
    entries.push_back(ValueEntry(kAppPaths, Verdict::Reported, user + u"sketchbook.exe", u"",
                                 kLocal + u"\\Sketchbook\\sketchbook.exe",
                                 {File(kLocal + u"\\Sketchbook\\sketchbook.exe", false)},
                                 "the program is missing (the current user's list)"));
    entries.push_back(EmptyKeyEntry(kAppPaths, Verdict::Reported, machine + u"ghostview.exe", {},
                                    "an application key with no default value and no values"));
    entries.push_back(ValueEntry(kAppPaths, Verdict::NotReported, machine + u"larkspur.exe", u"",
                                 kLarkspur + u"\\larkspur.exe",
                                 {File(kLarkspur + u"\\larkspur.exe", true)}, "the program exists",
                                 {Text(machine + u"larkspur.exe", u"Path", kLarkspur)}));
    entries.push_back(ValueEntry(kAppPaths, Verdict::Reported, machine + u"fernsync.exe", u"Path",
                                 kFernwood, {File(kFernwood + u"\\fernsync.exe", false)},
                                 "no program named, and the folder its Path value names lacks it",
                                 {Text(machine + u"fernsync.exe", u"", u"")}));
    entries.push_back(ValueEntry(kAppPaths, Verdict::NotReported, machine + u"lkhelper.exe",
                                 u"Path", kLarkspur, {File(kLarkspur + u"\\lkhelper.exe", true)},
                                 "the folder its Path value names holds the program",
                                 {Text(machine + u"lkhelper.exe", u"", u"")}));
    entries.push_back(
        Incomplete(ValueEntry(kAppPaths, Verdict::Reported, machine + u"oldtool.exe", u"", u"", {},
                              "an application key whose only value is an empty "
                              "default value")));
    entries.push_back(
        ValueEntry(kAppPaths, Verdict::NotReported, machine + u"lkpanel.exe", u"", u"", {},
                   "an empty default value, but the key has a subkey",
                   {Text(machine + u"lkpanel.exe\\SupportedProtocols", u"larkspur", u"")}));
    entries.push_back(ValueEntry(kAppPaths, Verdict::NotReported, machine + u"lkcli.exe", u"Path",
                                 kLarkspur, {Folder(kLarkspur, true)},
                                 "no default value, but the key holds a value"));
    const std::u16string applications = kHklmSoftware + u"Classes\\Applications\\";
    entries.push_back(
        ReportedAt(ValueEntry(kAppPaths, Verdict::Reported,
                              applications + u"fernpad.exe\\shell\\edit\\command", u"",
                              u"\"" + kFernwood + u"\\fernpad.exe\" \"%1\"",
                              {File(kFernwood + u"\\fernpad.exe", false)},
                              "an application's only verb starts a program that is gone; the whole "
                              "application is reported"),
                   applications + u"fernpad.exe\\"));
    entries.push_back(ValueEntry(
        kAppPaths, Verdict::NotReported, applications + u"larkspur.exe\\shell\\edit\\command", u"",
        u"\"" + kLarkspur + u"\\larkspur.exe\" \"%1\"", {File(kLarkspur + u"\\larkspur.exe", true)},
        "the application's verb starts a program that exists"));
}

void AddFileTypes(std::vector<PlantedEntry>& entries) {
    const std::u16string sketch = kHkcr + u"Larkspur.Sketch";
    const std::u16string playlist = kHkcr + u"Quartz.Playlist";
    entries.push_back(ValueEntry(kFileTypes, Verdict::Reported, kHkcr + u".fwn", u"",
                                 u"Fernwood.Note", {Key(kHkcr + u"Fernwood.Note", false)},
                                 "the extension's program identifier has no key",
                                 {Text(kHkcr + u".fwn", u"PerceivedType", u"text")}));
    entries.push_back(ValueEntry(kFileTypes, Verdict::Reported, sketch + u"\\shell\\print\\command",
                                 u"", u"\"" + kLarkspur + u"\\lkprint.exe\" /p \"%1\"",
                                 {File(kLarkspur + u"\\lkprint.exe", false)},
                                 "the verb's program is missing"));
    entries.push_back(ValueEntry(
        kFileTypes, Verdict::Reported, playlist + u"\\DefaultIcon", u"",
        kQuartz + u"\\playlist.ico", {File(kQuartz + u"\\playlist.ico", false)},
        "the icon file is missing",
        {Text(playlist, u"", u"Quartz Playlist"), Text(kHkcr + u".qpl", u"", u"Quartz.Playlist")}));
    entries.push_back(ValueEntry(kFileTypes, Verdict::NotReported, kHkcr + u".lsk", u"",
                                 u"Larkspur.Sketch", {Key(sketch, true)},
                                 "the extension's program identifier exists",
                                 {Text(sketch, u"", u"Larkspur Sketch")}));
    entries.push_back(
        ValueEntry(kFileTypes, Verdict::NotReported, sketch + u"\\shell\\edit\\command", u"",
                   u"\"" + kLarkspur + u"\\larkspur.exe\" \"%1\"",
                   {File(kLarkspur + u"\\larkspur.exe", true)}, "the verb's program exists"));
    entries.push_back(ValueEntry(kFileTypes, Verdict::NotReported, sketch + u"\\DefaultIcon", u"",
                                 kLarkspur + u"\\larkspur.exe,1",
                                 {File(kLarkspur + u"\\larkspur.exe", true)},
                                 "the icon's file exists (the \",1\" is a resource index)"));
    entries.push_back(ValueEntry(
        kFileTypes, Verdict::NotReported, sketch + u"\\shell\\preview\\command", u"DelegateExecute",
        kCanvasClass, {Key(kHkcr + u"CLSID\\" + kCanvasClass, true)},
        "the verb is handled by a registered class (DelegateExecute), so its empty command "
        "is not judged",
        {Text(sketch + u"\\shell\\preview\\command", u"", u"")}));
    entries.push_back(Excluded(
        ValueEntry(kFileTypes, Verdict::NotReported, sketch + u"\\shell\\open\\command", u"",
                   u"\"" + kLarkspur + u"\\lkview.exe\" \"%1\"",
                   {File(kLarkspur + u"\\lkview.exe", false)},
                   "the program is missing, but the key path holds \"\\open\\\", a built-in key "
                   "rule"),
        u"\\open\\"));
    entries.push_back(
        OnlyWhenSearchingEmptyKeys(EmptyKeyEntry(kFileTypes, Verdict::Reported, kHkcr + u".fwt", {},
                                                 "an extension key that holds nothing")));
    entries.push_back(KeyEntry(kFileTypes, Verdict::NotReported, kHkcr + u".lkb", {},
                               "an extension that names no program identifier but holds a "
                               "content type",
                               {Text(kHkcr + u".lkb", u"Content Type", u"application/x-lkbrush")}));
    entries.push_back(Incomplete(
        ValueEntry(kFileTypes, Verdict::Reported, kHkcr + u"Fernwood.Template\\DefaultIcon", u"",
                   u"", {}, "the icon key's default value is empty",
                   {Text(kHkcr + u"Fernwood.Template", u"", u"Fernwood Note Template")})));
    entries.push_back(ValueEntry(kFileTypes, Verdict::NotReported,
                                 kHkcr + u"Larkspur.Brush\\DefaultIcon", u"", u"%1", {},
                                 "the icon is the file itself (\"%1\")",
                                 {Text(kHkcr + u"Larkspur.Brush", u"", u"Larkspur Brush")}));
    entries.push_back(ValueEntry(kFileTypes, Verdict::Reported,
                                 kHkcr + u"Fernwood.Preview.1\\CLSID", u"", kPreviewHandlerClass,
                                 {Key(kHkcr + u"CLSID\\" + kPreviewHandlerClass, false)},
                                 "the program identifier names a class that is not registered",
                                 {Text(kHkcr + u"Fernwood.Preview.1", u"", u"Fernwood Preview")}));
    entries.push_back(ValueEntry(kFileTypes, Verdict::NotReported,
                                 kHkcr + u"Larkspur.Brush.1\\CLSID", u"", kBrushClass,
                                 {Key(kHkcr + u"CLSID\\" + kBrushClass, true)},
                                 "the program identifier's class is registered",
                                 {Text(kHkcr + u"Larkspur.Brush.1", u"", u"Larkspur Brush")}));
    const std::u16string sketchHandlers = sketch + u"\\ShellEx\\ContextMenuHandlers\\";
    entries.push_back(ValueEntry(kFileTypes, Verdict::Reported, sketchHandlers + u"FernShare", u"",
                                 kShareHandlerClass,
                                 {Key(kHkcr + u"CLSID\\" + kShareHandlerClass, false)},
                                 "a context-menu handler whose class is not registered"));
    entries.push_back(ValueEntry(
        kFileTypes, Verdict::NotReported, playlist + u"\\ShellEx\\ContextMenuHandlers\\QuartzQueue",
        u"", kPluginClass, {Key(kHkcr + u"Wow6432Node\\CLSID\\" + kPluginClass, true)},
        "a context-menu handler whose class is registered in the 32-bit view only"));
    entries.push_back(OnlyWhenSearchingEmptyKeys(
        EmptyKeyEntry(kFileTypes, Verdict::Reported, sketch + u"\\shell\\share", {},
                      "a verb with no command, no subkeys and no menu text")));
    entries.push_back(ValueEntry(kFileTypes, Verdict::NotReported, sketch + u"\\shell\\annotate",
                                 u"MUIVerb", kLarkspur + u"\\larkspur.exe,-120",
                                 {File(kLarkspur + u"\\larkspur.exe", true)},
                                 "a verb with no command whose menu text comes from an existing "
                                 "program"));
    const std::u16string textPrint = kHkcr + u"txtfile\\shell\\print\\command";
    PlantedEntry wineCommand = ValueEntry(
        kFileTypes, Verdict::NotReported, textPrint, u"",
        u"%SystemRoot%\\system32\\notepad.exe /p %1",
        {File(u"C:\\windows\\system32\\notepad.exe", true)},
        "a command of one of Wine's own programs, as Wine registers it (expandable)",
        {Text(kHkcr + u".txt", u"", u"txtfile"), Text(kHkcr + u"txtfile", u"", u"Text Document")});
    wineCommand.writes.front().type = RegExpandSz;
    entries.push_back(std::move(wineCommand));
}

void AddFonts(std::vector<PlantedEntry>& entries) {
    const std::u16string fonts = kHklmSoftware + u"Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    entries.push_back(ValueEntry(kFonts, Verdict::Reported, fonts, u"Larkspur Serif (TrueType)",
                                 u"lkserif.ttf", {File(kFontsFolder + u"\\lkserif.ttf", false)},
                                 "a bare file name, missing from the fonts folder"));
    entries.push_back(ValueEntry(kFonts, Verdict::Reported, fonts, u"Fernwood Mono (TrueType)",
                                 kFernwood + u"\\fonts\\fernmono.ttf",
                                 {File(kFernwood + u"\\fonts\\fernmono.ttf", false)},
                                 "a full path to a missing file"));
    entries.push_back(
        Incomplete(ValueEntry(kFonts, Verdict::Reported, fonts, u"Fernwood Display (TrueType)", u"",
                              {}, "a font registered with no file at all")));
    entries.push_back(ValueEntry(kFonts, Verdict::NotReported, fonts, u"Larkspur Sans (TrueType)",
                                 u"lksans.ttf", {File(kFontsFolder + u"\\lksans.ttf", true)},
                                 "the file is in the fonts folder"));
    entries.push_back(ValueEntry(kFonts, Verdict::NotReported, fonts, u"Fernwood Script (TrueType)",
                                 kFernwood + u"\\fonts\\fernscript.ttf",
                                 {File(kFernwood + u"\\fonts\\fernscript.ttf", true)},
                                 "the file exists"));
}

void AddHelpFiles(std::vector<PlantedEntry>& entries) {
    const std::u16string help = kHklmSoftware + u"Microsoft\\Windows\\Help";
    const std::u16string htmlHelp = kHklmSoftware + u"Microsoft\\Windows\\HTML Help";
    entries.push_back(ValueEntry(
        kHelpFiles, Verdict::Reported, help, u"lkrefs.hlp", kLarkspur + u"\\help\\",
        {File(kLarkspur + u"\\help\\lkrefs.hlp", false)}, "the help file is not in its folder"));
    entries.push_back(ValueEntry(kHelpFiles, Verdict::Reported, htmlHelp, u"fernwood.chm",
                                 u"C:\\windows\\Help",
                                 {File(u"C:\\windows\\Help\\fernwood.chm", false)},
                                 "the compiled help file is not in its folder"));
    entries.push_back(ValueEntry(
        kHelpFiles, Verdict::NotReported, help, u"lkguide.hlp", kLarkspur + u"\\help",
        {File(kLarkspur + u"\\help\\lkguide.hlp", true)}, "the help file is in its folder"));
    entries.push_back(ValueEntry(
        kHelpFiles, Verdict::NotReported, htmlHelp, u"quartz.chm", u"C:\\windows\\Help\\",
        {File(u"C:\\windows\\Help\\quartz.chm", true)}, "the compiled help file is in its folder"));
}

void AddHistoryLists(std::vector<PlantedEntry>& entries) {
    const std::u16string dialogList = kExplorer + u"\\ComDlg32\\OpenSaveMRU\\txt";
    const std::u16string fileExts = kExplorer + u"\\FileExts\\";
    const std::u16string paperList = kHkcuSoftware + u"Microsoft\\MSPaper 11.0\\Recent File List";
    const std::u16string playerList =
        kHkcuSoftware + u"Microsoft\\MediaPlayer\\Player\\RecentFileList";
    entries.push_back(ValueEntry(
        kHistoryLists, Verdict::Reported, dialogList, u"a", kDocuments + u"\\old-letter.txt",
        {File(kDocuments + u"\\old-letter.txt", false)}, "a file dialog's recent file that is gone",
        {Text(dialogList, u"MRUList", u"ba")}));
    entries.push_back(ValueEntry(
        kHistoryLists, Verdict::NotReported, dialogList, u"b", kDocuments + u"\\notes.txt",
        {File(kDocuments + u"\\notes.txt", true)}, "the recent file exists"));
    entries.push_back(EmptyKeyEntry(kHistoryLists, Verdict::Reported, fileExts + u".fwn", {},
                                    "an extension key of Explorer's that holds nothing"));
    entries.push_back(KeyEntry(kHistoryLists, Verdict::NotReported, fileExts + u".lsk", {},
                               "the extension key holds an OpenWithList with a value",
                               {Text(fileExts + u".lsk\\OpenWithList", u"a", u"larkspur.exe"),
                                Text(fileExts + u".lsk\\OpenWithList", u"MRUList", u"a")}));
    const std::u16string gonePath = u"UEME_RUNPATH:" + kFernwood + u"\\fernpad.exe";
    entries.push_back(NamedValueEntry(kHistoryLists, Verdict::Reported, UserAssistValue(gonePath),
                                      {File(kFernwood + u"\\fernpad.exe", false)},
                                      "Explorer's usage record of a program that is gone (the "
                                      "value name is ROT13-encoded)"));
    entries.push_back(NamedValueEntry(
        kHistoryLists, Verdict::Reported,
        UserAssistValue(u"UEME_RUNPIDL:%csidl2%\\Fernwood\\Fernpad.lnk"),
        {File(kCommonPrograms + u"\\Fernwood\\Fernpad.lnk", false),
         File(kUserPrograms + u"\\Fernwood\\Fernpad.lnk", false)},
        "Explorer's usage record of a Start menu shortcut that is in neither programs folder"));
    entries.push_back(NamedValueEntry(
        kHistoryLists, Verdict::Reported, UserAssistValue(u"UEME_RUNPIDL:%csidl2%\\Fernwood Tools"),
        {Folder(kCommonPrograms + u"\\Fernwood Tools", false),
         Folder(kUserPrograms + u"\\Fernwood Tools", false)},
        "Explorer's usage record of a Start menu folder that is in neither programs folder"));
    entries.push_back(
        NamedValueEntry(kHistoryLists, Verdict::NotReported,
                        UserAssistValue(u"UEME_RUNPIDL:%csidl2%\\Larkspur\\Larkspur.lnk"),
                        {File(kUserPrograms + u"\\Larkspur\\Larkspur.lnk", true)},
                        "the Start menu shortcut exists in the user's programs folder"));
    entries.push_back(
        NamedValueEntry(kHistoryLists, Verdict::NotReported,
                        UserAssistValue(u"UEME_RUNPATH:" + kLarkspur + u"\\larkspur.exe"),
                        {File(kLarkspur + u"\\larkspur.exe", true)}, "the program exists"));
    entries.push_back(ValueEntry(kHistoryLists, Verdict::Reported, paperList, u"File1",
                                 kProfile + u"\\Pictures\\scan-0412.tif",
                                 {File(kProfile + u"\\Pictures\\scan-0412.tif", false)},
                                 "a document imaging program's recent file that is gone"));
    const std::u16string extractList = kHkcuSoftware + u"WinRAR\\DialogEditHistory\\ExtrPath";
    entries.push_back(
        Excluded(ValueEntry(kHistoryLists, Verdict::NotReported, extractList, u"0",
                            kDocuments + u"\\Unpacked\\fonts-2019",
                            {Folder(kDocuments + u"\\Unpacked\\fonts-2019", false)},
                            "an archiver's extraction folder that is gone, but the key path holds "
                            "\"\\winrar\", a built-in key rule"),
                 u"\\winrar"));
    entries.push_back(ValueEntry(kHistoryLists, Verdict::NotReported, paperList, u"File2",
                                 kProfile + u"\\Pictures\\scan-0301.tif",
                                 {File(kProfile + u"\\Pictures\\scan-0301.tif", true)},
                                 "the recent file exists"));
    entries.push_back(Excluded(
        ValueEntry(kHistoryLists, Verdict::NotReported, playerList, u"File0",
                   kProfile + u"\\Music\\lost-track.mp3",
                   {File(kProfile + u"\\Music\\lost-track.mp3", false)},
                   "the file is gone, but the key path holds \"\\mediaplayer\", a built-in key "
                   "rule"),
        u"\\mediaplayer"));
}

void AddSharedFiles(std::vector<PlantedEntry>& entries) {
    const std::u16string shared = kMachineVersion + u"\\SharedDLLs";
    const std::u16string approved = kMachineVersion + u"\\Shell Extensions\\Approved";
    entries.push_back(NamedValueEntry(
        kSharedFiles, Verdict::Reported, Dword(shared, kCommonFiles + u"\\Larkspur\\lkcore.dll", 1),
        {File(kCommonFiles + u"\\Larkspur\\lkcore.dll", false)}, "a shared library that is gone"));
    entries.push_back(NamedValueEntry(kSharedFiles, Verdict::NotReported,
                                      Dword(shared, kCommonFiles + u"\\Larkspur\\lkshared.dll", 2),
                                      {File(kCommonFiles + u"\\Larkspur\\lkshared.dll", true)},
                                      "the shared library exists"));
    const std::u16string inkLibrary = kCommonFiles + u"\\Microsoft Shared\\Ink\\inkobj.dll";
    entries.push_back(Excluded(
        NamedValueEntry(kSharedFiles, Verdict::NotReported, Dword(shared, inkLibrary, 1),
                        {File(inkLibrary, false)},
                        "the library is missing, but its path holds \"\\microsoft shared\\\", a "
                        "built-in file rule"),
        u"\\microsoft shared\\"));
    entries.push_back(
        NamedValueEntry(kSharedFiles, Verdict::Reported,
                        Text(approved, kPreviewHandlerClass, u"Fernwood Preview Handler"),
                        {Key(kHkcr + u"CLSID\\" + kPreviewHandlerClass, false)},
                        "an approved shell extension whose class is not registered"));
    entries.push_back(NamedValueEntry(kSharedFiles, Verdict::NotReported,
                                      Text(approved, kCanvasClass, u"Larkspur Canvas Control"),
                                      {Key(kHkcr + u"CLSID\\" + kCanvasClass, true)},
                                      "the approved extension's class is registered"));
}

void AddShortcuts(std::vector<PlantedEntry>& entries) {
    entries.push_back(ShortcutEntry(kShortcuts, Verdict::Reported, kDesktop + u"\\Fernpad.lnk",
                                    kFernwood + u"\\fernpad.exe", false, false,
                                    "a desktop shortcut to a program that is gone"));
    entries.push_back(ShortcutEntry(kShortcuts, Verdict::Reported,
                                    kRecent + u"\\old-letter.txt.lnk",
                                    kDocuments + u"\\old-letter.txt", false, false,
                                    "a recent-documents shortcut to a file that is gone"));
    entries.push_back(ShortcutEntry(kShortcuts, Verdict::NotReported, kDesktop + u"\\Larkspur.lnk",
                                    kLarkspur + u"\\larkspur.exe", false, true,
                                    "the program exists"));
    entries.push_back(ShortcutEntry(
        kShortcuts, Verdict::NotReported, kPublicDesktop + u"\\Quartz Player.lnk",
        kQuartz + u"\\quartz.exe", false, true, "the program exists (the all-users desktop)"));
    entries.push_back(ShortcutEntry(kShortcuts, Verdict::NotReported, kDesktop + u"\\Documents.lnk",
                                    kDocuments, true, true, "the folder exists"));
}

void AddSoftware(std::vector<PlantedEntry>& entries) {
    const std::u16string uninstall = kMachineVersion + u"\\Uninstall\\";
    const std::u16string uninstall32 = kMachineVersion32 + u"\\Uninstall\\";
    const std::u16string cache = kMachineVersion + u"\\App Management\\ARPCache\\";
    const std::u16string folders = kMachineVersion + u"\\Installer\\Folders";
    entries.push_back(
        ValueEntry(kSoftware, Verdict::Reported, uninstall + u"Fernwood Notes", u"UninstallString",
                   u"\"" + kFernwood + u"\\remove.exe\" /S",
                   {File(kFernwood + u"\\remove.exe", false)}, "the uninstaller is missing",
                   {Text(uninstall + u"Fernwood Notes", u"DisplayName", u"Fernwood Notes 2.1"),
                    Text(uninstall + u"Fernwood Notes", u"DisplayVersion", u"2.1"),
                    Text(uninstall + u"Fernwood Notes", u"Publisher", u"Fernwood Software")}));
    entries.push_back(
        ValueEntry(kSoftware, Verdict::Reported, uninstall32 + u"Quartz Player", u"DisplayIcon",
                   u"\"" + kQuartz + u"\\quartz-classic.ico\"",
                   {File(kQuartz + u"\\quartz-classic.ico", false)},
                   "a 32-bit program's entry whose icon file is missing",
                   {Text(uninstall32 + u"Quartz Player", u"DisplayName", u"Quartz Player 1.4"),
                    Text(uninstall32 + u"Quartz Player", u"UninstallString",
                         u"\"" + kQuartz + u"\\qremove.exe\"")}));
    entries.push_back(KeyEntry(kSoftware, Verdict::Reported, cache + u"Old Game Demo",
                               {Key(uninstall + u"Old Game Demo", false)},
                               "a cached entry whose uninstall entry is gone",
                               {Dword(cache + u"Old Game Demo", u"Changed", 0)}));
    entries.push_back(ValueEntry(
        kSoftware, Verdict::NotReported, uninstall + u"Larkspur 3.0", u"UninstallString",
        u"\"" + kLarkspur + u"\\lkremove.exe\"", {File(kLarkspur + u"\\lkremove.exe", true)},
        "the uninstaller and the other files the entry names exist",
        {Text(uninstall + u"Larkspur 3.0", u"DisplayName", u"Larkspur 3.0"),
         Text(uninstall + u"Larkspur 3.0", u"DisplayIcon", kLarkspur + u"\\larkspur.exe,0"),
         Text(uninstall + u"Larkspur 3.0", u"InstallLocation", kLarkspur)}));
    entries.push_back(ValueEntry(kSoftware, Verdict::NotReported, uninstall32 + u"Quartz Player",
                                 u"UninstallString", u"\"" + kQuartz + u"\\qremove.exe\"",
                                 {File(kQuartz + u"\\qremove.exe", true)},
                                 "the uninstaller exists"));
    entries.push_back(KeyEntry(kSoftware, Verdict::NotReported, cache + u"Larkspur 3.0",
                               {Key(uninstall + u"Larkspur 3.0", true)},
                               "the cached entry's uninstall entry exists",
                               {Dword(cache + u"Larkspur 3.0", u"Changed", 0)}));
    entries.push_back(NamedValueEntry(kSoftware, Verdict::NotReported,
                                      Text(folders, kLarkspur + u"\\", u""),
                                      {Folder(kLarkspur, true)}, "the installer folder exists"));
    const std::u16string helper = uninstall + u"Larkspur Update Helper";
    entries.push_back(Excluded(
        ValueEntry(kSoftware, Verdict::NotReported, helper, u"UninstallString",
                   u"\"" + kLarkspur + u"\\Update Helper\\lkuhremove.exe\"",
                   {File(kLarkspur + u"\\Update Helper\\lkuhremove.exe", false)},
                   "the uninstaller is missing, but the key path holds \"update\", a built-in key "
                   "rule",
                   {Text(helper, u"DisplayName", u"Larkspur Update Helper")}),
        u"update"));
    entries.push_back(OnlyWhenSearchingEmptyKeys(
        EmptyKeyEntry(kSoftware, Verdict::Reported, uninstall + u"Fernwood Notes Beta", {},
                      "an uninstall entry that holds nothing")));
    entries.push_back(Incomplete(
        KeyEntry(kSoftware, Verdict::Reported, uninstall + u"Fernwood Sync", {},
                 "an uninstall entry with no uninstall command",
                 {Text(uninstall + u"Fernwood Sync", u"DisplayName", u"Fernwood Sync 1.0")})));
    entries.push_back(
        ValueEntry(kSoftware, Verdict::NotReported, uninstall + u"Larkspur Brushes",
                   u"QuietUninstallString", u"\"" + kLarkspur + u"\\lkremove.exe\" /brushes /quiet",
                   {File(kLarkspur + u"\\lkremove.exe", true)},
                   "only a quiet uninstall command, and its program exists",
                   {Text(uninstall + u"Larkspur Brushes", u"DisplayName", u"Larkspur Brushes")}));
    const std::u16string syncFolder = kProgramFiles + u"\\Fernwood Sync\\";
    entries.push_back(NamedValueEntry(kSoftware, Verdict::Reported, Text(folders, syncFolder, u""),
                                      {Folder(syncFolder, false)},
                                      "an installer folder that is gone"));
    const std::u16string msiProduct = u"{5E1F0A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B}";
    entries.push_back(ValueEntry(
        kSoftware, Verdict::NotReported, uninstall + msiProduct, u"UninstallString",
        u"MsiExec.exe /I" + msiProduct, {File(u"C:\\windows\\system32\\msiexec.exe", true)},
        "an installer package's entry as Wine's msiexec writes it: the uninstall command is the "
        "installer itself, found in the system folder",
        {Text(uninstall + msiProduct, u"DisplayName", u"Larkspur Stencils"),
         Text(uninstall + msiProduct, u"InstallLocation", kLarkspur),
         Dword(uninstall + msiProduct, u"WindowsInstaller", 1)}));
}

void AddSounds(std::vector<PlantedEntry>& entries) {
    const std::u16string larkspur = kSchemes + u"\\Larkspur";
    const std::u16string saved = larkspur + u"\\LarkspurSaved";
    const std::u16string exported = larkspur + u"\\LarkspurExported";
    const std::vector<RegWrite> labels = {
        Text(larkspur, u"", u"Larkspur"),
        Text(kEventLabels + u"\\LarkspurSaved", u"", u"Sketch Saved"),
        Text(kEventLabels + u"\\LarkspurExported", u"", u"Sketch Exported"),
        Text(saved + u"\\.None", u"", u"")};
    entries.push_back(ValueEntry(kSounds, Verdict::Reported, saved + u"\\.Current", u"",
                                 kLarkspur + u"\\sounds\\saved.wav",
                                 {File(kLarkspur + u"\\sounds\\saved.wav", false)},
                                 "the event's sound file is missing", labels));
    entries.push_back(ValueEntry(kSounds, Verdict::Reported, exported + u"\\.Current", u"",
                                 u"lkexport.wav", {File(kMedia + u"\\lkexport.wav", false)},
                                 "a bare file name, missing from the Windows media folder"));
    entries.push_back(ValueEntry(kSounds, Verdict::NotReported, saved + u"\\.Default", u"",
                                 kLarkspur + u"\\sounds\\chime.wav",
                                 {File(kLarkspur + u"\\sounds\\chime.wav", true)},
                                 "the sound file exists"));
    const std::u16string system = kSchemes + u"\\.Default";
    entries.push_back(ValueEntry(
        kSounds, Verdict::NotReported, system + u"\\SystemAsterisk\\.Current", u"",
        kMedia + u"\\ding.wav", {File(kMedia + u"\\ding.wav", true)}, "the sound file exists",
        {Text(system, u"", u"Windows"),
         Text(kEventLabels + u"\\SystemAsterisk", u"", u"Asterisk")}));
    entries.push_back(ValueEntry(kSounds, Verdict::NotReported, system + u"\\SystemHand\\.Current",
                                 u"", u"chord.wav", {File(kMedia + u"\\chord.wav", true)},
                                 "a bare file name, found in the Windows media folder",
                                 {Text(kEventLabels + u"\\SystemHand", u"", u"Critical Stop")}));
}

void AddStartMenu(std::vector<PlantedEntry>& entries) {
    entries.push_back(KeyEntry(kStartMenu, Verdict::Reported, kMenuOrder + u"\\Fernwood",
                               {Folder(kCommonPrograms + u"\\Fernwood", false),
                                Folder(kUserPrograms + u"\\Fernwood", false)},
                               "the menu order of a Start menu folder that is gone",
                               {MenuOrderValue(kMenuOrder + u"\\Fernwood")}));
    entries.push_back(EmptyKeyEntry(kStartMenu, Verdict::Reported, kMenuOrder + u"\\Larkspur",
                                    {Folder(kUserPrograms + u"\\Larkspur", true)},
                                    "the menu order key of an existing folder holds no values"));
    entries.push_back(KeyEntry(kStartMenu, Verdict::NotReported, kMenuOrder + u"\\Quartz Player",
                               {Folder(kCommonPrograms + u"\\Quartz Player", true)},
                               "the folder exists and the key holds its order",
                               {MenuOrderValue(kMenuOrder + u"\\Quartz Player")}));
    entries.push_back(ShortcutEntry(kStartMenu, Verdict::Reported,
                                    kCommonPrograms + u"\\Quartz Player\\Quartz Visualizer.lnk",
                                    kQuartz + u"\\visualizer.exe", false, false,
                                    "a Start menu shortcut to a program that is gone"));
    entries.push_back(ShortcutEntry(kStartMenu, Verdict::NotReported,
                                    kCommonPrograms + u"\\Quartz Player\\Quartz Player.lnk",
                                    kQuartz + u"\\quartz.exe", false, true, "the program exists"));
    entries.push_back(ShortcutEntry(kStartMenu, Verdict::NotReported,
                                    kUserPrograms + u"\\Larkspur\\Larkspur.lnk",
                                    kLarkspur + u"\\larkspur.exe", false, true,
                                    "the program exists (the user's programs folder)"));
}

void AddStartup(std::vector<PlantedEntry>& entries) {
    const std::u16string machineRun = kMachineVersion + u"\\Run";
    const std::u16string userRun = kUserVersion + u"\\Run";
    entries.push_back(ValueEntry(kStartup, Verdict::Reported, machineRun, u"FernwoodSync",
                                 kFernwood + u"\\fernsync.exe -minimized",
                                 {File(kFernwood + u"\\fernsync.exe", false)},
                                 "a program started at log-on that is gone"));
    entries.push_back(ValueEntry(kStartup, Verdict::Reported, userRun, u"QuartzTray",
                                 kRoaming + u"\\Quartz\\qtray.exe",
                                 {File(kRoaming + u"\\Quartz\\qtray.exe", false)},
                                 "a program started at the user's log-on that is gone"));
    entries.push_back(ValueEntry(kStartup, Verdict::NotReported, machineRun, u"LarkspurHelper",
                                 u"\"" + kLarkspur + u"\\lkhelper.exe\" /tray",
                                 {File(kLarkspur + u"\\lkhelper.exe", true)},
                                 "the program exists"));
    const std::u16string setup = kProfile + u"\\Temp\\LarkspurSetup\\setup.exe";
    entries.push_back(Excluded(
        ValueEntry(kStartup, Verdict::NotReported, userRun, u"LarkspurFirstRun",
                   setup + u" /firstrun", {File(setup, false)},
                   "the program is missing, but it is named \"setup.exe\", a built-in file rule"),
        u"setup.exe"));
}

void AddDeepScans(std::vector<PlantedEntry>& entries) {
    const std::u16string fernwood = kHklmSoftware + u"Fernwood\\Notes";
    const std::u16string larkspur = kHklmSoftware + u"Larkspur\\Larkspur 3.0";
    const std::u16string quartz = kHklmSoftware + u"Wow6432Node\\Quartz Player";
    entries.push_back(ValueEntry(kDeepScanMachine, Verdict::Reported, fernwood, u"SpellDictionary",
                                 kFernwood + u"\\dict\\en-us.dic",
                                 {File(kFernwood + u"\\dict\\en-us.dic", false)},
                                 "a program's setting names a file that is gone"));
    entries.push_back(ValueEntry(
        kDeepScanMachine, Verdict::Reported, quartz, u"Skin", kQuartz + u"\\skins\\classic.qsk",
        {File(kQuartz + u"\\skins\\classic.qsk", false)}, "the same in the 32-bit view"));
    entries.push_back(ValueEntry(kDeepScanMachine, Verdict::NotReported, larkspur, u"MainProgram",
                                 kLarkspur + u"\\larkspur.exe",
                                 {File(kLarkspur + u"\\larkspur.exe", true)}, "the file exists",
                                 {Text(larkspur, u"InstallDir", kLarkspur)}));
    entries.push_back(ValueEntry(kDeepScanMachine, Verdict::NotReported, quartz, u"InstallDir",
                                 kQuartz, {Folder(kQuartz, true)},
                                 "the folder exists (32-bit view)"));
    entries.push_back(Excluded(
        ValueEntry(kDeepScanMachine, Verdict::NotReported, larkspur, u"SetupLog",
                   kLarkspur + u"\\install.log", {File(kLarkspur + u"\\install.log", false)},
                   "the file is missing, but it is named \"install.log\", a built-in file rule"),
        u"install.log"));

    const std::u16string recent = kHkcuSoftware + u"Larkspur\\Larkspur 3.0\\Recent";
    entries.push_back(ValueEntry(kDeepScanUser, Verdict::Reported, recent, u"LastExport",
                                 kDocuments + u"\\Exports\\poster.png",
                                 {File(kDocuments + u"\\Exports\\poster.png", false)},
                                 "a user setting names a file that is gone"));
    entries.push_back(ValueEntry(
        kDeepScanUser, Verdict::Reported, kHkcuSoftware + u"Fernwood\\Notes", u"UserDictionary",
        kRoaming + u"\\Fernwood\\user.dic", {File(kRoaming + u"\\Fernwood\\user.dic", false)},
        "a user setting of an uninstalled program"));
    entries.push_back(ValueEntry(kDeepScanUser, Verdict::NotReported, recent, u"LastOpened",
                                 kDocuments + u"\\sketch.lsk",
                                 {File(kDocuments + u"\\sketch.lsk", true)}, "the file exists"));
    entries.push_back(Excluded(
        ValueEntry(kDeepScanUser, Verdict::NotReported, recent, u"LastBackup",
                   kDocuments + u"\\Backup\\sketch.bak",
                   {File(kDocuments + u"\\Backup\\sketch.bak", false)},
                   "the file is missing, but its path holds \"\\backup\", a built-in file rule"),
        u"\\backup"));
}

}  // namespace

const std::vector<PlantedEntry>& PlantedEntries() {
    static const std::vector<PlantedEntry> entries = [] {
        std::vector<PlantedEntry> all;
        AddActiveX(all);
        AddAppPaths(all);
        AddFileTypes(all);
        AddFonts(all);
        AddHelpFiles(all);
        AddHistoryLists(all);
        AddSharedFiles(all);
        AddShortcuts(all);
        AddSoftware(all);
        AddSounds(all);
        AddStartMenu(all);
        AddStartup(all);
        AddDeepScans(all);
        return all;
    }();
    return entries;
}

std::string_view CategoryLabel(int category) {
    return category >= 0 && category < static_cast<int>(kCategoryLabels.size())
               ? kCategoryLabels[category]
               : std::string_view();
}

std::u16string Rot13(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& ch : result) {
        if (ch >= u'a' && ch <= u'z') {
            ch = static_cast<char16_t>(u'a' + (ch - u'a' + 13) % 26);
        } else if (ch >= u'A' && ch <= u'Z') {
            ch = static_cast<char16_t>(u'A' + (ch - u'A' + 13) % 26);
        }
    }
    return result;
}

}  // namespace quillary::demo
