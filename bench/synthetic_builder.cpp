#include "synthetic_builder.h"

#include <algorithm>
#include <system_error>

#include "targets/wine/wine_reg_writer.h"

namespace quillary {

std::u16string Concat(std::initializer_list<std::u16string_view> parts) {
    std::u16string text;
    for (std::u16string_view part : parts) {
        text += part;
    }
    return text;
}

std::u16string Number(std::uint64_t number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

std::vector<std::u16string> SortedUnique(std::vector<std::u16string> names) {
    std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
        return CompareKeyNames(a, b, KeyOrder::LowerCase) < 0;
    });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::u16string& a, const std::u16string& b) {
                                return KeyNamesEqual(a, b);
                            }),
                names.end());
    return names;
}

FileError WriteBranchFile(IFileIo& files, const std::filesystem::path& folder, PrefixBranch branch,
                          const std::function<void(CRegistryNode&)>& build) {
    struct File {
        const char* name;
        const char* relativeTo;
    };
    static constexpr File kFiles[] = {
        {"system.reg", "REGISTRY\\\\Machine"},
        {"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"},
        {"userdef.reg", "REGISTRY\\\\User\\\\.Default"},
    };
    const File& file = kFiles[static_cast<std::size_t>(branch)];
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        return "cannot create " + folder.string() + ": " + code.message();
    }
    std::string text;
    {
        CRegistryNode node(u"", KeyOrder::LowerCase, true);
        build(node);
        text = FormatWineRegFile(node, WineRegHeader{file.relativeTo, "win64"});
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return files.ReplaceFileAtomically(folder / file.name, {bytes, text.size()});
}

}  // namespace quillary
