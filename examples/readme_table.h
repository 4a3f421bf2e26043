#pragma once

// The planted entries as Markdown, one table per scan category: the section of
// examples/README.md that lists them, kept there word for word.

#include <string>

namespace quillary::demo {

std::string FormatPlantedEntriesMarkdown();

}  // namespace quillary::demo
