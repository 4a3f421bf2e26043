#pragma once

// The whole registry of a target as one export file, the form the Registry Editor gives a
// full backup: HKEY_LOCAL_MACHINE, then HKEY_USERS (the current user's key is one of its
// subkeys), each from its bare root down, walked in the 64-bit view so that the 32-bit
// view's Wow6432Node subtrees appear as ordinary keys, and symbolic links followed.

#include <cstdint>
#include <filesystem>
#include <functional>

#include "core/registry_access.h"
#include "platform/file_io.h"

namespace quillary {

// Writes the export to file, replacing it atomically; on failure the file is as it was.
// progress is called with the number of keys written so far every few thousand keys and at
// the end of each root.
[[nodiscard]] FileError ExportWholeRegistry(
    const RegistryTarget& target, IFileIo& fileIo, const std::filesystem::path& file,
    const std::function<void(std::uint64_t keysWritten)>& progress = {});

}  // namespace quillary
