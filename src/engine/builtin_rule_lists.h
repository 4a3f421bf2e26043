#pragma once

// The built-in rule lists as they are kept in src/engine/rules/: one entry per line, in build
// order, lower case and trimmed.

#include <string_view>

namespace quillary {

extern const std::string_view kBuiltinKeyRulesText;
extern const std::string_view kBuiltinFileRulesGroupAText;
extern const std::string_view kBuiltinFileRulesGroupBText;

}  // namespace quillary
