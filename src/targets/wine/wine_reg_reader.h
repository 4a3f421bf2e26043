#pragma once

// Reading one of Wine's registry files into a branch of the key tree, reporting each line it
// does not understand.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "targets/memory/registry_tree.h"
#include "targets/wine/wine_reg_format.h"

namespace quillary {

// One thing the reader did not understand, with where it was.
struct WineRegDiagnostic {
    std::string file;
    std::size_t line = 0;
    std::string message;
};

std::string DescribeDiagnostic(const WineRegDiagnostic& diagnostic);

// Reads a file's bytes into branch (the key the file is relative to). Keys without a time get
// loadTime. Returns true when every line was understood; otherwise every line that was not is
// reported and the rest is loaded where that is safe. A file without Wine's header line is
// not read at all.
bool ReadWineRegFile(std::string_view bytes, const std::string& fileName, CRegistryNode& branch,
                     FileTime loadTime, WineRegHeader* header,
                     std::vector<WineRegDiagnostic>* diagnostics);

}  // namespace quillary
