#pragma once

// `tweaks`: the five registry tweaks of the target, whether each is applied, and whether the
// target's system reads them at all (a Wine prefix reads none).

#include "scan_command.h"

namespace quillary::cli {

int RunTweaksCommand(COpenTarget& target, bool json);

}  // namespace quillary::cli
