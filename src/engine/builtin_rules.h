#pragma once

// Fixed knowledge of places a scan must leave alone: fragments of key paths whose problems are
// never recorded, fragments of file references that always count as valid, and the system's
// own word on protected keys and files. Every test is governed by the safety option.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/fragment_matcher.h"
#include "core/settings.h"
#include "platform/file_system.h"
#include "platform/platform_queries.h"
#include "platform/system_protection.h"
#include "platform/win_types.h"

namespace quillary {

class CBuiltinRules {
public:
    // Builds both lists; the file list ends with the Network and NetHood folders of the
    // target when they exist there.
    CBuiltinRules(IFileSystem& files, ISystemProtection& protection,
                  const IPlatformQueries& platform, const SettingsValues& settings);

    // The list switches, on at start-up; the exclusion settings page sets them to the safety
    // option. The system's word counts only while the safety option is on.
    bool keyRulesActive = true;
    bool fileRulesActive = true;

    // False when a fragment of the key list occurs in keyPath (root name included), compared
    // without regard to case.
    bool PassesBuiltinKeyRules(std::u16string_view keyPath) const;
    // False when a fragment of the file list occurs in reference.
    bool PassesBuiltinFileRules(std::u16string_view reference) const;
    // Whether the system protects root\subKey in the problem's view.
    bool IsKeyProtectedBySystem(HKey root, std::u16string_view subKey, bool is32BitView) const;
    bool IsFileProtectedBySystem(std::u16string_view path) const;

    std::span<const std::u16string> KeyRules() const { return keyRules_; }
    std::span<const std::u16string> FileRules() const { return fileRules_; }

private:
    IFileSystem& files_;
    ISystemProtection& protection_;
    const IPlatformQueries& platform_;
    const SettingsValues& settings_;
    std::vector<std::u16string> keyRules_;
    std::vector<std::u16string> fileRules_;
    CFragmentMatcher keyMatcher_;
    CFragmentMatcher fileMatcher_;
};

}  // namespace quillary
