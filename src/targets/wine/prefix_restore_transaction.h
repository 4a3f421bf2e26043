#pragma once

// The prefix's three registry files handled as one set: read whole (into memory, never linked:
// Wine rewrites a file with several links in place, which would change a copy too), checked
// against a restore point's index, and put back one by one, with those already put back
// returned to what they were when a later one fails.

#include <array>
#include <filesystem>
#include <span>

#include "platform/file_io.h"
#include "targets/wine/prefix_restore_point_index.h"

namespace quillary {

using RegistryFiles = std::array<RegistryFileBytes, kRestorePointFiles.size()>;

// The prefix's registry files as they are now.
[[nodiscard]] FileError ReadRegistryFiles(IFileIo& io, const std::filesystem::path& prefix,
                                          RegistryFiles& files);

// Reads the copies a restore point's index lists, each checked against its size and hash;
// the reason when one is missing or is not as it was taken.
[[nodiscard]] FileError ReadCheckedCopies(IFileIo& files, const std::filesystem::path& folder,
                                          const RestorePointIndex& index, RegistryFiles& copies);

// Puts snapshot's files in place of the prefix's, each replaced atomically (a file snapshot
// lacks is removed). When one cannot be, those already put back get current's contents again
// and *putBack says whether that worked; the error says what failed.
[[nodiscard]] FileError PutRegistryFiles(IFileIo& files, const std::filesystem::path& prefix,
                                         const RegistryFiles& snapshot,
                                         const RegistryFiles& current, bool* putBack);

}  // namespace quillary
