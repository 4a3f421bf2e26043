#pragma once

// Wine's registry files (system.reg, user.reg, userdef.reg): reading one into a branch of the
// key tree and writing a branch back in Wine's own format, byte for byte as Wine writes it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "targets/memory/registry_tree.h"
#include "platform/win_types.h"

namespace quillary {

// One thing the reader did not understand, with where it was.
struct WineRegDiagnostic {
    std::string file;
    std::size_t line = 0;
    std::string message;
};

std::string DescribeDiagnostic(const WineRegDiagnostic& diagnostic);

// What a file says about itself besides its keys.
struct WineRegHeader {
    std::string relativeTo;  // as written after ";; All keys relative to ", e.g. REGISTRY\\Machine
    std::string arch;        // "win64" or "win32"; empty when the file has no #arch line
};

// Reads a file's bytes into branch (the key the file is relative to). Keys without a time get
// loadTime. Returns true when every line was understood; otherwise every line that was not is
// reported and the rest is loaded where that is safe. A file without Wine's header line is
// not read at all.
bool ReadWineRegFile(std::string_view bytes, const std::string& fileName, CRegistryNode& branch,
                     FileTime loadTime, WineRegHeader* header,
                     std::vector<WineRegDiagnostic>* diagnostics);

// Writes branch as Wine writes a registry file.
std::string FormatWineRegFile(const CRegistryNode& branch, const WineRegHeader& header);

}  // namespace quillary
