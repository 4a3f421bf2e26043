#pragma once

// A registry export file made up for the import benchmark: a given number of values in keys
// shaped like those programs write (a few values each), of every value type, some deep paths
// and some names outside ASCII, written as the Registry Editor exports (UTF-16LE with its
// byte-order mark, keys depth first in the store's order). The same seed and count give the
// same bytes on every machine.

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillary {

struct SyntheticRegFileSize {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;
};

// Writes the file; false, with the reason in *error, when it cannot be written.
bool WriteSyntheticRegFile(const std::filesystem::path& file, std::uint64_t values,
                           std::uint64_t seed, SyntheticRegFileSize* size, std::string* error);

}  // namespace quillary
