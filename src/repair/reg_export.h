#pragma once

// Registry export text, the format the Registry Editor imports: what a repair records before
// it changes or deletes anything, so that importing the text undoes the change. One writer
// serves one registry view. It only reads the registry.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_access.h"
#include "platform/file_io.h"

namespace quillary {

class CRegExport {
public:
    // Reads through target; on a 64-bit target every open names the writer's view.
    explicit CRegExport(const RegistryTarget& target);

    // Appends root\subKey with its values and, depth first, its subkeys; a path through
    // Wow6432Node writes nothing. False when the key could not be opened or walked.
    bool ExportKey(HKey root, std::u16string_view subKey, bool in64BitView);
    // Appends root\subKey's block and the one value (empty name: the default value). False
    // when the value cannot be read; the block stays.
    bool ExportValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                     bool in64BitView);
    // Appends a block that deletes root\subKey on import ("[-path]"), so that importing
    // undoes the creation of a key that did not exist.
    void ExportKeyDeletion(HKey root, std::u16string_view subKey);
    // Appends a key block and a line that deletes valueName on import ("name"=-), so that
    // importing undoes the creation of a value that did not exist.
    void ExportValueDeletion(HKey root, std::u16string_view subKey, std::u16string_view valueName);

    // The whole text (header, then every block in call order).
    std::u16string Text() const;
    // The text as a file holds it: FF FE and the text in UTF-16LE.
    std::vector<std::uint8_t> FileBytes() const;
    // Writes FileBytes(), replacing path atomically.
    [[nodiscard]] FileError SaveToFile(IFileIo& fileIo, const std::filesystem::path& path) const;

    // One value line, as written under its key block.
    static std::u16string FormatValue(std::u16string_view name, RegType type,
                                      std::span<const std::uint8_t> data);

private:
    bool ExportOpenKey(HKey key, const std::u16string& path, RegSam mask, int depth);
    RegSam MaskFor(bool in64BitView) const;
    void AppendKeyBlock(std::u16string_view path);

    const RegistryTarget& target_;
    std::vector<std::u16string> lines_;
};

}  // namespace quillary
