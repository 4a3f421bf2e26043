#include "targets/posix/mapped_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "core/text_encoding.h"
#include "support/temp_folder.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CTempFolder;

std::string ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

// A temporary folder mapped as C: (a small Windows tree) and D: (a CD-ROM), with a profile
// Desktop that links into a "home" outside the drive and a link that loops back to C:\.
class MappedFileSystemTest : public ::testing::Test {
protected:
    MappedFileSystemTest() {
        folder_.Write("drive_c/windows/system32/notepad.exe", "MZ");
        folder_.Write("drive_c/windows/regedit.exe", "MZ");
        folder_.MakeFolder("drive_c/windows/system32/drivers");
        folder_.Write("drive_c/Program Files/App/app.exe", "MZ");
        folder_.Write("drive_c/tools/tool.exe", "MZ");
        folder_.Write("drive_c/.hidden", "");
        fs::path readonly = folder_.Write("drive_c/readonly.txt", "keep");
        ::chmod(readonly.c_str(), 0444);
        folder_.Write("home/game.lnk", "L");
        folder_.Write("home/sub/inner.lnk", "L");
        folder_.MakeFolder("drive_c/users/me");
        fs::create_directory_symlink("../../../home", folder_.Path() / "drive_c/users/me/Desktop");
        fs::create_directory_symlink(".", folder_.Path() / "drive_c/loop");
        folder_.Write("cd/setup.exe", "MZ");

        MappedFileSystemSetup setup;
        setup.drives = {
            {u'C', folder_.Path() / "drive_c", DriveFixed, u"\\Device\\HarddiskVolume1"},
            {u'D', folder_.Path() / "cd", DriveCdRom, u"\\Device\\CdRom0"}};
        setup.devices = {{u"COM1", u"\\Device\\Serial0"}};
        setup.environment.Set(u"SystemRoot", u"C:\\windows");
        setup.environment.Set(u"PATH", u"C:\\tools;C:\\windows");
        setup.specialFolders[CsidlDesktop] = u"C:\\users\\me\\Desktop";
        mapped_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        files_ = mapped_.get();
    }

    std::vector<std::u16string> List(std::u16string_view pattern, LStatus* error = nullptr) {
        std::vector<std::u16string> names;
        FindData data;
        std::unique_ptr<IFileSearch> search = files_->FindFirstFileW(pattern, &data, error);
        if (!search)
            return names;
        do {
            names.push_back(data.fileName);
        } while (search->FindNextFileW(&data));
        return names;
    }

    CTempFolder folder_;
    std::unique_ptr<CMappedFileSystem> mapped_;
    IFileSystem* files_ = nullptr;  // as the core sees it
};

TEST_F(MappedFileSystemTest, AttributesOfWindowsPaths) {
    constexpr std::uint32_t kMissing = InvalidFileAttributes;
    struct {
        std::u16string_view path;
        std::uint32_t attributes;
        LStatus error;
    } cases[] = {
        {u"C:\\windows\\system32\\notepad.exe", FileAttributeArchive, ErrorSuccess},
        {u"c:\\WINDOWS\\System32\\NOTEPAD.EXE", FileAttributeArchive, ErrorSuccess},
        {u"C:/windows/system32/notepad.exe", FileAttributeArchive, ErrorSuccess},
        {u"C:\\windows\\notepad.exe\\..\\regedit.exe. ", FileAttributeArchive, ErrorSuccess},
        {u"\\\\?\\C:\\windows\\regedit.exe", FileAttributeArchive, ErrorSuccess},
        {u"C:\\windows", FileAttributeDirectory, ErrorSuccess},
        {u"C:\\windows\\", FileAttributeDirectory, ErrorSuccess},
        {u"C:\\", FileAttributeDirectory, ErrorSuccess},
        {u"C:\\.hidden", FileAttributeArchive | FileAttributeHidden, ErrorSuccess},
        {u"C:\\readonly.txt", FileAttributeArchive | FileAttributeReadonly, ErrorSuccess},
        {u"C:\\users\\me\\Desktop", FileAttributeDirectory | FileAttributeReparsePoint,
         ErrorSuccess},
        // A link is followed: the file behind the profile's Desktop exists.
        {u"C:\\users\\me\\Desktop\\sub\\inner.lnk", FileAttributeArchive, ErrorSuccess},
        {u"C:\\windows\\missing.exe", kMissing, ErrorFileNotFound},
        {u"C:\\missing\\x.exe", kMissing, ErrorPathNotFound},
        {u"C:\\windows\\regedit.exe\\", kMissing, ErrorPathNotFound},
        {u"C:\\windows\\regedit.exe\\x", kMissing, ErrorPathNotFound},
        {u"Q:\\x.exe", kMissing, ErrorPathNotFound},
        {u"\\\\server\\share\\x.exe", kMissing, ErrorBadNetPath},
        {u"C:\\a|b", kMissing, ErrorInvalidName},
        // Relative paths start in the system folder.
        {u"notepad.exe", FileAttributeArchive, ErrorSuccess},
        {u"D:\\SETUP.EXE", FileAttributeArchive, ErrorSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        LStatus error = -1;
        EXPECT_EQ(files_->GetFileAttributesW(c.path, &error), c.attributes);
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(MappedFileSystemTest, FindListsMatchesDotsFirstThenByName) {
    EXPECT_EQ(List(u"C:\\windows\\*"),
              (std::vector<std::u16string>{u".", u"..", u"regedit.exe", u"system32"}));
    EXPECT_EQ(List(u"c:\\WINDOWS\\SYSTEM32\\*.EXE"), (std::vector<std::u16string>{u"notepad.exe"}));
    // A drive's root has no "." and "..".
    EXPECT_EQ(List(u"D:\\*"), (std::vector<std::u16string>{u"setup.exe"}));

    LStatus error = ErrorSuccess;
    EXPECT_TRUE(List(u"C:\\windows\\*.dll", &error).empty());
    EXPECT_EQ(error, ErrorFileNotFound);
    EXPECT_TRUE(List(u"C:\\nowhere\\*", &error).empty());
    EXPECT_EQ(error, ErrorPathNotFound);

    FindData data;
    ASSERT_TRUE(files_->FindFirstFileW(u"C:\\windows\\system32\\notepad.exe", &data, nullptr));
    EXPECT_EQ(data.fileSize, 2u);
    EXPECT_NE(data.lastWriteTime, 0u);
}

TEST_F(MappedFileSystemTest, WalksDoNotLeaveTheDriveOrGoRoundALoop) {
    // The Desktop link's own folder is listed: that is where the user's shortcuts are.
    EXPECT_EQ(List(u"C:\\users\\me\\Desktop\\*.lnk"), (std::vector<std::u16string>{u"game.lnk"}));
    FindData data;
    ASSERT_TRUE(files_->FindFirstFileW(u"C:\\users\\me\\Desktop\\sub", &data, nullptr));
    EXPECT_EQ(data.attributes, FileAttributeDirectory);

    // Below it lies the user's home, and a walk stops there.
    LStatus error = ErrorSuccess;
    EXPECT_TRUE(List(u"C:\\users\\me\\Desktop\\sub\\*", &error).empty());
    EXPECT_EQ(error, ErrorAccessDenied);

    // A link back to the drive's root is reported as a reparse point and not walked into.
    std::vector<std::u16string> root = List(u"C:\\*");
    EXPECT_NE(std::find(root.begin(), root.end(), u"loop"), root.end());
    EXPECT_TRUE(List(u"C:\\loop\\*", &error).empty());
    EXPECT_EQ(error, ErrorAccessDenied);
    EXPECT_TRUE(List(u"C:\\loop\\loop\\windows\\*", &error).empty());
}

TEST_F(MappedFileSystemTest, ChangesKeepWindowsRules) {
    // A read-only file is deleted only once its attribute is cleared; what was read of it
    // before the change is not answered after it.
    EXPECT_EQ(files_->GetFileAttributesW(u"C:\\readonly.txt"),
              FileAttributeArchive | FileAttributeReadonly);
    EXPECT_EQ(files_->DeleteFileW(u"C:\\READONLY.TXT"), ErrorAccessDenied);
    EXPECT_EQ(files_->SetFileAttributesW(u"C:\\readonly.txt", FileAttributeNormal), ErrorSuccess);
    EXPECT_EQ(files_->GetFileAttributesW(u"C:\\readonly.txt"), FileAttributeArchive);
    EXPECT_EQ(files_->DeleteFileW(u"C:\\READONLY.TXT"), ErrorSuccess);
    EXPECT_FALSE(fs::exists(folder_.Path() / "drive_c/readonly.txt"));
    EXPECT_EQ(files_->DeleteFileW(u"C:\\readonly.txt"), ErrorFileNotFound);
    EXPECT_EQ(files_->DeleteFileW(u"C:\\windows"), ErrorAccessDenied);

    EXPECT_EQ(files_->CreateDirectoryW(u"C:\\Windows"), ErrorAlreadyExists);
    EXPECT_EQ(files_->CreateDirectoryW(u"C:\\no\\new"), ErrorPathNotFound);
    EXPECT_EQ(files_->CreateDirectoryW(u"C:\\WINDOWS\\New Folder"), ErrorSuccess);
    EXPECT_TRUE(fs::is_directory(folder_.Path() / "drive_c/windows/New Folder"));

    EXPECT_EQ(files_->CopyFileW(u"C:\\tools\\tool.exe", u"C:\\windows\\regedit.exe", true),
              ErrorFileExists);
    EXPECT_EQ(files_->CopyFileW(u"C:\\tools\\tool.exe", u"C:\\tools\\TOOL.exe", false),
              ErrorSharingViolation);
    EXPECT_EQ(files_->CopyFileW(u"C:\\tools\\tool.exe", u"c:\\windows\\new folder\\t.exe", true),
              ErrorSuccess);
    EXPECT_EQ(ReadFile(folder_.Path() / "drive_c/windows/New Folder/t.exe"), "MZ");
    EXPECT_EQ(fs::last_write_time(folder_.Path() / "drive_c/windows/New Folder/t.exe"),
              fs::last_write_time(folder_.Path() / "drive_c/tools/tool.exe"));

    EXPECT_EQ(files_->MoveFileW(u"C:\\tools\\tool.exe", u"C:\\windows\\regedit.exe"),
              ErrorAlreadyExists);
    EXPECT_EQ(files_->MoveFileW(u"C:\\TOOLS", u"C:\\moved"), ErrorSuccess);
    EXPECT_EQ(files_->GetFileAttributesW(u"C:\\moved\\tool.exe"), FileAttributeArchive);

    EXPECT_EQ(files_->RemoveDirectoryW(u"C:\\moved"), ErrorDirNotEmpty);
    EXPECT_EQ(files_->RemoveDirectoryW(u"C:\\windows\\regedit.exe"), ErrorDirectory);
    // Removing a link to a folder removes the link, never what it points to.
    EXPECT_EQ(files_->RemoveDirectoryW(u"C:\\users\\me\\Desktop"), ErrorSuccess);
    EXPECT_FALSE(fs::exists(folder_.Path() / "drive_c/users/me/Desktop"));
    EXPECT_TRUE(fs::exists(folder_.Path() / "home/sub/inner.lnk"));
}

// A disk whose writes put down half of their bytes and then fail with the given errno.
class CFailingWrites final : public CPosixFileIo {
public:
    explicit CFailingWrites(int error) : error_(error) {}

    FileError Write(NativeFile file, const fs::path& path,
                    std::span<const std::uint8_t> bytes) override {
        if (FileError failure = CPosixFileIo::Write(file, path, bytes.first(bytes.size() / 2))) {
            return failure;
        }
        return Failed("write", path, error_);
    }

private:
    int error_;
};

// A copy that fails part way leaves the file it would replace as it was, leaves no temporary
// file behind, and answers with the Windows code of what went wrong.
TEST_F(MappedFileSystemTest, AFailedCopyLeavesTheTargetAsItWas) {
    folder_.Write("drive_c/tools/big.exe", std::string(100000, 'n'));
    struct {
        int error;
        LStatus expected;
    } cases[] = {
        {ENOSPC, ErrorDiskFull},     {EDQUOT, ErrorDiskFull}, {EROFS, ErrorWriteProtect},
        {EACCES, ErrorAccessDenied}, {EIO, ErrorGenFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        CFailingWrites disk(c.error);
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "drive_c", DriveFixed, {}}};
        setup.copyFileIo = &disk;
        CMappedFileSystem files(std::move(setup));

        EXPECT_EQ(files.CopyFileW(u"C:\\tools\\big.exe", u"C:\\windows\\regedit.exe", false),
                  c.expected);
        EXPECT_EQ(ReadFile(folder_.Path() / "drive_c/windows/regedit.exe"), "MZ");
        std::vector<std::string> names;
        for (const fs::directory_entry& entry :
             fs::directory_iterator(folder_.Path() / "drive_c/windows")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"regedit.exe", "system32"}));
    }
}

TEST_F(MappedFileSystemTest, OpeningForWritingChangesNothing) {
    ASSERT_EQ(::mkfifo((folder_.Path() / "drive_c/pipe.lnk").c_str(), 0644), 0);
    struct {
        std::u16string_view path;
        LStatus expected;
    } cases[] = {
        {u"C:\\tools\\TOOL.EXE", ErrorSuccess},
        {u"C:\\readonly.txt", ErrorAccessDenied},
        {u"C:\\windows", ErrorAccessDenied},
        // A FIFO is refused at once: opening it for writing would wait for a reader.
        {u"C:\\pipe.lnk", ErrorAccessDenied},
        {u"C:\\tools\\missing.exe", ErrorFileNotFound},
        {u"C:\\nowhere\\missing.exe", ErrorPathNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.path));
        EXPECT_EQ(files_->OpenExistingFileForWriting(c.path), c.expected);
    }
    EXPECT_EQ(ReadFile(folder_.Path() / "drive_c/tools/tool.exe"), "MZ");
}

TEST_F(MappedFileSystemTest, DrivesAndDevices) {
    EXPECT_EQ(files_->GetLogicalDriveStringsW(), std::u16string(u"C:\\\0D:\\\0", 8));
    struct {
        std::u16string_view root;
        std::uint32_t type;
    } cases[] = {
        {u"C:\\", DriveFixed},
        {u"c:", DriveFixed},
        {u"C:\\windows\\", DriveFixed},
        {u"C:\\missing\\", DriveNoRootDir},
        {u"D:\\", DriveCdRom},
        {u"Q:\\", DriveNoRootDir},
        {u"\\\\server\\share\\", DriveRemote},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.root));
        EXPECT_EQ(files_->GetDriveTypeW(c.root), c.type);
    }
    EXPECT_EQ(files_->QueryDosDeviceW(u"c:"), u"\\Device\\HarddiskVolume1");
    EXPECT_EQ(files_->QueryDosDeviceW(u"D:"), u"\\Device\\CdRom0");
    EXPECT_EQ(files_->QueryDosDeviceW(u"com1"), u"\\Device\\Serial0");
    EXPECT_FALSE(files_->QueryDosDeviceW(u"C:\\"));
    EXPECT_FALSE(files_->QueryDosDeviceW(u"Q:"));
}

TEST_F(MappedFileSystemTest, SearchPathAndPathFindOnPath) {
    EXPECT_EQ(files_->GetSystemDirectoryW(), u"C:\\windows\\system32");
    EXPECT_EQ(files_->GetSystemWow64DirectoryW(), u"C:\\windows\\syswow64");
    EXPECT_EQ(files_->GetSpecialFolderPath(CsidlDesktop | 0x8000), u"C:\\users\\me\\Desktop");
    EXPECT_FALSE(files_->GetSpecialFolderPath(CsidlNetwork));
    EXPECT_EQ(files_->ExpandEnvironmentStringsW(u"%SystemRoot%\\x"), u"C:\\windows\\x");

    using Found = std::optional<std::u16string>;
    struct {
        std::u16string_view name;
        std::u16string_view extension;
        Found found;
    } searches[] = {
        // The extension is added to a name that has none; the name keeps its spelling.
        {u"notepad", u".exe", u"C:\\windows\\system32\\notepad.exe"},
        {u"NOTEPAD.EXE", u"", u"C:\\windows\\system32\\NOTEPAD.EXE"},
        {u"notepad.exe", u".dll", u"C:\\windows\\system32\\notepad.exe"},
        {u"drivers", u"", u"C:\\windows\\system32\\drivers"},
        {u"system32\\notepad.exe", u"", u"C:\\windows\\system32\\notepad.exe"},
        {u"C:\\windows\\REGEDIT.exe", u"", u"C:\\windows\\REGEDIT.exe"},
        {u"tool.exe", u"", u"C:\\tools\\tool.exe"},  // from PATH
        {u"C:\\tools\\none.exe", u"", std::nullopt},
        {u"none", u".exe", std::nullopt},
    };
    for (const auto& c : searches) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        EXPECT_EQ(files_->SearchPathW(std::nullopt, c.name, c.extension), c.found);
    }
    EXPECT_EQ(files_->SearchPathW(u"C:\\Program Files\\App", u"app.exe", u""),
              u"C:\\Program Files\\App\\app.exe");
    EXPECT_FALSE(files_->SearchPathW(u"C:\\Program Files\\App", u"notepad.exe", u""));

    std::vector<std::u16string> none;
    std::vector<std::u16string> app = {u"C:\\Program Files\\App"};
    struct {
        std::u16string_view file;
        std::span<const std::u16string> otherDirs;
        Found found;
    } finds[] = {
        {u"regedit.exe", none, u"C:\\windows\\regedit.exe"},
        {u"wbem", none, std::nullopt},
        {u"system32/notepad.exe", none, u"C:\\windows\\system32/notepad.exe"},
        {u"tool.exe", none, u"C:\\tools\\tool.exe"},
        {u"app.exe", app, u"C:\\Program Files\\App\\app.exe"},
        // Only bare names are looked for, and no extension is guessed.
        {u"C:\\windows\\regedit.exe", none, std::nullopt},
        {u"tools\\tool.exe", none, std::nullopt},
        {u"notepad", none, std::nullopt},
    };
    for (const auto& c : finds) {
        SCOPED_TRACE(Utf16ToUtf8(c.file));
        EXPECT_EQ(files_->PathFindOnPathW(c.file, c.otherDirs), c.found);
    }
}

TEST_F(MappedFileSystemTest, NamesThatDifferOnlyInCase) {
    // Two files Windows could not hold side by side: a name typed exactly finds its own
    // file, any other spelling the first of the two by name, however the folder was read.
    ::chmod(folder_.Write("drive_c/dup/Name.txt", "").c_str(), 0444);
    folder_.Write("drive_c/dup/name.txt", "");
    const std::uint32_t readonly = FileAttributeArchive | FileAttributeReadonly;
    for (int pass = 0; pass < 2; ++pass) {
        mapped_->ClearCache();
        if (pass == 1) {  // the folder read first, by a spelling no file has
            EXPECT_EQ(files_->GetFileAttributesW(u"C:\\dup\\nAME.TXT"), readonly);
        }
        EXPECT_EQ(files_->GetFileAttributesW(u"C:\\dup\\name.txt"), FileAttributeArchive);
        EXPECT_EQ(files_->GetFileAttributesW(u"C:\\dup\\Name.txt"), readonly);
        EXPECT_EQ(files_->GetFileAttributesW(u"C:\\DUP\\NAME.TXT"), readonly);
        EXPECT_EQ(files_->GetFileAttributesW(u"C:\\dup\\names.txt"), InvalidFileAttributes);
    }
}

TEST_F(MappedFileSystemTest, ClearCacheShowsFilesMadeBehindItsBack) {
    EXPECT_EQ(files_->GetFileAttributesW(u"C:\\LATE\\x.exe"), InvalidFileAttributes);
    folder_.Write("drive_c/late/x.exe", "MZ");
    mapped_->ClearCache();
    EXPECT_EQ(files_->GetFileAttributesW(u"C:\\LATE\\x.exe"), FileAttributeArchive);
}

}  // namespace
}  // namespace quillary
