#pragma once

// The file system of a Wine prefix as its programs see it: the drive letters of dosdevices,
// and the Windows folder, the environment and the special folders that its registry names.

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

std::unique_ptr<CMappedFileSystem> OpenPrefixFileSystem(const std::filesystem::path& prefix,
                                                        IRegistry& registry, bool is64Bit);

}  // namespace quillary
