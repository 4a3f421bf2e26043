#pragma once

// A Wine prefix of a test's own, cheap to make: the registry files and small files are
// copied from a prefix that `wineboot -i` made once for the whole run, and the large binaries
// under drive_c are symbolic links to that prefix's, which Wine only ever reads. The original
// stays untouched, so every test starts from the same fresh prefix.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "command.h"

namespace quillary::testing {

// Where the fixture set-up made the fresh prefix, and where tests make their copies.
std::filesystem::path FreshWinePrefix();
std::filesystem::path WinePrefixCopies();

class CWinePrefixCopy;

// A copy of the fresh prefix under WinePrefixCopies()/name, checked to have been made.
std::unique_ptr<CWinePrefixCopy> FreshCopy(const std::string& name);

class CWinePrefixCopy {
public:
    // Copies `original` to `folder`, replacing whatever was there. Check Made() after.
    CWinePrefixCopy(const std::filesystem::path& original, std::filesystem::path folder);
    // Stops the copy's wineserver, so none outlives the test.
    ~CWinePrefixCopy();
    CWinePrefixCopy(const CWinePrefixCopy&) = delete;
    CWinePrefixCopy& operator=(const CWinePrefixCopy&) = delete;

    // Empty when the copy was made, else why not.
    const std::string& Error() const { return error_; }
    const std::filesystem::path& Path() const { return folder_; }

    // Runs `wine <arguments>` in the copy, with Wine's debug output off and a UTF-8 locale so
    // that command-line arguments reach Wine intact.
    CommandResult Wine(const std::vector<std::string>& arguments) const;
    // Runs `wineserver <arguments>` for the copy.
    CommandResult WineServer(const std::vector<std::string>& arguments) const;
    // Asks the copy's wineserver to end (it saves the registry first) and waits until it has.
    void StopWineServer() const;

    // `wine reg export <key>` as UTF-8 text with LF line ends; empty when the export failed,
    // with the reason in *error.
    std::string ExportKey(const std::string& key, std::string* error) const;

    // The bytes of a file in the copy.
    std::string ReadFile(const std::string& name) const;

private:
    std::vector<std::string> Environment() const;

    std::filesystem::path folder_;
    std::string error_;
};

}  // namespace quillary::testing
