#pragma once

// What every Wine prefix holds before any program is installed, in the demo's small measure:
// the keys the system reads for its folders and environment, the 32-bit view of the machine's
// software and classes, and the folders of drive C: that those keys name.

#include <string>
#include <vector>

#include "planted_entries.h"

namespace quillary::demo {

// A registry symbolic link, as Wine keeps the keys that both views share.
struct RegLinkWrite {
    std::u16string key;     // full path, root name first
    std::u16string target;  // the registry's own namespace: \Registry\Machine\...
};

struct Baseline {
    std::vector<RegWrite> writes;
    std::vector<RegLinkWrite> links;      // made after the writes
    std::vector<std::u16string> folders;  // Windows paths on drive C:
    std::vector<std::u16string> files;    // Windows paths on drive C:
};

const Baseline& DemoBaseline();

}  // namespace quillary::demo
