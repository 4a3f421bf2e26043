#pragma once

// Runs a program the way a shell would run one command, and keeps what it printed.

#include <string>
#include <vector>

namespace quillary::testing {

struct CommandResult {
    int exitCode = -1;  // the program's exit status; -1 when it could not start or was killed
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH) with the rest as its arguments and the environment of this
// process plus `environment` ("NAME=value", replacing a variable of the same name). Waits for
// it to end, not for programs it left running in the background. Standard input is /dev/null.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

}  // namespace quillary::testing
