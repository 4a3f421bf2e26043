#include "categories/file_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "support/fake_platform_queries.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ScanFixtureOptions;

// A problem as one line: type|key below HKEY_CLASSES_ROOT|value data|detail lines joined by
// ";", and "|32" for an entry of the 32-bit view. The value name is always empty here.
std::string Describe(const CProblem& problem) {
    std::u16string_view key = problem.Key;
    EXPECT_TRUE(key.starts_with(u"HKEY_CLASSES_ROOT\\")) << Utf16ToUtf8(key);
    EXPECT_EQ(problem.ValueName, u"");
    key.remove_prefix(std::min<std::size_t>(key.size(), 18));
    std::string details;
    for (std::size_t line = 0; line < problem.detailLines.size(); ++line)
        details += (line ? ";" : "") + Utf16ToUtf8(problem.detailLines[line]);
    return std::to_string(problem.EntryType) + "|" + Utf16ToUtf8(key) + "|" +
           Utf16ToUtf8(problem.ValueData) + "|" + details + (problem.is32BitEntry ? "|32" : "");
}

std::vector<std::string> Describe(const CCategory& category) {
    std::vector<std::string> lines;
    for (const auto& problem : category.Problems())
        lines.push_back(Describe(*problem));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A fixture whose C:\windows\system32 holds Wine's built-in programs, with the variables
// Wine's own registrations use.
ScanFixtureOptions WineLikeOptions(bool is64Bit) {
    return {.is64Bit = is64Bit, .environment = {{u"SystemRoot", u"C:\\windows"}}};
}

void MakeWineFiles(const CScanFixture& fixture) {
    for (const char* file : {"winebrowser.exe", "start.exe", "notepad.exe", "shell32.dll"})
        fixture.MakeFile(u"C:\\windows\\system32\\" + Utf8ToUtf16(file));
    fixture.MakeFile(u"C:\\Acme\\acme.exe");
}

class RecordingObserver : public IScanObserver {
public:
    void OnStatus(std::u16string_view text) override {
        statuses.emplace_back(text);
        if (stopEvent)
            stopEvent->Set();
    }
    std::vector<std::u16string> statuses;
    CManualResetEvent* stopEvent = nullptr;
};

struct EntryCase {
    const char* why;
    const char* registry;
    std::vector<std::string> expected;
    bool skipEmptyKeys = false;
    int windowsMajorVersion = 6;
};

// One file type per case on a 32-bit system, whose single walk has every check.
TEST(FileTypesTest, EachEntryTypeOnASystemWithOneView) {
    const EntryCase cases[] = {
        // Extensions.
        {"program identifier gone",
         R"([HKEY_CLASSES_ROOT\.abc]
            @="Acme.Gone")",
         {R"(15|.abc|Acme.Gone|.ABC file (*.abc);.abc;HKEY_CLASSES_ROOT\Acme.Gone)"}},
        {"program identifier gone, but the extension carries a content type, as Wine's .dll",
         R"([HKEY_CLASSES_ROOT\.abc]
            @="Acme.Gone"
            "Content Type"="application/x-msdownload")",
         {}},
        {"program identifier there",
         R"([HKEY_CLASSES_ROOT\.abc]
            @="Acme.Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing")",
         {}},
        {"extension with nothing in it",
         R"([HKEY_CLASSES_ROOT\.abc])",
         {"16|.abc||.ABC file (*.abc)"}},
        {"extension with nothing in it, empty keys skipped",
         R"([HKEY_CLASSES_ROOT\.abc])",
         {},
         true},
        {"extension with only a content type",
         R"([HKEY_CLASSES_ROOT\.abc]
            "Content Type"="text/plain")",
         {}},
        {"extension's verb key without verbs: the empty-key search reports it",
         R"([HKEY_CLASSES_ROOT\.abc]
            @="Acme.Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\.abc\shell])",
         {R"(1|.abc\shell||text of IDS_EMPTY_KEY;HKEY_CLASSES_ROOT\.abc\shell)"}},

        // Program identifiers.
        {"identifier with nothing in it",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing])",
         {"16|Acme.Drawing||ACME.DRAWING"}},
        {"identifier whose only value is an empty default value",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="")",
         {"16|Acme.Drawing||ACME.DRAWING"}},
        {"identifier with nothing in it, empty keys skipped",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing])",
         {},
         true},
        {"identifier with only a named value",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            "EditFlags"=dword:00010000)",
         {}},
        {"identifier's shell key without verbs",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\shell])",
         {R"(22|Acme.Drawing\shell||Acme Drawing;shell;shell1)"}},
        {"identifier's shell key without verbs, identifier without a name",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell])",
         {R"(22|Acme.Drawing\shell||Acme.Drawing\shell;shell;shell1)"}},

        // Classes.
        {"class gone",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\CLSID]
            @="{AC000000-0000-4000-8000-000000000001}")",
         {R"(19|Acme.Drawing\CLSID|{AC000000-0000-4000-8000-000000000001}|Acme Drawing;)"
          R"(HKEY_CLASSES_ROOT\CLSID\{AC000000-0000-4000-8000-000000000001})"}},
        {"class registered",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\CLSID]
            @="{AC000000-0000-4000-8000-000000000001}"
            [HKEY_CLASSES_ROOT\CLSID\{AC000000-0000-4000-8000-000000000001}]
            @="Acme")",
         {}},
        {"class reference without braces is not followed",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\CLSID]
            @="AC000000-0000-4000-8000-000000000001")",
         {}},
        {"extension's empty class key",
         R"([HKEY_CLASSES_ROOT\.abc\CLSID])",
         {R"(16|.abc\CLSID||.ABC)"}},
        {"identifier's empty class key, reported although empty keys are skipped",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\CLSID]
            @="")",
         {R"(16|Acme.Drawing\CLSID||ACME.DRAWING)"},
         true},
        {"extension's empty class key, empty keys skipped",
         R"([HKEY_CLASSES_ROOT\.abc\CLSID])",
         {},
         true},

        // Verbs.
        {"verb's program gone",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\shell\print\command]
            @="\"C:\\Acme\\print.exe\" /p \"%1\"")",
         {R"(21|Acme.Drawing\shell\print\command|"C:\Acme\print.exe" /p "%1"|Acme Drawing;Print)"}},
        {"verb's program there",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\edit\command]
            @="\"C:\\Acme\\acme.exe\" \"%1\"")",
         {}},
        {"verb with an empty command",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\edit\command]
            @="")",
         {R"(21|Acme.Drawing\shell\edit\command||Acme.Drawing;Edit)"}},
        {"verb that starts the file itself",
         R"([HKEY_CLASSES_ROOT\Acme.Program\shell\run\command]
            @="\"%1\" %*")",
         {}},
        {"verb carried out by a class since Vista",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\edit\command]
            @=""
            "DelegateExecute"="{AC000000-0000-4000-8000-000000000002}")",
         {}},
        {"verb carried out by a class on a system before Vista",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\edit\command]
            @=""
            "DelegateExecute"="{AC000000-0000-4000-8000-000000000002}")",
         {R"(21|Acme.Drawing\shell\edit\command||Acme.Drawing;Edit)"},
         false,
         5},
        {"command that may not be read",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\edit\command]
            #deny=all
            @="C:\\Acme\\gone.exe")",
         {}},
        {"verb without a command",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\shell\share]
            @="&Share")",
         {R"(22|Acme.Drawing\shell\share||Acme Drawing;Share;Command)"}},
        {"verb without a command, empty keys skipped",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\share])",
         {},
         true},
        {"verb without a command that has another subkey",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\share\DropTarget]
            "CLSID"="{AC000000-0000-4000-8000-000000000003}")",
         {}},
        {"verb without a command whose menu text comes from a program that is there",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\share]
            "MUIVerb"="@C:\\Acme\\acme.exe,-120")",
         {}},
        {"verb without a command whose menu text comes from a program that is gone",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\shell\share]
            "MUIVerb"="@C:\\Acme\\gone.exe,-120")",
         {R"(22|Acme.Drawing\shell\share||Acme.Drawing;Share;Command)"}},

        // Icons.
        {"icon file gone",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\DefaultIcon]
            @="C:\\Acme\\doc.ico")",
         {R"(17|Acme.Drawing\DefaultIcon|C:\Acme\doc.ico|Acme Drawing)"}},
        {"icon from a program that is there, by resource index",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\DefaultIcon]
            @="C:\\Acme\\acme.exe,1")",
         {}},
        {"icon key with an empty default value",
         R"([HKEY_CLASSES_ROOT\.abc\DefaultIcon]
            @="")",
         {R"(18|.abc\DefaultIcon||.abc)"}},
        {"icon key whose default value is not text",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\DefaultIcon]
            @=dword:00000001)",
         {R"(18|Acme.Drawing\DefaultIcon||Acme.Drawing)"}},
        {"icon that is the file itself",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\DefaultIcon]
            @="%1")",
         {}},

        // Context-menu handlers.
        {"handler's class gone",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing]
            @="Acme Drawing"
            [HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu]
            @="{AC000000-0000-4000-8000-000000000004}")",
         {R"(19|Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu|)"
          R"({AC000000-0000-4000-8000-000000000004}|Acme Drawing;)"
          R"(HKEY_CLASSES_ROOT\CLSID\{AC000000-0000-4000-8000-000000000004})"}},
        {"handler named after its class is not examined",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\{AC000000-0000-4000-8000-000000000004}]
            @="{AC000000-0000-4000-8000-000000000005}")",
         {}},
        {"handler naming something other than a class",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu]
            @="Acme menu")",
         {}},
        {"handler that may not be opened",
         R"([HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu]
            #deny=all)",
         {R"(20|Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu||Acme.Drawing)"}},

        // What Wine registers for its own programs, whose files are there.
        {"Wine's registrations",
         R"([HKEY_CLASSES_ROOT\.txt]
            @="txtfile"
            [HKEY_CLASSES_ROOT\txtfile]
            @="Text Document"
            [HKEY_CLASSES_ROOT\txtfile\DefaultIcon]
            @=str(2):"%SystemRoot%\\system32\\shell32.dll,-151"
            [HKEY_CLASSES_ROOT\txtfile\shell\print\command]
            @=str(2):"%SystemRoot%\\system32\\notepad.exe /p %1"
            [HKEY_CLASSES_ROOT\http\shell\browse\command]
            @="\"C:\\windows\\system32\\winebrowser.exe\" -nohome"
            [HKEY_CLASSES_ROOT\unixfile\shell\run\command]
            @="C:\\windows\\system32\\start.exe /unix \"%1\"")",
         {}},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture(c.registry, WineLikeOptions(false));
        MakeWineFiles(fixture);
        fixture.Settings().SetChkSkipEmptyKeys = c.skipEmptyKeys ? 1 : 0;
        // The system's version decides whether DelegateExecute counts.
        testing::FakePlatformQueries platform;
        platform.is64Bit = false;
        platform.majorVersion = c.windowsMajorVersion;
        const ScanEnvironment& base = fixture.Environment();
        ScanEnvironment environment{base.target,     base.files, platform,
                                    base.settings,   base.rules, base.references,
                                    base.exclusions, base.text,  base.log};
        CFileTypes scanner(environment);
        ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);
        EXPECT_EQ(Describe(scanner), c.expected);
    }
}

// A 64-bit system: the 64-bit view is walked, then the 32-bit one. The classes below
// HKEY_CLASSES_ROOT are shared by the views except for their own CLSID trees, as on Windows.
constexpr const char* kTwoViews = R"(
    [HKEY_CLASSES_ROOT\.abc]
    @="Acme.Gone"
    [HKEY_CLASSES_ROOT\.abc\shell]
    [HKEY_CLASSES_ROOT\Acme.Drawing]
    @="Acme Drawing"
    [HKEY_CLASSES_ROOT\Acme.Drawing\CLSID]
    @="{AC000000-0000-4000-8000-000000000032}"
    [HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\AcmeMenu]
    @="{AC000000-0000-4000-8000-000000000032}"
    [HKEY_CLASSES_ROOT\Acme.Drawing\ShellEx\ContextMenuHandlers\GoneMenu]
    @="{AC000000-0000-4000-8000-0000000000DD}"
    [HKEY_CLASSES_ROOT\Acme.Empty\shell]
    [HKEY_CLASSES_ROOT\Acme.Empty\CLSID]
    [HKEY_CLASSES_ROOT\CLSID\{AC000000-0000-4000-8000-000000000064}]
    @="Sixty-four"
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\{AC000000-0000-4000-8000-000000000032}]
    @="Thirty-two"
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\DefaultIcon]
    @="C:\\Acme\\gone.ico"
)";

TEST(FileTypesTest, SixtyFourBitSystemWalksBothViews) {
    CScanFixture fixture(kTwoViews, WineLikeOptions(true));
    CFileTypes scanner(fixture.Environment());
    RecordingObserver observer;
    scanner.Attach(nullptr, &observer, nullptr);
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);

    std::vector<std::string> expected = {
        // What both views show is reported once, by the 64-bit walk. A class registered in
        // the 32-bit view only is registered all the same; the empty CLSID key and the
        // identifier's empty shell key are not examined on a 64-bit system.
        "15|.abc|Acme.Gone|.ABC file (*.abc);.abc;HKEY_CLASSES_ROOT\\Acme.Gone",
        R"(1|.abc\shell||text of IDS_EMPTY_KEY;HKEY_CLASSES_ROOT\.abc\shell)",
        R"(19|Acme.Drawing\ShellEx\ContextMenuHandlers\GoneMenu|)"
        R"({AC000000-0000-4000-8000-0000000000DD}|Acme Drawing;)"
        R"(HKEY_CLASSES_ROOT\CLSID\{AC000000-0000-4000-8000-0000000000DD})",
        // What only the 32-bit view shows is reported by its walk, as a 32-bit entry.
        R"(17|CLSID\DefaultIcon|C:\Acme\gone.ico|CLSID|32)",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Describe(scanner), expected);
    EXPECT_EQ(std::count(observer.statuses.begin(), observer.statuses.end(), u"File Type: .abc"),
              2);
}

TEST(FileTypesTest, TheUsersClassesHideTheMachines) {
    // The user's registration of a sound file type hides the machine's broken one; the
    // user's broken registration hides the machine's sound one.
    CScanFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\Software\Classes\.snd]
        @="Acme.Gone"
        [HKEY_CURRENT_USER\Software\Classes\.snd]
        @="Acme.Sound"
        [HKEY_LOCAL_MACHINE\Software\Classes\Acme.Sound]
        @="Acme Sound"
        [HKEY_LOCAL_MACHINE\Software\Classes\.au]
        @="Acme.Sound"
        [HKEY_CURRENT_USER\Software\Classes\.au]
        @="Acme.Vanished"
    )",
                         WineLikeOptions(true));
    CFileTypes scanner(fixture.Environment());
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(Describe(scanner),
              std::vector<std::string>{
                  "15|.au|Acme.Vanished|.AU file (*.au);.au;HKEY_CLASSES_ROOT\\Acme.Vanished"});
}

TEST(FileTypesTest, CountsTheSubkeysOfBothViews) {
    constexpr const char* registry = R"(
        [HKEY_CLASSES_ROOT\.abc]
        [HKEY_CLASSES_ROOT\Acme.Drawing]
        [HKEY_CLASSES_ROOT\CLSID]
    )";
    // The 32-bit view shows the same three keys; Wow6432Node is no subkey of either.
    CScanFixture fixture(registry, true);
    EXPECT_EQ(CFileTypes(fixture.Environment()).CountItems(), 3 + 3);
    CScanFixture single(registry, false);
    EXPECT_EQ(CFileTypes(single.Environment()).CountItems(), 3);
}

TEST(FileTypesTest, StopsWhenAskedBetweenSubkeys) {
    CScanFixture fixture(kTwoViews, true);
    CFileTypes scanner(fixture.Environment());
    CManualResetEvent stop;
    RecordingObserver observer;
    observer.stopEvent = &stop;
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    EXPECT_EQ(observer.statuses, std::vector<std::u16string>{u"File Type: .abc"});
    // The first key is looked at to its end before the stop is seen.
    EXPECT_EQ(scanner.Problems().size(), 2u);
}

}  // namespace
}  // namespace quillary
