// The in-memory store against the Windows behaviour the rest of the system relies on.

#include "targets/memory/memory_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

using testing::KeyExists;
using testing::MakeRegistry;
using testing::ValueBytes;

std::vector<std::u16string> SubkeyNames(IRegistry& registry, HKey key) {
    std::vector<std::u16string> names;
    std::array<char16_t, 256> buffer{};
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t length = buffer.size();
        const LStatus status = registry.RegEnumKeyExW(key, index, buffer.data(), &length, nullptr);
        if (status == ErrorNoMoreItems) {
            return names;
        }
        EXPECT_EQ(status, ErrorSuccess);
        names.emplace_back(buffer.data(), length);
    }
}

std::vector<std::u16string> SubkeyNamesOf(IRegistry& registry, HKey root, std::u16string_view path,
                                          RegSam view = 0) {
    HKey key = HKey::None;
    EXPECT_EQ(registry.RegOpenKeyExW(root, path, 0, KeyRead | view, &key), ErrorSuccess);
    std::vector<std::u16string> names = SubkeyNames(registry, key);
    registry.RegCloseKey(key);
    return names;
}

std::vector<std::u16string> ValueNames(IRegistry& registry, HKey key) {
    std::vector<std::u16string> names;
    std::array<char16_t, 256> buffer{};
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t length = buffer.size();
        if (registry.RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr) !=
            ErrorSuccess) {
            return names;
        }
        names.emplace_back(buffer.data(), length);
    }
}

HKey Open(IRegistry& registry, HKey root, std::u16string_view path, RegSam sam = KeyRead) {
    HKey key = HKey::None;
    EXPECT_EQ(registry.RegOpenKeyExW(root, path, 0, sam, &key), ErrorSuccess) << Utf16ToUtf8(path);
    return key;
}

TEST(MemoryRegistryTest, NamesCompareWithoutCaseAndKeepTheirCase) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\MixedCase]
        "ValueName"="x"
    )");
    HKey key = Open(*registry, HKeyCurrentUser, u"SOFTWARE\\mixedcase");
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyCurrentUser, u"software"),
              std::vector<std::u16string>({u"Classes", u"MixedCase"}));
    EXPECT_EQ(registry->RegQueryValueExW(key, u"VALUENAME", nullptr, nullptr, nullptr),
              ErrorSuccess);
    EXPECT_EQ(ValueNames(*registry, key), std::vector<std::u16string>({u"ValueName"}));
    // Creating with another spelling opens the existing key and keeps the first spelling.
    HKey again = HKey::None;
    std::uint32_t disposition = 0;
    ASSERT_EQ(registry->RegCreateKeyExW(HKeyCurrentUser, u"software\\MIXEDCASE", {}, 0, KeyRead,
                                        &again, &disposition),
              ErrorSuccess);
    EXPECT_EQ(disposition, RegOpenedExistingKey);
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyCurrentUser, u"Software").back(), u"MixedCase");
    registry->RegCloseKey(again);
    registry->RegCloseKey(key);
}

TEST(MemoryRegistryTest, SubkeysEnumerateSortedByUpperCasedName) {
    // Upper-cased, '_' (0x5F) sorts after the letters; lower-cased it would sort before them.
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Order\zz]
        [HKEY_LOCAL_MACHINE\Software\Order\a_b]
        [HKEY_LOCAL_MACHINE\Software\Order\AB]
        [HKEY_LOCAL_MACHINE\Software\Order\a b]
        [HKEY_LOCAL_MACHINE\Software\Order\Zed]
    )");
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyLocalMachine, u"Software\\Order"),
              std::vector<std::u16string>({u"a b", u"AB", u"a_b", u"Zed", u"zz"}));

    MemoryRegistryOptions lowerOrder;
    lowerOrder.keyOrder = KeyOrder::LowerCase;
    auto wineLike = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Order\a_b]
        [HKEY_LOCAL_MACHINE\Software\Order\AB]
    )",
                                 lowerOrder);
    EXPECT_EQ(SubkeyNamesOf(*wineLike, HKeyLocalMachine, u"Software\\Order"),
              std::vector<std::u16string>({u"a_b", u"AB"}));
}

TEST(MemoryRegistryTest, ValuesKeepInsertionOrderAndTheirPlaceWhenReplaced) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Values]
        "b"="1"
        "a"="2"
        @="default"
    )");
    HKey key = Open(*registry, HKeyCurrentUser, u"Software\\Values", KeyReadWrite);
    const std::uint8_t data[] = {7, 0, 0, 0};
    ASSERT_EQ(registry->RegSetValueExW(key, u"B", RegDword, data, 4), ErrorSuccess);
    EXPECT_EQ(ValueNames(*registry, key), std::vector<std::u16string>({u"b", u"a", u""}));
    registry->RegCloseKey(key);
}

TEST(MemoryRegistryTest, KeepsValueBytesExactly) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Raw]
        "odd"=hex(1):41,00,42
        "unterminated"=hex(1):41,00
        "empty"=hex(1):
        "multi"=str(7):"a\0b\0"
        "dword"=dword:0000002a
        "big"=qword:0000000100000002
        "none"=hex(0):ff
        "link"=hex(6):5c,00
    )");
    struct Case {
        std::u16string_view name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {u"odd", {0x41, 0, 0x42}},
        {u"unterminated", {0x41, 0}},
        {u"empty", {}},
        {u"multi", {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {u"dword", {0x2a, 0, 0, 0}},
        {u"big", {2, 0, 0, 0, 1, 0, 0, 0}},
        {u"none", {0xff}},
        {u"link", {0x5c, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, u"Software\\Raw", c.name), c.bytes);
    }
}

TEST(MemoryRegistryTest, BufferConventionsOfQueryAndEnumeration) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Buffers\LongerName]
        [HKEY_CURRENT_USER\Software\Buffers]
        "v"="abc"
    )");
    HKey key = Open(*registry, HKeyCurrentUser, u"Software\\Buffers");
    RegType type = RegNone;
    std::uint32_t size = 0;
    EXPECT_EQ(registry->RegQueryValueExW(key, u"v", &type, nullptr, &size), ErrorSuccess);
    EXPECT_EQ(type, RegSz);
    EXPECT_EQ(size, 8u);
    std::array<std::uint8_t, 8> data{};
    size = 4;
    EXPECT_EQ(registry->RegQueryValueExW(key, u"v", &type, data.data(), &size), ErrorMoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(registry->RegQueryValueExW(key, u"missing", &type, nullptr, &size),
              ErrorFileNotFound);

    std::array<char16_t, 16> name{};
    std::uint32_t length = 10;  // "LongerName" needs 11 units with its terminator
    EXPECT_EQ(registry->RegEnumKeyExW(key, 0, name.data(), &length, nullptr), ErrorMoreData);
    length = 11;
    EXPECT_EQ(registry->RegEnumKeyExW(key, 0, name.data(), &length, nullptr), ErrorSuccess);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(registry->RegEnumKeyExW(key, 1, name.data(), &length, nullptr), ErrorNoMoreItems);
    registry->RegCloseKey(key);
}

TEST(MemoryRegistryTest, BadPathsAndHandles) {
    auto registry = MakeRegistry("");
    HKey key = HKey::None;
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"\\Software", 0, KeyRead, &key),
              ErrorBadPathname);
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"Software\\\\Classes", 0, KeyRead, &key),
              ErrorBadPathname);
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"Software\\", 0, KeyRead, &key),
              ErrorSuccess);
    registry->RegCloseKey(key);
    EXPECT_EQ(registry->RegOpenKeyExW(HKey{1234}, u"Software", 0, KeyRead, &key),
              ErrorInvalidHandle);
    EXPECT_EQ(registry->RegCloseKey(HKey{1234}), ErrorInvalidHandle);
    EXPECT_EQ(registry->RegCloseKey(HKeyLocalMachine), ErrorSuccess);
    EXPECT_EQ(registry->RegCreateKeyExW(HKeyCurrentUser, std::u16string(256, u'k'), {}, 0, KeyRead,
                                        &key, nullptr),
              ErrorInvalidParameter);
    EXPECT_EQ(registry->OpenHandleCount(), 0u);
}

// count names "k" joined by backslashes.
std::u16string NestedPath(std::size_t count) {
    std::u16string path;
    for (std::size_t i = 0; i < count; ++i) {
        path += i == 0 ? u"k" : u"\\k";
    }
    return path;
}

// Keys nest at most 512 deep below the root of their hive (the machine's key, a user's key),
// whichever handle the path starts from; a path that would go deeper creates nothing.
TEST(MemoryRegistryTest, KeysNestNoDeeperThanTheLimit) {
    struct {
        HKey root;
        std::u16string_view start;  // names between the handle and the keys to create
        std::size_t allowed;        // how many names the path may add below start
    } cases[] = {
        {HKeyLocalMachine, u"", 512},          {HKeyCurrentUser, u"", 512},
        {HKeyCurrentUser, u"Software\\", 511}, {HKeyUsers, u".Default\\", 512},
        {HKeyClassesRoot, u"", 510},  // the machine's Software\Classes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(std::u16string(c.start)) + " " + std::to_string(c.allowed));
        auto registry = MakeRegistry("");
        HKey key = HKey::None;
        const std::u16string start(c.start);
        EXPECT_EQ(registry->RegCreateKeyExW(c.root, start + NestedPath(c.allowed + 1), {}, 0,
                                            KeyAllAccess, &key, nullptr),
                  ErrorInvalidParameter);
        EXPECT_FALSE(KeyExists(*registry, c.root, start + u"k"));
        ASSERT_EQ(registry->RegCreateKeyExW(c.root, start + NestedPath(c.allowed), {}, 0,
                                            KeyAllAccess, &key, nullptr),
                  ErrorSuccess);
        registry->RegCloseKey(key);
        EXPECT_EQ(registry->RegCreateKeyExW(c.root, start + NestedPath(15000), {}, 0, KeyAllAccess,
                                            &key, nullptr),
                  ErrorInvalidParameter);
    }
}

// A tree far deeper than a store lets anyone create is walked and freed without recursion, so
// it cannot exhaust the stack; a key someone still holds outlives its parent, detached from it.
TEST(MemoryRegistryTest, DeepTreesAreWalkedAndFreedWithoutRecursion) {
    constexpr std::size_t kDepth = 100000;
    CRegistryNode root(u"", KeyOrder::UpperCase);
    CRegistryNode* deepest = &root;
    std::shared_ptr<CRegistryNode> middle;
    for (std::size_t depth = 1; depth <= kDepth; ++depth) {
        CRegistryNode* parent = deepest;
        deepest = parent->AddChild(u"k");
        if (depth == kDepth / 2) {
            middle = parent->FindChildShared(u"k");
        }
    }
    EXPECT_EQ(deepest->Path().size(), 2 * kDepth - 1);

    root.ChildAt(0)->RemoveChild(u"k");
    EXPECT_TRUE(deepest->IsDeleted());
    EXPECT_EQ(middle->Parent(), nullptr);
    ASSERT_EQ(middle->ChildCount(), 1u);
    // From the held key down: the names of depths kDepth / 2 to kDepth.
    EXPECT_EQ(deepest->Path().size(), kDepth + 1);
}

TEST(MemoryRegistryTest, HandleAccessIsChecked) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Access]
        "v"="1"
    )");
    HKey readOnly = Open(*registry, HKeyCurrentUser, u"Software\\Access", KeyRead);
    const std::uint8_t data[] = {0, 0};
    EXPECT_EQ(registry->RegSetValueExW(readOnly, u"w", RegSz, data, 2), ErrorAccessDenied);
    EXPECT_EQ(registry->RegDeleteValueW(readOnly, u"v"), ErrorAccessDenied);
    registry->RegCloseKey(readOnly);
}

TEST(MemoryRegistryTest, AccessDenialMarks) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\ReadOnly]
        #deny=write
        "v"="1"
        [HKEY_LOCAL_MACHINE\Software\Hidden]
        #deny=all
    )");
    HKey key = HKey::None;
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"Software\\ReadOnly", 0, 0x2011F, &key),
              ErrorAccessDenied);
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"Software\\ReadOnly", 0, 0x20119, &key),
              ErrorSuccess);
    registry->RegCloseKey(key);
    EXPECT_EQ(registry->RegOpenKeyExW(HKeyLocalMachine, u"Software\\Hidden", 0, 0x20119, &key),
              ErrorAccessDenied);
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyLocalMachine, u"Software\\ReadOnly"), ErrorAccessDenied);
    EXPECT_EQ(registry->RegCreateKeyExW(HKeyLocalMachine, u"Software\\ReadOnly\\New", {}, 0,
                                        KeyReadWrite, &key, nullptr),
              ErrorAccessDenied);
}

TEST(MemoryRegistryTest, DeleteKeyRules) {
    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Tree\Leaf]
    )");
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Tree"), ErrorAccessDenied);
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Missing"), ErrorFileNotFound);
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, {}), ErrorAccessDenied);
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyLocalMachine, u"..\\x"), ErrorFileNotFound);

    HKey leaf = Open(*registry, HKeyCurrentUser, u"Software\\Tree\\Leaf");
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Tree\\Leaf"), ErrorSuccess);
    // A handle to a deleted key reports it instead of reaching a stale key.
    EXPECT_EQ(registry->RegQueryValueExW(leaf, {}, nullptr, nullptr, nullptr), ErrorKeyDeleted);
    registry->RegCloseKey(leaf);
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Tree"), ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Tree"));
}

TEST(MemoryRegistryTest, DeleteKeyExCanBeAbsent) {
    auto registry = MakeRegistry("[HKEY_CURRENT_USER\\Software\\Gone]\n");
    registry->SetRegDeleteKeyExAvailable(false);
    EXPECT_FALSE(registry->HasRegDeleteKeyExW());
    EXPECT_EQ(registry->RegDeleteKeyExW(HKeyCurrentUser, u"Software\\Gone", KeyWow64_64Key, 0),
              ErrorCallNotImplemented);
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Gone"));
}

TEST(MemoryRegistryTest, LastWriteTimesFollowTheClock) {
    CManualClock clock(FromFileTime(0x01D0000000000000));
    MemoryRegistryOptions options;
    options.clock = &clock;
    CMemoryRegistry registry(options);
    HKey key = HKey::None;
    ASSERT_EQ(registry.RegCreateKeyExW(HKeyCurrentUser, u"Software\\Timed", {}, 0, KeyAllAccess,
                                       &key, nullptr),
              ErrorSuccess);
    clock.Advance(std::chrono::seconds(5));
    const std::uint8_t data[] = {1, 0, 0, 0};
    registry.RegSetValueExW(key, u"v", RegDword, data, 4);
    RegKeyInfo info;
    ASSERT_EQ(registry.RegQueryInfoKeyW(key, &info), ErrorSuccess);
    EXPECT_EQ(info.lastWriteTime, 0x01D0000000000000u + 50000000u);
    EXPECT_EQ(info.values, 1u);
    EXPECT_EQ(info.maxValueDataLength, 4u);
    registry.RegCloseKey(key);
}

// --- predefined roots ----------------------------------------------------------------------

TEST(MemoryRegistryTest, CurrentUserAndCurrentConfigMapIntoTheirHives) {
    auto registry = MakeRegistry(R"(
        [HKEY_USERS\S-1-5-21-0-0-0-1000\Software\Mine]
        [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]
        "LogPixels"=dword:00000060
    )");
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Mine"));
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentConfig, u"Software\\Fonts"));
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyUsers, {}),
              std::vector<std::u16string>({u".Default", u"S-1-5-21-0-0-0-1000"}));
}

TEST(MemoryRegistryTest, ClassesRootMergesTheUsersClassesOverTheMachines) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Classes\.both]
        @="machinefile"
        "MachineOnly"="1"
        [HKEY_LOCAL_MACHINE\Software\Classes\.machine]
        [HKEY_CURRENT_USER\Software\Classes\.both]
        @="userfile"
        [HKEY_CURRENT_USER\Software\Classes\.user]
    )");
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyClassesRoot, {}),
              std::vector<std::u16string>({u".both", u".machine", u".user", u"Wow6432Node"}));
    // A key both have shows the user's version.
    EXPECT_EQ(ValueBytes(*registry, HKeyClassesRoot, u".both", {}),
              ValueBytes(*registry, HKeyCurrentUser, u"Software\\Classes\\.both", {}));
    EXPECT_EQ(ValueBytes(*registry, HKeyClassesRoot, u".both", u"MachineOnly"), std::nullopt);

    // Writes go to the user's classes when the user has the key, else to the machine's.
    HKey key = HKey::None;
    ASSERT_EQ(registry->RegCreateKeyExW(HKeyClassesRoot, u".user\\ShellNew", {}, 0, KeyAllAccess,
                                        &key, nullptr),
              ErrorSuccess);
    registry->RegCloseKey(key);
    ASSERT_EQ(
        registry->RegCreateKeyExW(HKeyClassesRoot, u".new", {}, 0, KeyAllAccess, &key, nullptr),
        ErrorSuccess);
    registry->RegCloseKey(key);
    EXPECT_TRUE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Classes\\.user\\ShellNew"));
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Classes\\.new"));
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Classes\\.new"));

    // Deleting through the merged view removes the version it shows.
    EXPECT_EQ(registry->RegDeleteKeyW(HKeyClassesRoot, u".both"), ErrorSuccess);
    EXPECT_EQ(ValueBytes(*registry, HKeyClassesRoot, u".both", u"MachineOnly").has_value(), true);
}

TEST(MemoryRegistryTest, ClassesRootCanShowTheMachinesClassesOnly) {
    MemoryRegistryOptions options;
    options.mergeClassesRoot = false;
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Classes\.machine]
        [HKEY_CURRENT_USER\Software\Classes\.user]
    )",
                                 options);
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyClassesRoot, {}),
              std::vector<std::u16string>({u".machine", u"Wow6432Node"}));
}

// --- views -----------------------------------------------------------------------------------

TEST(MemoryRegistryTest, ThirtyTwoBitViewIsRedirectedLikeWindows) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Vendor]
        "Bits"="64"
        [HKEY_LOCAL_MACHINE\Software\Wow6432Node\Vendor]
        "Bits"="32"
        [HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths\shared.exe]
        [HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{64}]
        [HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID\{32}]
        [HKEY_LOCAL_MACHINE\Software\Classes\.txt]
        [HKEY_CURRENT_USER\Software\Vendor]
    )");
    struct Case {
        HKey root;
        std::u16string_view path;
        RegSam view;
        bool exists;
    } cases[] = {
        // HKLM\Software is redirected...
        {HKeyLocalMachine, u"Software\\Vendor", KeyWow64_64Key, true},
        {HKeyLocalMachine, u"Software\\Vendor", KeyWow64_32Key, true},
        {HKeyLocalMachine, u"Software\\Microsoft", KeyWow64_32Key, false},
        // ...except its shared keys,
        {HKeyLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\shared.exe",
         KeyWow64_32Key, true},
        // an explicit Wow6432Node is taken as written,
        {HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor", KeyWow64_32Key, true},
        {HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor", KeyWow64_64Key, true},
        // in the classes only CLSID and its kin have 32-bit copies,
        {HKeyLocalMachine, u"Software\\Classes\\CLSID\\{32}", KeyWow64_32Key, true},
        {HKeyLocalMachine, u"Software\\Classes\\CLSID\\{64}", KeyWow64_32Key, false},
        {HKeyClassesRoot, u"CLSID\\{32}", KeyWow64_32Key, true},
        {HKeyClassesRoot, u"CLSID\\{32}", KeyWow64_64Key, false},
        {HKeyLocalMachine, u"Software\\Classes\\.txt", KeyWow64_32Key, true},
        // and the user's software is not redirected.
        {HKeyCurrentUser, u"Software\\Vendor", KeyWow64_32Key, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path) + (c.view == KeyWow64_32Key ? " (32)" : " (64)"));
        EXPECT_EQ(KeyExists(*registry, c.root, c.path, c.view), c.exists);
    }
    EXPECT_EQ(ValueBytes(*registry, HKeyLocalMachine, u"Software\\Vendor", u"Bits", KeyWow64_32Key),
              ValueBytes(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor", u"Bits"));
    // The 32-bit view of HKLM\Software is its Wow6432Node: Vendor and the shared Classes.
    const auto names32 = SubkeyNamesOf(*registry, HKeyLocalMachine, u"Software", KeyWow64_32Key);
    EXPECT_EQ(names32, std::vector<std::u16string>({u"Classes", u"Vendor"}));
}

TEST(MemoryRegistryTest, CreatingInTheThirtyTwoBitViewLandsInWow6432Node) {
    auto registry = MakeRegistry("");
    HKey key = HKey::None;
    ASSERT_EQ(registry->RegCreateKeyExW(HKeyLocalMachine, u"Software\\New32", {}, 0,
                                        KeyAllAccess | KeyWow64_32Key, &key, nullptr),
              ErrorSuccess);
    registry->RegCloseKey(key);
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\New32"));
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\New32"));
    // Deleting in the 32-bit view removes the 32-bit key.
    EXPECT_EQ(registry->RegDeleteKeyExW(HKeyLocalMachine, u"Software\\New32", KeyWow64_32Key, 0),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Wow6432Node\\New32"));
}

TEST(MemoryRegistryTest, ThirtyTwoBitSystemIgnoresViews) {
    MemoryRegistryOptions options;
    options.is64Bit = false;
    auto registry = MakeRegistry("[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n", options);
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Vendor", KeyWow64_32Key));
    EXPECT_EQ(SubkeyNamesOf(*registry, HKeyLocalMachine, u"Software"),
              std::vector<std::u16string>({u"Classes", u"Vendor"}));
}

// --- symbolic links --------------------------------------------------------------------------

TEST(MemoryRegistryTest, LinksAreFollowedListedAndDeletedThemselves) {
    auto registry = MakeRegistry(R"(
        [HKEY_LOCAL_MACHINE\Software\Target\Child]
        "v"="1"
        [HKEY_LOCAL_MACHINE\Software\Link]
        #link=\Registry\Machine\Software\Target
        [HKEY_LOCAL_MACHINE\Software\Loop]
        #link=\Registry\Machine\Software\Loop
    )");
    EXPECT_EQ(ValueBytes(*registry, HKeyLocalMachine, u"Software\\Link\\Child", u"v"),
              ValueBytes(*registry, HKeyLocalMachine, u"Software\\Target\\Child", u"v"));
    EXPECT_EQ(
        SubkeyNamesOf(*registry, HKeyLocalMachine, u"Software"),
        std::vector<std::u16string>({u"Classes", u"Link", u"Loop", u"Target", u"Wow6432Node"}));
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Loop\\x"));

    EXPECT_EQ(registry->RegDeleteKeyW(HKeyLocalMachine, u"Software\\Link"), ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Link"));
    EXPECT_TRUE(KeyExists(*registry, HKeyLocalMachine, u"Software\\Target\\Child"));
}

// --- saving and replacing ------------------------------------------------------------------

TEST(MemoryRegistryTest, SaveAndReplaceKeyRoundTrip) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "quillary-memory-registry-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::u16string saved = Utf8ToUtf16((folder / "saved.txt").string());
    const std::u16string old = Utf8ToUtf16((folder / "old.txt").string());

    auto registry = MakeRegistry(R"(
        [HKEY_CURRENT_USER\Software\Hive\Sub]
        "odd"=hex(1):41,00,42
        "quote"="say \"hi\"\n"
    )");
    HKey hive = Open(*registry, HKeyCurrentUser, u"Software\\Hive");
    ASSERT_EQ(registry->RegSaveKeyW(hive, saved), ErrorSuccess);
    EXPECT_EQ(registry->RegSaveKeyW(hive, saved), ErrorAlreadyExists);
    registry->RegCloseKey(hive);

    // Change the key, then let the saved copy replace it at the next start.
    ASSERT_EQ(registry->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Hive\\Sub"), ErrorSuccess);
    ASSERT_EQ(registry->RegReplaceKeyW(HKeyCurrentUser, u"Software\\Hive", saved, old),
              ErrorSuccess);
    EXPECT_FALSE(KeyExists(*registry, HKeyCurrentUser, u"Software\\Hive\\Sub"));
    ASSERT_EQ(registry->ApplyPendingReplacements(), ErrorSuccess);
    EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, u"Software\\Hive\\Sub", u"odd"),
              std::vector<std::uint8_t>({0x41, 0, 0x42}));
    EXPECT_EQ(ValueBytes(*registry, HKeyCurrentUser, u"Software\\Hive\\Sub", u"quote")->size(),
              20u);
    EXPECT_TRUE(std::filesystem::exists(folder / "old.txt"));
    EXPECT_EQ(
        registry->RegReplaceKeyW(HKeyCurrentUser, u"Software\\Hive", u"/nonexistent/file", old),
        ErrorFileNotFound);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quillary
