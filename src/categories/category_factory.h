#pragma once

// The program's scanners by category index: what the scan driver creates for a selection.

#include <cstdint>
#include <memory>

#include "engine/category.h"

namespace quillary {

// The scanner of category index (0-13); null for a category this version has no scanner for.
std::unique_ptr<CCategory> MakeCategory(int index, ScanEnvironment& environment);

// The bits of the categories MakeCategory has a scanner for.
std::uint32_t AvailableCategories();

}  // namespace quillary
