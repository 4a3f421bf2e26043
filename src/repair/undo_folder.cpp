#include "repair/undo_folder.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace quillary {
namespace {

// Far beyond any real count, and small enough that one more never overflows.
constexpr std::int64_t kNumberLimit = 999'999'999'999;

std::filesystem::path SwapLastThree(const std::filesystem::path& path, std::string_view with) {
    std::string text = path.string();
    text.replace(text.size() - std::min<std::size_t>(3, text.size()), std::string::npos, with);
    return text;
}

}  // namespace

std::filesystem::path UndoFolderOf(const std::filesystem::path& dataFolder) {
    return dataFolder / "Partial Backups";
}

bool IsUndoListFileName(std::string_view name) {
    std::size_t first = name.find("rmx");
    return first != std::string_view::npos && first + 3 == name.size();
}

std::int64_t UndoListNumberOf(std::string_view name) {
    std::int64_t number = 0;
    for (char ch : name) {
        if (ch < '0' || ch > '9')
            break;
        number = std::min(kNumberLimit, number * 10 + (ch - '0'));
    }
    return number;
}

std::int64_t NextUndoNumber(const std::filesystem::path& folder) {
    std::int64_t highest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            continue;
        // Every numbered file counts, an archive or a journal without its list file too: a
        // new backup must never write over what an interrupted one left.
        highest = std::max(highest, UndoListNumberOf(it->path().filename().string()));
    }
    return highest + 1;
}

std::filesystem::path UndoBasePath(const std::filesystem::path& folder, std::int64_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%.8lld", static_cast<long long>(number));
    return folder / name;
}

std::filesystem::path ArchivePathOfList(const std::filesystem::path& listFile) {
    return SwapLastThree(listFile, "rxb");
}

std::filesystem::path ListPathOfArchive(const std::filesystem::path& archive) {
    return SwapLastThree(archive, "rmx");
}

}  // namespace quillary
