// The registry of a Wine prefix, against prefixes made in a temporary folder.

#include "targets/wine/wine_prefix_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/registry_access.h"
#include "fake_wine_server.h"
#include "support/registry_fixture.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wineserver_lock.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::FakeWineServer;
using testing::KeyExists;
using testing::ServerFolderName;
using testing::ValueBytes;

constexpr std::string_view kSystemReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Classes\\.txt] 1796861391
#time=1dd883ac6f474a6
@="txtfile"

[Software\\Classes\\Wow6432Node\\CLSID\\{32}] 1796861391
#time=1dd883ac6f474a6

[Software\\Vendor] 1796861391
#time=1dd883ac6f474a6
"Bits"="64"

[Software\\Vendor\\Shared] 1796861391
#time=1dd883ac6f474a6
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\
  74,00,77,00,61,00,72,00,65,00,5c,00,54,00,61,00,72,00,67,00,65,00,74,00

[Software\\Target\\Child] 1796861391
#time=1dd883ac6f474a6

[Software\\Wow6432Node\\Classes] 1796861391
#time=1dd883ac6f474a6
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\
  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\
  74,00,77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,\
  00,5c,00,57,00,6f,00,77,00,36,00,34,00,33,00,32,00,4e,00,6f,00,64,00,65,00

[Software\\Wow6432Node\\Vendor] 1796861391
#time=1dd883ac6f474a6
"Bits"="32"
)";

constexpr std::string_view kUserReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Classes\\.txt] 1796861391
#time=1dd883ac6f474a6
@="usertxt"

[Software\\Wine] 1796861391
#time=1dd883ac6f474a6
"Version"="win10"
)";

constexpr std::string_view kUserDefReg = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\.Default

#arch=win64

[Control Panel\\Desktop] 1796861391
#time=1dd883ac6f474a6
"Wallpaper"=""
)";

class WinePrefixRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = fs::temp_directory_path() /
                  (std::string("quillary-prefix-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                   std::to_string(::getpid()));
        fs::remove_all(prefix_);
        fs::create_directories(prefix_ / "drive_c");
        Write("system.reg", kSystemReg);
        Write("user.reg", kUserReg);
        Write("userdef.reg", kUserDefReg);
    }
    void TearDown() override { fs::remove_all(prefix_); }

    void Write(const std::string& name, std::string_view text) {
        std::ofstream(prefix_ / name, std::ios::binary) << text;
    }
    std::string Read(const std::string& name) {
        std::stringstream text;
        text << std::ifstream(prefix_ / name, std::ios::binary).rdbuf();
        return text.str();
    }
    ino_t Inode(const std::string& name) {
        struct stat info {};
        ::stat((prefix_ / name).c_str(), &info);
        return info.st_ino;
    }
    std::unique_ptr<CWinePrefixRegistry> Open() {
        std::string error;
        auto store = CWinePrefixRegistry::Open(files_, prefix_, &error, &clock_);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }

    fs::path prefix_;
    CManualClock clock_{FromFileTime(0x1dd900000000000)};
    CPosixFileIo files_;
};

TEST_F(WinePrefixRegistryTest, PresentsTheFilesAsTheRegistry) {
    auto store = Open();
    ASSERT_TRUE(store->Diagnostics().empty());
    EXPECT_TRUE(store->Is64Bit());
    EXPECT_EQ(ValueBytes(*store, HKeyCurrentUser, u"Software\\Wine", u"Version")->size(), 12u);
    EXPECT_TRUE(KeyExists(*store, HKeyUsers, u".Default\\Control Panel\\Desktop"));
    // The classes root shows the user's classes over the machine's.
    EXPECT_EQ(ValueBytes(*store, HKeyClassesRoot, u".txt", {}),
              ValueBytes(*store, HKeyCurrentUser, u"Software\\Classes\\.txt", {}));
    // Wine's WOW64 rule: where a Wow6432Node child exists, the 32-bit view goes into it.
    EXPECT_EQ(ValueBytes(*store, HKeyLocalMachine, u"Software\\Vendor", u"Bits", KeyWow64_32Key),
              ValueBytes(*store, HKeyLocalMachine, u"Software\\Wow6432Node\\Vendor", u"Bits"));
    EXPECT_TRUE(KeyExists(*store, HKeyClassesRoot, u"CLSID\\{32}", KeyWow64_32Key));
    EXPECT_TRUE(KeyExists(*store, HKeyLocalMachine, u"Software\\Vendor\\Shared\\Child"));
}

TEST_F(WinePrefixRegistryTest, SavingUnchangedIsANoOpAndAChangeRewritesOnlyItsFile) {
    auto store = Open();
    const ino_t systemInode = Inode("system.reg");
    const ino_t userInode = Inode("user.reg");
    ASSERT_FALSE(store->Save().has_value());
    EXPECT_EQ(Inode("user.reg"), userInode);

    ConfigKey key(*store, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Wine", false));
    ASSERT_TRUE(key.WriteDword(u"Added", 0x2a));
    key.Close();
    EXPECT_TRUE(store->HasUnsavedChanges());
    ASSERT_FALSE(store->Save().has_value());
    EXPECT_FALSE(store->HasUnsavedChanges());
    EXPECT_EQ(Inode("system.reg"), systemInode);
    EXPECT_NE(Inode("user.reg"), userInode);
    EXPECT_EQ(Read("system.reg"), kSystemReg);

    // The changed key carries the clock's time; untouched keys keep theirs.
    std::string expected(kUserReg);
    const std::string before = "[Software\\\\Wine] 1796861391\n#time=1dd883ac6f474a6\n";
    const std::string after =
        "[Software\\\\Wine] 1797715756\n#time=1dd900000000000\n\"Added\"="
        "dword:0000002a\n";
    expected.replace(expected.find(before), before.size(), after);
    EXPECT_EQ(Read("user.reg"), expected);

    auto reopened = Open();
    EXPECT_EQ(ValueBytes(*reopened, HKeyCurrentUser, u"Software\\Wine", u"Added"),
              std::vector<std::uint8_t>({0x2a, 0, 0, 0}));
}

TEST_F(WinePrefixRegistryTest, KeepsWhatWineSavedSinceTheFilesWereRead) {
    auto store = Open();
    ConfigKey key(*store, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Wine", false));
    ASSERT_TRUE(key.WriteDword(u"Added", 0x2a));
    key.Close();
    // A server that ends saves the registry even when nothing changed: the same bytes in a
    // new file are no change.
    Write("user.reg.tmp", kUserReg);
    fs::rename(prefix_ / "user.reg.tmp", prefix_ / "user.reg");
    EXPECT_EQ(store->WriteRefusal(), std::nullopt);

    // A Wine program ran and ended meanwhile: its server replaced the file on the way out.
    std::string saved(kUserReg);
    saved += "\n[Software\\\\ByWine] 1796861392\n#time=1dd883ac71e8de0\n\"v\"=\"w\"\n";
    Write("user.reg.tmp", saved);
    fs::rename(prefix_ / "user.reg.tmp", prefix_ / "user.reg");

    // Saving always looks at the files; writes notice within the check interval, and from
    // then on for good.
    EXPECT_EQ(store->Save(), std::string(kRegistryChangedMessage));
    EXPECT_EQ(store->WriteRefusal(), std::string(kRegistryChangedMessage));
    EXPECT_EQ(Read("user.reg"), saved);
    // Opened anew, the store sees Wine's change and may change the files again.
    auto reopened = Open();
    EXPECT_TRUE(KeyExists(*reopened, HKeyCurrentUser, u"Software\\ByWine"));
    EXPECT_FALSE(reopened->WriteRefusal().has_value());
}

// A disk that fills up during its nth write: that write puts down half of its bytes and fails
// as a full disk does; the writes before and after it succeed (room was made meanwhile).
class CDiskFullAtWrite final : public CPosixFileIo {
public:
    explicit CDiskFullAtWrite(int failing) : failing_(failing) {}

protected:
    FileError Write(NativeFile file, const fs::path& path,
                    std::span<const std::uint8_t> bytes) override {
        if (++writes_ != failing_) {
            return CPosixFileIo::Write(file, path, bytes);
        }
        if (FileError failure = CPosixFileIo::Write(file, path, bytes.first(bytes.size() / 2))) {
            return failure;
        }
        return "cannot write " + path.string() + ": No space left on device";
    }

private:
    int failing_;
    int writes_ = 0;
};

// A save that changes all three files and meets a full disk while writing one of them leaves
// each file whole: those written before hold their new contents, the others their old ones.
// The error reaches the caller, no temporary file stays, and the changes stay unsaved so that
// the next save writes the rest.
TEST_F(WinePrefixRegistryTest, AFullDiskDuringASaveLeavesEveryFileWhole) {
    const struct {
        const char* file;
        std::string_view old;
        HKey root;
        std::u16string_view key;
    } branches[] = {
        {"system.reg", kSystemReg, HKeyLocalMachine, u"Software\\Vendor"},
        {"user.reg", kUserReg, HKeyCurrentUser, u"Software\\Wine"},
        {"userdef.reg", kUserDefReg, HKeyUsers, u".Default\\Control Panel\\Desktop"},
    };
    for (int failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE("the disk fills up while file " + std::to_string(failing) + " is written");
        TearDown();
        SetUp();
        CDiskFullAtWrite disk(failing);
        std::string error;
        auto store = CWinePrefixRegistry::Open(disk, prefix_, &error, &clock_);
        ASSERT_NE(store, nullptr) << error;
        for (const auto& branch : branches) {
            ConfigKey key(*store, branch.root);
            ASSERT_TRUE(key.Open(branch.root, branch.key, false));
            ASSERT_TRUE(key.WriteDword(u"Added", 0x2a));
        }

        const FileError failure = store->Save();
        ASSERT_TRUE(failure.has_value());
        EXPECT_NE(failure->find("No space left on device"), std::string::npos) << *failure;
        EXPECT_TRUE(store->HasUnsavedChanges());
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(branches[i].file);
            if (i + 1 < failing) {
                EXPECT_NE(Read(branches[i].file).find("\"Added\"=dword:0000002a"),
                          std::string::npos);
            } else {
                EXPECT_EQ(Read(branches[i].file), branches[i].old);
            }
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(prefix_), fs::directory_iterator()), 4);

        ASSERT_EQ(store->Save(), std::nullopt);
        auto reopened = Open();
        EXPECT_TRUE(reopened->Diagnostics().empty());
        for (const auto& branch : branches) {
            EXPECT_EQ(ValueBytes(*reopened, branch.root, branch.key, u"Added"),
                      std::vector<std::uint8_t>({0x2a, 0, 0, 0}));
        }
    }
}

TEST_F(WinePrefixRegistryTest, DeletingATreeRemovesALinkButNotItsTarget) {
    auto store = Open();
    const RegistryTarget target{store.get(), true, {}};
    ASSERT_EQ(DeleteKeyTree(target, HKeyLocalMachine, u"Software\\Vendor", 0x2011F), ErrorSuccess);
    EXPECT_FALSE(KeyExists(*store, HKeyLocalMachine, u"Software\\Vendor"));
    EXPECT_TRUE(KeyExists(*store, HKeyLocalMachine, u"Software\\Target\\Child"));
    ASSERT_FALSE(store->Save().has_value());
    EXPECT_EQ(Read("system.reg").find("Vendor\\\\Shared"), std::string::npos);
    EXPECT_NE(Read("system.reg").find("[Software\\\\Target\\\\Child]"), std::string::npos);
}

TEST_F(WinePrefixRegistryTest, KeepsALinkedFileALink) {
    fs::rename(prefix_ / "user.reg", prefix_ / "user.real");
    fs::create_symlink("user.real", prefix_ / "user.reg");
    auto store = Open();
    ConfigKey key(*store, HKeyCurrentUser);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\New", true));
    key.Close();
    ASSERT_FALSE(store->Save().has_value());
    EXPECT_TRUE(fs::is_symlink(prefix_ / "user.reg"));
    EXPECT_NE(Read("user.real").find("[Software\\\\New]"), std::string::npos);
}

TEST_F(WinePrefixRegistryTest, ADamagedFileMakesTheStoreReadOnly) {
    std::string damaged(kUserReg);
    damaged += "\n[Software\\\\Broken] 1\n\"v\"=hex:01,\\\n";
    Write("user.reg", damaged);
    auto store = Open();
    ASSERT_FALSE(store->Diagnostics().empty());
    EXPECT_EQ(store->Diagnostics().front().file, "user.reg");
    const auto refusal = store->WriteRefusal();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("user.reg, line"), std::string::npos);

    // Reading goes on; opening for writing falls back to reading; nothing changes.
    HKey key = HKey::None;
    EXPECT_EQ(store->RegOpenKeyExW(HKeyCurrentUser, u"Software\\Wine", 0, 0x2011F, &key),
              ErrorAccessDenied);
    std::u16string text;
    EXPECT_TRUE(ReadValueText64(RegistryTarget{store.get(), true, {}}, HKeyCurrentUser,
                                u"Software\\Wine", u"Version", text));
    EXPECT_EQ(text, u"win10");
    EXPECT_EQ(store->RegDeleteKeyW(HKeyCurrentUser, u"Software\\Wine"), ErrorAccessDenied);
    EXPECT_EQ(DeleteKeyTree(RegistryTarget{store.get(), true, {}}, HKeyCurrentUser,
                            u"Software\\Wine", 0x2011F),
              ErrorAccessDenied);
    EXPECT_FALSE(store->Save().has_value());
    EXPECT_EQ(Read("user.reg"), damaged);
}

TEST_F(WinePrefixRegistryTest, MissingAndForeignFolders) {
    std::string error;
    EXPECT_EQ(CWinePrefixRegistry::Open(files_, prefix_ / "none", &error), nullptr);
    EXPECT_NE(error.find("is not a folder"), std::string::npos);
    fs::remove(prefix_ / "system.reg");
    EXPECT_EQ(CWinePrefixRegistry::Open(files_, prefix_, &error), nullptr);
    EXPECT_NE(error.find("is not a Wine prefix"), std::string::npos);
}

// A registry file that is a FIFO would block the reader for ever; one that is a folder or a
// device is no registry file. The prefix is refused at once, and the message names the file.
TEST_F(WinePrefixRegistryTest, RegistryFilesThatAreNotRegularFilesAreRefused) {
    const std::pair<const char*, std::string_view> files[] = {
        {"system.reg", kSystemReg}, {"user.reg", kUserReg}, {"userdef.reg", kUserDefReg}};
    for (const auto& [name, text] : files) {
        for (const bool fifo : {true, false}) {
            SCOPED_TRACE(std::string(name) + (fifo ? " as a FIFO" : " as a folder"));
            const fs::path path = prefix_ / name;
            fs::remove(path);
            if (fifo) {
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            } else {
                fs::create_directory(path);
            }
            std::string error;
            EXPECT_EQ(CWinePrefixRegistry::Open(files_, prefix_, &error), nullptr);
            EXPECT_EQ(error, path.string() + " is not a regular file");
            std::string why;
            EXPECT_FALSE(IsWinePrefix(prefix_, &why));
            EXPECT_EQ(why, error);
            fs::remove(path);
            Write(name, text);
        }
    }
}

// A user.reg whose keys nest far deeper than a registry allows loads read-only with a
// diagnostic, and the store comes and goes without exhausting the stack.
TEST_F(WinePrefixRegistryTest, KeysNestedTooDeeplyMakeTheStoreReadOnly) {
    std::string deep(kUserReg);
    deep += "\n[Software";
    for (int level = 0; level < 15000; ++level) {
        deep += "\\\\k";
    }
    deep += "] 1796861391\n\"v\"=\"x\"\n";
    Write("user.reg", deep);
    auto store = Open();
    ASSERT_FALSE(store->Diagnostics().empty());
    EXPECT_NE(store->Diagnostics().front().message.find("512 levels"), std::string::npos);
    const auto refusal = store->WriteRefusal();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("user.reg, line"), std::string::npos);
    EXPECT_TRUE(KeyExists(*store, HKeyCurrentUser, u"Software\\Wine"));
}

TEST_F(WinePrefixRegistryTest, AMissingUserFileIsCreatedOnSave) {
    fs::remove(prefix_ / "userdef.reg");
    auto store = Open();
    EXPECT_TRUE(store->Diagnostics().empty());
    ConfigKey key(*store, HKeyUsers);
    ASSERT_TRUE(key.Open(HKeyUsers, u".Default\\Software\\Made", true));
    key.Close();
    ASSERT_FALSE(store->Save().has_value());
    EXPECT_EQ(Read("userdef.reg"),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n"
              "#arch=win64\n\n[Software\\\\Made] 1797715756\n#time=1dd900000000000\n");
}

TEST_F(WinePrefixRegistryTest, RefusesChangesWhileWineRuns) {
    auto store = Open();
    ASSERT_FALSE(FindRunningWineServer(prefix_).has_value());
    const fs::path upstreamFolder =
        fs::path("/tmp") / (".wine-" + std::to_string(::getuid())) / ServerFolderName(prefix_);
    FakeWineServer server(upstreamFolder);
    const auto running = FindRunningWineServer(prefix_);
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(running->pid, server.Pid());

    EXPECT_EQ(store->WriteRefusal(), std::string(kWineRunningMessage));
    EXPECT_TRUE(store->ReadWarning().has_value());
    EXPECT_TRUE(KeyExists(*store, HKeyCurrentUser, u"Software\\Wine"));
    HKey key = HKey::None;
    EXPECT_EQ(store->RegCreateKeyExW(HKeyCurrentUser, u"Software\\New", {}, 0, KeyAllAccess, &key,
                                     nullptr),
              ErrorAccessDenied);

    server.Stop();
    auto later = Open();
    EXPECT_FALSE(later->WriteRefusal().has_value());
    ASSERT_EQ(later->RegCreateKeyExW(HKeyCurrentUser, u"Software\\New", {}, 0, KeyAllAccess, &key,
                                     nullptr),
              ErrorSuccess);
    later->RegCloseKey(key);
    // A server that starts after the change still stops the save.
    FakeWineServer again(upstreamFolder);
    EXPECT_EQ(later->Save(), std::string(kWineRunningMessage));
    EXPECT_EQ(Read("user.reg"), kUserReg);
}

TEST_F(WinePrefixRegistryTest, FindsDebiansServerFolder) {
    // Debian's Wine names a folder under /tmp in the prefix's "wineserver" file.
    const std::string name = "wine-quillarytest" + std::to_string(::getpid());
    Write("wineserver", name);
    {
        FakeWineServer server(fs::path("/tmp") / name / ServerFolderName(prefix_));
        EXPECT_TRUE(FindRunningWineServer(prefix_).has_value());
    }
    EXPECT_FALSE(FindRunningWineServer(prefix_).has_value());
    fs::remove_all(fs::path("/tmp") / name);
}

}  // namespace
}  // namespace quillary
