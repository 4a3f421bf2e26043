#pragma once

// The user exclusion list and the history-list exclusions, as the program keeps them for the
// whole run: loaded at start-up, edited from the results view, the exclusion settings page
// and the cleaning run, consulted for every problem a scan finds, saved at exit.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/exclusion_file.h"
#include "engine/exclusion_list.h"
#include "engine/problem.h"

namespace quillary {

inline constexpr std::string_view kUserExclusionFileName = "ExcludeList.kvl";
inline constexpr std::string_view kHistoryExclusionFileName = "TempHLList.kvl";

// Language texts that explain a refused edit.
inline constexpr std::u16string_view kTextNoEmptyKey = u"IDS_NOEMPTY_KEY";
inline constexpr std::u16string_view kTextItemAlreadyExists = u"IDS_ITEM_ALREADY_EXIST";
inline constexpr std::u16string_view kTextSelectDeleteItem = u"IDS_SELECT_DELETE_ITEM";

struct ExclusionEditResult {
    bool done = false;
    // When refused: the identifier of the language text that tells the user why.
    std::u16string_view refusalTextId;
};

class CExclusionLists {
public:
    // Both files are read and replaced through files, which must outlive the lists.
    explicit CExclusionLists(IFileIo& files)
        : userFile_(files, kUserExclusionFileName),
          historyFile_(files, kHistoryExclusionFileName) {}

    // What the user chose to ignore; applies to every problem.
    const CExclusionList& UserList() const { return userList_; }
    // Keys repaired by earlier cleaning runs; applies to history-list problems only.
    const CExclusionList& HistoryList() const { return historyList_; }

    // Reads both files from the data folder (see CExclusionFile::Load). Returns a message for
    // each file that was damaged or could not be read; the lists hold what could be read.
    [[nodiscard]] std::vector<std::string> LoadExclusions(const std::filesystem::path& dataFolder);
    // Writes each list that changed since it was loaded or saved. Returns a message for each
    // file that was not written.
    [[nodiscard]] std::vector<std::string> SaveExclusions(const std::filesystem::path& dataFolder);

    // The add-entry dialog: appends root + "\" + path, both trimmed and upper-cased. Blanks
    // and backslashes around the path are dropped, since a key path never holds two
    // backslashes in a row and an entry holding them would match nothing. Refused when the
    // path is empty, or when the entry is already listed in any letter case.
    ExclusionEditResult AddExclusion(std::u16string_view rootName, std::u16string_view path);

    // The results view's add-to-ignore command: appends the problem's Key unchanged. Only a
    // problem whose Key begins with "HKEY_" can be ignored (a file problem has an empty Key);
    // returns false for any other. A Key already listed is not listed twice.
    bool AddToIgnore(const CProblem& problem);

    // Removes the user list's entries at the given positions; refused when none is selected.
    ExclusionEditResult RemoveExclusions(std::span<const std::size_t> positions);

    // Records the Key of a problem repaired by a cleaning run. Empty keys (file problems)
    // and keys already listed are left out: they would change no match.
    void AddToHistory(std::u16string_view key);

    // True when the scan must drop the problem: its upper-cased Key contains an entry of
    // the user list, or, for a history-list problem, an entry of the history list.
    bool IsExcluded(const CProblem& problem) const;

private:
    CExclusionList userList_;
    CExclusionList historyList_;
    CExclusionFile userFile_;
    CExclusionFile historyFile_;
};

}  // namespace quillary
