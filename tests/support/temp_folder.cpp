#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <system_error>

namespace quillary::testing {

namespace fs = std::filesystem;

CTempFolder::CTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillary-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        ADD_FAILURE() << "cannot make a temporary folder";
    path_ = pattern;
}

CTempFolder::~CTempFolder() {
    std::error_code error;
    // Links are removed, never followed, so nothing outside the folder is touched.
    fs::remove_all(path_, error);
}

fs::path CTempFolder::Write(std::string_view relative, std::string_view bytes) const {
    fs::path path = path_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

fs::path CTempFolder::MakeFolder(std::string_view relative) const {
    fs::path path = path_ / relative;
    fs::create_directories(path);
    return path;
}

}  // namespace quillary::testing
