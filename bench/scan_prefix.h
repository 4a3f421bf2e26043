#pragma once

// A large synthetic Wine prefix for measuring the scanners: a registry in the shapes they
// read (COM classes with their servers, ProgIDs, application identifiers, type libraries and
// interfaces in both views, file types with verbs, icons and handlers, uninstall, App Paths,
// Run, shared library, approved extension and package installer entries, installed fonts,
// help files, the sound scheme, the shell's history lists, and every product's own settings
// trees in both branches) and a drive C: that holds the files those entries name, with
// shortcuts in the start menus, on the desktops and in the startup folders. Most references
// lead to a file that exists; a few percent do not: whole products whose folder is gone, and
// single files missing from a product that is still there. The same seed and scale give the
// same prefix.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/file_io.h"

namespace quillary {

struct ScanPrefixShape {
    std::uint64_t seed = 1;
    // 1.0 gives about 600 installed products with 46,000 COM classes; every count grows in
    // proportion.
    double scale = 1.0;
};

// What a generated prefix holds on drive C:.
struct ScanPrefixFacts {
    std::size_t products = 0;
    std::size_t removedProducts = 0;  // registered, but their folder is gone
    std::size_t files = 0;            // written, shortcuts included
    std::size_t missingFiles = 0;     // named by the registry or a shortcut, never written
    std::size_t shortcuts = 0;
};

// The file that marks a folder as a prefix this generator wrote, and so one it may replace.
inline constexpr const char* kScanPrefixMarker = ".quillary-bench-scan-prefix";

// Writes the prefix into folder: a missing or empty folder, or one this generator wrote
// before, which is replaced whole. The new prefix is built beside folder and moved into
// place, so a failure leaves what was there. Any other folder is refused. The registry files
// are written through files.
[[nodiscard]] FileError WriteScanPrefix(IFileIo& files, const std::filesystem::path& folder,
                                        const ScanPrefixShape& shape, ScanPrefixFacts* facts);

}  // namespace quillary
