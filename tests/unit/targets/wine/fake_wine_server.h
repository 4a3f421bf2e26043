#pragma once

// A stand-in for a wineserver, for tests of what must not happen while Wine runs for a
// prefix.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace quillary::testing {

// The name of the prefix's server folder: its device and inode in hex.
inline std::string ServerFolderName(const std::filesystem::path& prefix) {
    struct stat info {};
    ::stat(prefix.c_str(), &info);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
                  static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    return name;
}

// A child process stands in for a wineserver: it holds the write lock on the first byte of
// the lock file in the server folder until the test lets it go.
class FakeWineServer {
public:
    explicit FakeWineServer(std::filesystem::path folder) : folder_(std::move(folder)) {
        std::filesystem::create_directories(folder_);
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) {
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            // Only the parent's end of the release pipe may stay open, or the child never
            // sees it close.
            ::close(release[1]);
            ::close(ready[0]);
            const int fd = ::open((folder_ / "lock").c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            ::fcntl(fd, F_SETLK, &lock);
            char byte = 1;
            (void)!::write(ready[1], &byte, 1);
            (void)!::read(release[0], &byte, 1);
            ::_exit(0);
        }
        char byte = 0;
        (void)!::read(ready[0], &byte, 1);
        releaseFd_ = release[1];
        ::close(ready[0]);
        ::close(ready[1]);
        ::close(release[0]);
    }
    ~FakeWineServer() { Stop(); }
    void Stop() {
        if (child_ > 0) {
            ::close(releaseFd_);
            ::waitpid(child_, nullptr, 0);
            child_ = 0;
            std::filesystem::remove_all(folder_);
        }
    }
    pid_t Pid() const { return child_; }

private:
    std::filesystem::path folder_;
    pid_t child_ = 0;
    int releaseFd_ = -1;
};

// Where upstream Wine keeps the server folder of a prefix.
inline std::filesystem::path UpstreamServerFolder(const std::filesystem::path& prefix) {
    return std::filesystem::path("/tmp") / (".wine-" + std::to_string(::getuid())) /
           ServerFolderName(prefix);
}

}  // namespace quillary::testing
