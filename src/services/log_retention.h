#pragma once

// Retention of the daily logs: only the newest few log files of the data folder are kept.

#include <cstddef>
#include <filesystem>
#include <vector>

namespace quillary {

class CKeepNumberofLogsLimited {
public:
    static constexpr std::size_t kLogsKept = 5;

    struct ScanResultFile {
        std::filesystem::path name;  // the file name, without the folder
        std::filesystem::file_time_type lastWriteTime;
    };

    explicit CKeepNumberofLogsLimited(std::filesystem::path folder);

    // The folder's log files: every regular file whose name ends in ".log" (in any case),
    // newest first (equal times by name). Symbolic links are skipped, and so is every entry
    // that is not a regular file (a folder, a pipe, a socket, a device): those stand for the
    // files Windows marks as the system's, which are neither counted nor deleted. An entry
    // that cannot be examined is skipped; a folder that cannot be read gives no files.
    std::vector<ScanResultFile> ListLogFiles() const;

    // Deletes every log file after the kLogsKept newest, the oldest first. A file that cannot
    // be deleted is left alone.
    void Trim() const;

private:
    std::filesystem::path folder_;
};

}  // namespace quillary
