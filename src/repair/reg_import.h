#pragma once

// Importing registry export text into a target, as the Registry Editor's silent import does:
// the undo of a repair, and restores of full backups. Reads the program's own files and those
// of Wine's and Windows' Registry Editors: UTF-16LE with its byte-order mark or 8-bit
// "REGEDIT4" text, CRLF or LF, every value form, hex continuation lines, "[-key]" and "name"=-
// deletions, comments and blank lines. The whole file is checked before anything is applied,
// so a damaged file changes nothing.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/registry_access.h"

namespace quillary {

struct RegImportOperation {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    HKey root = HKey::None;
    std::u16string subKey;
    std::u16string valueName;  // empty: the default value
    RegType type = RegNone;
    std::vector<std::uint8_t> data;
    std::size_t line = 0;  // where the file states it
};

struct RegImportError {
    std::size_t line = 0;  // 0: the file as a whole
    std::string message;
};

// The operations a file stands for, in file order; or the first thing that is wrong with it.
struct RegImportParse {
    std::vector<RegImportOperation> operations;
    std::optional<RegImportError> error;
};
RegImportParse ParseRegFile(std::span<const std::uint8_t> bytes);

// Applies operations to the target in one view. Stops at the first failure and describes it.
[[nodiscard]] std::optional<std::string> ApplyRegOperations(
    const RegistryTarget& target, bool in64BitView, std::span<const RegImportOperation> operations);

// Writes into writer what undoes operations: the keys and values they delete or replace as
// they are now, a deletion for each key and value they create. Call before applying them.
class CRegExport;
void RecordUndoOf(const RegistryTarget& target, bool in64BitView,
                  std::span<const RegImportOperation> operations, CRegExport& writer);

// Reads, checks and applies a file; nullopt on success, else what went wrong (with its line).
[[nodiscard]] std::optional<std::string> ImportRegFile(const RegistryTarget& target,
                                                       bool in64BitView,
                                                       const std::filesystem::path& path);

}  // namespace quillary
