// The registry access layer against the in-memory store.

#include "core/registry_access.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

using testing::KeyExists;
using testing::MakeRegistry;
using testing::ValueBytes;

RegistryTarget TargetOf(CMemoryRegistry& registry) {
    return RegistryTarget{&registry, registry.Is64Bit(), {}};
}

TEST(RootKeyFromNameTest, MatchesTheFiveNamesExactly) {
    struct Case {
        std::u16string_view name;
        std::optional<HKey> key;
    } cases[] = {
        {u"HKEY_CLASSES_ROOT", HKey{0x80000000u}},
        {u"HKEY_CURRENT_USER", HKey{0x80000001u}},
        {u"HKEY_LOCAL_MACHINE", HKey{0x80000002u}},
        {u"HKEY_USERS", HKey{0x80000003u}},
        {u"HKEY_CURRENT_CONFIG", HKey{0x80000005u}},
        {u"hkey_local_machine", std::nullopt},
        {u"HKLM", std::nullopt},
        {u"HKEY_LOCAL_MACHINE ", std::nullopt},
        {u"HKEY_PERFORMANCE_DATA", std::nullopt},
        {u"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        EXPECT_EQ(RootKeyFromName(c.name), c.key);
    }
}

TEST(SplitRegistryPathTest, CutsAtTheFirstBackslash) {
    const RegistryPath full = SplitRegistryPath(u"HKEY_CURRENT_USER\\Software\\Kestrow\\ORV");
    EXPECT_EQ(full.rootName, u"HKEY_CURRENT_USER");
    EXPECT_EQ(full.subKey, u"Software\\Kestrow\\ORV");
    const RegistryPath bare = SplitRegistryPath(u"HKEY_USERS");
    EXPECT_EQ(bare.rootName, u"HKEY_USERS");
    EXPECT_TRUE(bare.subKey.empty());
}

TEST(ViewMaskTest, AddsOneViewBitOnSixtyFourBitSystemsOnly) {
    CMemoryRegistry registry;
    RegistryTarget target = TargetOf(registry);
    EXPECT_EQ(ViewMask(target, true), 0x200u);
    EXPECT_EQ(ViewMask(target, false), 0x100u);
    target.is64Bit = false;
    EXPECT_EQ(ViewMask(target, true), 0u);
}

// --- ConfigKey -------------------------------------------------------------------------------

TEST(ConfigKeyTest, WritesAndReadsTheProgramsValues) {
    CMemoryRegistry registry;
    ConfigKey key(registry, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV", true));
    EXPECT_EQ(key.KeyPath(), u"Software\\Kestrow\\ORV");
    ASSERT_TRUE(key.WriteString(u"Text", u"abc"));
    ASSERT_TRUE(key.WriteDword(u"Number", 0x01020304));
    EXPECT_EQ(ValueBytes(registry, HKeyCurrentUser, u"Software\\Kestrow\\ORV", u"Text"),
              std::vector<std::uint8_t>({'a', 0, 'b', 0, 'c', 0, 0, 0}));

    std::u16string text;
    std::uint32_t number = 7;
    EXPECT_TRUE(key.ReadString(u"Text", text));
    EXPECT_EQ(text, u"abc");
    EXPECT_TRUE(key.ReadDword(u"Number", number));
    EXPECT_EQ(number, 0x01020304u);
    // A mistyped value is refused and leaves the output alone.
    number = 7;
    EXPECT_FALSE(key.ReadDword(u"Text", number));
    EXPECT_EQ(number, 7u);
    text = u"kept";
    EXPECT_FALSE(key.ReadString(u"Number", text));
    EXPECT_EQ(text, u"kept");
    EXPECT_TRUE(key.HasValue(u"Number"));
    EXPECT_TRUE(key.DeleteValue(u"Number"));
    EXPECT_FALSE(key.HasValue(u"Number"));
    EXPECT_EQ(key.Close(), ErrorSuccess);
    EXPECT_EQ(key.Close(), ErrorSuccess);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(ConfigKeyTest, ReadStringCopesWithUnterminatedAndOddData) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV]
        "unterminated"=hex(1):61,00,62,00
        "odd"=hex(2):61,00,62
        "embedded"=hex(1):61,00,00,00,62,00,00,00
        "empty"=hex(1):
    )");
    ConfigKey key(*registry, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV", false));
    struct Case {
        std::u16string_view name;
        std::u16string_view text;
    } cases[] = {{u"unterminated", u"ab"}, {u"odd", u"ab"}, {u"embedded", u"a"}, {u"empty", u""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        std::u16string text = u"x";
        EXPECT_TRUE(key.ReadString(c.name, text));
        EXPECT_EQ(text, c.text);
    }
}

TEST(ConfigKeyTest, ReadOnlyMaskNeverCreates) {
    CMemoryRegistry registry;
    ConfigKey key(registry, HKeyCurrentUser);
    key.SetAccessMask(kMaskReadOnly);
    EXPECT_FALSE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV", true));
    EXPECT_FALSE(KeyExists(registry, HKeyCurrentUser, u"Software\\Kestrow"));
    // A key whose open failed still holds the root and may be closed.
    EXPECT_EQ(key.Handle(), HKeyCurrentUser);
    EXPECT_EQ(key.Close(), ErrorSuccess);
    EXPECT_FALSE(HasUserValue(registry, u"Software\\Kestrow\\ORV", u"FirstRun"));
    EXPECT_FALSE(KeyExists(registry, HKeyCurrentUser, u"Software\\Kestrow"));
}

TEST(ConfigKeyTest, ListValueNamesOfASubKey) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Kestrow\ORV\Exclusions]
        "first"="1"
        @="2"
    )");
    ConfigKey key(*registry, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV", false));
    std::vector<std::u16string> names = {u"stale"};
    EXPECT_TRUE(key.ListValueNamesOf(u"Exclusions", names));
    EXPECT_EQ(names, std::vector<std::u16string>({u"first", u""}));
    EXPECT_FALSE(key.ListValueNamesOf(u"Missing", names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(HasUserValue(*registry, u"Software\\Kestrow\\ORV\\Exclusions", u"first"));
}

// --- RegKey::QueryString ---------------------------------------------------------------------

TEST(QueryStringTest, ValidatesStringData) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Strings]
        "empty"=hex(1):
        "five"=hex(1):61,00,62,00,00
        "unterminated"=hex(1):61,00,62,00
        "good"="ab"
        "expand"=str(2):"%windir%"
        "number"=dword:00000001
        "multi"=str(7):"a\0"
    )");
    RegKey key(*registry);
    ASSERT_EQ(key.Open(HKeyLocalMachine, u"Software\\Strings", 0x20119), ErrorSuccess);
    EXPECT_EQ(key.ViewBits(), 0x100u);
    struct Case {
        std::u16string_view name;
        std::uint32_t bufferLength;
        LStatus status;
        std::uint32_t length;  // after a success
    } cases[] = {
        {u"empty", 10, ErrorSuccess, 0},
        {u"five", 10, ErrorInvalidData, 0},
        {u"unterminated", 10, ErrorInvalidData, 0},
        {u"good", 10, ErrorSuccess, 3},
        {u"good", 2, ErrorMoreData, 0},
        {u"expand", 10, ErrorSuccess, 9},
        {u"number", 10, ErrorInvalidData, 0},
        {u"multi", 10, ErrorInvalidData, 0},
        {u"missing", 10, ErrorFileNotFound, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        std::vector<char16_t> buffer(c.bufferLength, u'#');
        std::uint32_t length = c.bufferLength;
        EXPECT_EQ(key.QueryString(c.name, buffer.data(), &length), c.status);
        if (c.status == ErrorSuccess) {
            EXPECT_EQ(length, c.length);
            EXPECT_EQ(buffer[length == 0 ? 0 : length - 1], u'\0');
        }
    }
    // Without a buffer only the length is asked.
    std::uint32_t length = 0;
    EXPECT_EQ(key.QueryString(u"unterminated", nullptr, &length), ErrorSuccess);
    EXPECT_EQ(length, 2u);
}

TEST(RegKeyTest, FailedOpenLeavesTheKeyAsItWas) {
    auto registry = MakeRegistry("[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Here]\n");
    RegKey key(*registry);
    ASSERT_EQ(key.Open(HKeyLocalMachine, u"Software\\Here", 0x20219), ErrorSuccess);
    const HKey handle = key.Handle();
    EXPECT_EQ(key.Open(HKeyLocalMachine, u"Software\\Missing", 0x20119), ErrorFileNotFound);
    EXPECT_EQ(key.Handle(), handle);
    EXPECT_EQ(key.ViewBits(), 0x200u);
    EXPECT_EQ(key.Close(), ErrorSuccess);
    EXPECT_EQ(key.ViewBits(), 0u);
}

TEST(RegKeyTest, DeleteSelfUsesItsViewOrThePlainFunction) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor32]
        [HKEY_LOCAL_MACHINE\Software\Plain]
    )");
    {
        RegKey key(*registry);
        ASSERT_EQ(key.Open(HKeyLocalMachine, u"Software\\Vendor32", 0x2021F), ErrorSuccess);
        EXPECT_EQ(key.DeleteSelf(), ErrorSuccess);
    }
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor32"));
    registry->SetRegDeleteKeyExAvailable(false);
    RegKey key(*registry);
    ASSERT_EQ(key.Open(HKeyLocalMachine, u"Software\\Plain", 0x2011F), ErrorSuccess);
    EXPECT_EQ(key.DeleteSelf(), ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Plain"));
}

// --- enumeration -------------------------------------------------------------------------------

TEST(ListSubkeyNamesTest, SkipsWow6432NodeOnSixtyFourBitSystemsOnly) {
    for (const bool is64Bit : {true, false}) {
        SCOPED_TRACE(is64Bit ? "64-bit" : "32-bit");
        MemoryRegistryOptions options;
        options.is64Bit = is64Bit;
        auto registry = MakeRegistry(R"(
            [HKEY_LOCAL_MACHINE\Software\Vendor]
            [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor]
            [HKEY_LOCAL_MACHINE\Software\ wow6432node-like]
        )",
                                     options);
        RegKey software(*registry);
        ASSERT_EQ(software.Open(HKeyLocalMachine, u"Software", 0x20019), ErrorSuccess);
        int pumped = 0;
        RegistryTarget target{registry.get(), is64Bit, [&pumped] { ++pumped; }};
        std::vector<std::u16string> names;
        EXPECT_TRUE(ListSubkeyNames(target, software.Handle(), names));
        EXPECT_EQ(pumped, 1);
        if (is64Bit) {
            EXPECT_EQ(names, std::vector<std::u16string>({u"Classes", u"Vendor"}));
        } else {
            EXPECT_EQ(names, std::vector<std::u16string>(
                                 {u" wow6432node-like", u"Classes", u"Vendor", u"Wow6432Node"}));
        }
    }
}

TEST(ListValueNamesTest, BlankFirstNameIsLeftOutOnlyAtIndexZero) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\DefaultFirst]
        @="default"
        "a"="1"
        [HKEY_CURRENT_USER\Software\BlankFirst]
        " "="1"
        "a"="1"
        [HKEY_CURRENT_USER\Software\DefaultLater]
        "a"="1"
        @="default"
    )");
    struct Case {
        std::u16string_view path;
        std::vector<std::u16string> noBlankFirst;
        std::vector<std::u16string> all;
    } cases[] = {
        {u"Software\\DefaultFirst", {u"a"}, {u"", u"a"}},
        {u"Software\\BlankFirst", {u"a"}, {u" ", u"a"}},
        {u"Software\\DefaultLater", {u"a", u""}, {u"a", u""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        RegKey key(*registry);
        ASSERT_EQ(key.Open(HKeyCurrentUser, c.path, 0x20019), ErrorSuccess);
        std::vector<std::u16string> names;
        EXPECT_EQ(ListValueNamesNoBlankFirst(*registry, key.Handle(), names),
                  c.noBlankFirst.size());
        EXPECT_EQ(names, c.noBlankFirst);
        EXPECT_EQ(ListValueNames(*registry, key.Handle(), names), c.all.size());
        EXPECT_EQ(names, c.all);
        EXPECT_EQ(CountValues(*registry, key.Handle()), c.all.size());
    }
}

TEST(ListValueNamesTest, NamesLongerThanTheBufferAreSkipped) {
    CMemoryRegistry registry;
    RegKey key(registry);
    HKey handle = HKey::None;
    ASSERT_EQ(registry.RegCreateKeyExW(HKeyCurrentUser, u"Software\\Long", {}, 0, KeyAllAccess,
                                       &handle, nullptr),
              ErrorSuccess);
    const std::uint8_t data[] = {0, 0};
    registry.RegSetValueExW(handle, std::u16string(300, u'n'), RegSz, data, 2);
    registry.RegSetValueExW(handle, u"short", RegSz, data, 2);
    std::vector<std::u16string> names;
    EXPECT_EQ(ListValueNamesNoBlankFirst(registry, handle, names), 1u);
    EXPECT_EQ(ListValueNames(registry, handle, names), 2u);
    registry.RegCloseKey(handle);
}

// --- ReadValueText ---------------------------------------------------------------------------

TEST(ReadValueTextTest, TrimsTextAndIgnoresOtherTypes) {
    const std::u16string kLongText(300, u'L');
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Paths]
        "padded"="  C:\\x.exe\t"
        "number"=dword:00000001
        "unterminated"=hex(1):41,00,42,00
        @="default"
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Paths]
        "padded"="32-bit"
    )");
    {
        // Values longer than a path, given here rather than in the text above.
        RegKey paths(*registry);
        ASSERT_EQ(paths.Open(HKeyLocalMachine, u"Software\\Paths", kMaskReadWrite | KeyWow64_64Key),
                  ErrorSuccess);
        const std::vector<std::uint8_t> longText = ToUtf16LeBytes(std::u16string(300, u'L'), true);
        const std::vector<std::uint8_t> blob(600, 0x41);
        ASSERT_EQ(registry->RegSetValueExW(paths.Handle(), u"long", RegSz, longText.data(),
                                           static_cast<std::uint32_t>(longText.size())),
                  ErrorSuccess);
        ASSERT_EQ(registry->RegSetValueExW(paths.Handle(), u"blob", RegBinary, blob.data(),
                                           static_cast<std::uint32_t>(blob.size())),
                  ErrorSuccess);
    }
    RegistryTarget target = TargetOf(*registry);
    struct Case {
        std::u16string_view name;
        bool view32;
        std::u16string_view text;
    } cases[] = {
        {u"padded", false, u"C:\\x.exe"},
        {u"padded", true, u"32-bit"},
        {u"number", false, u""},
        {u"missing", false, u""},
        {u"", false, u"default"},
        // Longer than a path, of another type, not one terminated text.
        {u"long", false, kLongText},
        {u"blob", false, u""},
        {u"unterminated", false, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        std::u16string text = u"stale";
        const bool opened =
            c.view32 ? ReadValueText32(target, HKeyLocalMachine, u"Software\\Paths", c.name, text)
                     : ReadValueText64(target, HKeyLocalMachine, u"Software\\Paths", c.name, text);
        EXPECT_TRUE(opened);
        EXPECT_EQ(text, c.text);
    }
    std::u16string text = u"stale";
    EXPECT_FALSE(ReadValueText64(target, HKeyLocalMachine, u"Software\\Missing", u"x", text));
    // The view-less variant does nothing on a 64-bit system.
    EXPECT_TRUE(ReadValueText(target, HKeyLocalMachine, u"Software\\Paths", u"padded", text));
    EXPECT_EQ(text, u"stale");
    target.is64Bit = false;
    EXPECT_TRUE(ReadValueText(target, HKeyLocalMachine, u"Software\\Paths", u"padded", text));
    EXPECT_EQ(text, u"C:\\x.exe");
}

TEST(ReadValueTextTest, ReadsKeysThatMayNotBeWritten) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Locked]
        #deny=write
        "v"="readable"
        [HKEY_LOCAL_MACHINE\Software\Hidden]
        #deny=all
        "v"="unreadable"
    )");
    RegistryTarget target = TargetOf(*registry);
    std::u16string text;
    EXPECT_TRUE(ReadValueText64(target, HKeyLocalMachine, u"Software\\Locked", u"v", text));
    EXPECT_EQ(text, u"readable");
    EXPECT_FALSE(ReadValueText64(target, HKeyLocalMachine, u"Software\\Hidden", u"v", text));
}

TEST(ReadValueTextTest, ReadsTextsLongerThanTheUsualBuffer) {
    const std::u16string longText(5000, u'x');
    CMemoryRegistry registry;
    ConfigKey key(registry, HKeyLocalMachine);
    ASSERT_TRUE(key.Open(HKeyLocalMachine, u"Software\\Long", true));
    ASSERT_TRUE(key.WriteString(u"v", longText));
    std::u16string text;
    EXPECT_TRUE(
        ReadValueText64(TargetOf(registry), HKeyLocalMachine, u"Software\\Long", u"v", text));
    EXPECT_EQ(text, longText);
}

// --- DeleteKeyTree ---------------------------------------------------------------------------

TEST(DeleteKeyTreeTest, DeletesTheWholeTree) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Gone\A\A1]
        "v"="1"
        [HKEY_CURRENT_USER\Software\Gone\B]
        [HKEY_CURRENT_USER\Software\Kept]
    )");
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyCurrentUser, u"Software\\Gone", 0x2011F),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Gone"));
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Kept"));
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyCurrentUser, u"Software\\Gone", 0x2011F),
              ErrorFileNotFound);
}

TEST(DeleteKeyTreeTest, NeverDeletesWow6432Node) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor]
        [HKEY_LOCAL_MACHINE\Software\Holder\Wow6432Node\Inner]
        [HKEY_LOCAL_MACHINE\Software\Holder\Zoo]
    )");
    RegistryTarget target = TargetOf(*registry);
    EXPECT_EQ(DeleteKeyTree(target, HKeyLocalMachine, u"Wow6432Node", 0x2011F), ErrorSuccess);
    RegKey software(*registry);
    ASSERT_EQ(software.Open(HKeyLocalMachine, u"Software", 0x2011F), ErrorSuccess);
    EXPECT_EQ(DeleteKeyTree(target, software.Handle(), u"WOW6432NODE", 0x2011F), ErrorSuccess);
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor"));

    // The walk stops at a Wow6432Node child, so the holder stays (subkeys remain) and keys
    // after it in the order are not reached.
    EXPECT_EQ(DeleteKeyTree(target, software.Handle(), u"Holder", 0x2011F), ErrorAccessDenied);
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Holder\\Wow6432Node\\Inner"));
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Holder\\Zoo"));
}

TEST(DeleteKeyTreeTest, ThirtyTwoBitViewDeletesTheThirtyTwoBitTree) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Vendor\Sub]
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor\Sub]
    )");
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyLocalMachine, u"Software\\Vendor", 0x2021F),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor"));
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Vendor\\Sub"));
}

TEST(DeleteKeyTreeTest, WorksWithoutDeleteKeyEx) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Vendor\Sub]
    )");
    registry->SetRegDeleteKeyExAvailable(false);
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyLocalMachine, u"Software\\Vendor", 0x2011F),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Vendor"));
}

TEST(DeleteKeyTreeTest, ThirtyTwoBitSystemFallsBackToDeletingWhatRemains) {
    MemoryRegistryOptions options;
    options.is64Bit = false;
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Vendor\Wow6432Node\Inner]
        "v"="1"
    )",
                                 options);
    // The walk leaves the Wow6432Node child, then the shell's deletion removes the rest.
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyCurrentUser, u"Software\\Vendor", 0x2001F),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Vendor"));
}

TEST(DeleteKeyTreeTest, DeletesALinkButNotItsTarget) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Target\Child]
        [HKEY_LOCAL_MACHINE\Software\Holder\Link]
        #link=\Registry\Machine\Software\Target
    )");
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyLocalMachine, u"Software\\Holder", 0x2011F),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Holder"));
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Target\\Child"));
}

TEST(DeleteKeyTreeTest, AKeyThatCannotBeDeletedStopsTheWalk) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Vendor\Locked]
        #deny=write
        [HKEY_CURRENT_USER\Software\Vendor\Open]
    )");
    EXPECT_EQ(DeleteKeyTree(TargetOf(*registry), HKeyCurrentUser, u"Software\\Vendor", 0x2011F),
              ErrorAccessDenied);
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Vendor\\Locked"));
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Vendor\\Open"));
}

}  // namespace
}  // namespace quillary
