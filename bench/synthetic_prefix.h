#pragma once

// A large synthetic Wine prefix for measuring the prefix store: system.reg, user.reg and
// userdef.reg with the shapes a long-used prefix has (COM classes, file types, uninstall and
// installer records, services, long binary values, Unicode and escaped names). The same seed
// and scale always give the same bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "targets/memory/registry_tree.h"

namespace quillary {

struct SyntheticPrefixShape {
    std::uint64_t seed = 1;
    // 1.0 gives about a million keys, three million values and 150 MB of system.reg; the
    // counts of every section grow in proportion.
    double scale = 1.0;
};

// The key each file holds for the benchmark to change: a DWORD value "Counter", 0 in the
// generated files, in a key whose last-write time is kBenchKeyUnixSeconds. Setting it with a
// clock that stands at that time changes exactly one line of the file.
inline constexpr std::u16string_view kBenchKeyPath = u"Software\\Quillary Bench";
inline constexpr std::u16string_view kBenchValueName = u"Counter";
inline constexpr std::int64_t kBenchKeyUnixSeconds = 1767225600;  // 2026-01-01 00:00:00 UTC

// Fills the branches that system.reg, user.reg and userdef.reg hold. Each node must be a
// fresh node with lower-case key order and sorted values, as the Wine store keeps them.
void BuildSyntheticMachine(CRegistryNode& machine, const SyntheticPrefixShape& shape);
void BuildSyntheticUser(CRegistryNode& user, const SyntheticPrefixShape& shape);
void BuildSyntheticDefaultUser(CRegistryNode& defaultUser, const SyntheticPrefixShape& shape);

// Writes the three files into folder (created when missing), each replaced atomically
// through files.
[[nodiscard]] FileError WriteSyntheticPrefix(IFileIo& files, const std::filesystem::path& folder,
                                             const SyntheticPrefixShape& shape);

}  // namespace quillary
