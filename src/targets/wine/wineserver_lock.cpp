#include "targets/wine/wineserver_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace quillary {
namespace {

std::string ServerFolderName(const struct stat& prefixInfo) {
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
                  static_cast<unsigned long long>(prefixInfo.st_dev),
                  static_cast<unsigned long long>(prefixInfo.st_ino));
    return name;
}

// The folder name Debian's Wine records in the prefix, when it is a plain name.
std::optional<std::string> DebianFolderName(const std::filesystem::path& prefix) {
    std::ifstream file(prefix / "wineserver");
    std::string name;
    if (!file || !std::getline(file, name)) {
        return std::nullopt;
    }
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return name;
}

std::vector<std::filesystem::path> CandidateLockFiles(const std::filesystem::path& prefix,
                                                      const struct stat& prefixInfo) {
    const std::string serverFolder = ServerFolderName(prefixInfo);
    std::vector<std::filesystem::path> candidates;
    candidates.push_back(std::filesystem::path("/tmp") / (".wine-" + std::to_string(::getuid())) /
                         serverFolder / "lock");
    if (const auto name = DebianFolderName(prefix)) {
        const char* tmpdir = std::getenv("TMPDIR");
        std::vector<std::filesystem::path> bases = {"/tmp"};
        if (tmpdir != nullptr && tmpdir[0] == '/') {
            bases.insert(bases.begin(), tmpdir);
        }
        for (const auto& base : bases) {
            candidates.push_back(base / *name / serverFolder / "lock");
        }
    }
    return candidates;
}

// The server holds a write lock on the first byte of its lock file for its whole life.
std::optional<long> LockHolder(const std::filesystem::path& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 1;
    const bool asked = ::fcntl(fd, F_GETLK, &query) == 0;
    ::close(fd);
    if (!asked || query.l_type == F_UNLCK) {
        return std::nullopt;
    }
    return static_cast<long>(query.l_pid);
}

}  // namespace

std::optional<RunningWineServer> FindRunningWineServer(const std::filesystem::path& prefix) {
    struct stat prefixInfo {};
    if (::stat(prefix.c_str(), &prefixInfo) != 0) {
        return std::nullopt;
    }
    for (const auto& lockFile : CandidateLockFiles(prefix, prefixInfo)) {
        if (const auto pid = LockHolder(lockFile)) {
            return RunningWineServer{lockFile, *pid};
        }
    }
    return std::nullopt;
}

}  // namespace quillary
