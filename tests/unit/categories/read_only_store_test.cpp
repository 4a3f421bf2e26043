// Scanners only read: a store that refuses every change (a Wine prefix while Wine runs for it,
// or while one of its files is damaged) is scanned as fully as one that may be written.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "categories/activex.h"
#include "categories/shortcuts.h"
#include "categories/start_menu.h"
#include "categories/startup.h"
#include "start_fixture.h"

namespace quillary {
namespace {

using testing::CStartFixture;
using testing::ProblemView;

// Something for each scanner to find, among them the kinds only a deeper look finds: values of
// Run keys, the order keys' subkeys, and the parts of a class, a type library and an
// interface. $L is a class, a type library and an interface at once, so that the empty key
// below it is reported.
constexpr std::string_view kRegistry = R"(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"Gone"="C:\\Gone\\gone.exe"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run-]
"Off"="C:\\Gone\\off.exe"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"Native"="C:\\Gone\\native.exe"
[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"Wow"="C:\\Gone\\wow.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Common Programs"="C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Programs"="C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Games]
"Order"=hex:08,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Larkspur]

[HKEY_CLASSES_ROOT\CLSID\{C1A55000-0000-4000-8000-000000000001}]
@="Brush"
"AppID"="{A9900000-0000-4000-8000-000000000001}"
[HKEY_CLASSES_ROOT\CLSID\{C1A55000-0000-4000-8000-000000000001}\InprocServer32]
@="C:\\Acme\\brush.dll"
[HKEY_CLASSES_ROOT\CLSID\{C1A55000-0000-4000-8000-000000000001}\DefaultIcon]
@="C:\\Acme\\brush.ico"
[HKEY_CLASSES_ROOT\CLSID\{C1A55000-0000-4000-8000-000000000001}\ToolboxBitmap32]
@="C:\\Acme\\brush.bmp"
[HKEY_CLASSES_ROOT\CLSID\{C1A55000-0000-4000-8000-000000000001}\ShellEx\ContextMenuHandlers\{C1A55000-0000-4000-8000-0000000000AA}]
[HKEY_CLASSES_ROOT\CLSID\{11B00000-0000-4000-8000-000000000001}]
@="Thing"
[HKEY_CLASSES_ROOT\TypeLib\{11B00000-0000-4000-8000-000000000001}\1.0]
@="Acme Library"
[HKEY_CLASSES_ROOT\TypeLib\{11B00000-0000-4000-8000-000000000001}\1.0\0\win32]
@="C:\\Acme\\acme.tlb"
[HKEY_CLASSES_ROOT\TypeLib\{11B00000-0000-4000-8000-000000000001}\1.0\0\Extra]
[HKEY_CLASSES_ROOT\TypeLib\{11B00000-0000-4000-8000-000000000001}\1.0\HELPDIR]
@="C:\\Acme\\help"
[HKEY_CLASSES_ROOT\Interface\{11B00000-0000-4000-8000-000000000001}]
@="IThing"
[HKEY_CLASSES_ROOT\Interface\{1F000000-0000-4000-8000-000000000001}]
@="IBrush"
[HKEY_CLASSES_ROOT\Interface\{1F000000-0000-4000-8000-000000000001}\ProxyStubClsid32]
@="{C1A55000-0000-4000-8000-0000000000AA}"
)";

constexpr std::u16string_view kCommonPrograms =
    u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
constexpr std::u16string_view kUserPrograms =
    u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";

// Marks every key of the tree so that any open asking for a right to change it is refused, as
// a prefix's store refuses them while it may not be written.
void RefuseChangesEverywhere(CRegistryNode& node) {
    node.denial = AccessDenial::Write;
    for (std::size_t index = 0; index < node.ChildCount(); ++index)
        RefuseChangesEverywhere(*node.ChildAt(index));
}

struct ScannerCase {
    const char* name;
    bool is64Bit;
    std::function<std::unique_ptr<CCategory>(CStartFixture&)> make;
    std::size_t found;  // in the store that may be written
};

std::vector<ProblemView> Scan(const ScannerCase& c, bool refuseChanges) {
    CStartFixture fixture(kRegistry, testing::ProfileFolders(), c.is64Bit);
    fixture.Settings().SetChkSkipEmptyKeys = 0;
    fixture.MakeFolder(kCommonPrograms);
    fixture.MakeFolder(std::u16string(kUserPrograms) + u"Larkspur");
    fixture.MakeShortcut(std::u16string(kUserPrograms) + u"Fernpad.lnk", u"C:\\Gone\\fernpad.exe");
    fixture.MakeShortcut(u"C:\\users\\demo\\Desktop\\Quartz.lnk", u"C:\\Gone\\quartz.exe");
    if (refuseChanges) {
        RefuseChangesEverywhere(fixture.Registry().Tree());
        RegKey probe(fixture.Registry());
        EXPECT_EQ(probe.Open(HKeyCurrentUser, u"Software", kMaskReadWrite), ErrorAccessDenied);
    }
    std::unique_ptr<CCategory> scanner = c.make(fixture);
    EXPECT_EQ(scanner->Scan(), CCategory::kScanDone);
    return testing::ProblemsOf(*scanner);
}

TEST(ReadOnlyStoreTest, EveryScannerFindsWhatItFindsInAStoreThatMayBeWritten) {
    const auto activeX = [](CStartFixture& f) {
        return std::make_unique<CActiveX>(f.Environment());
    };
    const auto shortcuts = [](CStartFixture& f) {
        return std::make_unique<CShortcuts>(f.Environment(), f.Links());
    };
    const auto startMenu = [](CStartFixture& f) {
        return std::make_unique<CStartMenu>(f.Environment(), f.Links());
    };
    const auto startup = [](CStartFixture& f) {
        return std::make_unique<CStartup>(f.Environment());
    };
    const ScannerCase cases[] = {
        {"ActiveX, one view", false, activeX, 9},
        {"ActiveX, two views", true, activeX, 8},
        {"shortcuts", true, shortcuts, 1},
        {"Start menu", true, startMenu, 3},
        {"startup", true, startup, 4},
    };
    for (const ScannerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ProblemView> writable = Scan(c, false);
        EXPECT_EQ(writable.size(), c.found);
        EXPECT_EQ(Scan(c, true), writable);
    }
}

}  // namespace
}  // namespace quillary
