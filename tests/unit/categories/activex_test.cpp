#include "categories/activex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;

// Short names for the identifiers the fixtures use, expanded in registry texts and in the
// expected problems alike.
const std::vector<std::pair<std::string, std::string>> kNames = {
    {"$C64", "{C1A55000-0000-4000-8000-000000000064}"},
    {"$C32", "{C1A55000-0000-4000-8000-000000000032}"},
    {"$CL", "{C1A55000-0000-4000-8000-0000000000CC}"},
    {"$CZ", "{C1A55000-0000-4000-8000-0000000000DD}"},
    {"$C", "{C1A55000-0000-4000-8000-000000000001}"},
    {"$H", "{C1A55000-0000-4000-8000-0000000000AA}"},
    {"$L", "{11B00000-0000-4000-8000-000000000001}"},
    {"$A", "{A9900000-0000-4000-8000-000000000001}"},
    {"$I", "{1F000000-0000-4000-8000-000000000001}"},
};

std::string Expand(std::string text) {
    return testing::ExpandNames(std::move(text), kNames);
}

// A problem as one line: type|key below HKEY_CLASSES_ROOT|value name|value data|detail
// lines joined by ";", and "|32" for an entry of the 32-bit view.
std::string Describe(const CProblem& problem) {
    std::u16string_view key = problem.Key;
    EXPECT_TRUE(key.starts_with(u"HKEY_CLASSES_ROOT\\")) << Utf16ToUtf8(key);
    key.remove_prefix(std::min<std::size_t>(key.size(), 18));
    std::string details;
    for (std::size_t line = 0; line < problem.detailLines.size(); ++line)
        details += (line ? ";" : "") + Utf16ToUtf8(problem.detailLines[line]);
    return std::to_string(problem.EntryType) + "|" + Utf16ToUtf8(key) + "|" +
           Utf16ToUtf8(problem.ValueName) + "|" + Utf16ToUtf8(problem.ValueData) + "|" + details +
           (problem.is32BitEntry ? "|32" : "");
}

std::vector<std::string> Describe(const CCategory& category) {
    std::vector<std::string> lines;
    for (const auto& problem : category.Problems())
        lines.push_back(Describe(*problem));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Files and folders (a name ending in "/") below the fixture's drive C:.
void MakeFiles(const CScanFixture& fixture, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (path.ends_with('/'))
            fixture.Folder().MakeFolder("c/" + path);
        else
            fixture.Folder().Write("c/" + path, "MZ");
    }
}

class RecordingObserver : public IScanObserver {
public:
    void OnStatus(std::u16string_view text) override {
        statuses.emplace_back(text);
        if (stopEvent && text.starts_with(u"CLSID: "))
            stopEvent->Set();
    }
    std::vector<std::u16string> statuses;
    CManualResetEvent* stopEvent = nullptr;
};

struct EntryCase {
    const char* why;
    const char* registry;
    std::vector<std::string> expected;
    std::vector<std::string> files = {};
    bool preferSafety = true;
    bool skipEmptyKeys = false;
};

// One registration per case on a 32-bit system, whose single walk has every check.
TEST(ActiveXTest, EachEntryTypeOnASystemWithOneView) {
    const EntryCase cases[] = {
        // Servers.
        {"server file gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            @="C:\\Acme\\brush.dll"
            "ThreadingModel"="Apartment")",
         {R"(0|CLSID\$C\InprocServer32||C:\Acme\brush.dll|Brush;InprocServer32)"}},
        {"server file gone, class without a name: labelled by its identifier",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\InprocHandler32]
            @="C:\\Acme\\handler.dll")",
         {R"(0|CLSID\$C\InprocHandler32||C:\Acme\handler.dll|$C;InprocHandler32)"}},
        {"server file there",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            @="C:\\Acme\\brush.dll")",
         {},
         {"Acme/brush.dll"}},
        {"local server command line whose program is there",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\LocalServer32]
            @="\"C:\\Acme\\agent.exe\" /automation")",
         {},
         {"Acme/agent.exe"}},
        {"in-process server with only a threading model, safety preferred",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            "ThreadingModel"="Both")",
         {}},
        {"in-process server with only a threading model, safety not preferred",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            "ThreadingModel"="Both")",
         {R"(1|CLSID\$C\InprocServer32|||Brush;InprocServer32)"},
         {},
         false},
        {"another server kind with only a named value is not empty",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\LocalServer32]
            "ServerExecutable"="C:\\Acme\\agent.exe")",
         {},
         {},
         false},
        {"empty server key",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\LocalServer32])",
         {R"(1|CLSID\$C\LocalServer32|||Brush;LocalServer32)"}},
        {"empty server key, empty keys skipped",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\LocalServer32])",
         {},
         {},
         true,
         true},

        // The class's other keys.
        {"empty ProgID key",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\ProgID]
            @="")",
         {R"(1|CLSID\$C\ProgID|||Brush;ProgID)"}},
        {"ProgID naming a program identifier",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\ProgID]
            @="Acme.Brush.1")",
         {}},
        {"application identifier gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            "AppID"="$A")",
         {R"(2|CLSID\$C|AppID|$A|Brush)"}},
        {"application identifier there",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            "AppID"="$A"
            [HKEY_CLASSES_ROOT\AppID\$A]
            @="Acme")",
         {}},
        {"type library gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\TypeLib]
            @="$L")",
         {R"(3|CLSID\$C\TypeLib||$L|Brush)"}},
        {"type library reference without braces is not followed",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\TypeLib]
            @="11B00000-0000-4000-8000-000000000001")",
         {}},
        {"icon key with an empty default value",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\DefaultIcon]
            @="")",
         {R"(4|CLSID\$C\DefaultIcon|||Brush)"}},
        {"icon file gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\DefaultIcon]
            @="C:\\Acme\\brush.ico")",
         {R"(0|CLSID\$C\DefaultIcon||C:\Acme\brush.ico|Brush;DefaultIcon)"}},
        {"context-menu handler named after its class, which is gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\ShellEx\ContextMenuHandlers\$H])",
         {R"(5|CLSID\$C\ShellEx\ContextMenuHandlers\$H|||Brush;HKEY_CLASSES_ROOT\CLSID\$H;$H)"}},
        {"named context-menu handler whose class is gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\ShellEx\ContextMenuHandlers\Brusher]
            @="$H")",
         {R"(5|CLSID\$C\ShellEx\ContextMenuHandlers\Brusher|||Brush;HKEY_CLASSES_ROOT\CLSID\$H;$H)"}},
        {"named context-menu handler whose class is registered",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\ShellEx\ContextMenuHandlers\Brusher]
            @="$H"
            [HKEY_CLASSES_ROOT\CLSID\$H]
            @="Brusher")",
         {}},
        {"named context-menu handler whose value is not a class",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\ShellEx\ContextMenuHandlers\Brusher]
            @="Acme.Brusher")",
         {}},
        {"toolbox bitmap gone",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\ToolboxBitmap32]
            @="C:\\Acme\\brush.bmp")",
         {R"(42|CLSID\$C\ToolboxBitmap32||C:\Acme\brush.bmp|Brush;ToolboxBitmap32)"}},
        {"empty toolbox bitmap key, reported although empty keys are skipped",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            @="Brush"
            [HKEY_CLASSES_ROOT\CLSID\$C\ToolboxBitmap32])",
         {R"(1|CLSID\$C\ToolboxBitmap32|||Brush;ToolboxBitmap32)"},
         {},
         true,
         true},

        // Application identifiers.
        {"program's application identifier entry names one that is gone",
         R"([HKEY_CLASSES_ROOT\AppID\brush.exe]
            "AppID"="$A")",
         {R"(6|AppID\brush.exe|AppID|$A|brush.exe)"}},
        {"braced application identifiers are not examined",
         R"([HKEY_CLASSES_ROOT\AppID\$H]
            "AppID"="$A")",
         {}},

        // Type libraries.
        {"type library file gone",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0]
            @="Brush Library"
            [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\win32]
            @="C:\\Acme\\brush.tlb")",
         {R"(7|TypeLib\$L\1.0\0\win32||C:\Acme\brush.tlb|Brush Library;1.0\0\win32)"}},
        {"type library file found on the search path",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\win32]
            @="brush.tlb")",
         {},
         {"windows/system32/brush.tlb"}},
        {"type library key with an empty default value",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0]
            @="Brush Library"
            [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\9\win32]
            @="")",
         {R"(9|TypeLib\$L\1.0\9\win32|||Brush Library;1.0\9\win32)"}},
        {"a 64-bit library file is not looked at on a 32-bit system",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\win64]
            @="C:\\Acme\\brush64.tlb")",
         {}},
        {"help folder key with an empty default value",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0]
            @="Brush Library"
            [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\HELPDIR]
            @="")",
         {R"(8|TypeLib\$L\1.0\HELPDIR|||Brush Library;1.0\HELPDIR)"}},
        {"help folder key without values",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0]
            @="Brush Library"
            [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\HELPDIR])",
         {R"(8|TypeLib\$L\1.0\HELPDIR|||Brush Library;1.0\HELPDIR)"}},
        {"help folder key with two values is left alone",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0\HELPDIR]
            @=""
            "Extra"="C:\\Acme\\gone")",
         {}},
        {"help folder gone, library without description: labelled by its identifier",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0\HELPDIR]
            @="C:\\Acme\\help")",
         {R"(10|TypeLib\$L\1.0\HELPDIR||C:\Acme\help|$L;1.0\HELPDIR)"}},
        {"help folder there",
         R"([HKEY_CLASSES_ROOT\TypeLib\$L\1.0\HELPDIR]
            @="C:\\Acme\\help")",
         {},
         {"Acme/help/"}},

        // Interfaces.
        {"interface's proxy class gone",
         R"([HKEY_CLASSES_ROOT\Interface\$I]
            @="IBrush"
            [HKEY_CLASSES_ROOT\Interface\$I\ProxyStubClsid32]
            @="$H")",
         {R"(11|Interface\$I\ProxyStubClsid32||$H|IBrush)"}},
        {"interface's viewer class gone",
         R"([HKEY_CLASSES_ROOT\Interface\$I]
            @="IBrush"
            [HKEY_CLASSES_ROOT\Interface\$I\OLEViewerIViewerCLSID]
            @="$H")",
         {R"(11|Interface\$I\OLEViewerIViewerCLSID||$H|IBrush)"}},
        {"interface's type library gone",
         R"([HKEY_CLASSES_ROOT\Interface\$I]
            @="IBrush"
            [HKEY_CLASSES_ROOT\Interface\$I\TypeLib]
            @="$L"
            "Version"="1.0")",
         {R"(12|Interface\$I\TypeLib||$L|IBrush)"}},
        {"interface's proxy class registered",
         R"([HKEY_CLASSES_ROOT\Interface\$I\ProxyStubClsid]
            @="$H"
            [HKEY_CLASSES_ROOT\CLSID\$H\InprocServer32]
            @="C:\\Acme\\proxy.dll")",
         {},
         {"Acme/proxy.dll"}},

        // Opening rules.
        {"a referenced key that may not be written counts as there",
         R"([HKEY_CLASSES_ROOT\CLSID\$C]
            "AppID"="$A"
            [HKEY_CLASSES_ROOT\AppID\$A]
            #deny=write)",
         {}},
        {"a referenced key that may not be opened at all counts as there",
         R"([HKEY_CLASSES_ROOT\Interface\$I\ProxyStubClsid32]
            @="$H"
            [HKEY_CLASSES_ROOT\CLSID\$H]
            #deny=all)",
         {}},
        {"a key that may not be written is judged all the same",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            #deny=write
            @="C:\\Acme\\brush.dll"
            [HKEY_CLASSES_ROOT\CLSID\$C]
            #deny=write)",
         {R"(0|CLSID\$C\InprocServer32||C:\Acme\brush.dll|$C;InprocServer32)"}},
        {"a top key is only read",
         R"([HKEY_CLASSES_ROOT\CLSID\$C\InprocServer32]
            @="C:\\Acme\\brush.dll"
            [HKEY_CLASSES_ROOT\CLSID]
            #deny=write)",
         {R"(0|CLSID\$C\InprocServer32||C:\Acme\brush.dll|$C;InprocServer32)"}},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture(Expand(c.registry), false);
        MakeFiles(fixture, c.files);
        fixture.Settings().PreferSafetyOverCount = c.preferSafety;
        fixture.Settings().SetChkSkipEmptyKeys = c.skipEmptyKeys ? 1 : 0;
        CActiveX scanner(fixture.Environment());
        ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);
        std::vector<std::string> expected;
        for (const std::string& line : c.expected)
            expected.push_back(Expand(line));
        EXPECT_EQ(Describe(scanner), expected);
    }
}

// A 64-bit system: the 64-bit view is walked, then the 32-bit one, each with its own rules.
// Empty keys are skipped, so the rules of each view for empty keys show.
constexpr const char* kTwoViews = R"(
    [HKEY_CLASSES_ROOT\CLSID\$C64]
    @="Sixty-four"
    [HKEY_CLASSES_ROOT\CLSID\$C64\InprocServer32]
    @="C:\\Acme\\x64.dll"
    [HKEY_CLASSES_ROOT\CLSID\$C64\LocalServer32]
    [HKEY_CLASSES_ROOT\CLSID\$C64\ToolboxBitmap32]
    [HKEY_CLASSES_ROOT\CLSID\$C64\DefaultIcon]
    @="C:\\Acme\\x64.ico"
    [HKEY_CLASSES_ROOT\CLSID\$CL]
    @="Local 64"
    [HKEY_CLASSES_ROOT\CLSID\$CL\LocalServer32]
    @="C:\\Acme\\server.exe"
    [HKEY_CLASSES_ROOT\CLSID\$CZ\LocalServer32]
    @="C:\\Acme\\only64.exe"
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$C32]
    @="Thirty-two"
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$C32\InprocServer32]
    @="C:\\Acme\\x86.dll"
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$C32\LocalServer32]
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$C32\ToolboxBitmap32]
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$C32\ShellEx\ContextMenuHandlers\$H]
    [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$CL]
    @="Local 32"
    [HKEY_CLASSES_ROOT\Wow6432Node\Interface]
    [HKEY_CLASSES_ROOT\Interface\$I\ProxyStubClsid32]
    @="$C32"
    [HKEY_CLASSES_ROOT\AppID\x.exe]
    "AppID"="$A"
    [HKEY_CLASSES_ROOT\AppID\$H]
    @="not counted"
    [HKEY_CLASSES_ROOT\TypeLib\$L\1.0]
    @="Lib"
    [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\win64]
    @="C:\\Acme\\lib64.tlb"
)";

TEST(ActiveXTest, SixtyFourBitSystemWalksBothViewsWithTheirOwnRules) {
    CScanFixture fixture(Expand(kTwoViews), true);
    fixture.Settings().SetChkSkipEmptyKeys = 1;
    CActiveX scanner(fixture.Environment());
    RecordingObserver observer;
    scanner.Attach(nullptr, &observer, nullptr);
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);

    std::vector<std::string> expected = {
        // 64-bit view. Its empty server key is reported whatever the setting says; its empty
        // toolbox bitmap key and its icon file are not judged; a local server takes its
        // class name from the 32-bit view, and goes unreported when that view lacks the
        // class; the interface's proxy class is registered in the 32-bit view only.
        R"(0|CLSID\$C64\InprocServer32||C:\Acme\x64.dll|Sixty-four;InprocServer32)",
        R"(1|CLSID\$C64\LocalServer32|||Sixty-four;LocalServer32)",
        R"(0|CLSID\$CL\LocalServer32||C:\Acme\server.exe|Local 32;LocalServer32)",
        // Application identifiers and type libraries are one tree seen from both views:
        // reported once, by the 64-bit walk; its type libraries have win64 files too.
        R"(6|AppID\x.exe|AppID|$A|x.exe)",
        R"(7|TypeLib\$L\1.0\0\win64||C:\Acme\lib64.tlb|Lib;1.0\0\win64)",
        // 32-bit view: empty server keys follow the setting, empty toolbox bitmap keys do
        // not; a handler named after its class is reported under Wow6432Node.
        R"(0|CLSID\$C32\InprocServer32||C:\Acme\x86.dll|Thirty-two;InprocServer32|32)",
        R"(1|CLSID\$C32\ToolboxBitmap32|||Thirty-two;ToolboxBitmap32|32)",
        R"(5|Wow6432Node\CLSID\$C32\ShellEx\ContextMenuHandlers\$H|||Thirty-two;)"
        R"(HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$H;$H|32)",
    };
    for (std::string& line : expected)
        line = Expand(line);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Describe(scanner), expected);

    const auto shown = [&](std::string text) {
        std::u16string status = Utf8ToUtf16(Expand(text));
        return std::find(observer.statuses.begin(), observer.statuses.end(), status) !=
               observer.statuses.end();
    };
    EXPECT_TRUE(shown("CLSID: $C64"));
    EXPECT_TRUE(shown("Wow6432Node\\CLSID: $C32"));
    EXPECT_TRUE(shown("Wow6432Node\\AppID: x.exe"));
    EXPECT_FALSE(shown("AppID: $H"));
}

TEST(ActiveXTest, EmptyKeySearchReportsTheSharedTypeLibTreeOnceAndSkipsReferences) {
    // The empty-key search reports a key below a braced name only when that name is
    // registered as a class, a type library and an interface, here in both views. An
    // interface's empty reference key is left to the reference check.
    CScanFixture fixture(Expand(R"(
        [HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\Extra]
        [HKEY_CLASSES_ROOT\CLSID\$L]
        @="Thing"
        [HKEY_CLASSES_ROOT\Interface\$L]
        @="IThing"
        [HKEY_CLASSES_ROOT\Interface\$L\OLEViewerIViewerCLSID]
        [HKEY_CLASSES_ROOT\Wow6432Node\CLSID\$L]
        @="Thing"
        [HKEY_CLASSES_ROOT\Wow6432Node\Interface\$L]
        @="IThing"
    )"),
                         true);
    CActiveX scanner(fixture.Environment());
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(Describe(scanner),
              std::vector<std::string>{Expand(R"(1|TypeLib\$L\1.0\0\Extra||)"
                                              R"(|text of IDS_EMPTY_KEY;)"
                                              R"(HKEY_CLASSES_ROOT\TypeLib\$L\1.0\0\Extra)")});
}

TEST(ActiveXTest, KeysThatDenyAccess) {
    // A class key that denies every access still has its parts looked at (an empty server
    // key is reported, labelled by the identifier it cannot read the name behind); a key a
    // registration refers to counts as there when it may not be opened.
    CScanFixture fixture(Expand(R"(
        [HKEY_CLASSES_ROOT\CLSID\$C]
        @="Hidden"
        [HKEY_CLASSES_ROOT\CLSID\$C\LocalServer32]
        [HKEY_CLASSES_ROOT\CLSID\$C64]
        @="Refers"
        "AppID"="$A"
        [HKEY_CLASSES_ROOT\CLSID\$C64\TypeLib]
        @="$L"
        [HKEY_CLASSES_ROOT\AppID\$A]
        [HKEY_CLASSES_ROOT\TypeLib\$L]
        [HKEY_CLASSES_ROOT\Interface\$I\ProxyStubClsid32]
        @="$C"
    )"),
                         false);
    for (const char* path : {"CLSID\\$C", "AppID\\$A", "TypeLib\\$L"}) {
        ASSERT_TRUE(fixture.Registry().SetAccessDenial(HKeyClassesRoot, Utf8ToUtf16(Expand(path)),
                                                       AccessDenial::All));
    }
    CActiveX scanner(fixture.Environment());
    ASSERT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(Describe(scanner),
              std::vector<std::string>{Expand(R"(1|CLSID\$C\LocalServer32|||$C;LocalServer32)")});
}

TEST(ActiveXTest, CountsTheItemsOfBothViews) {
    CScanFixture fixture(Expand(kTwoViews), true);
    CActiveX scanner(fixture.Environment());
    // 64-bit view: three classes, one named application identifier, one type library, one
    // interface. 32-bit view: two classes, the shared identifier and type library, and an
    // empty Interface key.
    EXPECT_EQ(scanner.CountItems(), 6 + 4);

    CScanFixture single(Expand(kTwoViews), false);
    CActiveX singleScanner(single.Environment());
    // Without views the Wow6432Node keys are plain keys, and none of the trees holds them.
    EXPECT_EQ(singleScanner.CountItems(), 6);
}

TEST(ActiveXTest, StopsWhenAskedBetweenServerKinds) {
    CScanFixture fixture(Expand(kTwoViews), true);
    CActiveX scanner(fixture.Environment());
    CManualResetEvent stop;
    RecordingObserver observer;
    observer.stopEvent = &stop;
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    EXPECT_TRUE(scanner.Problems().empty());
    EXPECT_EQ(observer.statuses.size(), 1u);
}

}  // namespace
}  // namespace quillary
