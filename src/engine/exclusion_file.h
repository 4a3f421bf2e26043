#pragma once

// The stored form of an exclusion list: the entry count as a 32-bit integer (written, skipped
// on reading), the same count as an array count, then one string record per entry, in list
// order (see core/archive.h).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/exclusion_list.h"
#include "platform/file_io.h"

namespace quillary {

// Larger files are refused on reading and never written. The history-list exclusions grow
// with every cleaning run, so the limit leaves room for years of them.
inline constexpr std::size_t kMaxExclusionFileBytes = std::size_t{64} << 20;

// The count is stored in 32 bits; the size limit keeps any list that can be saved far below.
std::vector<std::uint8_t> EncodeExclusionFile(std::span<const std::u16string> entries);

struct DecodedExclusions {
    // Every entry, or those read before the damage.
    std::vector<std::u16string> entries;
    // What is wrong and where; empty for a whole file.
    std::string damage;
};

DecodedExclusions DecodeExclusionFile(std::span<const std::uint8_t> bytes);

// One exclusion file in the data folder, and what is known of its stored version, for the one
// list it loads and saves.
class CExclusionFile {
public:
    // The file is read and replaced through files, which must outlive this object.
    CExclusionFile(IFileIo& files, std::filesystem::path fileName,
                   std::size_t maxBytes = kMaxExclusionFileBytes);

    // Replaces the list's entries with the file's. A missing file gives an empty list and no
    // error. A damaged file gives the entries read before the damage (rather an exclusion
    // too many than a problem shown and repaired that the user chose to keep) and is moved
    // aside to its name + ".damaged", so that saving the list cannot overwrite the rest. A
    // file that cannot be read, or not moved aside, gives an empty list and is kept: Save
    // then leaves it alone. The error says what happened.
    [[nodiscard]] FileError Load(const std::filesystem::path& folder, CExclusionList& list);

    // Replaces the file atomically when the list differs from the stored version.
    [[nodiscard]] FileError Save(const std::filesystem::path& folder, const CExclusionList& list);

private:
    FileError SetAsideDamaged(const std::filesystem::path& path, const std::string& damage,
                              std::size_t entriesKept);

    IFileIo& files_;
    std::filesystem::path fileName_;
    std::size_t maxBytes_;
    // The file could not be read or moved aside; writing would lose what it holds.
    bool keepStoredFile_ = false;
    // The list's revision that equals the file's content; none when the file must be written.
    // A list starts empty at revision 0, like a missing file: nothing to write until it changes.
    std::optional<std::uint64_t> storedRevision_ = 0;
};

}  // namespace quillary
