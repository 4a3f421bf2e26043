#include "categories/deep_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "start_fixture.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CProgressRecorder;
using testing::CScanFixture;
using testing::ScanFixtureOptions;
using testing::StopAtStatus;

enum class Tree { Machine, User };

std::unique_ptr<CDeepScan> MakeScanner(Tree tree, ScanEnvironment& environment) {
    if (tree == Tree::Machine)
        return std::make_unique<CDeepScanLM>(environment);
    return std::make_unique<CDeepScanCU>(environment);
}

// A problem as one line: type|key|value name|value data|detail lines joined by ";", and "|32"
// for an entry of the 32-bit view.
std::vector<std::string> Describe(const CCategory& category) {
    std::vector<std::string> lines;
    for (const auto& problem : category.Problems()) {
        std::string details;
        for (std::size_t line = 0; line < problem->detailLines.size(); ++line)
            details += (line ? ";" : "") + Utf16ToUtf8(problem->detailLines[line]);
        lines.push_back(std::to_string(problem->EntryType) + "|" + Utf16ToUtf8(problem->Key) + "|" +
                        Utf16ToUtf8(problem->ValueName) + "|" + Utf16ToUtf8(problem->ValueData) +
                        "|" + details + (problem->is32BitEntry ? "|32" : ""));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct ScanCase {
    const char* why;
    Tree tree;
    std::string registry;
    std::vector<std::string> expected;
    bool preferSafety = true;
    bool is64Bit = true;
};

// reg text of a string value whose text "C:\Gone\padded.dll" is followed by NULs up to
// dataSize bytes: only the size of the data decides whether it is examined.
std::string PaddedValue(std::size_t dataSize) {
    const std::u16string text = u"C:\\Gone\\padded.dll";
    std::string line = "\"Padded\"=hex(1):";
    for (std::size_t at = 0; at < dataSize; ++at) {
        const std::size_t unit = at / 2;
        const char16_t ch = unit < text.size() ? text[unit] : u'\0';
        const unsigned byte = at % 2 == 0 ? (ch & 0xFF) : (ch >> 8);
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        line += (at ? "," : "") + std::string(hex);
    }
    return line + "\n";
}

std::vector<std::string> Scan(const ScanCase& c) {
    CScanFixture fixture(c.registry,
                         ScanFixtureOptions{.is64Bit = c.is64Bit, .searchEmptyKeys = false});
    fixture.Settings().PreferSafetyOverCount = c.preferSafety;
    fixture.MakeFile(u"C:\\Present\\here.dll");
    auto scanner = MakeScanner(c.tree, fixture.Environment());
    EXPECT_EQ(scanner->Scan(), CCategory::kScanDone);
    return Describe(*scanner);
}

constexpr const char* kMissing = "text of IDS_ENG_MISSING_FILE";

TEST(DeepScanTest, ValuesThatNameMissingFiles) {
    const ScanCase cases[] = {
        {"a missing library, under the lower-cased base path",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\App]
            "Library"="C:\\Gone\\lost.dll"
            "Expandable"=hex(2):43,00,3a,00,5c,00,47,00,6f,00,6e,00,65,00,5c,00,78,00,2e,00,\
              65,00,78,00,65,00,00,00
            "Present"="C:\\Present\\here.dll")",
         {"42|HKEY_LOCAL_MACHINE\\software\\Vendor\\App|Expandable|C:\\Gone\\x.exe|" +
              std::string(kMissing) + "C:\\Gone\\x.exe",
          "42|HKEY_LOCAL_MACHINE\\software\\Vendor\\App|Library|C:\\Gone\\lost.dll|" +
              std::string(kMissing) + "C:\\Gone\\lost.dll"}},
        {"a file: address names a file",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "Page"="file:///C:/Gone/page.htm")",
         {"43|HKEY_CURRENT_USER\\Software\\Vendor|Page|file:///C:/Gone/page.htm|" +
          std::string(kMissing) + "file:///C:/Gone/page.htm"}},
        {"the 32-bit view's entries are marked, each view's own path tested",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor]
            "Gone"="C:\\Program Files (x86)\\Vendor\\lost.dll"
            "Present"="C:\\Present\\here.dll")",
         {"42|HKEY_LOCAL_MACHINE\\software\\Vendor|Gone|C:\\Program Files "
          "(x86)\\Vendor\\lost.dll|" +
          std::string(kMissing) + "C:\\Program Files (x86)\\Vendor\\lost.dll|32"}},
        {"a key the 32-bit view reaches through a link is reported once",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Vendor]
            "Library"="C:\\Gone\\lost.dll"
            [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor]
            #link=\Registry\Machine\SOFTWARE\Vendor)",
         {"42|HKEY_LOCAL_MACHINE\\software\\Vendor|Library|C:\\Gone\\lost.dll|" +
          std::string(kMissing) + "C:\\Gone\\lost.dll"}},
        {"a bare program name is tested while safety does not come first",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "Program"="lostprogram.exe")",
         {"43|HKEY_CURRENT_USER\\Software\\Vendor|Program|lostprogram.exe|" +
          std::string(kMissing) + "lostprogram.exe"},
         false},
        {"data of 2044 bytes is examined",
         Tree::User,
         "[HKEY_CURRENT_USER\\Software\\Vendor]\n" + PaddedValue(2044),
         {"43|HKEY_CURRENT_USER\\Software\\Vendor|Padded|C:\\Gone\\padded.dll|" +
          std::string(kMissing) + "C:\\Gone\\padded.dll"}},
        {"the system's installer data is walked while safety does not come first",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\0123]
            "Part"="C:\\Gone\\part.dll")",
         {"42|HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Installer\\"
          "UserData\\S-1-5-18\\Components\\0123|Part|C:\\Gone\\part.dll|" +
          std::string(kMissing) + "C:\\Gone\\part.dll"},
         false},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Scan(c), c.expected);
    }
}

TEST(DeepScanTest, ValuesThatAreNeverReported) {
    const ScanCase cases[] = {
        {"a number named like a path, a path as a value's name",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "C:\\Gone\\counted.dll"=dword:00000001
            "C:\\Gone\\named.dll"="1")",
         {}},
        {"a list of texts",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "List"=hex(7):43,00,3a,00,5c,00,47,00,2e,00,64,00,6c,00,6c,00,00,00,00,00)",
         {}},
        {"a web address",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "Home"="http://example.com/C:\\Gone\\lost.dll")",
         {}},
        {"a bare program name while safety comes first",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "Program"="lostprogram.exe")",
         {}},
        {"a number before a drive-like part",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Vendor]
            "Indexed"="1,C:\\Gone\\indexed.dll"
            "Counted"="12:\\Gone\\counted.dll")",
         {}},
        {"data of 2046 bytes",
         Tree::User,
         "[HKEY_CURRENT_USER\\Software\\Vendor]\n" + PaddedValue(2046),
         {}},
        {"a key below an excluded part of the tree",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\lost.exe]
            @="C:\\Gone\\lost.exe"
            [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21]
            "ProfileImagePath"="C:\\Gone\\profile\\lost.dll")",
         {}},
        {"the user's Wow6432Node",
         Tree::User,
         R"([HKEY_CURRENT_USER\Software\Wow6432Node\Vendor]
            "Library"="C:\\Gone\\lost.dll")",
         {}},
        {"Wow6432Node is an ordinary key on a 32-bit system, and left out",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor]
            "Library"="C:\\Gone\\lost.dll")",
         {},
         true,
         false},
        {"the system's installer data while safety comes first",
         Tree::Machine,
         R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\0123]
            "Part"="C:\\Gone\\part.dll")",
         {}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Scan(c), std::vector<std::string>{});
    }
}

TEST(DeepScanTest, EveryKeyIsOfferedToTheEmptyKeySearch) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\Software\Vendor\Empty]
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor\Empty]
    )");
    CDeepScanCU user(fixture.Environment());
    EXPECT_EQ(user.Scan(), CCategory::kScanDone);
    EXPECT_EQ(Describe(user),
              std::vector<std::string>{"1|HKEY_CURRENT_USER\\Software\\Vendor\\Empty|||text of "
                                       "IDS_EMPTY_KEY;HKEY_CURRENT_USER\\Software\\Vendor\\Empty"});
    CDeepScanLM machine(fixture.Environment());
    EXPECT_EQ(machine.Scan(), CCategory::kScanDone);
    EXPECT_EQ(
        Describe(machine),
        std::vector<std::string>{"1|HKEY_LOCAL_MACHINE\\software\\Vendor\\Empty|||text of "
                                 "IDS_EMPTY_KEY;HKEY_LOCAL_MACHINE\\software\\Vendor\\Empty|32"});
}

TEST(DeepScanTest, AStopDuringTheWalkEndsIt) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\A]
        "File"="C:\\Gone\\a.dll"
        [HKEY_CURRENT_USER\B]
        "File"="C:\\Gone\\b.dll"
        [HKEY_CURRENT_USER\C\Below]
        "File"="C:\\Gone\\c.dll"
        [HKEY_CURRENT_USER\D]
        "File"="C:\\Gone\\d.dll"
    )",
                         ScanFixtureOptions{.searchEmptyKeys = false});
    CManualResetEvent stop;
    // Every second child is shown: A, then C.
    StopAtStatus observer(stop, u"HKEY_CURRENT_USER\\C");
    CDeepScanCU scanner(fixture.Environment());
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    EXPECT_EQ(Describe(scanner), (std::vector<std::string>{
                                     "43|HKEY_CURRENT_USER\\A|File|C:\\Gone\\a.dll|" +
                                         std::string(kMissing) + "C:\\Gone\\a.dll",
                                     "43|HKEY_CURRENT_USER\\B|File|C:\\Gone\\b.dll|" +
                                         std::string(kMissing) + "C:\\Gone\\b.dll",
                                 }));
}

TEST(DeepScanTest, StatusShowsEverySecondChild) {
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\A\A1]
        [HKEY_CURRENT_USER\A\A2]
        [HKEY_CURRENT_USER\A\A3]
        [HKEY_CURRENT_USER\B]
    )",
                         ScanFixtureOptions{.searchEmptyKeys = false});
    CProgressRecorder recorder;
    CDeepScanCU scanner(fixture.Environment());
    scanner.Attach(nullptr, &recorder, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(recorder.status, (std::vector<std::u16string>{
                                   u"Initializing...",
                                   u"HKEY_CURRENT_USER\\A",
                                   u"HKEY_CURRENT_USER\\A\\A1",
                                   u"HKEY_CURRENT_USER\\A\\A3",
                                   u"HKEY_CURRENT_USER\\Software",
                                   u"HKEY_CURRENT_USER\\Software\\Classes",
                               }));
}

TEST(DeepScanTest, CountsTwoLevelsBelowTheStartKey) {
    // HKEY_CURRENT_USER holds A, B and Software (with Classes); A1's child is a third level.
    CScanFixture fixture(R"(
        [HKEY_CURRENT_USER\A\A1\Deep]
        [HKEY_CURRENT_USER\A\A2]
        [HKEY_CURRENT_USER\B]
    )");
    CDeepScanCU scanner(fixture.Environment());
    EXPECT_EQ(scanner.CountItems(), 6);
}

}  // namespace
}  // namespace quillary
