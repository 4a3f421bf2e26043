#pragma once

// The restore-point half of the platform surface: the one function of System Restore that asks
// the system to record its state before a program changes it in bulk. A change is bracketed
// by two calls: the first (BEGIN_SYSTEM_CHANGE) makes the restore point and answers its
// sequence number, the second (END_SYSTEM_CHANGE with that number) completes it, or, with the
// type CANCELLED_OPERATION, throws it away. The records, codes and meanings are Windows' own,
// so the live Windows backend can pass them through unchanged.

#include <array>
#include <cstdint>

#include "platform/win_types.h"

namespace quillary {

// Event types of a request.
inline constexpr std::uint32_t BeginSystemChange = 100;
inline constexpr std::uint32_t EndSystemChange = 101;

// Restore point types: what kind of change a restore point comes before. Ending a change with
// CancelledOperation removes its restore point.
inline constexpr std::uint32_t ApplicationInstall = 0;
inline constexpr std::uint32_t ApplicationUninstall = 1;
inline constexpr std::uint32_t RestoreRestorePoint = 6;  // made before a restore point is put back
inline constexpr std::uint32_t DeviceDriverInstall = 10;
inline constexpr std::uint32_t ModifySettings = 12;
inline constexpr std::uint32_t CancelledOperation = 13;

// Status codes of a reply besides ErrorSuccess, with the meanings System Restore gives them.
inline constexpr LStatus ErrorBadEnvironment = 10;     // the system cannot record its state now
inline constexpr LStatus ErrorServiceDisabled = 1058;  // restore points are turned off
inline constexpr LStatus ErrorInternalError = 1359;    // the restore point could not be made
inline constexpr LStatus ErrorTimeout = 1460;          // another caller holds the service
// ErrorInvalidData: the sequence number names no restore point in progress.
// ErrorDiskFull: there is no room for a restore point.

// The description's room in a request, its terminating NUL included (MAX_DESC_W).
inline constexpr std::size_t kRestorePointDescriptionSize = 256;

// RESTOREPOINTINFOW.
struct RestorePointInfo {
    std::uint32_t eventType = 0;
    std::uint32_t restorePointType = 0;
    // 0 for BEGIN_SYSTEM_CHANGE; the number the begin call answered for END_SYSTEM_CHANGE.
    std::int64_t sequenceNumber = 0;
    // NUL-terminated; the text ends at the first NUL, or at the end of the array without one.
    std::array<char16_t, kRestorePointDescriptionSize> description{};
};

// STATEMGRSTATUS.
struct StateMgrStatus {
    LStatus status = ErrorSuccess;
    std::int64_t sequenceNumber = 0;
};

class IRestorePoints {
public:
    virtual ~IRestorePoints() = default;

    // SRSetRestorePointW. True on success; *status then holds ErrorSuccess and the restore
    // point's sequence number. False on failure, with the reason's code in status->status.
    virtual bool SRSetRestorePointW(const RestorePointInfo& request, StateMgrStatus* status) = 0;
};

}  // namespace quillary
