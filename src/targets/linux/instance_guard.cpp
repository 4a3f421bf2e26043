#include "targets/linux/instance_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr auto kRetryPause = std::chrono::milliseconds(64);
constexpr int kPollMilliseconds = 100;

std::string FileNameOf(std::string_view name) {
    std::string file;
    for (char ch : name) {
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                     (ch >= '0' && ch <= '9') || ch == '-' || ch == '.';
        file += plain ? ch : '_';
    }
    return file.empty() ? std::string("instance") : file;
}

bool FillAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

fs::path DefaultInstanceFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/')
        return fs::path(runtime) / "quillary";
    return fs::temp_directory_path() / ("quillary-" + std::to_string(::getuid()));
}

CInstanceGuard::CInstanceGuard(std::string_view name, fs::path folder)
    : folder_(std::move(folder)),
      lockPath_(folder_ / (FileNameOf(name) + ".lock")),
      socketPath_(folder_ / (FileNameOf(name) + ".sock")) {}

CInstanceGuard::~CInstanceGuard() {
    if (listener_.joinable()) {
        listener_.request_stop();
        listener_.join();
    }
    if (lockFd_ >= 0) {
        ::unlink(socketPath_.c_str());
        ::close(lockFd_);  // releases the lock
    }
}

bool CInstanceGuard::Acquire(std::chrono::milliseconds wait) {
    if (lockFd_ >= 0)
        return true;
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        error_ = "cannot make " + folder_.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    // Someone else's folder could be used to fake or block this user's instance.
    if (::lstat(folder_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0) {
        error_ = folder_.string() + " is not a folder private to this user";
        return false;
    }
    int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open " + lockPath_.string() + ": " + std::strerror(errno);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lockFd_ = fd;
            return true;
        }
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kRetryPause);
    }
    ::close(fd);
    return false;
}

bool CInstanceGuard::Listen(std::function<void(InstanceRequest)> handler) {
    if (lockFd_ < 0)
        return false;
    sockaddr_un address;
    if (!FillAddress(socketPath_, address))
        return false;
    // The lock is ours, so a socket file left there belongs to an instance that ended.
    ::unlink(socketPath_.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    listener_ = std::jthread([this, fd, handler = std::move(handler)](const std::stop_token& stop) {
        Serve(stop, fd, handler);
    });
    return true;
}

void CInstanceGuard::Serve(const std::stop_token& stop, int listenFd,
                           const std::function<void(InstanceRequest)>& handler) {
    while (!stop.stop_requested()) {
        pollfd waiting{listenFd, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMilliseconds) <= 0)
            continue;
        int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        // Only this user can reach the socket (its folder is private); still, read one
        // byte and accept nothing but a known request.
        pollfd reading{client, POLLIN, 0};
        std::uint8_t byte = 0;
        if (::poll(&reading, 1, kPollMilliseconds * 10) > 0 && ::read(client, &byte, 1) == 1 &&
            (byte == static_cast<std::uint8_t>(InstanceRequest::BringForward) ||
             byte == static_cast<std::uint8_t>(InstanceRequest::ScheduledScan))) {
            handler(static_cast<InstanceRequest>(byte));
        }
        ::close(client);
    }
    ::close(listenFd);
}

bool CInstanceGuard::SendToFirst(InstanceRequest request) {
    sockaddr_un address;
    if (!FillAddress(socketPath_, address))
        return false;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    std::uint8_t byte = static_cast<std::uint8_t>(request);
    sent = sent && ::write(fd, &byte, 1) == 1;
    ::close(fd);
    return sent;
}

}  // namespace quillary
