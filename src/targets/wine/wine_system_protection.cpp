#include "targets/wine/wine_system_protection.h"

#include <array>
#include <cstring>
#include <fstream>

namespace quillary {
namespace {

// Wine writes its mark at offset 0x40 of the DOS header, where a linker puts the DOS stub.
constexpr std::size_t kMarkOffset = 0x40;
constexpr std::string_view kMarks[] = {"Wine builtin DLL", "Wine placeholder DLL"};

}  // namespace

bool CWineSystemProtection::SfcIsFileProtected(std::u16string_view path) {
    std::optional<std::filesystem::path> unixPath = files_.UnixPathOf(path);
    if (!unixPath)
        return false;
    std::ifstream file(*unixPath, std::ios::binary);
    std::array<char, kMarkOffset + 32> header{};
    if (!file.read(header.data(), header.size()) || header[0] != 'M' || header[1] != 'Z') {
        return false;
    }
    std::string_view stub(header.data() + kMarkOffset, header.size() - kMarkOffset);
    for (std::string_view mark : kMarks) {
        if (stub.starts_with(mark))
            return true;
    }
    return false;
}

}  // namespace quillary
