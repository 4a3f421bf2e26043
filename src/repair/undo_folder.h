#pragma once

// The folder of the partial backups and the numbering of their files. One partial backup
// leaves NNNNNNNN.rxb (its ZIP archive) and NNNNNNNN.rmx (its list file) there; the next
// number is one more than the highest that any of its files starts with.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillary {

// The undo folder inside the program's data folder.
std::filesystem::path UndoFolderOf(const std::filesystem::path& dataFolder);

// True for a file name that counts as a list file: its first "rmx" is its last three
// characters (so "a.rmx" counts and "rmx.rmx" does not), compared case-sensitively.
bool IsUndoListFileName(std::string_view name);

// The number a list file's name stands for: the value of its leading digits, 0 without any.
// Absurdly long runs of digits saturate rather than wrap.
std::int64_t UndoListNumberOf(std::string_view name);

// The next free number: one more than the highest number that any file of the folder starts
// with (list files, archives, journals; folders are not counted); 1 in an empty or missing
// folder.
std::int64_t NextUndoNumber(const std::filesystem::path& folder);

// folder/NNNNNNNN: the shared base of the two files of a partial backup, eight digits at
// least.
std::filesystem::path UndoBasePath(const std::filesystem::path& folder, std::int64_t number);

// The archive beside a list file, and the list file beside an archive: the last three
// characters swapped for the other extension.
std::filesystem::path ArchivePathOfList(const std::filesystem::path& listFile);
std::filesystem::path ListPathOfArchive(const std::filesystem::path& archive);

}  // namespace quillary
