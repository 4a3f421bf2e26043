#include "engine/builtin_rules.h"

#include <gtest/gtest.h>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "support/fake_platform_queries.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {
namespace {

class FakeProtection : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view subKey,
                                          RegSam access) override {
        askedAccess = access;
        if (!hasKeyFunction)
            return std::nullopt;
        return subKey == u"Software\\Protected";
    }
    bool SfcIsFileProtected(std::u16string_view path) override {
        return path == u"C:\\windows\\system32\\kernel32.dll";
    }
    bool hasKeyFunction = true;
    RegSam askedAccess = 0;
};

class BuiltinRulesTest : public ::testing::Test {
protected:
    BuiltinRulesTest() {
        folder_.MakeFolder("drive_c/users/me/AppData/Roaming/Microsoft/Windows/Network Shortcuts");
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "drive_c", DriveFixed, {}}};
        setup.specialFolders[CsidlNetHood] =
            u"C:\\users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts";
        setup.specialFolders[CsidlNetwork] = u"C:\\users\\me\\Network";  // does not exist
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        rules_ = std::make_unique<CBuiltinRules>(*files_, protection_, platform_, settings_);
    }

    testing::CTempFolder folder_;
    std::unique_ptr<CMappedFileSystem> files_;
    FakeProtection protection_;
    testing::FakePlatformQueries platform_;
    SettingsValues settings_;
    std::unique_ptr<CBuiltinRules> rules_;
};

TEST_F(BuiltinRulesTest, ListsHoldEveryEntryInBuildOrder) {
    std::span<const std::u16string> keys = rules_->KeyRules();
    ASSERT_EQ(keys.size(), 1351u);
    EXPECT_EQ(keys.front(), u"{53362c32-a296-4f2d-a2f8-fd984d08340b}");
    EXPECT_EQ(keys[2], u"e6155314c16a}");
    EXPECT_EQ(keys[7], u"midfile");
    EXPECT_EQ(keys.back(), u"{3f3a5945-b6e6-ce43-d3e9-29992210a498}");

    // Group A, group B, then the NetHood folder (the Network folder does not exist).
    std::span<const std::u16string> files = rules_->FileRules();
    ASSERT_EQ(files.size(), 229u + 170u + 1u);
    EXPECT_EQ(files[0], u"ntldr");
    EXPECT_EQ(files[228], u"layout.ini");
    EXPECT_EQ(files[229], u"\\safeit security");
    EXPECT_EQ(files[229 + 169], u"\\oem links");
    EXPECT_EQ(files.back(),
              u"c:\\users\\me\\appdata\\roaming\\microsoft\\windows\\network shortcuts");
    for (std::span<const std::u16string> list : {keys, files}) {
        for (const std::u16string& entry : list) {
            EXPECT_EQ(entry, ToLower(Trim(entry)));
        }
    }
}

TEST_F(BuiltinRulesTest, FragmentsMatchAnywhereWithoutRegardToCase) {
    struct {
        std::u16string_view text;
        bool passesKeyRules;
        bool passesFileRules;
    } cases[] = {
        {u"HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-11D3-9C30-333333333333}", false, true},
        {u"HKEY_CLASSES_ROOT\\CLSID\\{BB784125-0000-0000-0000-000000000000}\\InprocServer32", false,
         true},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Example", false, true},
        {u"HKEY_CURRENT_USER\\Software\\Example\\Settings", true, true},
        // Short file entries match inside longer names: "sam" in "samples".
        {u"c:\\program files\\samples\\demo.exe", true, false},
        {u"C:\\WINDOWS\\SYSTEM32\\RUNDLL32.EXE", true, false},
        {u"c:\\games\\chess\\chess.exe", true, true},
        // "msn " is kept without its blank, so it matches "msn" followed by anything.
        {u"c:\\apps\\msnx\\a.exe", false, false},
        {u"", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(rules_->PassesBuiltinKeyRules(c.text), c.passesKeyRules);
        EXPECT_EQ(rules_->PassesBuiltinFileRules(c.text), c.passesFileRules);
    }
    rules_->keyRulesActive = false;
    rules_->fileRulesActive = false;
    EXPECT_TRUE(rules_->PassesBuiltinKeyRules(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies"));
    EXPECT_TRUE(rules_->PassesBuiltinFileRules(u"c:\\samples\\a.exe"));
}

TEST_F(BuiltinRulesTest, SystemProtectionAsksInTheProblemsView) {
    EXPECT_TRUE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Protected", false));
    EXPECT_EQ(protection_.askedAccess, 0x2011Fu);
    EXPECT_TRUE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Protected", true));
    EXPECT_EQ(protection_.askedAccess, 0x2021Fu);
    platform_.is64Bit = false;
    EXPECT_TRUE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Protected", true));
    EXPECT_EQ(protection_.askedAccess, 0x2001Fu);
    EXPECT_FALSE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Other", false));

    // No protected keys before Vista, nor when the system lacks the function.
    platform_.majorVersion = 5;
    EXPECT_FALSE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Protected", false));
    platform_.majorVersion = 6;
    protection_.hasKeyFunction = false;
    EXPECT_FALSE(rules_->IsKeyProtectedBySystem(HKeyLocalMachine, u"Software\\Protected", false));

    EXPECT_TRUE(rules_->IsFileProtectedBySystem(u"C:\\windows\\system32\\kernel32.dll"));
    settings_.PreferSafetyOverCount = false;
    EXPECT_FALSE(rules_->IsFileProtectedBySystem(u"C:\\windows\\system32\\kernel32.dll"));
}

}  // namespace
}  // namespace quillary
