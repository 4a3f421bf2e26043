#pragma once

// A manual-reset event: once set it stays set, for every waiter, until it is reset. The stop
// signal from the window thread to a scan or a cleaning run.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quillary {

class CManualResetEvent {
public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    // The zero-timeout wait: true when the event is set.
    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // Waits until the event is set or timeout passes; true when it is set.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace quillary
