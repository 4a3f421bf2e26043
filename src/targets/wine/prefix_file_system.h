#pragma once

// The file system of a Wine prefix as its programs see it: the drive letters of dosdevices,
// and the Windows folder, the environment and the special folders that its registry names.
// The fonts that come with the Wine installation show in the prefix's fonts folder, where
// Wine's font loader finds them too.

#include <filesystem>
#include <memory>

#include "platform/registry.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {

// Drive letters and other DOS devices from prefix/dosdevices. A drive's type comes from
// HKLM\Software\Wine\Drives when it names one, else from the raw device beside it ("d::"
// linked to a CD-ROM or floppy device), else it is a fixed disk. A link that leads nowhere is
// no drive.
void ReadDosDevices(const std::filesystem::path& prefix, IRegistry& registry,
                    MappedFileSystemSetup& setup);

// The environment a program started in the prefix gets from its registry: the machine's
// variables, the folder variables Wine adds, then the user's (whose PATH extends the
// machine's) and the volatile ones.
CWindowsEnvironment ReadPrefixEnvironment(IRegistry& registry, bool is64Bit);

// The loader Wine runs for a prefix: $WINELOADER when it is set, else the "wine" found on PATH.
// Empty when there is neither.
std::filesystem::path FindWineLoader();

// The fonts folder of the Wine installation whose loader is at loader: share/wine/fonts in the
// nearest folder above the loader, its links followed, that has one (/usr/bin/wine leads to
// /usr/share/wine/fonts; a build unpacked elsewhere keeps its own share folder beside its
// bin folder). Empty when no folder above it has one.
std::filesystem::path WineFontFolderOf(const std::filesystem::path& loader);

// The prefix's file system; the fonts come from the installation wineLoader belongs to.
std::unique_ptr<CMappedFileSystem> OpenPrefixFileSystem(
    const std::filesystem::path& prefix, IRegistry& registry, bool is64Bit,
    const std::filesystem::path& wineLoader = FindWineLoader());

}  // namespace quillary
