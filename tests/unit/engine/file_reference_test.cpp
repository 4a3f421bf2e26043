#include "engine/file_reference.h"

#include <gtest/gtest.h>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {
namespace {

class ProtectsOneFile : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
        return std::nullopt;
    }
    bool SfcIsFileProtected(std::u16string_view path) override {
        return EqualsNoCase(path, u"c:\\windows\\system32\\protected.dll");
    }
};

// A 64-bit target: C: a small Windows tree, D: a CD-ROM, PATH with C:\tools, and an App
// Paths entry for viewer.exe.
class FileReferenceTest : public ::testing::Test {
protected:
    FileReferenceTest() {
        for (const char* file :
             {"windows/system32/shell32.dll", "windows/system32/notepad.exe",
              "windows/syswow64/wow.dll", "windows/regedit.exe", "Program Files/App/app.exe",
              "Program Files/App/data file.bin", "Program Files (x86)/Old/old.exe",
              "tools/tool.exe", "tools/runme"}) {
            folder_.Write(std::string("c/") + file, "MZ");
        }
        folder_.MakeFolder("d");
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "c", DriveFixed, {}},
                        {u'D', folder_.Path() / "d", DriveCdRom, {}}};
        setup.environment.Set(u"SystemRoot", u"C:\\windows");
        setup.environment.Set(u"ProgramFiles", u"C:\\Program Files");
        setup.environment.Set(u"PATH", u"C:\\tools");
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        registry_ = testing::MakeRegistry(R"(
            [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\viewer.exe]
            @="C:\\Program Files\\App\\app.exe"
        )");
        target_ = {registry_.get(), true, {}};
        rules_ = std::make_unique<CBuiltinRules>(*files_, protection_, platform_, settings_);
        resolver_ = std::make_unique<CFileReferenceResolver>(*files_, target_, *rules_, settings_);
    }

    bool IsValid(std::u16string_view text, FileReferenceOptions options) {
        return resolver_->FileReferenceIsValid(kSystemDirectory, text, options);
    }

    static constexpr std::u16string_view kSystemDirectory = u"C:\\windows\\system32\\";
    testing::CTempFolder folder_;
    std::unique_ptr<CMappedFileSystem> files_;
    std::unique_ptr<CMemoryRegistry> registry_;
    RegistryTarget target_;
    ProtectsOneFile protection_;
    testing::FakePlatformQueries platform_;
    SettingsValues settings_;
    std::unique_ptr<CBuiltinRules> rules_;
    std::unique_ptr<CFileReferenceResolver> resolver_;
};

TEST_F(FileReferenceTest, ExtractValuePathLeavesThePathAlone) {
    struct {
        std::u16string_view value;
        std::u16string_view path;
    } cases[] = {
        {u"  \"C:\\Program Files\\App\\app.exe\" /s  ", u"C:\\Program Files\\App\\app.exe"},
        {u"\"\"C:\\a b\\c.dat\"", u"C:\\a b\\c.dat"},
        {u"C:\\windows\\system32\\shell32.dll,-152", u"C:\\windows\\system32\\shell32.dll"},
        {u"C:\\PROGRAM FILES\\APP\\APP.EXE -x", u"C:\\PROGRAM FILES\\APP\\APP.EXE"},
        {u"C:\\data\\file.txt,1", u"C:\\data\\file.txt"},  // resource index after the extension
        {u"C:\\data,1\\file", u"C:\\data,1\\file"},        // a comma in a folder stays
        {u"C:\\data\\run.bat /q", u"C:\\data\\run.bat"},
        {u"app arg\\x", u"app"},  // a blank before the first backslash ends the path
        {u"%SystemRoot%\\system32\\x.ocx", u"C:\\windows\\system32\\x.ocx"},
        {u"%Undefined%\\x.cpl", u"%Undefined%\\x.cpl"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.value));
        EXPECT_EQ(resolver_->ExtractValuePath(c.value), c.path);
    }
}

TEST_F(FileReferenceTest, ProbeFindsAFileAtTheStartOfACommandLine) {
    struct {
        std::u16string_view text;
        int found;
    } cases[] = {
        {u"C:\\Program Files\\App\\app.exe -s -x", 1},
        {u"\"C:\\Program Files\\App\\app.exe\" -s", 1},
        {u"C:\\Program Files\\App\\gone.exe -s", -1},
        {u"C:\\windows", 0},  // a folder
        {u"no drive in here.exe", 0},
        {u"C:\\tools\\runme\\COM1", 1},  // "runme" is a file before the device name
        {u"C:\\gone\\COM1", 0},          // no file, and a device name is never one
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(resolver_->FileExists(c.text), c.found);
    }
}

TEST_F(FileReferenceTest, VerdictsOnEveryShapeOfReference) {
    FileReferenceOptions plain;
    FileReferenceOptions safe;
    safe.builtinFileExclusions = true;
    safe.safetyList = true;
    FileReferenceOptions entry32 = safe;
    entry32.is32BitEntry = true;

    struct {
        const char* why;
        std::u16string_view text;
        const FileReferenceOptions& options;
        bool valid;
    } cases[] = {
        {"existing program", u"C:\\Program Files\\App\\app.exe", plain, true},
        {"missing program", u"C:\\Program Files\\App\\gone.exe", plain, false},
        {"quoted with a switch", u"\"C:\\Program Files\\App\\app.exe\" /s", plain, true},
        {"switch without quotes", u"C:\\Program Files\\App\\app.exe /s", plain, true},
        {"missing, with a switch", u"C:\\Program Files\\App\\gone.exe /s", plain, false},
        {"resource index", u"C:\\windows\\system32\\shell32.dll,-152", plain, true},
        {"missing, resource index", u"C:\\windows\\system32\\gone.dll,-152", plain, false},
        {"@ and a variable", u"@%SystemRoot%\\system32\\shell32.dll,-21", plain, true},
        {"@, missing", u"@%SystemRoot%\\system32\\gone.dll,-21", plain, false},
        {"variable", u"%ProgramFiles%\\App\\app.exe", plain, true},
        {"variable, missing", u"%ProgramFiles%\\App\\gone.exe", plain, false},
        // rundll32 lines judge the library they run.
        {"rundll32", u"rundll32.exe C:\\windows\\system32\\shell32.dll,Control_RunDLL", plain,
         true},
        {"rundll32, missing", u"rundll32.exe C:\\gone\\x.dll,Entry", plain, false},
        {"rundll32, library by name", u"rundll32.exe gone.dll,Entry shell32.dll,x", plain, true},
        // URLs: only res:// and file:// name files.
        {"web URL", u"http://example.com/gone.exe", plain, true},
        {"file URL", u"file:///C:/Program Files/App/app.exe", plain, true},
        {"file URL, missing", u"file:///C:/Program Files/App/gone.exe", plain, false},
        {"side-by-side", u"Microsoft.Windows.Common-Controls, version=6.0.0.0, type=win32", plain,
         true},
        {"side-by-side with a token", u"x, version=1, type=win32, publicKeyToken=6595b64144ccf1df",
         plain, true},
        {"wildcards", u"C:\\gone\\*.*", plain, true},
        {"a list", u"C:\\gone\\a.exe;C:\\gone\\b.exe", plain, true},
        {"network path, not tested", u"\\\\server\\share\\gone.exe", safe, true},
        {"short", u"x.y", plain, true},
        {"relative to the folder", u".\\gone.exe", plain, true},
        // The safety list and the built-in file rules keep references out.
        {"safety list", u"C:\\Program Files\\Common Files\\Adobe\\gone.dll", safe, true},
        {"safety list off", u"C:\\Program Files\\Common Files\\Adobe\\gone.dll", plain, false},
        {"built-in file rule", u"C:\\Program Files\\Gone\\unins000.exe", safe, true},
        {"protected by the system", u"C:\\windows\\system32\\protected.dll", plain, true},
        // 64-bit views: the other view's system and program folders count.
        {"64-bit entry through syswow64", u"C:\\windows\\syswow64\\notepad.exe", safe, true},
        {"32-bit entry in Program Files", u"C:\\Program Files\\Old\\old.exe", entry32, true},
        {"removable drive", u"D:\\setup\\gone.exe", plain, true},
        // Bare names are looked for on the search path, in App Paths and the system folders.
        {"on PATH", u"tool.exe", plain, true},
        {"system folder", u"notepad.exe", plain, true},
        {"syswow64", u"wow.dll", plain, true},
        {"App Paths", u"viewer.exe", plain, true},
        {"not anywhere", u"gone.exe", plain, false},
        {"not a program", u"readme.txt", plain, true},
        {"folder and name", u"sub\\gone.exe", plain, false},
        {"forward slashes", u"sub/gone.exe", plain, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.why) + ": " + Utf16ToUtf8(c.text));
        EXPECT_EQ(IsValid(c.text, c.options), c.valid);
    }
}

TEST_F(FileReferenceTest, ArgumentWalkTestsEveryArgument) {
    FileReferenceOptions arguments;
    arguments.testArguments = true;
    struct {
        std::u16string_view text;
        bool valid;
    } cases[] = {
        {u"\"C:\\Program Files\\App\\app.exe\" -flag", true},
        {u"\"C:\\Program Files\\App\\gone.exe\" -flag", false},  // the quoted program
        {u"\"C:\\Program Files\\App\\app.exe\" C:\\gone\\data.bin", false},
        {u"\"C:\\Program Files\\App\\app.exe\" \"C:\\Program Files\\App\\data file.bin\"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(IsValid(c.text, arguments), c.valid);
    }
}

// A value made of many rundll32 words must not make the test run for ever.
TEST_F(FileReferenceTest, VerdictsLastUntilForgotten) {
    // A scan asks about one library for many registrations; the next scan asks anew.
    const FileReferenceOptions options;
    EXPECT_FALSE(IsValid(u"C:\\Later\\late.dll", options));
    folder_.Write("c/Later/late.dll", "MZ");
    files_->ClearCache();
    EXPECT_FALSE(IsValid(u"C:\\Later\\late.dll", options));
    // Other options are another question.
    EXPECT_TRUE(IsValid(u"C:\\Later\\late.dll", {.is32BitEntry = true}));
    resolver_->ForgetVerdicts();
    EXPECT_TRUE(IsValid(u"C:\\Later\\late.dll", options));
}

TEST_F(FileReferenceTest, NestedRunDll32LinesEnd) {
    std::u16string line;
    for (int i = 0; i < 200; ++i)
        line += u"rundll32.exe ";
    EXPECT_FALSE(IsValid(line + u"C:\\gone\\x.dll,Entry", {}));
    EXPECT_TRUE(IsValid(line + u"C:\\windows\\system32\\shell32.dll,Entry", {}));
}

}  // namespace
}  // namespace quillary
