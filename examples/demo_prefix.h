#pragma once

// The demo prefix: a small Wine prefix made from nothing, with the keys and folders a real
// one has and, for every scan category, the planted entries of planted_entries.h.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace quillary::demo {

// The file that marks a folder as a demo prefix this program made, and so one it may replace.
inline constexpr std::string_view kMarkerFileName = ".quillary-demo-prefix";

// Every registry key and shortcut of the demo carries this time: 2024-03-01 09:00:00 UTC.
inline constexpr std::int64_t kDemoUnixTime = 1709283600;

// Writes the demo prefix into output: a missing or empty folder, or a demo prefix made
// before, which is replaced whole. The new prefix is built beside output and moved into
// place, so a failure leaves whatever was there untouched. Any other folder is refused. The
// files are written through files.
[[nodiscard]] FileError WriteDemoPrefix(IFileIo& files, const std::filesystem::path& output);

// Where a path of drive C: ("C:\users\demo") lives in a prefix's folder; nullopt for a path
// that is not on C: or that has an empty, "." or ".." component.
std::optional<std::filesystem::path> PathOnDriveC(const std::filesystem::path& prefix,
                                                  std::u16string_view windowsPath);

}  // namespace quillary::demo
