#include "categories/app_paths.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>

#include "start_fixture.h"
#include "support/registry_fixture.h"
#include "targets/memory/registry_tree.h"
#include "targets/memory/wow64_redirection.h"

namespace quillary {
namespace {

using testing::CStartFixture;
using testing::ProblemView;
using testing::StopAtStatus;

constexpr std::string_view kMachineList =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr std::u16string_view kMachineKey =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr std::u16string_view kApplications =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Applications\\";

std::vector<ProblemView> Scan(ScanEnvironment& environment) {
    CAppPaths scanner(environment);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    return testing::ProblemsOf(scanner);
}

ProblemView MissingProgram(std::u16string_view key, std::u16string_view data,
                           std::u16string_view name, bool is32BitEntry = false) {
    ProblemView view{13, std::u16string(key), u"", std::u16string(data), is32BitEntry, {}};
    view.details.emplace_back(name);
    return view;
}

// Wine's 32-bit view: a walk that reaches a key with a Wow6432Node child goes on inside it.
// Unlike 64-bit Windows, Wine keeps the machine's Classes\Applications apart for each view.
class CWineViews final : public IWow64Policy {
public:
    bool Redirects(std::span<const std::u16string_view>, std::span<const std::u16string_view> rest,
                   const CRegistryNode& node) const override {
        if (!rest.empty() && KeyNamesEqual(rest.front(), u"Wow6432Node"))
            return false;
        return node.FindChild(u"Wow6432Node") != nullptr;
    }
};

// The fixture's files, rules and settings over a registry whose 32-bit view is Wine's.
class CWineViewsScan {
public:
    CWineViewsScan(CStartFixture& fixture, std::string_view registryText)
        : registry_(testing::MakeRegistry(registryText, WineOptions())),
          target_{registry_.get(), true, {}},
          references_(fixture.Files(), target_, fixture.Environment().rules, fixture.Settings()),
          environment_{target_,
                       fixture.Files(),
                       fixture.Environment().platform,
                       fixture.Settings(),
                       fixture.Environment().rules,
                       references_,
                       fixture.Environment().exclusions,
                       fixture.Environment().text,
                       fixture.Environment().log} {}

    ScanEnvironment& Environment() { return environment_; }

private:
    static MemoryRegistryOptions WineOptions() {
        MemoryRegistryOptions options;
        options.wow64Policy = std::make_shared<CWineViews>();
        return options;
    }

    std::unique_ptr<CMemoryRegistry> registry_;
    RegistryTarget target_;
    CFileReferenceResolver references_;
    ScanEnvironment environment_;
};

TEST(AppPathsTest, EachKindOfApplicationPathKey) {
    const std::u16string tool = std::u16string(kMachineKey) + u"tool.exe";
    // One key "tool.exe" per case; the rows differ only in what it holds.
    struct {
        const char* why;
        std::string body;
        std::vector<ProblemView> expected;
    } cases[] = {
        // A program named by the default value.
        {"a missing program",
         "@=\"C:\\\\Gone\\\\tool.exe\"\n",
         {MissingProgram(tool, u"C:\\Gone\\tool.exe", u"tool.exe")}},
        {"a quoted existing program with arguments",
         "@=\"\\\"C:\\\\Program Files\\\\Kept\\\\tool.exe\\\" /x\"\n",
         {}},
        {"a default value too long to read is not judged",
         "@=\"C:\\\\" + std::string(300, 'g') + ".exe\"\n",
         {}},
        {"a default value that is not text is not judged", "@=dword:00000001\n", {}},

        // No program named: the Path value names the folder of the program "tool.exe".
        {"the Path folder lacks the program",
         "@=\"\"\n\"Path\"=\"C:\\\\Gone\"\n",
         {MissingProgram(tool, u"C:\\Gone\\tool.exe", u"tool.exe")}},
        {"a Path folder written with a final backslash gets no second one",
         "@=\"\"\n\"Path\"=\"C:\\\\Gone\\\\\"\n",
         {MissingProgram(tool, u"C:\\Gone\\tool.exe", u"tool.exe")}},
        {"the Path folder holds the program",
         "@=\"\"\n\"Path\"=\"C:\\\\Program Files\\\\Kept\"\n",
         {}},
        {"a Path list of folders is not judged",
         "@=\"\"\n\"Path\"=\"C:\\\\Gone;C:\\\\Also Gone\"\n",
         {}},
        {"a blank Path names no folder", "@=\"\"\n\"Path\"=\" \"\n", {}},

        // Keys without content.
        {"an empty default value and nothing else",
         "@=\"\"\n",
         {{1, tool, u"", u"", false, {u"tool.exe", u"tool.exe"}}}},
        {"an empty default value and a subkey",
         "@=\"\"\n" + std::string(kMachineList) + "\\tool.exe\\Sub]\n\"x\"=\"1\"\n",
         {}},
        {"no values at all", "", {{14, tool, u"", u"", false, {u"tool.exe"}}}},
        {"no values at all, whatever the subkeys hold",
         std::string(kMachineList) + "\\tool.exe\\Sub]\n\"x\"=\"1\"\n",
         {{14, tool, u"", u"", false, {u"tool.exe"}}}},
        {"no default value, but another value", "\"UseUrl\"=dword:00000001\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CStartFixture fixture(std::string(kMachineList) + "\\tool.exe]\n" + c.body);
        fixture.MakeFile(u"C:\\Program Files\\Kept\\tool.exe");
        EXPECT_EQ(Scan(fixture.Environment()), c.expected);
    }
}

// The browser registrations of a fresh prefix, as wineboot writes them (the 32-bit view of App
// Paths is a link to the 64-bit key), and one of the same shape for another program of Wine.
constexpr std::string_view kWineRegistrations = R"(
    [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\iexplore.exe]
    @="C:\\Program Files\\Internet Explorer\\iexplore.exe"
    "Path"="C:\\Program Files\\Internet Explorer;"
    [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\notepad.exe]
    @="C:\\windows\\notepad.exe"
    [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths]
    #link=\Registry\Machine\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths
    [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\iexplore.exe\shell\open\command]
    @="\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" %1"
)";

TEST(AppPathsTest, WinesOwnRegistrationsAreFineWhileTheirProgramsExist) {
    CStartFixture fixture("");
    fixture.MakeFile(u"C:\\Program Files\\Internet Explorer\\iexplore.exe");
    fixture.MakeFile(u"C:\\windows\\notepad.exe");
    CWineViewsScan wine(fixture, kWineRegistrations);
    EXPECT_EQ(Scan(wine.Environment()), std::vector<ProblemView>{});

    // Without its program an entry is reported, once although both views reach it.
    CStartFixture withoutNotepad("");
    withoutNotepad.MakeFile(u"C:\\Program Files\\Internet Explorer\\iexplore.exe");
    CWineViewsScan removed(withoutNotepad, kWineRegistrations);
    EXPECT_EQ(
        Scan(removed.Environment()),
        (std::vector<ProblemView>{MissingProgram(std::u16string(kMachineKey) + u"notepad.exe",
                                                 u"C:\\windows\\notepad.exe", u"notepad.exe")}));
}

TEST(AppPathsTest, ListsOfTheUserAndOfEachView) {
    // Where a prefix keeps what 64-bit and 32-bit installers register: both views reach the
    // machine's App Paths through a link, while the applications are kept apart.
    constexpr std::string_view kRegistry = R"(
        [HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\mine.exe]
        @="C:\\Gone\\mine.exe"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\both.exe]
        @="C:\\Gone\\both.exe"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths]
        #link=\Registry\Machine\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\wide.exe\shell\open\command]
        @="C:\\Gone\\wide.exe %1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\Applications\narrow.exe\shell\open\command]
        @="C:\\Gone\\narrow.exe %1"
    )";
    const std::u16string user =
        u"HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\mine.exe";
    const std::u16string applications(kApplications);

    // The 32-bit view's problems are 32-bit entries, their keys written without Wow6432Node.
    CStartFixture fixture("");
    CWineViewsScan wine(fixture, kRegistry);
    CAppPaths scanner(wine.Environment());
    EXPECT_EQ(scanner.CountItems(), 5);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanDone);
    EXPECT_EQ(
        testing::ProblemsOf(scanner),
        (std::vector<ProblemView>{
            MissingProgram(std::u16string(kMachineKey) + u"both.exe", u"C:\\Gone\\both.exe",
                           u"both.exe"),
            MissingProgram(user, u"C:\\Gone\\mine.exe", u"mine.exe"),
            MissingProgram(applications + u"narrow.exe\\", u"C:\\Gone\\narrow.exe %1",
                           u"narrow.exe", true),
            MissingProgram(applications + u"wide.exe\\", u"C:\\Gone\\wide.exe %1", u"wide.exe"),
        }));

    // A system with one view has no redirection: the Wow6432Node keys are keys nobody reads.
    CStartFixture single(kRegistry, testing::ProfileFolders(), false);
    EXPECT_EQ(
        Scan(single.Environment()),
        (std::vector<ProblemView>{
            MissingProgram(std::u16string(kMachineKey) + u"both.exe", u"C:\\Gone\\both.exe",
                           u"both.exe"),
            MissingProgram(user, u"C:\\Gone\\mine.exe", u"mine.exe"),
            MissingProgram(applications + u"wide.exe\\", u"C:\\Gone\\wide.exe %1", u"wide.exe"),
        }));
}

TEST(AppPathsTest, EmptyKeysFollowTheSettingOnlyOnA32BitSystem) {
    const std::string text = std::string(kMachineList) + "\\hollow.exe]\n" +
                             std::string(kMachineList) + "\\blank.exe]\n@=\"\"\n";
    for (bool is64Bit : {false, true}) {
        SCOPED_TRACE(is64Bit ? "64-bit" : "32-bit");
        CStartFixture fixture(text, testing::ProfileFolders(), is64Bit);
        fixture.Settings().SetChkSkipEmptyKeys = 1;
        EXPECT_EQ(Scan(fixture.Environment()).size(), is64Bit ? 2u : 0u);
        fixture.Settings().SetChkSkipEmptyKeys = 0;
        EXPECT_EQ(Scan(fixture.Environment()).size(), 2u);
    }
}

TEST(AppPathsTest, ApplicationCommandsNameTheSmallestKeyThatHoldsThem) {
    CStartFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\one.exe\shell\open\command]
        @="\"C:\\Gone\\one.exe\" \"%1\""
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\two.exe\shell\edit\command]
        @="C:\\Gone\\two.exe %1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\two.exe\shell\view\command]
        @="C:\\Program Files\\Kept\\tool.exe %1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\three.exe\shell\edit\command]
        @="C:\\Gone\\three.exe %1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\three.exe\shell\edit\ddeexec]
        @="[edit]"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\four.exe\shell\open\command]
        @="C:\\Gone\\four.exe %1"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\four.exe\SupportedTypes]
        ".txt"=""
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\kept.exe\shell\open\command]
        @="C:\\Program Files\\Kept\\tool.exe %1"
    )");
    fixture.MakeFile(u"C:\\Program Files\\Kept\\tool.exe");
    const std::u16string applications(kApplications);
    EXPECT_EQ(Scan(fixture.Environment()),
              (std::vector<ProblemView>{
                  // Another part of the application: the verb goes.
                  MissingProgram(applications + u"four.exe\\shell\\open", u"C:\\Gone\\four.exe %1",
                                 u"four.exe"),
                  // Nothing else: the whole application goes.
                  MissingProgram(applications + u"one.exe\\", u"\"C:\\Gone\\one.exe\" \"%1\"",
                                 u"one.exe"),
                  // The verb holds more than its command: only the command goes. (A verb
                  // "open" would put "\open\" in the key, which the built-in key rules never
                  // report.)
                  MissingProgram(applications + u"three.exe\\shell\\edit\\command",
                                 u"C:\\Gone\\three.exe %1", u"three.exe"),
                  // Another verb: the verb goes.
                  MissingProgram(applications + u"two.exe\\shell\\edit", u"C:\\Gone\\two.exe %1",
                                 u"two.exe"),
              }));
}

TEST(AppPathsTest, StopsBetweenEntries) {
    CStartFixture fixture(R"(
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\a.exe]
        @="C:\\Gone\\a.exe"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\b.exe]
        @="C:\\Gone\\b.exe"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\c.exe]
        @="C:\\Gone\\c.exe"
        [HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Applications\d.exe\shell\open\command]
        @="C:\\Gone\\d.exe"
    )");
    CManualResetEvent stop;
    StopAtStatus observer(stop, u"Application Paths: b.exe");
    CAppPaths scanner(fixture.Environment());
    scanner.Attach(&stop, &observer, nullptr);
    EXPECT_EQ(scanner.Scan(), CCategory::kScanStopped);
    // The entry being looked at when the stop came is finished; nothing after it is.
    EXPECT_EQ(
        testing::ProblemsOf(scanner),
        (std::vector<ProblemView>{
            MissingProgram(std::u16string(kMachineKey) + u"a.exe", u"C:\\Gone\\a.exe", u"a.exe"),
            MissingProgram(std::u16string(kMachineKey) + u"b.exe", u"C:\\Gone\\b.exe", u"b.exe"),
        }));
}

}  // namespace
}  // namespace quillary
