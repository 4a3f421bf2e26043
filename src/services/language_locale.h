#pragma once

// The process locale that follows the language: collation, character classes, money,
// numbers and times, and the case rules of the text helpers.

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "services/text_sink.h"

namespace quillary {

// Sets one locale category of the process (LC_COLLATE, ..., LC_ALL) to a locale name;
// true when the runtime accepted the name.
using SetLocaleFunction = std::function<bool(int category, const char* localeName)>;

// The runtime's std::setlocale. The locale is process-wide: tests pass their own function.
bool SetProcessLocale(int category, const char* localeName);

// Installed-locale names for a language table locale name ("french" -> "fr_FR.UTF-8"), in
// order of preference; empty for a name the table does not use.
std::span<const char* const> LocaleCandidates(std::string_view tableLocaleName);

// Applies the locale of the language at languageIndex (outside the table: English). The
// first candidate the runtime accepts for LC_COLLATE is then set for LC_CTYPE, LC_MONETARY,
// LC_NUMERIC, LC_TIME and finally LC_ALL. When none is installed, "C.UTF-8" is used instead
// (or "C" when even that is missing) and a line saying so goes to log. The text helpers' case
// rules follow: the language's rules, the classic A-Z rules only under "C".
// Returns the locale name that was applied.
std::string ApplyLanguageLocale(int languageIndex, const SetLocaleFunction& setLocale,
                                const TextSink& log);

}  // namespace quillary
