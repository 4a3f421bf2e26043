#pragma once

// Which Wine prefix a run works on: the one named on the command line, else $WINEPREFIX, else
// ~/.wine. A prefix the user named and that is not one is an error, and so is none at all:
// never a silent fall back to another prefix (the demo prefix is used only when asked for).

#include <filesystem>
#include <optional>
#include <string>

namespace quillary {

struct PrefixSearch {
    std::optional<std::filesystem::path> argument;    // --prefix DIR
    std::optional<std::filesystem::path> winePrefix;  // $WINEPREFIX, when set and not empty
    std::optional<std::filesystem::path> home;        // $HOME
};

// Demo: the demo prefix, which only the program itself chooses.
enum class PrefixOrigin { Argument, WinePrefixVariable, HomeWine, Demo };

struct PrefixChoice {
    std::filesystem::path folder;
    PrefixOrigin origin = PrefixOrigin::Argument;
};

// The search of this process: argument as given, $WINEPREFIX and $HOME from its environment.
PrefixSearch PrefixSearchOfProcess(std::optional<std::filesystem::path> argument);

// The folder the search points at and where it came from, before it is checked; nullopt when
// it names none (no argument, no $WINEPREFIX and no ~/.wine).
std::optional<PrefixChoice> PrefixCandidate(const PrefixSearch& search);

// The chosen prefix, or nullopt with *error saying why none can be used.
std::optional<PrefixChoice> ChoosePrefix(const PrefixSearch& search, std::string* error);

// The administrator test of a prefix: whether this process may replace its registry files
// (write the folder, where the new files are made, and each file that exists).
bool MayWritePrefix(const std::filesystem::path& prefix);

}  // namespace quillary
