#pragma once

// Importing registry export text into a target, as the Registry Editor's silent import does:
// the undo of a repair, and restores of full backups. The files are read by
// reg_file_reader.h. The whole file is checked before anything is applied, so a damaged file
// changes nothing.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/registry_access.h"
#include "repair/reg_file_reader.h"

namespace quillary {

// Applies operations to the target in one view. Stops at the first failure and describes it.
[[nodiscard]] std::optional<std::string> ApplyRegOperations(
    const RegistryTarget& target, bool in64BitView, std::span<const RegImportOperation> operations);

// Writes into writer what undoes operations: the keys and values they delete or replace as
// they are now, a deletion for each key and value they create. Call before applying them.
class CRegExport;
void RecordUndoOf(const RegistryTarget& target, bool in64BitView,
                  std::span<const RegImportOperation> operations, CRegExport& writer);

// Reads a whole file a key block at a time and checks every operation it holds (see
// reg_operation_check.h) without applying any; the first thing wrong, with its line.
[[nodiscard]] std::optional<RegImportError> CheckRegFile(const RegistryTarget& target,
                                                         IFileIo& fileIo,
                                                         const std::filesystem::path& path);

// Reads a file twice: checks it whole (CheckRegFile), then applies it a key block at a time.
// nullopt on success, else what went wrong (with its line).
[[nodiscard]] std::optional<std::string> ImportRegFile(const RegistryTarget& target,
                                                       bool in64BitView, IFileIo& fileIo,
                                                       const std::filesystem::path& path);

}  // namespace quillary
