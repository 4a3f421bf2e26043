#pragma once

// One running instance per user: a lock file held for the life of the first instance, and a
// local socket beside it through which a later instance asks the first to come forward or to
// run a scheduled scan. A crashed instance leaves no stale claim: the kernel drops its lock.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/instance_guard.h"

namespace quillary {

// $XDG_RUNTIME_DIR/quillary, else a folder of this user's own under the temporary folder.
std::filesystem::path DefaultInstanceFolder();

class CInstanceGuard final : public IInstanceGuard {
public:
    // name: the instance name (characters a file name cannot hold become '_'); folder: where
    // the lock and the socket live, made private to the user when it is created.
    CInstanceGuard(std::string_view name, std::filesystem::path folder);
    ~CInstanceGuard() override;
    CInstanceGuard(const CInstanceGuard&) = delete;
    CInstanceGuard& operator=(const CInstanceGuard&) = delete;

    // Becomes the first instance when the lock can be had within wait (an instance that is
    // ending gets that long to let go). False: another instance runs, or the lock file could
    // not be made (then error() says why).
    bool Acquire(std::chrono::milliseconds wait) override;
    bool IsFirstInstance() const { return lockFd_ >= 0; }
    const std::string& Error() const { return error_; }

    // First instance: answers later instances' requests on a thread of its own until the
    // guard is destroyed.
    bool Listen(std::function<void(InstanceRequest)> handler) override;
    // A later instance: hands a request to the first; false when it cannot be reached.
    bool SendToFirst(InstanceRequest request) override;

private:
    void Serve(const std::stop_token& stop, int listenFd,
               const std::function<void(InstanceRequest)>& handler);

    std::filesystem::path folder_;
    std::filesystem::path lockPath_;
    std::filesystem::path socketPath_;
    int lockFd_ = -1;
    std::string error_;
    std::jthread listener_;
};

}  // namespace quillary
