#include "services/log_retention.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

namespace quillary {
namespace {

// Compares the file's own name, in the file system's own characters, so that a name that is
// not valid text still compares (converting it could fail).
bool HasLogExtension(const std::filesystem::path& name) {
    using Char = std::filesystem::path::value_type;
    constexpr std::string_view kExtension = ".log";
    const std::basic_string_view<Char> native(name.native());
    if (native.size() < kExtension.size()) {
        return false;
    }
    const auto toLower = [](Char ch) { return ch >= 'A' && ch <= 'Z' ? Char(ch - 'A' + 'a') : ch; };
    return std::equal(
        kExtension.begin(), kExtension.end(), native.end() - kExtension.size(),
        [&toLower](char wanted, Char actual) { return Char(wanted) == toLower(actual); });
}

}  // namespace

CKeepNumberofLogsLimited::CKeepNumberofLogsLimited(std::filesystem::path folder)
    : folder_(std::move(folder)) {}

std::vector<CKeepNumberofLogsLimited::ScanResultFile> CKeepNumberofLogsLimited::ListLogFiles()
    const {
    std::vector<ScanResultFile> files;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder_, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        std::filesystem::path name = entry.path().filename();
        std::error_code entryError;
        if (!HasLogExtension(name) ||
            entry.symlink_status(entryError).type() != std::filesystem::file_type::regular) {
            continue;
        }
        const std::filesystem::file_time_type lastWriteTime = entry.last_write_time(entryError);
        if (!entryError) {
            files.push_back(ScanResultFile{std::move(name), lastWriteTime});
        }
    }
    std::sort(files.begin(), files.end(), [](const ScanResultFile& a, const ScanResultFile& b) {
        return a.lastWriteTime != b.lastWriteTime ? a.lastWriteTime > b.lastWriteTime
                                                  : a.name < b.name;
    });
    return files;
}

void CKeepNumberofLogsLimited::Trim() const {
    std::vector<ScanResultFile> files = ListLogFiles();
    while (files.size() > kLogsKept) {
        std::error_code ignored;
        std::filesystem::remove(folder_ / files.back().name, ignored);
        files.pop_back();
    }
}

}  // namespace quillary
