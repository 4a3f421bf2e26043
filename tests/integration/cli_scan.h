#pragma once

// A scan of a Wine prefix as a user runs it, through quillary-cli's JSON output, and the
// comparisons the Wine tests make between two scans.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"

namespace quillary::testing {

// One problem as the command-line program reports it.
struct Reported {
    int category = 0;
    int entryType = 0;
    std::string key;
    std::string valueName;
    std::string valueData;
    bool is32Bit = false;

    bool operator==(const Reported&) const = default;
};

// One line per problem, for a failure message.
std::string Describe(const std::vector<Reported>& problems);

// The problems of `after` that `before` does not hold, each occurrence counted.
std::vector<Reported> Added(std::vector<Reported> before, const std::vector<Reported>& after);

bool EqualIgnoringCase(std::string_view a, std::string_view b);

std::string WhyFailed(const std::string& what, const CommandResult& result);

// Runs `quillary-cli scan --prefix prefix --categories categories --json` with the program's
// data and settings kept inside the prefix's folder. Fails the test when the scan fails.
void ScanWithCli(const std::filesystem::path& prefix, const std::string& categories,
                 std::vector<Reported>* problems);

}  // namespace quillary::testing
