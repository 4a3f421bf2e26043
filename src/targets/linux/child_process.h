#pragma once

// Running another program of the host and waiting for it, without a shell between: each
// argument reaches the program exactly as given.

#include <optional>
#include <string>
#include <vector>

namespace quillary {

// Runs argv[0], found on PATH, with the arguments and this process's environment, and waits
// for it. nullopt when it ran and exited with 0; otherwise why not, in words ("xdg-open was
// not found", "systemctl failed with exit status 1").
std::optional<std::string> RunProgram(const std::vector<std::string>& argv);

}  // namespace quillary
