#include "categories/file_info_array.h"

namespace quillary {
namespace {

// Far deeper than any real folder tree; a deeper one is a hostile or broken file system.
constexpr int kMaxFolderDepth = 128;

bool IsDotName(std::u16string_view name) {
    return name == u"." || name == u"..";
}

}  // namespace

int CFileInfoArray::AddFolderFiles(std::u16string_view folder, std::u16string_view mask) {
    return AddFolderFilesAt(std::u16string(folder), mask, 0);
}

int CFileInfoArray::AddFolderFilesAt(const std::u16string& folder, std::u16string_view mask,
                                     int depth) {
    int added = 0;
    FindData entry;
    if (depth < kMaxFolderDepth) {
        if (auto search = files_.FindFirstFileW(folder + u"*", &entry)) {
            do {
                bool isFolder = (entry.attributes & FileAttributeDirectory) != 0;
                bool isLink = (entry.attributes & FileAttributeReparsePoint) != 0;
                if (isFolder && !isLink && !IsDotName(entry.fileName))
                    added += AddFolderFilesAt(folder + entry.fileName + u"\\", mask, depth + 1);
            } while (search->FindNextFileW(&entry));
        }
    }
    if (auto search = files_.FindFirstFileW(folder + std::u16string(mask), &entry)) {
        do {
            if (entry.attributes & FileAttributeDirectory)
                continue;
            found_.push_back(
                {folder + entry.fileName, entry.attributes, entry.fileSize, entry.lastWriteTime});
            ++added;
        } while (search->FindNextFileW(&entry));
    }
    return added;
}

}  // namespace quillary
