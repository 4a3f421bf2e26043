#pragma once

// The repair each problem's entry type names: what it changes in the registry or the files,
// always through the open partial backup, so that every change has its undo copy first.

#include <string_view>

#include "core/registry_access.h"
#include "engine/problem.h"
#include "repair/backup.h"

namespace quillary {

// Repairs one problem through backup; true when the repair counts as done. A repair that
// would delete a protected key fails and is logged.
bool Repair(const CProblem& problem, CBackup& backup, const RegistryTarget& target,
            const std::function<void(std::u16string_view)>& log);

}  // namespace quillary
