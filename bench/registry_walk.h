#pragma once

// The least a scan of a registry must do, for comparison with what the scanners do: one
// walk over every key and value through the platform surface, and the file paths the values
// name.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace quillary {

struct RegistryWalkCounts {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t dataBytes = 0;
};

// Called with each value's type and data.
using ValueVisitor = std::function<void(RegType type, std::span<const std::uint8_t> data)>;

// Enumerates every key below HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_USERS as one
// view shows them (RegEnumKeyExW, opening each subkey), and every value of each key with its
// data (RegEnumValueW). The key of HKEY_USERS named currentUserSid is HKEY_CURRENT_USER and is
// walked once, as that. Keys named Wow6432Node are not entered: in the 64-bit view they are
// the 32-bit view's keys, in the 32-bit view redirection leads into them. Links are followed,
// as an open follows them. view is KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0 on a 32-bit system.
RegistryWalkCounts WalkRegistry(IRegistry& registry, RegSam view,
                                std::u16string_view currentUserSid, const ValueVisitor& visit = {});

// The paths with a drive letter ("C:\...") that a string value names, after its environment
// variables are expanded: each runs from its drive letter to a quote, comma, semicolon or the
// end, and stops before a switch (" /x", " -x"). Every string of a REG_MULTI_SZ counts.
// Other types name no paths.
std::vector<std::u16string> PathsInValue(IFileSystem& files, RegType type,
                                         std::span<const std::uint8_t> data);

}  // namespace quillary
