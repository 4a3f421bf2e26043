#pragma once

// `quillary-cli restore-points`: the restore points of the prefix (copies of its registry
// files made before bulk changes), and `--restore ID` to put one back.

#include <cstdint>

#include "app/target_factory.h"

namespace quillary::cli {

// The restore point could not be put back: it is damaged, or the files could not be
// written. Nothing was changed.
inline constexpr int kExitRestoreFailed = 1;

// Prints each restore point with its number, local time, state and description, oldest
// first (with json, one JSON array); folders of the store that hold no readable restore point
// are named on stderr.
int RunListRestorePoints(COpenTarget& target, bool json);

// Puts restore point id back. Exit codes: 0 restored; 2 no restore point has that number;
// 4 Wine runs for the prefix; kExitRestoreFailed otherwise. The registry files it replaces
// are kept as a restore point of their own, whose number is printed.
int RunRestoreRestorePoint(COpenTarget& target, std::int64_t id);

}  // namespace quillary::cli
