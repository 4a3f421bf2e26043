#pragma once

// Judging the file references that registry values hold: plain and quoted paths, command
// lines with switches and arguments, rundll32 lines, paths with %VARIABLES%, resource
// references ending in ",N", URLs and side-by-side assembly strings. The verdicts lean
// towards "fine": whatever cannot be judged safely counts as fine, so that nothing that may
// be in use is reported.

#include <string>
#include <string_view>
#include <unordered_map>

#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/builtin_rules.h"
#include "platform/file_system.h"

namespace quillary {

// The options of a reference test, in the order the scanners pass them.
struct FileReferenceOptions {
    bool builtinFileExclusions = false;  // a: the built-in file rules make a reference fine
    bool safetyList = false;             // b: a reference on the safety list is fine
    bool forwardedC3 = false;            // c3: handed on to the rundll32 test unchanged
    bool directProgramFiles = false;     // c: "program files" paths are tested as written
    bool is32BitEntry = false;           // d: the entry belongs to the 32-bit view
    bool testArguments = false;          // e: every argument of a command line is tested
    bool testNetworkPaths = false;       // f: network paths are tested instead of passed
};

class CFileReferenceResolver {
public:
    CFileReferenceResolver(IFileSystem& files, const RegistryTarget& target,
                           const CBuiltinRules& rules, const SettingsValues& settings);

    // -1 missing, 1 file, 0 folder.
    int FileKind(std::u16string_view path);
    bool IsDirectory(std::u16string_view path);
    bool IsProtectedFile(std::u16string_view path);
    bool IsSafetyPath(std::u16string_view path) const;
    static bool IsDeviceName(std::u16string_view path);
    // Finds a file at the start of text that may go on with unquoted arguments: 1 found, 0 a
    // folder or no drive root in the text, -1 a drive root but nothing decided.
    int ProbeFileByPrefix(std::u16string_view path);
    int FileExists(std::u16string_view path);
    // FileExists on a 64-bit system, trying the other view's system and program folders first.
    int FileExistsInView(std::u16string_view path, bool is32BitEntry);
    // Cuts text (lower-cased) four characters after extension when it occurs after the start
    // and more follows; true when it cut.
    static bool CutAfterExtension(std::u16string_view extension, std::u16string& text);
    // The file path a value's text names, without quotes, switches and resource index.
    std::u16string ExtractValuePath(std::u16string_view valueText);

    // True when text is fine, false when it names a file that is gone. systemDirectory is the
    // category's system folder with its trailing backslash. The verdict is kept until
    // ForgetVerdicts: a scan asks about the same library for every class it serves.
    bool FileReferenceIsValid(std::u16string_view systemDirectory, std::u16string_view text,
                              const FileReferenceOptions& options);
    bool RunDll32LineIsValid(std::u16string_view systemDirectory, std::u16string_view text,
                             const FileReferenceOptions& options);
    // Whether the App Paths entry of path's file name names an existing file.
    bool AppPathsResolves(std::u16string_view path);
    // Forgets the kept verdicts: when a scan starts, since files and settings may have
    // changed.
    void ForgetVerdicts() { verdicts_.clear(); }

private:
    template <typename Test>
    bool FineOnFailure(Test test);
    bool IsValid(std::u16string_view systemDirectory, std::u16string_view text,
                 const FileReferenceOptions& options);
    bool RunDll32Valid(std::u16string_view systemDirectory, std::u16string_view text,
                       const FileReferenceOptions& options);
    bool AbsolutePathIsValid(const std::u16string& path, const FileReferenceOptions& options);
    bool RelativePathIsValid(std::u16string_view systemDirectory, std::u16string path,
                             const FileReferenceOptions& options);
    bool ArgumentsAreValid(const std::u16string& text);
    std::u16string ExpandWithin(std::u16string_view text, std::size_t bufferLength);

    IFileSystem& files_;
    const RegistryTarget& target_;
    const CBuiltinRules& rules_;
    const SettingsValues& settings_;
    std::u16string driveList_;  // the drive roots, each followed by '#'
    std::u16string sysWow64Directory_;
    // Tests a rundll32 line may still start before its verdict is "fine": each argument of a
    // rundll32 line is tested like a reference, and a hostile value nests them.
    int nestedTestsLeft_ = 0;
    // FileReferenceIsValid's verdicts by question: the options, the system folder and the
    // text.
    std::unordered_map<std::u16string, bool> verdicts_;
    // The question being asked, built in the same storage each time: most are answered from
    // the verdicts kept.
    std::u16string question_;
};

}  // namespace quillary
