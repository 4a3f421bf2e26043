// The file system of a Wine prefix against Wine itself: a small Windows program asks Wine's
// kernel32, shlwapi and shell32 for drives, folders, the environment, special folders, file
// attributes and search results, and the prefix file system must answer the same.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "core/text_encoding.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/prefix_file_system.h"
#include "targets/wine/wine_prefix_registry.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

using testing::CWinePrefixCopy;

std::u16string Text(std::string_view utf8) {
    return Utf8ToUtf16(utf8);
}

// Our answer to one query, in the probe's notation.
std::string Answer(IFileSystem& files, const std::string& query) {
    std::size_t colon = query.find(':');
    std::string kind = query.substr(0, colon);
    std::u16string argument = Text(query.substr(colon + 1));
    auto orDash = [](const std::optional<std::u16string>& text) {
        return text ? Utf16ToUtf8(*text) : std::string("-");
    };
    if (kind == "drives") {
        std::u16string roots = files.GetLogicalDriveStringsW();
        if (!roots.empty())
            roots.pop_back();
        for (char16_t& ch : roots) {
            if (ch == 0)
                ch = u'|';
        }
        return Utf16ToUtf8(roots);
    }
    if (kind == "type")
        return std::to_string(files.GetDriveTypeW(argument));
    if (kind == "device")
        return orDash(files.QueryDosDeviceW(argument));
    if (kind == "windows")
        return Utf16ToUtf8(files.GetWindowsDirectoryW());
    if (kind == "system")
        return Utf16ToUtf8(files.GetSystemDirectoryW());
    if (kind == "wow64")
        return orDash(files.GetSystemWow64DirectoryW());
    if (kind == "expand")
        return Utf16ToUtf8(files.ExpandEnvironmentStringsW(argument));
    if (kind == "csidl")
        return orDash(files.GetSpecialFolderPath(std::stoi(query.substr(colon + 1))));
    if (kind == "attributes") {
        LStatus error = ErrorSuccess;
        std::uint32_t attributes = files.GetFileAttributesW(argument, &error);
        if (attributes == InvalidFileAttributes)
            return "error " + std::to_string(error);
        std::ostringstream hex;
        hex << std::hex << attributes;
        return hex.str();
    }
    if (kind == "search")
        return orDash(files.SearchPathW(std::nullopt, argument, u".exe"));
    if (kind == "findonpath")
        return orDash(files.PathFindOnPathW(argument, {}));
    return "unknown query";
}

TEST(WinePrefixFilesTest, AnswersAsWineDoes) {
    CWinePrefixCopy copy(testing::FreshWinePrefix(), testing::WinePrefixCopies() / "files");
    ASSERT_EQ(copy.Error(), "");
    std::filesystem::create_directories(copy.Path() / "drive_c/Program Files/Probe");
    std::ofstream(copy.Path() / "drive_c/Program Files/Probe/Probe.exe") << "MZ";
    std::ofstream(copy.Path() / "drive_c/.hidden") << "";

    const std::vector<std::string> queries = {
        "drives:",
        "type:C:\\",
        "type:Z:\\",
        "type:C:\\windows\\",
        "type:C:\\nonexistent\\",
        "type:Q:\\",
        "device:C:",
        "device:Z:",
        "device:COM1",
        "device:Q:",
        "windows:",
        "system:",
        "wow64:",
        "expand:%SystemRoot%|%windir%|%SystemDrive%|%ComSpec%|%PATH%",
        "expand:%ProgramFiles%|%ProgramFiles(x86)%|%CommonProgramFiles%|%ProgramW6432%",
        "expand:%ProgramData%|%ALLUSERSPROFILE%|%PUBLIC%|%USERPROFILE%",
        "expand:%APPDATA%|%LOCALAPPDATA%|%TEMP%|%TMP%|%USERNAME%|%COMPUTERNAME%",
        "expand:%Undefined%Name%|%%|100%",
        "csidl:0",
        "csidl:2",
        "csidl:5",
        "csidl:7",
        "csidl:8",
        "csidl:11",
        "csidl:16",
        "csidl:19",
        "csidl:20",
        "csidl:22",
        "csidl:23",
        "csidl:24",
        "csidl:25",
        "csidl:26",
        "csidl:28",
        "csidl:35",
        "csidl:36",
        "csidl:37",
        "csidl:38",
        "csidl:39",
        "csidl:40",
        "csidl:41",
        "csidl:42",
        "csidl:43",
        "csidl:44",
        "csidl:46",
        "attributes:C:\\windows\\system32\\NOTEPAD.EXE",
        "attributes:c:/windows/notepad.exe",
        "attributes:C:\\windows\\notepad.exe.",
        "attributes:C:\\windows\\notepad.exe\\",
        "attributes:C:\\windows\\notepad.exe\\x",
        "attributes:C:\\windows\\missing.exe",
        "attributes:C:\\nonexistent\\x.exe",
        "attributes:C:\\",
        "attributes:C:\\PROGRAM FILES\\probe\\probe.EXE",
        "attributes:C:\\.hidden",
        "attributes:C:\\users\\Public\\Desktop",
        "search:notepad",
        "search:REGEDIT.EXE",
        "search:system32\\notepad.exe",
        "search:missing",
        "findonpath:regedit.exe",
        "findonpath:notepad.exe",
        "findonpath:wbem",
        "findonpath:C:\\windows\\regedit.exe",
        "findonpath:notepad",
        "findonpath:missing.exe",
    };
    std::vector<std::string> arguments = {(std::filesystem::path(QUILLARY_WINE_PROBE)).string()};
    arguments.insert(arguments.end(), queries.begin(), queries.end());
    testing::CommandResult probe = copy.Wine(arguments);
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    copy.StopWineServer();

    std::map<std::string, std::string> wine;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            wine[line.substr(0, tab)] = line.substr(tab + 1);
    }
    ASSERT_EQ(wine.size(), queries.size()) << probe.out;

    std::string error;
    CPosixFileIo fileIo;
    auto registry = CWinePrefixRegistry::Open(fileIo, copy.Path(), &error);
    ASSERT_TRUE(registry) << error;
    auto files = OpenPrefixFileSystem(copy.Path(), *registry, registry->Is64Bit());
    for (const std::string& query : queries) {
        std::string expected = wine[query];
        // Wine 8 ends the Documents folder with a backslash that no other folder has.
        if (query == "csidl:5" && expected.ends_with("\\"))
            expected.pop_back();
        EXPECT_EQ(Answer(*files, query), expected) << query;
    }
}

}  // namespace
}  // namespace quillary
