#include "demo_prefix.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <system_error>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "demo_baseline.h"
#include "planted_entries.h"
#include "platform/clock.h"
#include "shell_link_writer.h"
#include "targets/wine/wine_prefix_registry.h"
#include "targets/wine/wineserver_lock.h"

namespace quillary::demo {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRegistryHeaderStart =
    "WINE REGISTRY Version 2\n;; All keys relative to ";
constexpr std::string_view kRegistryHeaderEnd = "\n\n#arch=win64\n";

struct RegistryFile {
    const char* name;
    const char* relativeTo;
};

constexpr RegistryFile kRegistryFiles[] = {
    {"system.reg", "REGISTRY\\\\Machine"},
    {"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"},
    {"userdef.reg", "REGISTRY\\\\User\\\\.Default"},
};

constexpr std::string_view kMarkerText = "A demo prefix made by quillary-demo-prefix.\n";
constexpr std::string_view kPlaceholderText =
    "Quillary demo prefix: a file that entries point at.\n";

std::chrono::system_clock::time_point DemoTime() {
    return std::chrono::system_clock::time_point{std::chrono::seconds{kDemoUnixTime}};
}

std::string Describe(const fs::path& path, const std::error_code& error) {
    return path.string() + ": " + error.message();
}

std::span<const std::uint8_t> BytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Writes registry values and links, each key in the 64-bit view so that no key is redirected.
class CDemoRegistryWriter {
public:
    explicit CDemoRegistryWriter(IRegistry& store) : store_(store) {}

    FileError Write(const RegWrite& write) {
        HKey key = HKey::None;
        if (FileError failure = Create(write.key, 0, &key)) {
            return failure;
        }
        LStatus status = ErrorSuccess;
        if (write.type != RegNone) {
            const bool isText = write.type == RegSz || write.type == RegExpandSz;
            const std::vector<std::uint8_t> bytes =
                isText ? ToUtf16LeBytes(write.text, true) : write.bytes;
            status = store_.RegSetValueExW(key, write.name, write.type, bytes.data(),
                                           static_cast<std::uint32_t>(bytes.size()));
        }
        store_.RegCloseKey(key);
        if (status != ErrorSuccess) {
            return "cannot write the value \"" + Utf16ToUtf8(write.name) + "\" of " +
                   Utf16ToUtf8(write.key) + " (error " + std::to_string(status) + ")";
        }
        return std::nullopt;
    }

    FileError Link(const RegLinkWrite& link) {
        HKey key = HKey::None;
        if (FileError failure = Create(link.key, RegOptionCreateLink, &key)) {
            return failure;
        }
        const std::vector<std::uint8_t> target = ToUtf16LeBytes(link.target, false);
        const LStatus status =
            store_.RegSetValueExW(key, u"SymbolicLinkValue", RegLink, target.data(),
                                  static_cast<std::uint32_t>(target.size()));
        store_.RegCloseKey(key);
        if (status != ErrorSuccess) {
            return "cannot link " + Utf16ToUtf8(link.key) + " (error " + std::to_string(status) +
                   ")";
        }
        return std::nullopt;
    }

private:
    FileError Create(std::u16string_view path, std::uint32_t options, HKey* key) {
        const RegistryPath parts = SplitRegistryPath(path);
        const std::optional<HKey> root = RootKeyFromName(parts.rootName);
        if (!root) {
            return "not a registry path: " + Utf16ToUtf8(path);
        }
        const LStatus status = store_.RegCreateKeyExW(*root, parts.subKey, u"", options,
                                                      KeyAllAccess | KeyWow64_64Key, key, nullptr);
        if (status != ErrorSuccess) {
            return "cannot create " + Utf16ToUtf8(path) + " (error " + std::to_string(status) + ")";
        }
        return std::nullopt;
    }

    IRegistry& store_;
};

FileError CreateFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return "cannot create the folder " + Describe(folder, error);
    }
    return std::nullopt;
}

FileError WriteFile(IFileIo& files, const fs::path& file, std::span<const std::uint8_t> bytes) {
    if (FileError failure = CreateFolder(file.parent_path())) {
        return failure;
    }
    return files.ReplaceFileAtomically(file, bytes);
}

FileError ResolveOnDriveC(const fs::path& prefix, std::u16string_view windowsPath, fs::path* path) {
    const std::optional<fs::path> resolved = PathOnDriveC(prefix, windowsPath);
    if (!resolved) {
        return "not a path of drive C: " + Utf16ToUtf8(windowsPath);
    }
    *path = *resolved;
    return std::nullopt;
}

FileError WriteRegistry(IFileIo& files, const fs::path& prefix) {
    for (const RegistryFile& file : kRegistryFiles) {
        const std::string header =
            std::string(kRegistryHeaderStart) + file.relativeTo + std::string(kRegistryHeaderEnd);
        if (FileError failure = files.ReplaceFileAtomically(prefix / file.name, BytesOf(header))) {
            return failure;
        }
    }
    const CManualClock clock(DemoTime());
    std::string error;
    std::unique_ptr<CWinePrefixRegistry> store =
        CWinePrefixRegistry::Open(files, prefix, &error, &clock);
    if (!store) {
        return error;
    }
    if (std::optional<std::string> refusal = store->WriteRefusal()) {
        return refusal;
    }
    CDemoRegistryWriter writer(*store);
    const Baseline& baseline = DemoBaseline();
    for (const RegWrite& write : baseline.writes) {
        if (FileError failure = writer.Write(write)) {
            return failure;
        }
    }
    for (const RegLinkWrite& link : baseline.links) {
        if (FileError failure = writer.Link(link)) {
            return failure;
        }
    }
    for (const PlantedEntry& entry : PlantedEntries()) {
        for (const RegWrite& write : entry.writes) {
            if (FileError failure = writer.Write(write)) {
                return failure;
            }
        }
    }
    return store->Save();
}

FileError WriteDriveC(IFileIo& files, const fs::path& prefix) {
    const fs::path driveC = prefix / "drive_c";
    if (FileError failure = CreateFolder(driveC)) {
        return failure;
    }
    std::error_code error;
    fs::create_directory(prefix / "dosdevices", error);
    if (!error) {
        // Relative, as Wine makes it, so the prefix can be moved; no other drive is made, so
        // nothing in the prefix reaches outside its folder.
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:", error);
    }
    if (error) {
        return "cannot make drive C: " + Describe(prefix / "dosdevices", error);
    }

    const Baseline& baseline = DemoBaseline();
    fs::path path;
    for (const std::u16string& folder : baseline.folders) {
        if (FileError failure = ResolveOnDriveC(prefix, folder, &path)) {
            return failure;
        }
        if (FileError failure = CreateFolder(path)) {
            return failure;
        }
    }
    for (const std::u16string& file : baseline.files) {
        if (FileError failure = ResolveOnDriveC(prefix, file, &path)) {
            return failure;
        }
        if (FileError failure = WriteFile(files, path, BytesOf(kPlaceholderText))) {
            return failure;
        }
    }

    // Shortcuts first: some of them are what other entries point at.
    const FileTime time = ToFileTime(DemoTime());
    for (const PlantedEntry& entry : PlantedEntries()) {
        if (!entry.shortcut) {
            continue;
        }
        const std::vector<std::uint8_t> link = FormatShellLink(
            ShellLinkTarget{entry.shortcut->target, entry.shortcut->targetIsFolder, time});
        if (link.empty()) {
            return "cannot make a shortcut to " + Utf16ToUtf8(entry.shortcut->target);
        }
        if (FileError failure = ResolveOnDriveC(prefix, entry.shortcut->path, &path)) {
            return failure;
        }
        if (FileError failure = WriteFile(files, path, link)) {
            return failure;
        }
    }
    for (const PlantedEntry& entry : PlantedEntries()) {
        for (const Target& target : entry.targets) {
            if (!target.exists || target.kind == TargetKind::Key) {
                continue;
            }
            if (FileError failure = ResolveOnDriveC(prefix, target.path, &path)) {
                return failure;
            }
            if (target.kind == TargetKind::Folder) {
                if (FileError failure = CreateFolder(path)) {
                    return failure;
                }
            } else if (!fs::exists(path, error)) {
                if (FileError failure = WriteFile(files, path, BytesOf(kPlaceholderText))) {
                    return failure;
                }
            }
        }
    }
    return std::nullopt;
}

// Whether output may be written: nullopt when it may, with *occupied telling whether a
// folder is there already.
FileError CheckOutput(const fs::path& output, bool* occupied) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(output, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        return "cannot look at " + Describe(output, error);
    }
    *occupied = fs::exists(status);
    if (!*occupied) {
        return std::nullopt;
    }
    if (fs::is_symlink(status)) {
        return output.string() + " is a symbolic link: name the folder itself";
    }
    if (!fs::is_directory(status)) {
        return output.string() + " exists and is not a folder";
    }
    const bool empty = fs::is_empty(output, error);
    if (error) {
        return "cannot look into " + Describe(output, error);
    }
    if (!empty && !fs::is_regular_file(output / kMarkerFileName, error)) {
        return output.string() +
               " is not empty and is not a demo prefix made by this program; nothing was "
               "written";
    }
    if (FindRunningWineServer(output)) {
        return std::string(kWineRunningMessage);
    }
    return std::nullopt;
}

// A new, empty folder beside output, named after it.
FileError MakeSiblingFolder(const fs::path& output, std::string_view purpose, fs::path* folder) {
    std::string pattern = (output.parent_path() / ("." + output.filename().string() + "." +
                                                   std::string(purpose) + "-XXXXXX"))
                              .string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "cannot make a folder beside " + output.string() + ": " +
               std::error_code(errno, std::generic_category()).message();
    }
    *folder = pattern;
    // mkdtemp keeps the folder to its owner; the prefix gets the mode a new folder gets. The
    // mask can only be read by setting it, so it is put back at once.
    const mode_t mask = umask(0);
    umask(mask);
    std::error_code error;
    fs::permissions(*folder, static_cast<fs::perms>(0777 & ~mask), error);
    if (error) {
        return "cannot set the permissions of " + Describe(*folder, error);
    }
    return std::nullopt;
}

FileError BuildPrefix(IFileIo& files, const fs::path& folder) {
    if (FileError failure = WriteDriveC(files, folder)) {
        return failure;
    }
    if (FileError failure = WriteRegistry(files, folder)) {
        return failure;
    }
    return files.ReplaceFileAtomically(folder / kMarkerFileName, BytesOf(kMarkerText));
}

}  // namespace

std::optional<fs::path> PathOnDriveC(const fs::path& prefix, std::u16string_view windowsPath) {
    if (windowsPath.size() < 3 || (windowsPath[0] != u'C' && windowsPath[0] != u'c') ||
        windowsPath.substr(1, 2) != u":\\") {
        return std::nullopt;
    }
    fs::path path = prefix / "drive_c";
    std::u16string_view rest = windowsPath.substr(3);
    while (!rest.empty()) {
        const std::size_t slash = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, slash);
        if (component.empty() || component == u"." || component == u".." ||
            component.find(u'/') != std::u16string_view::npos) {
            if (slash == std::u16string_view::npos && component.empty()) {
                break;  // a final backslash names the folder itself
            }
            return std::nullopt;
        }
        path /= Utf16ToUtf8(component);
        rest = slash == std::u16string_view::npos ? std::u16string_view() : rest.substr(slash + 1);
    }
    return path;
}

FileError WriteDemoPrefix(IFileIo& files, const fs::path& requested) {
    std::error_code error;
    fs::path output = fs::absolute(requested, error).lexically_normal();
    if (!output.has_filename()) {
        output = output.parent_path();  // "prefix/" and "prefix/." name the folder itself
    }
    if (error || !output.has_filename() || output == output.root_path()) {
        return "cannot use " + requested.string() + " as the prefix folder";
    }
    bool occupied = false;
    if (FileError refusal = CheckOutput(output, &occupied)) {
        return refusal;
    }
    if (FileError failure = CreateFolder(output.parent_path())) {
        return failure;
    }
    fs::path staging;
    if (FileError failure = MakeSiblingFolder(output, "new", &staging)) {
        return failure;
    }
    if (FileError failure = BuildPrefix(files, staging)) {
        fs::remove_all(staging, error);
        return failure;
    }

    // Move the old prefix aside, the new one in, and only then delete the old one.
    fs::path previous;
    if (occupied) {
        if (FileError failure = MakeSiblingFolder(output, "old", &previous)) {
            fs::remove_all(staging, error);
            return failure;
        }
        fs::rename(output, previous, error);
        if (error) {
            const std::string reason =
                "cannot move the old prefix aside: " + Describe(output, error);
            fs::remove_all(staging, error);
            fs::remove(previous, error);
            return reason;
        }
    }
    fs::rename(staging, output, error);
    if (error) {
        std::string reason = "cannot move the new prefix into place: " + Describe(output, error);
        if (occupied) {
            fs::rename(previous, output, error);
            if (error) {
                reason += "; the old prefix is kept in " + previous.string();
            }
        }
        fs::remove_all(staging, error);
        return reason;
    }
    if (occupied) {
        fs::remove_all(previous, error);
        if (error) {
            return "the new prefix is in place, but the old one is left in " + previous.string() +
                   ": " + error.message();
        }
    }
    return std::nullopt;
}

}  // namespace quillary::demo
