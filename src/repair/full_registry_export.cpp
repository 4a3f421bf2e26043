#include "repair/full_registry_export.h"

#include "core/text_encoding.h"
#include "repair/reg_export.h"

namespace quillary {

FileError ExportWholeRegistry(const RegistryTarget& target, IFileIo& fileIo,
                              const std::filesystem::path& file,
                              const std::function<void(std::uint64_t keysWritten)>& progress) {
    CRegExport writer(target, CRegExport::Walk::AllKeys);
    writer.SetProgress(progress);
    for (const HKey root : {HKeyLocalMachine, HKeyUsers}) {
        if (writer.ExportKey(root, u"", true))
            continue;
        if (!writer.Failure().empty())
            return "cannot export the registry: " + writer.Failure();
        return "cannot read the registry root " + Utf16ToUtf8(RootKeyName(root));
    }
    return writer.SaveToFile(fileIo, file);
}

}  // namespace quillary
