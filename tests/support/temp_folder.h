#pragma once

// A fresh folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string_view>

namespace quillary::testing {

class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes a file below the folder, creating the folders on the way.
    std::filesystem::path Write(std::string_view relative, std::string_view bytes = {}) const;
    std::filesystem::path MakeFolder(std::string_view relative) const;

private:
    std::filesystem::path path_;
};

}  // namespace quillary::testing
