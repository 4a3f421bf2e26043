#pragma once

// What `wine reg export` prints, taken apart so that two registries can be compared.

#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "wine_prefix_copy.h"

namespace quillary::testing {

// The keys of a `reg export`, each with its value lines.
using ExportedKeys = std::map<std::string, std::vector<std::string>>;

ExportedKeys ParseExport(const std::string& text, ExportedKeys keys = {});

// `wine reg export` of each root of a prefix copy, taken apart; the copy's wineserver writes
// its registry first and is stopped after.
ExportedKeys ExportRoots(const CWinePrefixCopy& copy, const std::vector<std::string>& roots);

// Of the exported keys, those that the registry files hold, as the store read them. Left out
// is what Wine makes anew at every start and never saves, and so differs between two runs:
// volatile keys (the hardware tree, the display driver's keys, one named by a new GUID each
// time, the count of started services) and the date the display driver stamps.
ExportedKeys KeysOfTheFiles(ExportedKeys keys, IRegistry& store);

}  // namespace quillary::testing
