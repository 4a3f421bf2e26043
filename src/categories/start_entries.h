#pragma once

// What the shortcut, Start menu and startup scanners share: how the program an entry starts
// is judged, and how a shortcut is labelled in the results.

#include <string>
#include <string_view>

#include "engine/file_reference.h"

namespace quillary {

// The built-in file rules and the safety list apply; arguments are not tested, network paths
// are not visited, and every entry is judged in the 64-bit view's terms.
inline FileReferenceOptions StartEntryReferenceOptions() {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    return options;
}

// The shortcut's file name without its ".lnk", as the results list shows it.
inline std::u16string ShortcutLabel(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    std::u16string_view name =
        backslash == std::u16string_view::npos ? path : path.substr(backslash + 1);
    constexpr std::size_t kExtensionLength = 4;
    return std::u16string(
        name.substr(0, name.size() >= kExtensionLength ? name.size() - kExtensionLength : 0));
}

}  // namespace quillary
