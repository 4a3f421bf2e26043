#include "repair/problem_repair.h"

#include <gtest/gtest.h>

#include "backup_fixture.h"
#include "core/text_encoding.h"
#include "repair/cleaning_run.h"
#include "repair/deletion_guard.h"

namespace quillary {
namespace {

using testing::CBackupFixture;

constexpr std::string_view kRegistry = R"(
    [HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{11111111-2222-3333-4444-555555555555}\InprocServer32]
    @="C:\\gone.dll"
    [HKEY_LOCAL_MACHINE\Software\Classes\Vendor.Doc\Sub]
    "v"="1"
    [HKEY_CURRENT_USER\Software\Vendor\Lonely\Only]
    "x"="1"
    [HKEY_CURRENT_USER\Software\Vendor\Kept]
    "keep"="me"
    [HKEY_CURRENT_USER\Software\Vendor\Kept\Only]
    [HKEY_CURRENT_USER\Software\Vendor\MRU]
    "a"="C:\\a.txt"
    "b"="C:\\b.txt"
    "c"="C:\\c.txt"
    "MRUList"="bca"
    [HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.hollow]
    [HKEY_CURRENT_USER\Software\Vendor\Sounds]
    @="C:\\gone.wav"
    [HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
    "Gone"="C:\\gone.exe"
    [HKEY_LOCAL_MACHINE\Software\Classes\.gone]
    @="Gone.File"
    "Content Type"="text/plain"
    [HKEY_LOCAL_MACHINE\Software\Classes\.gone\OpenWithProgids]
    "Gone.File"=""
    [HKEY_LOCAL_MACHINE\Software\Classes\.empty]
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File]
    @="Gone file"
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File\DefaultIcon]
    @="C:\\gone.ico,0"
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File\CLSID]
    @="{99999999-0000-4000-8000-000000000001}"
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File\shell\print\command]
    @="C:\\gone.exe /p \"%1\""
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File\shell\hollow]
    [HKEY_LOCAL_MACHINE\Software\Classes\Gone.File\ShellEx\ContextMenuHandlers\Gone]
    @="{99999999-0000-4000-8000-000000000001}"
    [HKEY_LOCAL_MACHINE\Software\Classes\Applications\gone.exe\shell\open\command]
    @="C:\\gone.exe \"%1\""
    [HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products\0A1B\SourceList\Net]
    "1"="C:\\gone\\"
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths\gone.exe]
    @="C:\\gone.exe"
    "Path"="C:\\"
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths\hollow.exe]
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs]
    "C:\\gone.dll"=dword:00000001
    "C:\\kept.dll"=dword:00000002
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved]
    "{99999999-0000-4000-8000-000000000001}"="Gone extension"
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Gone]
    "DisplayName"="Gone"
    "DisplayIcon"="C:\\gone.ico"
    "UninstallString"="C:\\gone.exe"
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Gone\Parts]
    "a"="1"
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Empty]
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Management\ARPCache\Gone]
    "Changed"=dword:00000000
    [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\Folders]
    "C:\\gone\\"=""
    "C:\\kept\\"=""
    [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Gone32]
    "DisplayName"="Gone 32"
    "UninstallString"="C:\\gone32.exe"
)";

constexpr std::u16string_view kCurrentVersion =
    u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\";

CProblem MakeProblem(std::int32_t type, std::u16string key, std::u16string valueName = u"",
                     std::u16string alternateKey = u"") {
    CProblem problem;
    problem.is32BitEntry = false;
    problem.EntryType = type;
    problem.Key = std::move(key);
    problem.ValueName = std::move(valueName);
    problem.AlternateKey = std::move(alternateKey);
    return problem;
}

// A key below HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion.
std::u16string Version(std::u16string_view subKey) {
    return std::u16string(kCurrentVersion) + std::u16string(subKey);
}

CProblem Make32BitProblem(std::int32_t type, std::u16string key, std::u16string valueName) {
    CProblem problem = MakeProblem(type, std::move(key), std::move(valueName));
    problem.is32BitEntry = true;
    return problem;
}

// Every repair mark changes what it names, and the partial backup undoes it exactly.
TEST(ProblemRepairTest, EachRepairIsUndoneExactly) {
    CProblem shortcut = MakeProblem(34, u"");
    shortcut.detailLines = {u"label", u"C:\\Desktop\\old.lnk"};
    struct {
        const char* why;
        CProblem problem;
        std::u16string_view gone;  // a key that must be gone after the repair ("" for none)
    } cases[] = {
        {"R1 tree and its emptied parent",
         MakeProblem(0, u"HKEY_CURRENT_USER\\Software\\Vendor\\Lonely\\Only"),
         u"Software\\Vendor\\Lonely"},
        {"R2 tree", MakeProblem(1, u"HKEY_LOCAL_MACHINE\\Software\\Classes\\Vendor.Doc"),
         u"Software\\Classes\\Vendor.Doc"},
        {"R3 tree",
         MakeProblem(3, u"HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}"),
         u"Software\\Classes\\CLSID\\{11111111-2222-3333-4444-555555555555}"},
        {"R4 tree", MakeProblem(14, u"HKEY_LOCAL_MACHINE\\Software\\Classes\\Vendor.Doc\\Sub"),
         u"Software\\Classes\\Vendor.Doc\\Sub"},
        {"R5 alternate tree and its emptied parent",
         MakeProblem(26, u"HKEY_CURRENT_USER\\Software\\Vendor", u"",
                     u"HKEY_CURRENT_USER\\Software\\Vendor\\Lonely\\Only"),
         u"Software\\Vendor\\Lonely"},
        {"R6 history value and its MRUList letter",
         MakeProblem(27, u"HKEY_CURRENT_USER\\Software\\Vendor\\MRU", u"c"), u""},
        {"R8 file", shortcut, u""},
        {"R9 emptied text", MakeProblem(37, u"HKEY_CURRENT_USER\\Software\\Vendor\\Sounds"), u""},
        {"R10 value",
         MakeProblem(41, u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                     u"Gone"),
         u""},
        // The entries of the application, file type, software and shared-library scans.
        {"13 application path", MakeProblem(13, Version(u"App Paths\\gone.exe")),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe"},
        {"13 whole application, named with a trailing backslash",
         MakeProblem(13, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Applications\\gone.exe\\"),
         u"Software\\Classes\\Applications\\gone.exe"},
        {"1 empty application path", MakeProblem(1, Version(u"App Paths\\hollow.exe")),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\hollow.exe"},
        {"14 application path without values", MakeProblem(14, Version(u"App Paths\\hollow.exe")),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\hollow.exe"},
        {"15 extension", MakeProblem(15, u"HKEY_CLASSES_ROOT\\.gone"), u"Software\\Classes\\.gone"},
        {"16 empty extension", MakeProblem(16, u"HKEY_CLASSES_ROOT\\.empty"),
         u"Software\\Classes\\.empty"},
        {"17 icon", MakeProblem(17, u"HKEY_CLASSES_ROOT\\Gone.File\\DefaultIcon"),
         u"Software\\Classes\\Gone.File\\DefaultIcon"},
        {"18 empty icon", MakeProblem(18, u"HKEY_CLASSES_ROOT\\Gone.File\\DefaultIcon"),
         u"Software\\Classes\\Gone.File\\DefaultIcon"},
        {"19 class", MakeProblem(19, u"HKEY_CLASSES_ROOT\\Gone.File\\CLSID"),
         u"Software\\Classes\\Gone.File\\CLSID"},
        {"20 handler",
         MakeProblem(20, u"HKEY_CLASSES_ROOT\\Gone.File\\ShellEx\\ContextMenuHandlers\\Gone"),
         u"Software\\Classes\\Gone.File\\ShellEx\\ContextMenuHandlers\\Gone"},
        {"21 verb command and its emptied verb",
         MakeProblem(21, u"HKEY_CLASSES_ROOT\\Gone.File\\shell\\print\\command"),
         u"Software\\Classes\\Gone.File\\shell\\print"},
        {"22 verb without a command",
         MakeProblem(22, u"HKEY_CLASSES_ROOT\\Gone.File\\shell\\hollow"),
         u"Software\\Classes\\Gone.File\\shell\\hollow"},
        {"33 shared library", MakeProblem(33, Version(u"SharedDLLs"), u"C:\\gone.dll"), u""},
        {"33 approved extension",
         MakeProblem(33, Version(u"Shell Extensions\\Approved"),
                     u"{99999999-0000-4000-8000-000000000001}"),
         u""},
        {"35 empty uninstall entry",
         MakeProblem(35, Version(u"Uninstall\\Empty"), u"UninstallString"),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Empty"},
        {"35 cached entry", MakeProblem(35, Version(u"App Management\\ARPCache\\Gone")),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\Gone"},
        {"36 uninstall entry", MakeProblem(36, Version(u"Uninstall\\Gone"), u"UninstallString"),
         u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone"},
        {"36 32-bit uninstall entry",
         Make32BitProblem(36, Version(u"Uninstall\\Gone32"), u"UninstallString"),
         u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gone32"},
        {"36 installer folder", MakeProblem(36, Version(u"Installer\\Folders"), u"C:\\gone\\"),
         u""},
        {"42 uninstall value", MakeProblem(42, Version(u"Uninstall\\Gone"), u"DisplayIcon"), u""},
        {"42 installer tree value",
         MakeProblem(42, u"HKEY_CLASSES_ROOT\\Installer\\Products\\0A1B\\SourceList\\Net", u"1"),
         u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBackupFixture fixture(kRegistry);
        fixture.WriteFile("Desktop/old.lnk", "L");
        const std::string registryBefore = fixture.RegistryText();
        const std::string driveBefore = fixture.DriveText();
        RegistryTarget target{&fixture.Registry(), true, {}};

        auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
        ASSERT_TRUE(Repair(c.problem, *backup, target, {}));
        if (!c.gone.empty()) {
            RegSam view = c.gone.starts_with(u"Software\\Classes") ? KeyWow64_64Key : 0;
            bool machine = c.problem.Key.find(u"HKEY_CURRENT_USER") == std::u16string::npos;
            EXPECT_FALSE(testing::KeyExists(fixture.Registry(),
                                            machine ? HKeyLocalMachine : HKeyCurrentUser, c.gone,
                                            view | KeyWow64_64Key));
        }
        EXPECT_NE(fixture.RegistryText() + fixture.DriveText(), registryBefore + driveBefore);
        ASSERT_TRUE(EndPartialBackup(*backup));

        CBackup undo(fixture.Environment());
        undo.SetListFilePath(backup->ListFilePath());
        ASSERT_TRUE(undo.LoadList());
        ASSERT_TRUE(undo.UndoAll());
        EXPECT_EQ(fixture.RegistryText(), registryBefore);
        EXPECT_EQ(fixture.DriveText(), driveBefore);
    }
}

TEST(ProblemRepairTest, MruListLosesTheLetterAndParentsWithValuesStay) {
    CBackupFixture fixture(kRegistry);
    RegistryTarget target{&fixture.Registry(), true, {}};
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    ASSERT_TRUE(Repair(MakeProblem(27, u"HKEY_CURRENT_USER\\Software\\Vendor\\MRU", u"c"), *backup,
                       target, {}));
    EXPECT_EQ(testing::ValueBytes(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\MRU",
                                  u"MRUList"),
              ToUtf16LeBytes(u"ba", true));
    // The parent keeps its value, so it stays although its last subkey went.
    ASSERT_TRUE(Repair(MakeProblem(0, u"HKEY_CURRENT_USER\\Software\\Vendor\\Kept\\Only"), *backup,
                       target, {}));
    EXPECT_TRUE(testing::KeyExists(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\Kept"));
}

// Two categories may report one entry (the deep scans see every value the others judge), and
// a repair may take a value with its key: the later repair finds nothing left, counts as done
// and records nothing, so that the undo still gives back exactly what was there.
TEST(ProblemRepairTest, AnEntryAnEarlierRepairTookCountsAsDone) {
    CBackupFixture fixture(kRegistry);
    RegistryTarget target{&fixture.Registry(), true, {}};
    const std::string before = fixture.RegistryText();
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    const std::u16string run =
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::u16string server =
        u"HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{11111111-2222-3333-4444-555555555555}"
        u"\\InprocServer32";
    const std::u16string sounds = u"HKEY_CURRENT_USER\\Software\\Vendor\\Sounds";
    const std::u16string mru = u"HKEY_CURRENT_USER\\Software\\Vendor\\MRU";
    const std::u16string extensions =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.hollow";
    const std::u16string extension = u"HKEY_CURRENT_USER\\" + extensions;
    std::vector<std::u16string> log;
    auto logger = [&](std::u16string_view line) { log.emplace_back(line); };
    const CProblem repairs[] = {
        MakeProblem(41, run, u"Gone"),
        MakeProblem(43, run, u"Gone"),
        MakeProblem(0, server),
        MakeProblem(42, server, u""),
        MakeProblem(37, sounds),
        MakeProblem(37, sounds),
        MakeProblem(27, mru, u"c"),
        MakeProblem(27, mru, u"c"),
        MakeProblem(3, server),
        // An extension key left with nothing, reported for an OpenWithList it never had.
        MakeProblem(26, extension, u"", extension + u"\\OpenWithList"),
    };
    for (const CProblem& problem : repairs) {
        SCOPED_TRACE(problem.EntryType);
        EXPECT_TRUE(Repair(problem, *backup, target, logger));
    }
    EXPECT_EQ(log.size(), 5u);  // each entry found gone once the first repair took it
    EXPECT_FALSE(testing::KeyExists(fixture.Registry(), HKeyCurrentUser, extensions));
    EXPECT_EQ(testing::ValueBytes(fixture.Registry(), HKeyCurrentUser, u"Software\\Vendor\\MRU",
                                  u"MRUList"),
              ToUtf16LeBytes(u"ba", true));
    ASSERT_TRUE(EndPartialBackup(*backup));

    CBackup undo(fixture.Environment());
    undo.SetListFilePath(backup->ListFilePath());
    ASSERT_TRUE(undo.LoadList());
    ASSERT_TRUE(undo.UndoAll());
    EXPECT_EQ(fixture.RegistryText(), before);
}

TEST(ProblemRepairTest, ProtectedKeysAndMissingServicesFailHonestly) {
    struct {
        HKey root;
        std::u16string_view subKey;
        bool mayDelete;
    } cases[] = {
        {HKeyLocalMachine, u"", false},
        {HKeyLocalMachine, u"Software", false},
        {HKeyLocalMachine, u"Software\\Classes", false},
        {HKeyLocalMachine, u"SOFTWARE\\Wow6432Node\\Classes\\CLSID", false},
        {HKeyClassesRoot, u"CLSID", false},
        {HKeyClassesRoot, u"Vendor.Doc", true},
        {HKeyCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", false},
        {HKeyCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x", true},
        {HKeyUsers, u"S-1-5-21-0-0-0-1000\\Software", false},
        {HKeyUsers, u"S-1-5-21-0-0-0-1000\\AppEvents\\Schemes\\Apps", false},
        {HKeyLocalMachine, u"Software\\Vendor\\App", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.subKey));
        EXPECT_EQ(MayDeleteKey(c.root, c.subKey), c.mayDelete);
    }

    CBackupFixture fixture(kRegistry);
    RegistryTarget target{&fixture.Registry(), true, {}};
    auto backup = BeginPartialBackup(fixture.Environment(), u"Quillary");
    std::vector<std::u16string> log;
    auto logger = [&](std::u16string_view line) { log.emplace_back(line); };
    const std::string before = fixture.RegistryText();
    EXPECT_FALSE(Repair(MakeProblem(1, u"HKEY_CLASSES_ROOT\\CLSID"), *backup, target, logger));
    EXPECT_FALSE(Repair(MakeProblem(0, u"HKEY_CURRENT_USER\\Software"), *backup, target, logger));
    CProblem history = MakeProblem(32, u"HKEY_CURRENT_USER\\Software\\Vendor");
    history.detailLines = {u"label", u"C:\\a b\\[x].htm"};
    EXPECT_FALSE(Repair(history, *backup, target, logger));
    EXPECT_FALSE(
        Repair(MakeProblem(99, u"HKEY_CURRENT_USER\\Software\\Vendor"), *backup, target, logger));
    EXPECT_EQ(fixture.RegistryText(), before);
    EXPECT_EQ(log.size(), 3u);
}

}  // namespace
}  // namespace quillary
