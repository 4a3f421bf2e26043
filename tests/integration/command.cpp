#include "command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace quillary::testing {
namespace {

std::string VariableName(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

// This process's environment with the given entries set over it. Built before fork, since a
// child of a threaded process may only call async-signal-safe functions.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string name = VariableName(*entry);
        bool replaced = false;
        for (const std::string& override : overrides) {
            replaced = replaced || VariableName(override) == name;
        }
        if (!replaced) {
            merged.emplace_back(*entry);
        }
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads what is available on the open pipes, waiting at most timeoutMs for something to
// come. A pipe is closed at its end of file.
void ReadAvailable(pollfd (&fds)[2], std::string* (&sinks)[2], int timeoutMs) {
    if (::poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
        if (count > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            ::close(fds[i].fd);
            fds[i].fd = -1;
        }
    }
}

// Collects the output until the program ends. Programs it started in the background (a
// wineserver, Wine's services) may keep the pipes open for longer: what they wrote by then
// is taken, and the pipes are closed without waiting for them.
int CollectUntilExit(pid_t child, int outFd, int errFd, CommandResult& result) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int status = 0;
    pid_t ended = 0;
    while (ended == 0) {
        ReadAvailable(fds, sinks, 20);
        ended = ::waitpid(child, &status, WNOHANG);
        if (ended < 0 && errno == EINTR) {
            ended = 0;
        }
    }
    for (int round = 0; round < 1000 && (fds[0].fd >= 0 || fds[1].fd >= 0); ++round) {
        const std::size_t before = result.out.size() + result.err.size();
        ReadAvailable(fds, sinks, 0);
        if (result.out.size() + result.err.size() == before) {
            break;
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    CommandResult result;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = MergedEnvironment(environment);
    std::vector<char*> argumentPointers = Pointers(arguments);
    std::vector<char*> variablePointers = Pointers(variables);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.err = std::strerror(errno);
        return result;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        result.err = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execvpe(argumentPointers[0], argumentPointers.data(), variablePointers.data());
        static const char kFailed[] = "cannot run the program\n";
        (void)!::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (child < 0) {
        result.err = std::strerror(errno);
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    result.exitCode = CollectUntilExit(child, out[0], err[0], result);
    return result;
}

}  // namespace quillary::testing
