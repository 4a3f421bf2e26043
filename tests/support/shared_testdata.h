#pragma once

// The project's shared test data: files that others made (real Windows shortcuts, Registry
// Editor exports), read in place and never copied into the repository. The folder lies
// beside the project root as shared/testdata; a git worktree one level further down finds it
// beside its parent.

#include <filesystem>
#include <optional>
#include <string_view>

namespace quillary::testing {

// The folder below the shared test data (such as "lnk"), or nullopt when it is absent. Tests
// run with the project root as their working folder.
inline std::optional<std::filesystem::path> SharedTestData(std::string_view folder) {
    std::filesystem::path root = std::filesystem::current_path();
    for (int up = 0; up < 3 && root.has_parent_path() && root != root.parent_path(); ++up) {
        root = root.parent_path();
        std::filesystem::path candidate = root / "shared" / "testdata" / folder;
        if (std::filesystem::is_directory(candidate))
            return candidate;
    }
    return std::nullopt;
}

}  // namespace quillary::testing
