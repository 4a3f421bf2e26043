#include "categories/history_lists.h"

#include <gtest/gtest.h>

#include "categories/user_assist.h"
#include "start_fixture.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ProblemView;
using testing::StopAtStatus;

constexpr std::u16string_view kExtensions =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
constexpr std::u16string_view kDialogLists =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\"
    u"OpenSaveMRU";
constexpr std::u16string_view kFirstHistory =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
    u"{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count";
constexpr std::u16string_view kSecondHistory =
    u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
    u"{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";

constexpr std::u16string_view kCommonPrograms =
    u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr std::u16string_view kUserPrograms =
    u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";

// Where the programs folders are recorded. The machine's 32-bit view names another folder:
// only the 64-bit view's value counts.
constexpr std::string_view kShellFolders = R"(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Programs"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Programs"="C:\\Wrong\\Programs"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Programs"="C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\"
)";

// The scan fixture with the programs folders recorded, language texts short enough to read in
// the expected lines, and built-in key rules of its own that a test may turn off.
class CHistoryFixture : public CScanFixture {
public:
    explicit CHistoryFixture(std::string_view registryText, bool is64Bit = true)
        : CScanFixture(std::string(kShellFolders) + std::string(registryText), is64Bit),
          rules_(Files(), Protection(), CScanFixture::Environment().platform, Settings()),
          environment_(WithRules(CScanFixture::Environment(), rules_)) {
        environment_.text = [](std::u16string_view id) -> std::u16string {
            if (id == u"IDS_HISTLIST_UNNEEDED")
                return u"unneeded";
            if (id == u"IDS_HISTLIST_INVALID")
                return u"invalid";
            if (id == u"IDS_STARTMENU_HIST")
                return u"Start menu %s %s is gone";
            return std::u16string(id) + u": ";
        };
    }

    ScanEnvironment& Environment() { return environment_; }
    // The built-in key rules name the keys of most applications whose lists are read (and a
    // fragment of the second usage history key): their problems are seen with the rules off.
    void TurnOffKeyRules() { rules_.keyRulesActive = false; }

private:
    static ScanEnvironment WithRules(const ScanEnvironment& e, const CBuiltinRules& rules) {
        return {e.target,     e.files,      e.platform, e.settings, rules,
                e.references, e.exclusions, e.text,     e.log,      e.shellLinks};
    }

    CBuiltinRules rules_;
    ScanEnvironment environment_;
};

std::vector<ProblemView> Scan(CHistoryFixture& fixture) {
    CHistoryLists scanner(fixture.Environment());
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    return testing::ProblemsOf(scanner);
}

ProblemView MissingEntry(std::int32_t type, std::u16string_view key, std::u16string_view name,
                         std::u16string_view data, std::u16string_view label,
                         std::u16string_view file, std::u16string_view folder) {
    return {type,
            std::u16string(key),
            std::u16string(name),
            std::u16string(data),
            false,
            {std::u16string(label) + u" invalid " + std::u16string(file), std::u16string(folder),
             std::u16string(label)}};
}

// Reg text of size bytes, the first one first and the others 0.
std::string HexBytes(int first, int size) {
    std::string text = "hex:0" + std::to_string(first);
    for (int i = 1; i < size; ++i)
        text += ",00";
    return text;
}

// --- Explorer's extension keys -------------------------------------------------------------

TEST(HistoryListsTest, ExtensionKeysLeftWithNothing) {
    struct {
        const char* why;
        std::string keys;  // below the extension key ".zzq"
        bool reported;
    } cases[] = {
        {"no subkeys and no values", "[$E]\n", true},
        {"only an OpenWithList without values, though the key holds values",
         "[$E]\n\"Progid\"=\"zzqfile\"\n[$E\\OpenWithList]\n", true},
        {"an OpenWithList holding a value", "[$E]\n[$E\\OpenWithList]\n\"a\"=\"zzq.exe\"\n", false},
        {"an OpenWithList beside another subkey",
         "[$E]\n[$E\\OpenWithList]\n[$E\\OpenWithProgids]\n", false},
        {"values and no subkeys", "[$E]\n\"Progid\"=\"zzqfile\"\n", false},
        {"another single subkey", "[$E]\n[$E\\UserChoice]\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string keys = testing::ExpandNames(
            c.keys, {{"$E",
                      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                      "Explorer\\FileExts\\.zzq"}});
        CHistoryFixture fixture(keys);
        CHistoryLists scanner(fixture.Environment());
        EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
        if (!c.reported) {
            EXPECT_TRUE(scanner.Problems().empty());
            continue;
        }
        const std::u16string key = std::u16string(kExtensions) + u"\\.zzq";
        EXPECT_EQ(testing::ProblemsOf(scanner),
                  (std::vector<ProblemView>{
                      {26, key, u"", u"", false, {u"Explorer unneeded .ZZQ file (*.zzq)", u".zzq"}},
                  }));
        // The repair deletes OpenWithList and then the key when nothing is left in it.
        EXPECT_EQ(scanner.Problems()[0]->AlternateKey, key + u"\\OpenWithList");
    }
}

TEST(HistoryListsTest, TypeDescriptionsAndTheKeyNamedOpenWithList) {
    CHistoryFixture fixture(R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.txt]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.log]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.Zzq]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\OpenWithList]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\openwithlist]
[HKEY_CLASSES_ROOT\.txt]
@="txtfile"
[HKEY_CLASSES_ROOT\txtfile]
@="Text Document"
[HKEY_CLASSES_ROOT\.log]
@="logfile"
)");
    const auto unneeded = [](std::u16string_view extension, std::u16string_view description) {
        return ProblemView{
            26,
            std::u16string(kExtensions) + u"\\" + std::u16string(extension),
            u"",
            u"",
            false,
            {u"Explorer unneeded " + std::u16string(description), std::u16string(extension)}};
    };
    EXPECT_EQ(Scan(fixture), (std::vector<ProblemView>{
                                 // No class: the extension in capitals, then as stored.
                                 unneeded(u".Zzq", u".ZZQ file (*.Zzq)"),
                                 // A class without a name of its own is shown by its identifier.
                                 unneeded(u".log", u"logfile (*.log)"),
                                 unneeded(u".txt", u"Text Document (*.txt)"),
                             }));
}

// --- recent-file lists ---------------------------------------------------------------------

TEST(HistoryListsTest, RecentFileListsReportEntriesNamingWhatIsGone) {
    CHistoryFixture fixture(R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\txt]
"a"="C:\\Notes\\gone.txt"
"b"="C:\\Notes\\kept.txt"
"c"=""
"d"=dword:00000001
"MRUList"="C:\\Notes\\never.txt"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\*]
"a"="C:\\Notes\\Other\\gone.doc"
[HKEY_CURRENT_USER\Software\WinRAR\ArcHistory]
"0"="C:\\Archives\\gone.rar"
"1"="C:\\Archives\\kept.rar"
[HKEY_CURRENT_USER\Software\WinRAR\DialogEditHistory\ExtrPath]
"0"="C:\\Extracted"
"1"="C:\\Gone Folder"
"2"="C:\\Archives\\kept.rar"
[HKEY_CURRENT_USER\Software\Microsoft\MediaPlayer\Player\RecentFileList]
"File0"="\\\\server\\music\\song.mp3"
"File1"="relative.mp3"
[HKEY_CURRENT_USER\Software\Microsoft\Office\11.0\Excel\Recent Files]
"File1"="C:\\Sheets\\budget.xls"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Applets\Paint\Recent File List]
"File1"="C:\\Pictures\\gone.bmp"
)");
    fixture.TurnOffKeyRules();
    fixture.MakeFile(u"C:\\Notes\\kept.txt");
    fixture.MakeFile(u"C:\\Archives\\kept.rar");
    fixture.MakeFolder(u"C:\\Extracted");
    const std::u16string excel =
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Excel\\Recent Files";
    const std::u16string winRar = u"HKEY_CURRENT_USER\\Software\\WinRAR\\";
    EXPECT_EQ(
        Scan(fixture),
        (std::vector<ProblemView>{
            MissingEntry(28, excel, u"File1", u"C:\\Sheets\\budget.xls", u"Excel 11.0",
                         u"budget.xls", u"C:\\Sheets"),
            MissingEntry(27, std::u16string(kDialogLists) + u"\\*", u"a",
                         u"C:\\Notes\\Other\\gone.doc", u"File", u"gone.doc", u"C:\\Notes\\Other"),
            MissingEntry(27, std::u16string(kDialogLists) + u"\\txt", u"a", u"C:\\Notes\\gone.txt",
                         u"File", u"gone.txt", u"C:\\Notes"),
            MissingEntry(28,
                         u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                         u"Applets\\Paint\\Recent File List",
                         u"File1", u"C:\\Pictures\\gone.bmp", u"Paint", u"gone.bmp",
                         u"C:\\Pictures"),
            MissingEntry(28, winRar + u"DialogEditHistory\\ExtrPath", u"1", u"C:\\Gone Folder",
                         u"WinRAR", u"Gone Folder", u"C:"),
            MissingEntry(28, winRar + u"ArcHistory", u"0", u"C:\\Archives\\gone.rar", u"WinRAR",
                         u"gone.rar", u"C:\\Archives"),
            // An extraction folder list counts folders only: an existing file there is stale.
            MissingEntry(28, winRar + u"DialogEditHistory\\ExtrPath", u"2",
                         u"C:\\Archives\\kept.rar", u"WinRAR", u"kept.rar", u"C:\\Archives"),
        }));
}

// A prefix in use refuses to open keys for changes: the lists are read all the same.
TEST(HistoryListsTest, ListsThatMayNotBeChangedAreStillRead) {
    CHistoryFixture fixture(R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\txt]
#deny=write
"a"="C:\\Notes\\gone.txt"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU]
#deny=write
[HKEY_CURRENT_USER\Software\Microsoft\MSPaper 11.0\Recent File List]
#deny=write
"File1"="C:\\Notes\\gone.rtf"
)");
    CHistoryLists scanner(fixture.Environment());
    EXPECT_EQ(scanner.CountItems(), 1);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(scanner.Problems().size(), 2u);
}

// --- the Start-menu usage history ----------------------------------------------------------

// The first key as Windows stores it: every name ROT13-encoded. Decoded, the names are
//   UEME_RUNPIDL:%csidl2%\Accessories\Notepad.lnk   in the machine's programs folder
//   UEME_RUNPIDL:%csidl2%\Fernwood\Fernpad.lnk      only in the user's programs folder
//   UEME_RUNPIDL:%csidl2%\Larkspur\Larkspur.lnk     gone
//   UEME_RUNPIDL:%csidl2%\Quartz.lnk                gone, directly in the programs folder
//   UEME_RUNPIDL:%csidl2%\Accessories\Games         a folder that is gone
//   UEME_RUNPIDL:%csidl2%\Tools\Old.LNK             an existing file: capitals make it a folder
//   UEME_RUNPIDL:%csidl23%\Gone.lnk                 not in the user's programs folder
//   UEME_CTLSESSION                                 no item
//   UEME_RUNPATH:C:\Program Files\Larkspur\lark.exe gone
//   UEME_RUNPATH:C:\windows\system32\notepad.exe    present
//   UEME_RUNPATH:notepad2.exe                       relative: never tested
//   UEME_RUNPATH:\\server\share\tool.exe            a network path: never tested
constexpr std::string_view kEncodedHistory = R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist\{5E6AB780-7743-11CF-A12B-00AA004AE837}\Count]
"HRZR_EHACVQY:%pfvqy2%\\Npprffbevrf\\Abgrcnq.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Sreajbbq\\Sreacnq.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Ynexfche\\Ynexfche.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Dhnegm.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Npprffbevrf\\Tnzrf"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Gbbyf\\Byq.YAX"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy23%\\Tbar.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_PGYFRFFVBA"=hex:01,00,00,00,06,00,00,00
"HRZR_EHACNGU:P:\\Cebtenz Svyrf\\Ynexfche\\ynex.rkr"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACNGU:P:\\jvaqbjf\\flfgrz32\\abgrcnq.rkr"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACNGU:abgrcnq2.rkr"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACNGU:\\\\freire\\funer\\gbby.rkr"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
)";

ProblemView GoneShortcut(std::u16string_view key, std::u16string_view storedName,
                         std::u16string_view file, std::u16string_view folder) {
    return {29,
            std::u16string(key),
            std::u16string(storedName),
            u"",
            false,
            {u"Start menu shortcut " + std::u16string(file) + u" is gone", std::u16string(file),
             std::u16string(folder)}};
}

ProblemView GoneFolder(std::u16string_view key, std::u16string_view storedName,
                       std::u16string_view folder) {
    return {30,
            std::u16string(key),
            std::u16string(storedName),
            u"",
            false,
            {u"Start menu folder " + std::u16string(folder) + u" is gone", std::u16string(folder),
             std::u16string(folder)}};
}

ProblemView GoneProgram(std::u16string_view key, std::u16string_view storedName,
                        std::u16string_view path) {
    const std::u16string_view file = path.substr(path.rfind(u'\\') + 1);
    const std::u16string_view folder = path.substr(0, path.rfind(u'\\'));
    return {
        31,
        std::u16string(key),
        std::u16string(storedName),
        u"",
        false,
        {u"Windows invalid " + std::u16string(file), std::u16string(path), std::u16string(folder)}};
}

void MakeProgramsFolders(const CHistoryFixture& fixture) {
    fixture.MakeFile(std::u16string(kCommonPrograms) + u"\\Accessories\\Notepad.lnk");
    fixture.MakeFile(std::u16string(kUserPrograms) + u"\\Fernwood\\Fernpad.lnk");
    fixture.MakeFile(std::u16string(kUserPrograms) + u"\\Tools\\Old.LNK");
    // What the machine's 32-bit view names would hide the missing items.
    fixture.MakeFile(u"C:\\Wrong\\Programs\\Larkspur\\Larkspur.lnk");
    fixture.MakeFile(u"C:\\Wrong\\Programs\\Quartz.lnk");
    fixture.MakeFile(u"C:\\windows\\system32\\notepad.exe");
}

TEST(HistoryListsTest, EncodedUsageHistoryInEitherSystem) {
    for (bool is64Bit : {true, false}) {
        SCOPED_TRACE(is64Bit ? "64-bit" : "32-bit");
        CHistoryFixture fixture(kEncodedHistory, is64Bit);
        MakeProgramsFolders(fixture);
        EXPECT_EQ(
            Scan(fixture),
            (std::vector<ProblemView>{
                // The value name stays as stored: the repair deletes that value.
                GoneFolder(kFirstHistory, u"HRZR_EHACVQY:%pfvqy2%\\Npprffbevrf\\Tnzrf",
                           u"Accessories"),
                GoneFolder(kFirstHistory, u"HRZR_EHACVQY:%pfvqy2%\\Gbbyf\\Byq.YAX", u"Tools"),
                GoneShortcut(kFirstHistory, u"HRZR_EHACVQY:%pfvqy2%\\Ynexfche\\Ynexfche.yax",
                             u"Larkspur.lnk", u"Larkspur"),
                GoneShortcut(kFirstHistory, u"HRZR_EHACVQY:%pfvqy2%\\Dhnegm.yax", u"Quartz.lnk",
                             u"<Root folder>"),
                GoneProgram(kFirstHistory, u"HRZR_EHACNGU:P:\\Cebtenz Svyrf\\Ynexfche\\ynex.rkr",
                            u"C:\\Program Files\\Larkspur\\lark.exe"),
            }));
    }
}

TEST(HistoryListsTest, TheEncodingSettingDecidesHowNamesAreRead) {
    // Each key holds one gone shortcut under its plain name and one under its encoded name.
    const std::string history = R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist\{5E6AB780-7743-11CF-A12B-00AA004AE837}\Count]
"UEME_RUNPIDL:%csidl2%\\Plain\\One.lnk"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACVQY:%pfvqy2%\\Rapbqrq\\Bar.yax"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist\{75048700-EF1F-11D0-9888-006097DEACF9}\Count]
"UEME_RUNPATH:C:\\Plain\\two.exe"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
"HRZR_EHACNGU:P:\\Rapbqrq\\gjb.rkr"=hex:01,00,00,00,06,00,00,00,00,00,00,00,00,00,00,00
)";
    const std::vector<ProblemView> plain = {
        GoneShortcut(kFirstHistory, u"UEME_RUNPIDL:%csidl2%\\Plain\\One.lnk", u"One.lnk", u"Plain"),
        GoneProgram(kSecondHistory, u"UEME_RUNPATH:C:\\Plain\\two.exe", u"C:\\Plain\\two.exe"),
    };
    const std::vector<ProblemView> encoded = {
        GoneShortcut(kFirstHistory, u"HRZR_EHACVQY:%pfvqy2%\\Rapbqrq\\Bar.yax", u"One.lnk",
                     u"Encoded"),
        GoneProgram(kSecondHistory, u"HRZR_EHACNGU:P:\\Rapbqrq\\gjb.rkr", u"C:\\Encoded\\two.exe"),
    };
    const std::string settings =
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
        "Settings]\n";
    struct {
        const char* why;
        std::string setting;
        const std::vector<ProblemView>& expected;
    } cases[] = {
        {"no setting", "", encoded},
        {"NoEncrypt 1", settings + "\"NoEncrypt\"=dword:00000001\n", plain},
        {"NoEncrypt 0", settings + "\"NoEncrypt\"=dword:00000000\n", encoded},
        {"NoEncrypt 1 in its first byte only", settings + "\"NoEncrypt\"=hex:01\n", plain},
        // 81 bytes do not fit where the setting is read: the names count as encoded.
        {"NoEncrypt too long to read", settings + "\"NoEncrypt\"=" + HexBytes(1, 81) + "\n",
         encoded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CHistoryFixture fixture(history + c.setting);
        fixture.TurnOffKeyRules();
        EXPECT_EQ(Scan(fixture), c.expected);
    }
}

TEST(UserAssistTest, Rot13IsItsOwnInverseAndLeavesOtherCharactersAlone) {
    EXPECT_EQ(DecodeRot13(u"HRZR_EHACVQY:%pfvqy2%\\Npprffbevrf\\Abgrcnq.yax"),
              u"UEME_RUNPIDL:%csidl2%\\Accessories\\Notepad.lnk");
    EXPECT_EQ(DecodeRot13(u"AZaz09 \u00e9\u4e2d"), u"NMnm09 \u00e9\u4e2d");
}

TEST(UserAssistTest, PassesOverValuesTooLongToBeHistoryEntries) {
    const std::string name511(511 - 13, 'a');
    const std::string name512(512 - 13, 'b');
    CScanFixture fixture(
        R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist\{75048700-EF1F-11D0-9888-006097DEACF9}\Count]
"HRZR_EHACNGU:)" +
        name511 + R"("=hex:01
"HRZR_EHACNGU:)" +
        name512 + R"("=hex:01
"HRZR_EHACNGU:ovt"=)" +
        HexBytes(0, 2046) + R"(
"HRZR_EHACNGU:svgf"=)" +
        HexBytes(0, 2045) + "\n");
    CUserAssSpy spy(fixture.Registry());
    spy.Read();
    EXPECT_TRUE(spy.DecodesNames());
    EXPECT_TRUE(spy.PairsWithPrefix(0, u"").empty());
    std::vector<std::u16string> decoded;
    for (const ValuePair& pair : spy.PairsWithPrefix(1, u"UEME_RUNPATH:"))
        decoded.push_back(pair.decodedName);
    EXPECT_EQ(decoded, (std::vector<std::u16string>{
                           u"UEME_RUNPATH:" + std::u16string(511 - 13, u'n'),
                           u"UEME_RUNPATH:fits",
                       }));
}

// --- progress and stop ---------------------------------------------------------------------

TEST(HistoryListsTest, CountsExtensionsAndDialogListsAndStopsBetweenThem) {
    CHistoryFixture fixture(R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.aaa]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.bbb]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.ccc]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32\OpenSaveMRU\txt]
"a"="C:\\Notes\\gone.txt"
)");
    CHistoryLists scanner(fixture.Environment());
    EXPECT_EQ(scanner.CountItems(), 4);

    CManualResetEvent stop;
    StopAtStatus observer(stop, u"IDS_HISTORY_LIST_FOR: .bbb");
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    // The key being looked at when the stop came is finished; nothing after it is.
    ASSERT_EQ(scanner.Problems().size(), 2u);
    EXPECT_EQ(scanner.Problems()[1]->DetailLine(1), u".bbb");
}

TEST(HistoryListsTest, StopsDuringTheProgramHistory) {
    CHistoryFixture fixture(std::string(kEncodedHistory) + R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Applets\Paint\Recent File List]
"File1"="C:\\Pictures\\gone.bmp"
)");
    MakeProgramsFolders(fixture);
    CManualResetEvent stop;
    StopAtStatus observer(stop, u"IDS_USERASSIST_PATHITEM: C:\\Program Files\\Larkspur\\lark.exe");
    CHistoryLists scanner(fixture.Environment());
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    // The entry being looked at is finished; the application lists are never reached.
    std::vector<std::int32_t> types;
    for (const auto& problem : scanner.Problems())
        types.push_back(problem->EntryType);
    EXPECT_EQ(types, (std::vector<std::int32_t>{30, 30, 29, 29, 31}));
}

}  // namespace
}  // namespace quillary
