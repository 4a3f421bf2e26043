#pragma once

// The program's own registry on Linux (its settings, language choice, schedule values): a
// small registry kept in Wine's file format in a folder of its own, so the same store code
// reads and writes it and a user can read it with any text editor.

#include <filesystem>
#include <memory>
#include <string>

#include "targets/wine/wine_prefix_registry.h"

namespace quillary {

// $XDG_CONFIG_HOME/quillary, else $HOME/.config/quillary; empty when neither is absolute.
std::filesystem::path DefaultConfigFolder();

// Opens the config store in folder, creating the folder and empty registry files on first
// use; its files are read and replaced through files, which must outlive the store. Null, with
// the reason in *error, when the folder cannot be made or read. Changes are kept when Save()
// is called.
std::unique_ptr<CWinePrefixRegistry> OpenConfigStore(IFileIo& files,
                                                     const std::filesystem::path& folder,
                                                     std::string* error);

}  // namespace quillary
