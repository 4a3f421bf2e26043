#pragma once

// The time source of the system. Everything that stamps or compares times asks a clock, so
// tests can fix the time.

#include <chrono>

#include "platform/win_types.h"

namespace quillary {

class IClock {
public:
    virtual ~IClock() = default;
    // The current time as UTC.
    virtual std::chrono::system_clock::time_point Now() const = 0;
};

class CSystemClock final : public IClock {
public:
    std::chrono::system_clock::time_point Now() const override {
        return std::chrono::system_clock::now();
    }
};

// A clock that stands still until a test moves it.
class CManualClock final : public IClock {
public:
    explicit CManualClock(std::chrono::system_clock::time_point start) : now_(start) {}
    std::chrono::system_clock::time_point Now() const override { return now_; }
    void Set(std::chrono::system_clock::time_point now) { now_ = now; }
    void Advance(std::chrono::system_clock::duration by) { now_ += by; }

private:
    std::chrono::system_clock::time_point now_;
};

// Seconds between 1601-01-01 and 1970-01-01, the two epochs of Windows and Unix time.
inline constexpr std::int64_t kFileTimeEpochOffsetSeconds = 11644473600;

constexpr FileTime ToFileTime(std::chrono::system_clock::time_point time) {
    const auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
            time.time_since_epoch())
            .count();
    return static_cast<FileTime>(ticks + kFileTimeEpochOffsetSeconds * 10000000);
}

// Times outside what the system clock can hold (before 1678 or after 2262 with nanosecond
// clocks) are clamped to its limits.
constexpr std::chrono::system_clock::time_point FromFileTime(FileTime time) {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    using Clock = std::chrono::system_clock;
    constexpr std::int64_t kLimit =
        std::chrono::duration_cast<Ticks>(Clock::duration::max()).count() - 1;
    std::int64_t ticks =
        static_cast<std::int64_t>(time > 0x7FFFFFFFFFFFFFFFull ? 0x7FFFFFFFFFFFFFFFull : time) -
        kFileTimeEpochOffsetSeconds * 10000000;
    ticks = ticks > kLimit ? kLimit : (ticks < -kLimit ? -kLimit : ticks);
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(Ticks(ticks)));
}

// Whole seconds since 1970 of a Windows time (negative before 1970).
constexpr std::int64_t UnixSecondsOf(FileTime time) {
    return static_cast<std::int64_t>(time / 10000000) - kFileTimeEpochOffsetSeconds;
}

}  // namespace quillary
