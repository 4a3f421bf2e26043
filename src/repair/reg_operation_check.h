#pragma once

// What registry export text may ask of a target, checked before any of it is applied, so that
// an import or an undo that could not finish changes nothing: names within the registry's
// limits, no deletion the deletion guard refuses, and under HKEY_USERS only the users the
// target holds.

#include <optional>
#include <span>
#include <string>

#include "core/registry_access.h"
#include "repair/reg_file_reader.h"

namespace quillary {

// The longest key name and value name a registry holds, in UTF-16 units.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

// nullopt when every operation may be applied; else what is wrong with the first that may
// not (the caller adds its line).
[[nodiscard]] std::optional<std::string> CheckRegOperation(const RegistryTarget& target,
                                                           const RegImportOperation& operation);

// The same for every operation; the message names the line of the first that may not.
[[nodiscard]] std::optional<RegImportError> CheckRegOperations(
    const RegistryTarget& target, std::span<const RegImportOperation> operations);

}  // namespace quillary
