#pragma once

// Registry export text, the format the Registry Editor imports. A repair records in it what
// it changes or deletes, so that importing the text undoes the change: one writer then serves
// one registry view. A full backup records the whole registry in it. It only reads the
// registry.
//
// The text is encoded into the file's bytes as it is written, so a whole registry is held
// once, not as text and bytes side by side.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry_access.h"
#include "platform/file_io.h"

namespace quillary {

class CRegExport {
public:
    // What a walk below a key writes.
    enum class Walk : std::uint8_t {
        // One view: a path through Wow6432Node belongs to the other view and is left out.
        OneView,
        // All the 64-bit view shows, Wow6432Node subtrees as ordinary keys: with the 64-bit
        // view this holds both views, as the Registry Editor's export of a whole registry.
        AllKeys,
    };

    // Reads through target; on a 64-bit target every open names the view ExportKey is given.
    explicit CRegExport(const RegistryTarget& target, Walk walk = Walk::OneView);

    // Appends root\subKey with its values and, depth first, its subkeys. A symbolic link is
    // followed: its key shows the values and subkeys of the key it leads to, unless that key
    // is the link itself or one on the path that leads to it (a cycle, left out). A subkey
    // that cannot be opened is left out. False when the key could not be opened or walked,
    // or (see Failure) a key name cannot be written.
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

    // Called with the number of key blocks written so far after every few thousand of them,
    // and once more when ExportKey ends.
    void SetProgress(std::function<void(std::uint64_t keysWritten)> progress);
    std::uint64_t KeysWritten() const { return keysWritten_; }
    // Why a walk had to leave a key out that the text cannot hold (a name with a line break
    // in it); empty when none was.
    const std::string& Failure() const { return failure_; }

    // The whole text (header, then every block in call order).
    std::u16string Text() const;
    // The text as a file holds it: FF FE and the text in UTF-16LE.
    const std::vector<std::uint8_t>& FileBytes() const { return bytes_; }
    // Writes FileBytes(), replacing path atomically.
    [[nodiscard]] FileError SaveToFile(IFileIo& fileIo, const std::filesystem::path& path) const;

    // One value line, as written under its key block.
    static std::u16string FormatValue(std::u16string_view name, RegType type,
                                      std::span<const std::uint8_t> data);

private:
    struct WalkStep;

    bool ExportOpenKey(HKey key, const std::u16string& path, RegSam mask, const WalkStep& step);
    void ExportValues(HKey key, const RegKeyInfo& info);
    void ExportSubkeys(HKey self, const RegKeyInfo& info, const std::u16string& path, RegSam mask,
                       const WalkStep& step);
    RegSam MaskFor(bool in64BitView) const;
    void AppendKeyBlock(std::u16string_view path);
    void Append(std::u16string_view text);

    const RegistryTarget& target_;
    Walk walk_;
    std::vector<std::uint8_t> bytes_;
    std::function<void(std::uint64_t)> progress_;
    std::uint64_t keysWritten_ = 0;
    std::string failure_;
};

}  // namespace quillary
