#include "engine/builtin_rules.h"

#include <algorithm>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "engine/builtin_rule_lists.h"

namespace quillary {
namespace {

void AppendLines(std::string_view text, std::vector<std::u16string>& entries) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::u16string entry = ToLower(Trim(Utf8ToUtf16(text.substr(0, end))));
        if (!entry.empty())
            entries.push_back(std::move(entry));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

}  // namespace

CBuiltinRules::CBuiltinRules(IFileSystem& files, ISystemProtection& protection,
                             const IPlatformQueries& platform, const SettingsValues& settings)
    : files_(files), protection_(protection), platform_(platform), settings_(settings) {
    AppendLines(kBuiltinKeyRulesText, keyRules_);
    AppendLines(kBuiltinFileRulesGroupAText, fileRules_);
    AppendLines(kBuiltinFileRulesGroupBText, fileRules_);
    for (int csidl : {CsidlNetwork, CsidlNetHood}) {
        std::optional<std::u16string> folder = files_.GetSpecialFolderPath(csidl);
        if (folder && !folder->empty() &&
            files_.GetFileAttributesW(*folder) != InvalidFileAttributes) {
            fileRules_.push_back(ToLower(Trim(*folder)));
        }
    }
    keyMatcher_ = CFragmentMatcher(keyRules_);
    fileMatcher_ = CFragmentMatcher(fileRules_);
}

bool CBuiltinRules::PassesBuiltinKeyRules(std::u16string_view keyPath) const {
    if (!keyRulesActive || keyRules_.empty())
        return true;
    return !keyMatcher_.FoundIn(ToLower(keyPath));
}

bool CBuiltinRules::PassesBuiltinFileRules(std::u16string_view reference) const {
    if (!fileRulesActive || fileRules_.empty())
        return true;
    return !fileMatcher_.FoundIn(ToLower(reference));
}

bool CBuiltinRules::IsKeyProtectedBySystem(HKey root, std::u16string_view subKey,
                                           bool is32BitView) const {
    if (!settings_.PreferSafetyOverCount || platform_.WindowsMajorVersion() <= 5)
        return false;
    RegSam access = KeyReadWrite;
    if (platform_.Is64BitWindows())
        access |= is32BitView ? KeyWow64_32Key : KeyWow64_64Key;
    return protection_.SfcIsKeyProtected(root, subKey, access).value_or(false);
}

bool CBuiltinRules::IsFileProtectedBySystem(std::u16string_view path) const {
    return settings_.PreferSafetyOverCount && protection_.SfcIsFileProtected(path);
}

}  // namespace quillary
