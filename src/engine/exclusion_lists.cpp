#include "engine/exclusion_lists.h"

#include <utility>

#include "core/text_case.h"
#include "engine/entry_types.h"

namespace quillary {
namespace {

constexpr std::u16string_view kIgnorableKeyPrefix = u"HKEY_";

std::u16string_view TrimPath(std::u16string_view path) {
    const auto isPadding = [](char16_t ch) { return ch == u'\\' || IsWhiteSpace(ch); };
    while (!path.empty() && isPadding(path.front())) {
        path.remove_prefix(1);
    }
    while (!path.empty() && isPadding(path.back())) {
        path.remove_suffix(1);
    }
    return path;
}

constexpr const char* kNoDataFolder = "the exclusion lists have no data folder to be kept in";

void Collect(std::vector<std::string>& messages, FileError error) {
    if (error) {
        messages.push_back(std::move(*error));
    }
}

}  // namespace

std::vector<std::string> CExclusionLists::LoadExclusions(const std::filesystem::path& dataFolder) {
    if (dataFolder.empty()) {
        return {kNoDataFolder};
    }
    std::vector<std::string> messages;
    Collect(messages, userFile_.Load(dataFolder, userList_));
    Collect(messages, historyFile_.Load(dataFolder, historyList_));
    return messages;
}

std::vector<std::string> CExclusionLists::SaveExclusions(const std::filesystem::path& dataFolder) {
    if (dataFolder.empty()) {
        return {kNoDataFolder};
    }
    std::vector<std::string> messages;
    Collect(messages, userFile_.Save(dataFolder, userList_));
    Collect(messages, historyFile_.Save(dataFolder, historyList_));
    return messages;
}

ExclusionEditResult CExclusionLists::AddExclusion(std::u16string_view rootName,
                                                  std::u16string_view path) {
    const std::u16string_view trimmedPath = TrimPath(path);
    if (trimmedPath.empty()) {
        return {false, kTextNoEmptyKey};
    }
    std::u16string entry = ToUpper(TrimView(rootName));
    entry += u'\\';
    entry += ToUpper(trimmedPath);
    if (userList_.ContainsNoCase(entry)) {
        return {false, kTextItemAlreadyExists};
    }
    userList_.Append(std::move(entry));
    return {true, {}};
}

bool CExclusionLists::AddToIgnore(const CProblem& problem) {
    if (!problem.Key.starts_with(kIgnorableKeyPrefix)) {
        return false;
    }
    if (!userList_.ContainsNoCase(problem.Key)) {
        userList_.Append(problem.Key);
    }
    return true;
}

ExclusionEditResult CExclusionLists::RemoveExclusions(std::span<const std::size_t> positions) {
    if (userList_.RemoveAt(positions) == 0) {
        return {false, kTextSelectDeleteItem};
    }
    return {true, {}};
}

void CExclusionLists::AddToHistory(std::u16string_view key) {
    if (!key.empty() && !historyList_.ContainsNoCase(key)) {
        historyList_.Append(std::u16string(key));
    }
}

bool CExclusionLists::IsExcluded(const CProblem& problem) const {
    const std::u16string upperKey = ToUpper(problem.Key);
    if (userList_.MatchesUpperKey(upperKey)) {
        return true;
    }
    const bool historyEntry =
        problem.EntryType >= kFirstHistoryEntryType && problem.EntryType <= kLastHistoryEntryType;
    return historyEntry && historyList_.MatchesUpperKey(upperKey);
}

}  // namespace quillary
