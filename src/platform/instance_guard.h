#pragma once

// One running instance of the program per user, and the way a later instance reaches the
// first: to bring it forward, or to hand it a scheduled scan.

#include <chrono>
#include <cstdint>
#include <functional>

namespace quillary {

enum class InstanceRequest : std::uint8_t {
    BringForward = 1,
    ScheduledScan = 2,  // a scheduled scan wants to run
};

class IInstanceGuard {
public:
    virtual ~IInstanceGuard() = default;
    // Becomes the first instance when the claim can be had within wait (an instance that is
    // ending gets that long to let go); false when another instance runs.
    virtual bool Acquire(std::chrono::milliseconds wait) = 0;
    // First instance: answers later instances' requests until the guard is destroyed.
    virtual bool Listen(std::function<void(InstanceRequest)> handler) = 0;
    // A later instance: hands a request to the first; false when it cannot be reached.
    virtual bool SendToFirst(InstanceRequest request) = 0;
};

}  // namespace quillary
