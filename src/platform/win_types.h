#pragma once

// The Windows types, error codes and constants that the platform surface speaks. The values
// are Windows' own so that the live Windows backend can pass them through unchanged; the
// names avoid the all-capitals spelling of <windows.h> so both can be included together.

#include <cstdint>

namespace quillary {

// A Windows status code: 0 is success, anything else a Windows error code.
using LStatus = std::int32_t;

inline constexpr LStatus ErrorSuccess = 0;
inline constexpr LStatus ErrorFileNotFound = 2;
inline constexpr LStatus ErrorPathNotFound = 3;
inline constexpr LStatus ErrorAccessDenied = 5;
inline constexpr LStatus ErrorInvalidHandle = 6;
inline constexpr LStatus ErrorNotEnoughMemory = 8;
inline constexpr LStatus ErrorInvalidData = 13;
inline constexpr LStatus ErrorNotSameDevice = 17;
inline constexpr LStatus ErrorNoMoreFiles = 18;
inline constexpr LStatus ErrorWriteProtect = 19;
inline constexpr LStatus ErrorGenFailure = 31;
inline constexpr LStatus ErrorSharingViolation = 32;
inline constexpr LStatus ErrorNotSupported = 50;
inline constexpr LStatus ErrorBadNetPath = 53;
inline constexpr LStatus ErrorFileExists = 80;
inline constexpr LStatus ErrorInvalidParameter = 87;
inline constexpr LStatus ErrorDiskFull = 112;
inline constexpr LStatus ErrorCallNotImplemented = 120;
inline constexpr LStatus ErrorInsufficientBuffer = 122;
inline constexpr LStatus ErrorInvalidName = 123;
inline constexpr LStatus ErrorDirNotEmpty = 145;
inline constexpr LStatus ErrorBadPathname = 161;
inline constexpr LStatus ErrorAlreadyExists = 183;
inline constexpr LStatus ErrorFilenameExcedRange = 206;
inline constexpr LStatus ErrorMoreData = 234;
inline constexpr LStatus ErrorNoMoreItems = 259;
inline constexpr LStatus ErrorDirectory = 267;
inline constexpr LStatus ErrorBadDatabase = 1009;
inline constexpr LStatus ErrorKeyDeleted = 1018;
inline constexpr LStatus ErrorChildMustBeVolatile = 1021;

// A registry key handle. The predefined roots carry Windows' constants; handles that a store
// hands out are any other non-zero value.
enum class HKey : std::uint32_t { None = 0 };

inline constexpr HKey HKeyClassesRoot{0x80000000u};
inline constexpr HKey HKeyCurrentUser{0x80000001u};
inline constexpr HKey HKeyLocalMachine{0x80000002u};
inline constexpr HKey HKeyUsers{0x80000003u};
inline constexpr HKey HKeyPerformanceData{0x80000004u};
inline constexpr HKey HKeyCurrentConfig{0x80000005u};

constexpr bool IsPredefinedKey(HKey key) {
    return static_cast<std::uint32_t>(key) >= 0x80000000u &&
           static_cast<std::uint32_t>(key) <= 0x80000005u;
}

// Registry value types.
using RegType = std::uint32_t;
inline constexpr RegType RegNone = 0;
inline constexpr RegType RegSz = 1;
inline constexpr RegType RegExpandSz = 2;
inline constexpr RegType RegBinary = 3;
inline constexpr RegType RegDword = 4;
inline constexpr RegType RegDwordBigEndian = 5;
inline constexpr RegType RegLink = 6;
inline constexpr RegType RegMultiSz = 7;
inline constexpr RegType RegResourceList = 8;
inline constexpr RegType RegQword = 11;

// Access rights of a registry key (REGSAM).
using RegSam = std::uint32_t;
inline constexpr RegSam KeyQueryValue = 0x0001;
inline constexpr RegSam KeySetValue = 0x0002;
inline constexpr RegSam KeyCreateSubKey = 0x0004;
inline constexpr RegSam KeyEnumerateSubKeys = 0x0008;
inline constexpr RegSam KeyNotify = 0x0010;
inline constexpr RegSam KeyCreateLink = 0x0020;
inline constexpr RegSam KeyWow64_64Key = 0x0100;
inline constexpr RegSam KeyWow64_32Key = 0x0200;
inline constexpr RegSam KeyWow64Res = 0x0300;
inline constexpr RegSam AccessDelete = 0x00010000;
inline constexpr RegSam ReadControl = 0x00020000;
inline constexpr RegSam WriteDac = 0x00040000;
inline constexpr RegSam WriteOwner = 0x00080000;
inline constexpr RegSam MaximumAllowed = 0x02000000;
// Every right that lets a handle change the key.
inline constexpr RegSam KeyChangeRights =
    KeySetValue | KeyCreateSubKey | KeyCreateLink | AccessDelete | WriteDac | WriteOwner;
inline constexpr RegSam KeyRead = 0x00020019;
inline constexpr RegSam KeyWrite = 0x00020006;
inline constexpr RegSam KeyReadWrite = KeyRead | KeyWrite;  // 0x2001F
inline constexpr RegSam KeyAllAccess = 0x000F003F;

// Options of RegOpenKeyExW and RegCreateKeyExW.
inline constexpr std::uint32_t RegOptionNonVolatile = 0x0;
inline constexpr std::uint32_t RegOptionVolatile = 0x1;
inline constexpr std::uint32_t RegOptionCreateLink = 0x2;
inline constexpr std::uint32_t RegOptionOpenLink = 0x8;

// Dispositions reported by RegCreateKeyExW.
inline constexpr std::uint32_t RegCreatedNewKey = 1;
inline constexpr std::uint32_t RegOpenedExistingKey = 2;

// Windows time: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::uint64_t;

}  // namespace quillary
