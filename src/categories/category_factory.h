#pragma once

// The program's scanners by category index: what the scan driver creates for a selection.

#include <cstdint>
#include <memory>

#include "engine/category.h"

namespace quillary {

// The scanner of category index (0-13); null for another index, and for the shortcut scanners
// when the environment has no reader of shortcut files.
std::unique_ptr<CCategory> MakeCategory(int index, ScanEnvironment& environment);

// The bits of the categories MakeCategory has a scanner for.
std::uint32_t AvailableCategories();

}  // namespace quillary
