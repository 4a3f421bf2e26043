#include "targets/linux/child_process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace quillary {

std::optional<std::string> RunProgram(const std::vector<std::string>& argv) {
    if (argv.empty())
        return "no program to run";
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        ::posix_spawnp(&child, arguments[0], nullptr, nullptr, arguments.data(), environ);
    if (spawned == ENOENT)
        return argv[0] + " was not found";
    if (spawned != 0)
        return "cannot start " + argv[0] + ": " + std::strerror(spawned);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return "cannot wait for " + argv[0] + ": " + std::strerror(errno);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return std::nullopt;
    if (WIFEXITED(status))
        return argv[0] + " failed with exit status " + std::to_string(WEXITSTATUS(status));
    return argv[0] + " ended abnormally";
}

}  // namespace quillary
