#include "targets/posix/windows_environment.h"

#include <algorithm>

#include "core/text_case.h"

namespace quillary {

const CWindowsEnvironment::Variable* CWindowsEnvironment::Find(std::u16string_view name) const {
    auto found = std::find_if(variables_.begin(), variables_.end(),
                              [&](const Variable& v) { return EqualsNoCase(v.name, name); });
    return found == variables_.end() ? nullptr : &*found;
}

void CWindowsEnvironment::Set(std::u16string_view name, std::u16string_view value) {
    auto found = std::find_if(variables_.begin(), variables_.end(),
                              [&](const Variable& v) { return EqualsNoCase(v.name, name); });
    if (value.empty()) {
        if (found != variables_.end())
            variables_.erase(found);
        return;
    }
    if (found != variables_.end()) {
        found->value = value;
    } else {
        variables_.push_back({std::u16string(name), std::u16string(value)});
    }
}

std::optional<std::u16string> CWindowsEnvironment::Get(std::u16string_view name) const {
    const Variable* variable = Find(name);
    if (!variable)
        return std::nullopt;
    return variable->value;
}

std::u16string CWindowsEnvironment::Expand(std::u16string_view text) const {
    std::u16string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != u'%') {
            result += text[pos++];
            continue;
        }
        std::size_t close = text.find(u'%', pos + 1);
        if (close == std::u16string_view::npos) {
            result += text.substr(pos);
            break;
        }
        std::u16string_view name = text.substr(pos + 1, close - pos - 1);
        const Variable* variable = name.empty() ? nullptr : Find(name);
        if (variable) {
            result += variable->value;
            pos = close + 1;
        } else {
            // Keep "%NAME" and let the closing '%' start the next name.
            result += text.substr(pos, close - pos);
            pos = close;
        }
    }
    return result;
}

std::vector<std::u16string> SplitFolderList(std::u16string_view list) {
    std::vector<std::u16string> folders;
    while (!list.empty()) {
        std::size_t semicolon = list.find(u';');
        std::u16string_view entry = TrimView(list.substr(0, semicolon));
        if (!entry.empty())
            folders.emplace_back(entry);
        if (semicolon == std::u16string_view::npos)
            break;
        list.remove_prefix(semicolon + 1);
    }
    return folders;
}

std::vector<std::u16string> CWindowsEnvironment::PathFolders() const {
    const Variable* path = Find(u"PATH");
    return path ? SplitFolderList(path->value) : std::vector<std::u16string>{};
}

}  // namespace quillary
