#pragma once

// Writing a branch of the key tree as one of Wine's registry files, byte for byte as Wine
// writes it.

#include <string>

#include "targets/memory/registry_tree.h"
#include "targets/wine/wine_reg_format.h"

namespace quillary {

// Writes branch as Wine writes a registry file.
std::string FormatWineRegFile(const CRegistryNode& branch, const WineRegHeader& header);

}  // namespace quillary
