#pragma once

// The environment block of a Windows process on a target that has no Windows to ask: names
// compare without regard to case and keep the spelling they were first set with, and
// expansion follows ExpandEnvironmentStringsW.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// The folders of a ';'-separated list such as PATH, trimmed, without empty entries.
std::vector<std::u16string> SplitFolderList(std::u16string_view list);

class CWindowsEnvironment {
public:
    // Sets or replaces a variable; an empty value removes it, as SetEnvironmentVariableW does.
    void Set(std::u16string_view name, std::u16string_view value);
    std::optional<std::u16string> Get(std::u16string_view name) const;

    // text with every %NAME% of a defined variable replaced by its value. An undefined name
    // stays as written, and its closing '%' may open the next name ("%A%B%" with only B
    // defined gives "%A" followed by B's value), which is what Windows does.
    std::u16string Expand(std::u16string_view text) const;

    // The folders of PATH in order, without empty entries.
    std::vector<std::u16string> PathFolders() const;

private:
    struct Variable {
        std::u16string name;
        std::u16string value;
    };
    const Variable* Find(std::u16string_view name) const;

    std::vector<Variable> variables_;
};

}  // namespace quillary
