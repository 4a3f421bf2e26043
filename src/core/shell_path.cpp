#include "core/shell_path.h"

namespace quillary {

bool PathFileExistsW(IFileSystem& files, std::u16string_view path) {
    return !path.empty() && files.GetFileAttributesW(path) != InvalidFileAttributes;
}

bool PathIsNetworkPathW(IFileSystem& files, std::u16string_view path) {
    if (path.starts_with(u"\\\\"))
        return true;
    if (path.size() < 2 || path[1] != u':')
        return false;
    char16_t letter = path[0];
    if (!((letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z')))
        return false;
    const char16_t root[] = {letter, u':', u'\\', 0};
    return files.GetDriveTypeW(root) == DriveRemote;
}

bool PathIsFileSpecW(std::u16string_view path) {
    return path.find_first_of(u":\\") == std::u16string_view::npos;
}

std::u16string_view PathGetArgsW(std::u16string_view commandLine) {
    bool inQuotes = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        if (commandLine[i] == u' ' && !inQuotes)
            return commandLine.substr(i + 1);
        if (commandLine[i] == u'"')
            inQuotes = !inQuotes;
    }
    return {};
}

SplitPathParts SplitPath(std::u16string_view path) {
    SplitPathParts parts;
    if (path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    std::size_t slash = path.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) {
        parts.folder = path.substr(0, slash + 1);
        path.remove_prefix(slash + 1);
    }
    std::size_t dot = path.rfind(u'.');
    if (dot != std::u16string_view::npos) {
        parts.extension = path.substr(dot);
        path = path.substr(0, dot);
    }
    parts.name = path;
    return parts;
}

std::optional<std::u16string> PathSearchAndQualifyW(IFileSystem& files, std::u16string_view path,
                                                    std::size_t bufferLength) {
    std::optional<std::u16string> found = files.SearchPathW(std::nullopt, path, u"");
    if (!found || found->size() >= bufferLength)
        found = files.GetFullPathNameW(path);
    if (found->empty() || found->size() >= bufferLength)
        return std::nullopt;
    return found;
}

}  // namespace quillary
