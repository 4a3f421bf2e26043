#include "categories/shared_files.h"

#include <gtest/gtest.h>

#include "start_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;
using testing::ProblemView;
using testing::StopAtStatus;

constexpr std::u16string_view kShared =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr std::u16string_view kApproved =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell "
    u"Extensions\\Approved";

// Language texts read "text of <identifier> %s", so the filled placeholder shows.
CScanFixture MakeFixture(std::string_view registryText, bool is64Bit = true) {
    return CScanFixture(registryText,
                        testing::ScanFixtureOptions{.is64Bit = is64Bit, .textSuffix = u" %s"});
}

std::vector<ProblemView> Scan(CScanFixture& fixture) {
    CSharedFiles scanner(fixture.Environment());
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    return testing::ProblemsOf(scanner);
}

ProblemView MissingLibrary(std::u16string_view path, std::u16string_view file,
                           std::u16string_view folder, bool is32BitEntry = false) {
    return {33,
            std::u16string(kShared),
            std::u16string(path),
            u"",
            is32BitEntry,
            {u"text of IDS_MISSING_SHARED_FILE " + std::u16string(file), std::u16string(folder)}};
}

ProblemView UnregisteredExtension(std::u16string_view clsid, std::u16string_view description,
                                  bool is32BitEntry = false) {
    return {33,
            std::u16string(kApproved),
            std::u16string(clsid),
            u"",
            is32BitEntry,
            {u"text of IDS_MISSING_SHARED_FILE " + std::u16string(description),
             std::u16string(description)}};
}

TEST(SharedFilesTest, LibrariesAndExtensionsInBothViews) {
    // Value names of 225 and 226 characters: only the first is judged.
    const std::string longest = "C:\\\\" + std::string(218, 'x') + ".dll";
    const std::string tooLong = "C:\\\\" + std::string(219, 'x') + ".dll";
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Program Files\\Common Files\\Vendor\\gone.dll"=dword:00000001
        "C:\\Program Files\\Common Files\\Vendor\\kept.dll"=dword:00000002
        "nowhere.dll"=dword:00000001
        ")" + longest + R"("=dword:00000001
        ")" + tooLong + R"("=dword:00000001
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Program Files (x86)\\Vendor\\gone32.dll"=dword:00000001
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved]
        "{11111111-0000-4000-8000-000000000001}"="Gone Extension"
        "{11111111-0000-4000-8000-000000000032}"="Registered for 32-bit programs"
        "NotAClass"="Never tested"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved]
        "{11111111-0000-4000-8000-000000000064}"="Registered for 64-bit programs"
        "{11111111-0000-4000-8000-000000000002}"="Gone 32-bit Extension"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\CLSID\{11111111-0000-4000-8000-000000000032}]
        @="Thirty-two"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{11111111-0000-4000-8000-000000000064}]
        @="Sixty-four"
    )");
    fixture.MakeFile(u"C:\\Program Files\\Common Files\\Vendor\\kept.dll");
    const std::u16string longestPath = u"C:\\" + std::u16string(218, u'x') + u".dll";
    ASSERT_EQ(longestPath.size(), 225u);
    EXPECT_EQ(
        Scan(fixture),
        (std::vector<ProblemView>{
            UnregisteredExtension(u"{11111111-0000-4000-8000-000000000002}",
                                  u"Gone 32-bit Extension", true),
            UnregisteredExtension(u"{11111111-0000-4000-8000-000000000001}", u"Gone Extension"),
            MissingLibrary(u"C:\\Program Files\\Common Files\\Vendor\\gone.dll", u"gone.dll",
                           u"C:\\Program Files\\Common Files\\Vendor"),
            MissingLibrary(u"C:\\Program Files (x86)\\Vendor\\gone32.dll", u"gone32.dll",
                           u"C:\\Program Files (x86)\\Vendor", true),
            // A name without a folder has an empty second line.
            MissingLibrary(u"nowhere.dll", u"nowhere.dll", u""),
            MissingLibrary(longestPath, longestPath.substr(3), u"C:"),
        }));
}

TEST(SharedFilesTest, AKeyBothViewsReachIsReportedOnce) {
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Vendor\\gone.dll"=dword:00000001
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs]
        #link=\Registry\Machine\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs
    )");
    EXPECT_EQ(Scan(fixture),
              (std::vector<ProblemView>{
                  MissingLibrary(u"C:\\Vendor\\gone.dll", u"gone.dll", u"C:\\Vendor"),
              }));
}

TEST(SharedFilesTest, OneViewOnA32BitSystem) {
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Vendor\\gone.dll"=dword:00000001
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Vendor\\unread.dll"=dword:00000001
    )",
                                       false);
    CSharedFiles scanner(fixture.Environment());
    EXPECT_EQ(scanner.CountItems(), 1);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(testing::ProblemsOf(scanner),
              (std::vector<ProblemView>{
                  MissingLibrary(u"C:\\Vendor\\gone.dll", u"gone.dll", u"C:\\Vendor"),
              }));
}

TEST(SharedFilesTest, WithoutSharedLibrariesNothingIsExamined) {
    const char* const approved = R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved]
        "{11111111-0000-4000-8000-000000000001}"="Gone Extension"
    )";
    struct {
        const char* why;
        std::string registry;
    } cases[] = {
        {"an empty list",
         std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                     "SharedDLLs]\n") +
             approved},
        // A fresh prefix has no list at all.
        {"no list", approved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CScanFixture fixture = MakeFixture(c.registry);
        EXPECT_EQ(Scan(fixture), std::vector<ProblemView>{});
    }
}

TEST(SharedFilesTest, StopsBetweenLibraries) {
    CScanFixture fixture = MakeFixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
        "C:\\Gone\\a.dll"=dword:00000001
        "C:\\Gone\\b.dll"=dword:00000001
        "C:\\Gone\\c.dll"=dword:00000001
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved]
        "{11111111-0000-4000-8000-000000000001}"="Gone Extension"
    )");
    CManualResetEvent stop;
    StopAtStatus observer(stop, u"Shared DLL: C:\\Gone\\b.dll");
    CSharedFiles scanner(fixture.Environment());
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    // The library being looked at when the stop came is finished; nothing after it is.
    EXPECT_EQ(testing::ProblemsOf(scanner),
              (std::vector<ProblemView>{
                  MissingLibrary(u"C:\\Gone\\a.dll", u"a.dll", u"C:\\Gone"),
                  MissingLibrary(u"C:\\Gone\\b.dll", u"b.dll", u"C:\\Gone"),
              }));
}

}  // namespace
}  // namespace quillary
