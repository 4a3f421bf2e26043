#include "engine/file_reference.h"

#include <algorithm>
#include <array>

#include "core/shell_path.h"
#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::array<std::u16string_view, 25> kSafetyList = {u"outlook",
                                                             u"microsoft office",
                                                             u"common files\\crystal decisions",
                                                             u"common files\\installshield",
                                                             u"common files\\speechengines",
                                                             u"common Files\\adobe",
                                                             u"common files\\system",
                                                             u"common Files\\microsoft",
                                                             u"\\application data\\microsoft",
                                                             u"microsoft.net",
                                                             u"net\\framework",
                                                             u"%windir%\\tracing",
                                                             u"mcafee",
                                                             u"symantec",
                                                             u"navw32",
                                                             u"navw64",
                                                             u"msocache",
                                                             u";",
                                                             u"|",
                                                             u"?",
                                                             u"*",
                                                             u"a:\\",
                                                             u"b:\\",
                                                             u"\\tracing",
                                                             u"\\drm"};

constexpr std::array<std::u16string_view, 12> kDeviceNames = {
    u"\\CON",  u"\\PRN",  u"\\AUX",  u"\\CLOCK$", u"\\NUL",  u"\\COM1",
    u"\\LPT1", u"\\LPT2", u"\\LPT3", u"\\COM2",   u"\\COM3", u"\\COM4"};

constexpr std::array<std::u16string_view, 5> kTestExtensions = {u".exe", u".dll", u".ocx", u".ax",
                                                                u".sys"};

constexpr std::u16string_view kAppPaths =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// How many tests one rundll32 line may start for its arguments, all nesting included.
constexpr int kNestedTestBudget = 4096;

constexpr std::size_t kNpos = std::u16string_view::npos;

bool Contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != kNpos;
}

std::size_t CountOf(std::u16string_view text, char16_t ch) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ch));
}

bool IsAsciiLetter(char16_t ch) {
    return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z');
}

bool ReplaceFirst(std::u16string& text, std::u16string_view from, std::u16string_view to) {
    std::size_t pos = text.find(from);
    if (pos == kNpos)
        return false;
    text.replace(pos, from.size(), to);
    return true;
}

}  // namespace

CFileReferenceResolver::CFileReferenceResolver(IFileSystem& files, const RegistryTarget& target,
                                               const CBuiltinRules& rules,
                                               const SettingsValues& settings)
    : files_(files), target_(target), rules_(rules), settings_(settings) {
    driveList_ = files_.GetLogicalDriveStringsW();
    std::replace(driveList_.begin(), driveList_.end(), u'\0', u'#');
    sysWow64Directory_ = files_.GetSystemWow64DirectoryW().value_or(u"");
}

int CFileReferenceResolver::FileKind(std::u16string_view path) {
    std::uint32_t attributes = files_.GetFileAttributesW(path);
    if (attributes == InvalidFileAttributes)
        return -1;
    return (attributes & FileAttributeDirectory) ? 0 : 1;
}

bool CFileReferenceResolver::IsDirectory(std::u16string_view path) {
    return FileKind(path) == 0;
}

bool CFileReferenceResolver::IsProtectedFile(std::u16string_view path) {
    return rules_.IsFileProtectedBySystem(path);
}

bool CFileReferenceResolver::IsSafetyPath(std::u16string_view path) const {
    if (!settings_.PreferSafetyOverCount)
        return false;
    // The list is ASCII, which every case locale lowers alike: it is lowered once.
    static const std::vector<std::u16string> lowerList = [] {
        std::vector<std::u16string> list;
        list.reserve(std::size(kSafetyList));
        for (std::u16string_view entry : kSafetyList)
            list.push_back(ToLower(entry));
        return list;
    }();
    std::u16string lower = ToLower(path);
    return std::any_of(lowerList.begin(), lowerList.end(),
                       [&](const std::u16string& entry) { return Contains(lower, entry); });
}

bool CFileReferenceResolver::IsDeviceName(std::u16string_view path) {
    if (path.size() < 5)
        return false;
    std::u16string upper = ToUpper(path);
    return std::any_of(kDeviceNames.begin(), kDeviceNames.end(),
                       [&](std::u16string_view name) { return upper.ends_with(name); });
}

int CFileReferenceResolver::ProbeFileByPrefix(std::u16string_view path) {
    std::u16string upper = ToUpper(path);
    int result = 0;
    std::u16string_view roots = driveList_;
    while (!roots.empty()) {
        std::size_t end = roots.find(u'#');
        std::u16string_view root = roots.substr(0, end);
        roots.remove_prefix(end == kNpos ? roots.size() : end + 1);
        if (root.empty())
            continue;
        std::size_t at = upper.find(root);
        if (at == kNpos)
            continue;
        result = -1;
        std::u16string_view q = std::u16string_view(upper).substr(at);
        int kind = FileKind(q);
        if (kind == 1)
            return 1;
        if (kind == 0)
            return 0;
        for (std::size_t n = q.size(); n >= 1; --n) {
            std::u16string_view prefix = q.substr(0, n);
            if (!IsDeviceName(prefix) && FileKind(prefix) == 1)
                return 1;
        }
        // Nothing at the start is a file: a name with characters no path may hold ends the
        // search; otherwise the next drive root may still occur further on.
        std::size_t dot = q.find(u'.');
        if (dot == kNpos)
            return 0;
        std::u16string_view around = q.size() > 3 ? q.substr(3, dot) : std::u16string_view();
        for (char16_t ch : around) {
            if (ch < 0x20 || std::u16string_view(u"*?><:|").find(ch) != kNpos)
                return 0;
        }
    }
    return result;
}

int CFileReferenceResolver::FileExists(std::u16string_view path) {
    if (path.empty() || FileKind(path) == 1)
        return 1;
    return ProbeFileByPrefix(path);
}

int CFileReferenceResolver::FileExistsInView(std::u16string_view path, bool is32BitEntry) {
    std::u16string lower = ToLower(path);
    std::u16string replaced = lower;
    bool swapped = false;
    if (!is32BitEntry) {
        swapped = ReplaceFirst(replaced, u"\\syswow64\\", u"\\system32\\") ||
                  ReplaceFirst(replaced, u"\\system32\\", u"\\syswow64\\");
    }
    if (!swapped) {
        swapped = ReplaceFirst(replaced, u"\\program files (x86)\\", u"\\program files\\") ||
                  ReplaceFirst(replaced, u"\\program files\\", u"\\program files (x86)\\");
    }
    if (!swapped)
        return FileExists(lower);
    int r = FileExists(replaced);
    if (r < 0)
        return FileExists(lower);
    if (r == 0)
        return PathFileExistsW(files_, replaced) ? 1 : 0;
    return r;
}

bool CFileReferenceResolver::CutAfterExtension(std::u16string_view extension,
                                               std::u16string& text) {
    std::u16string lowerExtension = ToLower(extension);
    text = ToLower(text);
    std::size_t at = text.find(lowerExtension);
    if (at == kNpos || at == 0 || text.size() - at <= 4)
        return false;
    text.resize(at + 4);
    return true;
}

std::u16string CFileReferenceResolver::ExpandWithin(std::u16string_view text,
                                                    std::size_t bufferLength) {
    std::u16string expanded = files_.ExpandEnvironmentStringsW(text);
    if (expanded.size() + 1 > bufferLength)
        return std::u16string(text);
    return expanded;
}

std::u16string CFileReferenceResolver::ExtractValuePath(std::u16string_view valueText) {
    std::u16string text = Trim(valueText);
    std::size_t quotes = text.find_first_not_of(u'"');
    text.erase(0, quotes == kNpos ? text.size() : quotes);
    if (!text.empty()) {
        if (text.back() == u'"')
            text.pop_back();
        std::size_t quoted = text.find(u" \"");
        if (quoted != kNpos)
            text.resize(quoted);
    }
    for (std::u16string_view extension : {u".exe", u".dll", u".ocx"}) {
        std::size_t at = text.find(extension);
        if (at == kNpos)
            at = text.find(ToUpper(extension));
        if (at != kNpos) {
            text.resize(at + extension.size());
            break;
        }
    }
    if (std::size_t switches = text.find(u" /"); switches != kNpos)
        text.resize(switches);
    if (std::size_t comma = text.find(u','); comma != kNpos) {
        SplitPathParts parts = SplitPath(text);
        std::size_t extensionAt = parts.extension.empty() ? kNpos : text.find(parts.extension);
        if (parts.extension.size() > 1 && extensionAt != kNpos && comma > extensionAt) {
            text.resize(comma);
        }
    }
    std::size_t blank = text.find(u' ');
    std::size_t backslash = text.find(u'\\');
    if (blank != kNpos && (backslash == kNpos || blank < backslash)) {
        text = Trim(std::u16string_view(text).substr(0, blank));
    }
    if (CountOf(text, u'%') >= 2)
        text = ExpandWithin(text, 2048);
    return text;
}

// Every unexpected failure while testing gives the verdict "fine": a test that cannot finish
// never reports a problem.
template <typename Test>
bool CFileReferenceResolver::FineOnFailure(Test test) {
    nestedTestsLeft_ = kNestedTestBudget;
    try {
        return test();
    } catch (...) {
        return true;
    }
}

bool CFileReferenceResolver::FileReferenceIsValid(std::u16string_view systemDirectory,
                                                  std::u16string_view text,
                                                  const FileReferenceOptions& options) {
    const std::array<bool, 7> flags = {options.builtinFileExclusions, options.safetyList,
                                       options.forwardedC3,           options.directProgramFiles,
                                       options.is32BitEntry,          options.testArguments,
                                       options.testNetworkPaths};
    question_.clear();
    for (bool flag : flags)
        question_ += flag ? u'1' : u'0';
    question_ += systemDirectory;
    question_ += u'\0';
    question_ += text;
    if (const auto known = verdicts_.find(question_); known != verdicts_.end())
        return known->second;
    const bool valid = FineOnFailure([&] { return IsValid(systemDirectory, text, options); });
    verdicts_.emplace(question_, valid);
    return valid;
}

bool CFileReferenceResolver::RunDll32LineIsValid(std::u16string_view systemDirectory,
                                                 std::u16string_view text,
                                                 const FileReferenceOptions& options) {
    return FineOnFailure([&] { return RunDll32Valid(systemDirectory, text, options); });
}

bool CFileReferenceResolver::IsValid(std::u16string_view systemDirectory, std::u16string_view text,
                                     const FileReferenceOptions& options) {
    if (text.size() < 4 || text.starts_with(u".\\"))
        return true;
    std::u16string t = Trim(ToLower(text));
    if (t.size() <= 3 || PathFileExistsW(files_, t))
        return true;

    // Side-by-side assembly strings.
    int markers = 0;
    for (std::u16string_view marker : {u"type=", u"version=", u"token=", u"architecture="}) {
        if (Contains(t, marker))
            ++markers;
    }
    if (markers >= 2 &&
        (PathIsFileSpecW(t) || !IsAsciiLetter(t[0]) || markers >= 3 || CountOf(t, u'.') > 4)) {
        return true;
    }

    std::size_t rundll = t.find(u"rundll32");
    if (rundll == 0 || (rundll == 1 && t[0] == u'"')) {
        return RunDll32Valid(systemDirectory, text, options);
    }

    // URLs: only res:// and file:// name files.
    std::size_t scheme = t.find(u"://");
    if (scheme != kNpos && scheme >= 3 && scheme <= 6) {
        std::u16string_view name = std::u16string_view(t).substr(0, scheme);
        if (name != u"res" && name != u"file")
            return true;
        std::size_t start = t.find_first_not_of(u'/', scheme + 3);
        t.erase(0, start == kNpos ? t.size() : start);
        std::replace(t.begin(), t.end(), u'/', u'\\');
    }

    if (Contains(t, u";"))
        return true;

    if (Contains(t, u"*")) {
        if (t.ends_with(u"\\*") || t.ends_with(u"/*"))
            t.pop_back();
        std::size_t star = t.find(u'*');
        if ((star != kNpos && t.find_first_of(u"\\*", star + 1) != kNpos) || Contains(t, u"?") ||
            Contains(t, u"\\*\\")) {
            return true;
        }
    }

    if (t.size() > 1 && t[0] == u'@' && (t[1] == u'%' || IsAsciiLetter(t[1])))
        t.erase(0, 1);
    if (!options.testNetworkPaths && PathIsNetworkPathW(files_, t))
        return true;
    if (options.safetyList && IsSafetyPath(t))
        return true;

    if (options.testArguments)
        return ArgumentsAreValid(t);
    for (std::u16string_view extension : kTestExtensions) {
        if (CutAfterExtension(extension, t))
            break;
    }

    if (!t.empty() && t[0] == u'"' && t.find(u'"', 1) == kNpos)
        return true;
    std::replace(t.begin(), t.end(), u'"', u' ');
    t = Trim(t);

    if (options.builtinFileExclusions && !rules_.PassesBuiltinFileRules(t))
        return true;
    if (CountOf(t, u'%') >= 2)
        t = ToLower(ExpandWithin(t, 2048));

    if (t.starts_with(u"rundll32")) {
        std::size_t blank = t.find(u' ', 7);
        t.erase(0, blank == kNpos ? t.size() : blank);
        t = std::u16string(TrimLeftView(t));
        if (std::size_t comma = t.find(u','); comma != kNpos)
            t.resize(comma);
        if (PathFileExistsW(files_, t))
            return true;
    }

    if (t.size() >= 1040) {
        if (CountOf(t, u'\\') >= 2 && !PathIsNetworkPathW(files_, t))
            return FileExists(t) >= 0;
        return true;
    }
    if (t.size() > 260)
        return true;

    if (Contains(t, u":\\"))
        return AbsolutePathIsValid(t, options);
    return RelativePathIsValid(systemDirectory, t, options);
}

bool CFileReferenceResolver::ArgumentsAreValid(const std::u16string& text) {
    std::u16string_view rest = PathGetArgsW(text);
    while (!rest.empty()) {
        std::u16string_view next = PathGetArgsW(rest);
        std::u16string argument(TrimView(rest.substr(0, rest.size() - next.size())));
        rest = next;
        if (FileExists(argument) >= 0)
            continue;
        bool namesNoProgram = argument.find(u".exe", 1) == kNpos && Contains(argument, u" ");
        if (!namesNoProgram && !IsProtectedFile(argument))
            return false;
    }
    std::size_t open = text.find(u'"');
    std::size_t close = open == kNpos ? kNpos : text.find(u'"', open + 1);
    if (close == kNpos)
        return true;
    std::u16string quoted = text.substr(open + 1, close - open - 1);
    return FileExists(quoted) >= 0 || IsProtectedFile(quoted);
}

bool CFileReferenceResolver::AbsolutePathIsValid(const std::u16string& path,
                                                 const FileReferenceOptions& options) {
    SplitPathParts parts = SplitPath(path);
    if (settings_.SetChkREmovableMedia) {
        std::uint32_t type = files_.GetDriveTypeW(parts.drive + u"\\");
        if (type != DriveFixed && type != DriveNoRootDir)
            return true;
    }
    if (PathFileExistsW(files_, path) || files_.PathFindOnPathW(path, {}))
        return true;
    bool inView =
        target_.is64Bit && !(options.directProgramFiles && Contains(path, u"program files"));
    int r = inView ? FileExistsInView(path, options.is32BitEntry) : FileExists(path);
    if (r == 1)
        return true;
    if (r < 0)
        return IsProtectedFile(path);
    if (Contains(path, u"."))
        return PathFileExistsW(files_, path) || IsProtectedFile(path);
    if (PathFileExistsW(files_, path) || PathFileExistsW(files_, path + u".exe") ||
        Contains(path, u"\\system32")) {
        return true;
    }
    return IsProtectedFile(path);
}

bool CFileReferenceResolver::RelativePathIsValid(std::u16string_view systemDirectory,
                                                 std::u16string path,
                                                 const FileReferenceOptions& options) {
    if (std::optional<std::u16string> found = files_.PathFindOnPathW(path, {})) {
        return PathFileExistsW(files_, *found) || IsProtectedFile(path);
    }
    SplitPathParts parts = SplitPath(path);
    std::optional<std::u16string> searched =
        files_.SearchPathW(std::nullopt, path, parts.extension);
    if (searched && searched->size() < 1039)
        return true;

    const auto networkVerdict = [&] {
        if (options.testNetworkPaths && PathIsNetworkPathW(files_, path)) {
            return PathFileExistsW(files_, path) || IsProtectedFile(path);
        }
        return true;
    };
    bool namesProgram = Contains(path, u".dll") || Contains(path, u".ocx") ||
                        Contains(path, u".exe") || Contains(path, u".ax");
    if (!namesProgram || Contains(path, u":"))
        return networkVerdict();

    std::size_t backslashes = CountOf(path, u'\\');
    if (backslashes >= 2)
        return true;
    if (backslashes == 1)
        path.erase(0, path.find(u'\\') + 1);

    if (Contains(path, u"/")) {
        std::optional<std::u16string> qualified = PathSearchAndQualifyW(files_, path, 260);
        return (qualified && FileExists(*qualified) >= 0) || IsProtectedFile(path);
    }

    parts = SplitPath(path);
    std::u16string extension = parts.extension.substr(0, parts.extension.find(u' '));
    std::u16string name = parts.name + extension;
    if (AppPathsResolves(name))
        return true;
    if (PathFileExistsW(files_, std::u16string(systemDirectory) + name))
        return true;
    if (target_.is64Bit && !sysWow64Directory_.empty()) {
        std::u16string inSysWow64 = sysWow64Directory_ + u"\\" + name;
        if (PathFileExistsW(files_, inSysWow64) || IsProtectedFile(inSysWow64))
            return true;
    }
    std::optional<std::u16string> found = files_.PathFindOnPathW(name, {});
    if (found && PathFileExistsW(files_, *found))
        return true;
    return PathFileExistsW(files_, name) || IsProtectedFile(name);
}

bool CFileReferenceResolver::RunDll32Valid(std::u16string_view systemDirectory,
                                           std::u16string_view text,
                                           const FileReferenceOptions& options) {
    std::u16string_view line = TrimLeftView(text);
    if (line.size() < 11)
        return true;
    std::u16string head = Trim(ToLower(line.substr(0, 9)));
    if (head.find(u"rundll32") == 1 && line[0] != u'"')
        return true;
    std::u16string expanded = ExpandWithin(line, std::max<std::size_t>(2048, line.size() * 8));

    std::u16string_view rest = PathGetArgsW(expanded);
    while (!rest.empty()) {
        std::u16string tail = Trim(ToLower(rest));
        rest = PathGetArgsW(rest);
        if (Contains(tail, u"rundll32"))
            tail = std::u16string(PathGetArgsW(tail));
        if (tail.empty())
            continue;
        if (--nestedTestsLeft_ < 0)
            return true;  // too deep to judge safely
        if (IsValid(systemDirectory, tail, options))
            continue;

        // The argument failed; the line stands when the library it runs exists.
        std::size_t comma = expanded.find(u',');
        if (comma == kNpos)
            return false;
        std::size_t blank = expanded.find(u' ', comma);
        if (blank == kNpos)
            return false;
        std::size_t next = expanded.find(u',', blank);
        std::u16string library =
            Trim(std::u16string_view(expanded).substr(blank, next == kNpos ? kNpos : next - blank));
        return PathFileExistsW(files_, library);
    }
    return true;
}

bool CFileReferenceResolver::AppPathsResolves(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    std::u16string_view name = backslash == kNpos ? path : path.substr(backslash + 1);
    if (name.empty())
        return false;
    std::u16string key = std::u16string(kAppPaths) + u"\\" + std::u16string(name);
    using Reader = bool (*)(const RegistryTarget&, HKey, std::u16string_view, std::u16string_view,
                            std::u16string&);
    std::vector<Reader> readers;
    if (target_.is64Bit) {
        readers = {ReadValueText32, ReadValueText64};
    } else {
        readers = {ReadValueText};
    }
    for (Reader read : readers) {
        for (std::u16string_view valueName : {u"", u"Path"}) {
            std::u16string text;
            if (read(target_, HKeyLocalMachine, key, valueName, text) && !text.empty() &&
                PathFileExistsW(files_, text)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace quillary
