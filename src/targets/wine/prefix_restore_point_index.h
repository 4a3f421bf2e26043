#pragma once

// The index of one restore point: a small text file in its folder that records the restore
// point's number, type, state, creation time and description, and the size and hash of each
// registry file it copied, so that a damaged copy is never put back. A folder without an index
// is no restore point. Nothing read from an index is trusted until it has been checked.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/restore_points.h"

namespace quillary {

// The files a restore point keeps, in the order its index lists them.
inline constexpr std::array<std::string_view, 3> kRestorePointFiles = {"system.reg", "user.reg",
                                                                       "userdef.reg"};
// As the registry store: a registry file is text, and nothing near this size is one.
inline constexpr std::size_t kMaxRegistryFileBytes = std::size_t{4} << 30;

// A registry file's bytes; nullopt for a file the prefix does not have.
using RegistryFileBytes = std::optional<std::vector<std::uint8_t>>;

// What the index records of one copied file.
struct CopiedFileRecord {
    bool present = false;
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
};

struct RestorePointIndex {
    std::int64_t sequenceNumber = 0;
    std::uint32_t type = ApplicationInstall;
    bool complete = false;
    std::int64_t createdSeconds = 0;
    std::u16string description;
    std::array<CopiedFileRecord, kRestorePointFiles.size()> files;
};

CopiedFileRecord RecordOf(const RegistryFileBytes& bytes);

// The sequence number a folder name spells: plain decimal digits, no sign or leading zero.
std::optional<std::int64_t> SequenceOfFolderName(std::string_view name);

// value as sixteen hexadecimal digits, as the index writes a hash.
std::string HexOf(std::uint64_t value);

// The index in folder; nullopt, with the reason in *why, when it is missing or damaged.
std::optional<RestorePointIndex> ReadIndex(IFileIo& files, const std::filesystem::path& folder,
                                           std::string* why);
// Replaces the index in folder atomically.
[[nodiscard]] FileError WriteIndex(IFileIo& files, const std::filesystem::path& folder,
                                   const RestorePointIndex& index);

}  // namespace quillary
