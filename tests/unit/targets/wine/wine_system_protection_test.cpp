#include "targets/wine/wine_system_protection.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "support/temp_folder.h"

namespace quillary {
namespace {

std::string PeHeaderWithStub(std::string_view stub) {
    std::string bytes = "MZ";
    bytes.resize(0x40, '\0');
    bytes += stub;
    bytes.resize(0x200, '\0');
    return bytes;
}

TEST(WineSystemProtectionTest, WinesOwnFilesCarryItsMark) {
    testing::CTempFolder folder;
    folder.Write("drive_c/windows/system32/kernel32.dll", PeHeaderWithStub("Wine builtin DLL"));
    folder.Write("drive_c/windows/system32/stand-in.dll", PeHeaderWithStub("Wine placeholder DLL"));
    folder.Write("drive_c/windows/system32/vendor.dll",
                 PeHeaderWithStub("This program cannot be run in DOS mode."));
    folder.Write("drive_c/windows/system32/notes.txt", std::string(0x40, ' ') + "Wine builtin DLL");
    folder.Write("drive_c/windows/system32/short.dll", "MZ");
    MappedFileSystemSetup setup;
    setup.drives = {{u'C', folder.Path() / "drive_c", DriveFixed, {}}};
    CMappedFileSystem files(std::move(setup));
    CWineSystemProtection protection(files);

    struct {
        std::u16string_view path;
        bool isProtected;
    } cases[] = {
        {u"C:\\WINDOWS\\system32\\KERNEL32.DLL", true},
        {u"C:\\windows\\system32\\stand-in.dll", true},
        {u"C:\\windows\\system32\\vendor.dll", false},
        {u"C:\\windows\\system32\\notes.txt", false},  // not a program
        {u"C:\\windows\\system32\\short.dll", false},
        {u"C:\\windows\\system32\\missing.dll", false},
        {u"C:\\windows\\system32", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        EXPECT_EQ(protection.SfcIsFileProtected(c.path), c.isProtected);
    }
    EXPECT_FALSE(protection.SfcIsKeyProtected(HKeyLocalMachine, u"Software", KeyReadWrite));
}

}  // namespace
}  // namespace quillary
