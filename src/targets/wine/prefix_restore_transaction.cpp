#include "targets/wine/prefix_restore_transaction.h"

#include <system_error>

namespace quillary {
namespace {

namespace fs = std::filesystem;

// Puts one registry file in place, or removes it when the prefix did not have it.
FileError PutRegistryFile(IFileIo& files, const fs::path& path, const RegistryFileBytes& bytes) {
    if (bytes) {
        return files.ReplaceFileAtomically(path, *bytes);
    }
    std::error_code code;
    fs::remove(path, code);
    if (code) {
        return "cannot remove " + path.string() + ": " + code.message();
    }
    return std::nullopt;
}

}  // namespace

FileError ReadRegistryFiles(IFileIo& io, const fs::path& prefix, RegistryFiles& files) {
    for (std::size_t i = 0; i < kRestorePointFiles.size(); ++i) {
        const fs::path path = prefix / kRestorePointFiles[i];
        std::error_code code;
        if (!fs::exists(path, code)) {
            if (i == 0) {
                return prefix.string() + " is not a Wine prefix: it has no system.reg";
            }
            files[i].reset();
            continue;
        }
        files[i].emplace();
        if (FileError failure = io.ReadWholeFile(path, kMaxRegistryFileBytes, *files[i])) {
            return failure;
        }
    }
    return std::nullopt;
}

FileError ReadCheckedCopies(IFileIo& files, const fs::path& folder, const RestorePointIndex& index,
                            RegistryFiles& copies) {
    for (std::size_t i = 0; i < kRestorePointFiles.size(); ++i) {
        const CopiedFileRecord& record = index.files[i];
        if (!record.present) {
            copies[i].reset();
            continue;
        }
        const fs::path copy = folder / kRestorePointFiles[i];
        const std::string name(kRestorePointFiles[i]);
        std::error_code code;
        if (!fs::exists(copy, code)) {
            return "its copy of " + name + " is missing";
        }
        copies[i].emplace();
        if (FileError failure = files.ReadWholeFile(copy, kMaxRegistryFileBytes, *copies[i])) {
            return failure;
        }
        const CopiedFileRecord read = RecordOf(copies[i]);
        if (read.size != record.size || read.hash != record.hash) {
            return "its copy of " + name + " is not as it was taken";
        }
    }
    return std::nullopt;
}

FileError PutRegistryFiles(IFileIo& files, const fs::path& prefix, const RegistryFiles& snapshot,
                           const RegistryFiles& current, bool* putBack) {
    for (std::size_t i = 0; i < kRestorePointFiles.size(); ++i) {
        FileError failure = PutRegistryFile(files, prefix / kRestorePointFiles[i], snapshot[i]);
        if (!failure) {
            continue;
        }
        *putBack = true;
        for (std::size_t done = 0; done < i; ++done) {
            *putBack &= !PutRegistryFile(files, prefix / kRestorePointFiles[done], current[done]);
        }
        return failure;
    }
    return std::nullopt;
}

}  // namespace quillary
