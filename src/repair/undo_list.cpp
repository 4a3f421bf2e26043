#include "repair/undo_list.h"

#include <algorithm>
#include <chrono>

#include "repair/local_time_text.h"
#include "repair/undo_folder.h"

namespace quillary {
namespace {

// The moments a row can show: from 1970 to the end of the year 3000, as a date of the
// program's time type converts.
constexpr std::int64_t kLastShownSecond = 32'535'215'999;

}  // namespace

CUndoList::CUndoList(const BackupEnvironment& environment) : environment_(environment) {}

std::u16string CUndoList::EmptyText() const {
    return environment_.text ? environment_.text(u"IDS_NO_ITEM_TO_SHOW") : std::u16string();
}

void CUndoList::RefreshUndoList() {
    backups_.clear();
    rows_.clear();
    unreadable_.clear();
    const std::filesystem::path folder = UndoFolderOf(environment_.dataFolder);
    std::vector<std::filesystem::path> lists;
    std::error_code code;
    for (std::filesystem::directory_iterator it(folder, code), end; !code && it != end;
         it.increment(code)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsUndoListFileName(it->path().filename().string()))
            lists.push_back(it->path());
    }
    // A folder lists its files in no set order here: by number, as the backups were made.
    std::sort(lists.begin(), lists.end());
    for (const std::filesystem::path& list : lists) {
        auto backup = std::make_unique<CBackup>(environment_);
        backup->SetListFilePath(list);
        if (backup->LoadList())
            backups_.push_back(std::move(backup));
        else
            unreadable_.push_back(list);
    }
    const std::u16string label =
        environment_.text ? environment_.text(u"IDS_PARTIAL_BACKUP") : std::u16string();
    for (std::size_t i = 0; i < backups_.size(); ++i) {
        const std::int64_t seconds = backups_[i]->LastChangeTime();
        if (seconds < 0 || seconds > kLastShownSecond)
            continue;
        const auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
        rows_.push_back({label + FormatLocalTime("%a. %b %d, %Y. %I:%M %p", moment),
                         backups_[i]->ListFilePath(), i});
    }
}

bool CUndoList::Restore(const UndoListRow& row) {
    restoreRunning_ = true;
    const bool undone = backups_[row.backupIndex]->UndoAll();
    restoreRunning_ = false;
    if (undone)
        environment_.ShowText(u"IDS_SUCCESSFULL_RESTORE");
    return undone;
}

bool CUndoList::Delete(const UndoListRow& row) {
    // The refresh below replaces the rows, row among them.
    const std::filesystem::path listFile = row.listFile;
    std::error_code code;
    if (!std::filesystem::remove(listFile, code) || code)
        return false;
    environment_.fileIo.FlushFolder(listFile.parent_path());
    RefreshUndoList();
    return true;
}

}  // namespace quillary
