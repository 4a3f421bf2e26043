#pragma once

// The registry of a Wine prefix: system.reg (HKEY_LOCAL_MACHINE), user.reg (the current user)
// and userdef.reg (HKEY_USERS\.Default), loaded into memory, presented with Windows' registry
// behaviour, and saved back in Wine's own format.
//
// Three things make the store refuse every change: a file it did not fully understand (saving
// it would lose what it could not read), a wineserver running for the prefix (the server
// writes its own copy of the registry over the files and would lose ours), and a file that
// changed since the store read it (saving would lose what Wine saved meanwhile).

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/registry.h"
#include "targets/memory/memory_registry.h"
#include "targets/wine/wine_reg_reader.h"

namespace quillary {

// Wine's WOW64 rule: in the 32-bit view, a walk that reaches a key with a Wow6432Node child
// goes on inside that child, unless the next component names Wow6432Node itself.
class CWineWow64Policy final : public IWow64Policy {
public:
    bool Redirects(std::span<const std::u16string_view> path,
                   std::span<const std::u16string_view> rest,
                   const CRegistryNode& node) const override;
};

// The security identifier Wine gives the current user, whoever runs it.
inline constexpr std::u16string_view kWineUserSid = u"S-1-5-21-0-0-0-1000";

inline constexpr std::string_view kWineRunningMessage =
    "Wine is running for this prefix: close its programs or run `wineserver -k`, then try again";
inline constexpr std::string_view kRegistryChangedMessage =
    "Wine changed this prefix's registry files since they were read: open the prefix again, "
    "then try again";

// Whether folder is a Wine prefix (a folder holding system.reg); *why says what is wrong.
bool IsWinePrefix(const std::filesystem::path& folder, std::string* why);

class CWinePrefixRegistry final : public IRegistry {
public:
    // Loads the prefix's registry, reading and later replacing its files through files, which
    // must outlive the store. Null, with the reason in *error, when the folder is not a Wine
    // prefix. Damaged files load as far as they can and make the store read-only.
    static std::unique_ptr<CWinePrefixRegistry> Open(IFileIo& files,
                                                     const std::filesystem::path& prefix,
                                                     std::string* error,
                                                     const IClock* clock = nullptr);

    const std::filesystem::path& Prefix() const { return prefix_; }
    bool Is64Bit() const { return memory_->Is64Bit(); }
    // Every line of the files that was not understood.
    const std::vector<WineRegDiagnostic>& Diagnostics() const { return diagnostics_; }
    // Why changes are refused right now, or nullopt when they are allowed.
    std::optional<std::string> WriteRefusal();
    // Whether the refusal is for good: a file that was not fully understood.
    bool IsDamaged() const { return damage_.has_value(); }
    // A warning for readers: the files may lag behind a running Wine.
    std::optional<std::string> ReadWarning();
    bool HasUnsavedChanges() const;
    // Writes the files whose keys changed, each replaced atomically; nothing when nothing
    // changed. A failure stops at the file it happened to: the files before it hold their new
    // contents, it and those after it their old ones, and their changes stay unsaved.
    [[nodiscard]] FileError Save();

    LStatus RegOpenKeyExW(HKey parent, std::u16string_view subKey, std::uint32_t options,
                          RegSam samDesired, HKey* result) override;
    LStatus RegCreateKeyExW(HKey parent, std::u16string_view subKey, std::u16string_view className,
                            std::uint32_t options, RegSam samDesired, HKey* result,
                            std::uint32_t* disposition) override;
    LStatus RegCloseKey(HKey key) override;
    LStatus RegEnumKeyExW(HKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLength,
                          FileTime* lastWriteTime) override;
    LStatus RegEnumValueW(HKey key, std::uint32_t index, char16_t* name, std::uint32_t* nameLength,
                          RegType* type, std::uint8_t* data, std::uint32_t* dataSize) override;
    LStatus RegQueryInfoKeyW(HKey key, RegKeyInfo* info) override;
    LStatus RegQueryValueExW(HKey key, std::u16string_view valueName, RegType* type,
                             std::uint8_t* data, std::uint32_t* dataSize) override;
    LStatus RegSetValueExW(HKey key, std::u16string_view valueName, RegType type,
                           const std::uint8_t* data, std::uint32_t dataSize) override;
    LStatus RegDeleteValueW(HKey key, std::u16string_view valueName) override;
    LStatus RegDeleteKeyW(HKey key, std::u16string_view subKey) override;
    LStatus RegDeleteKeyExW(HKey key, std::u16string_view subKey, RegSam samDesired,
                            std::uint32_t reserved) override;
    bool HasRegDeleteKeyExW() const override { return true; }
    LStatus RegFlushKey(HKey key) override;
    LStatus RegSaveKeyW(HKey key, std::u16string_view file) override;
    LStatus RegReplaceKeyW(HKey key, std::u16string_view subKey, std::u16string_view newFile,
                           std::u16string_view oldFile) override;

private:
    // What tells, without reading it, that a file may have changed: Wine replaces a file by
    // renaming a new one over it, which changes the inode, and rewrites a linked file in
    // place, which changes the modification time.
    struct FileStamp {
        bool exists = false;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    struct Branch {
        std::string fileName;
        CRegistryNode* node = nullptr;
        WineRegHeader header;
        bool dirty = false;
        FileStamp stamp;  // the file as the store last read or wrote it
        std::size_t contentHash = 0;
    };

    CWinePrefixRegistry(IFileIo& files, std::filesystem::path prefix);
    // A time on the monotonic clock, read coarsely: the store asks it at every open for
    // writing, and the checks it throttles are a second apart.
    using CheckTime = std::chrono::nanoseconds;
    static CheckTime CheckClock();
    bool WineRunning(CheckTime now);
    FileStamp StampOf(const std::string& fileName) const;
    // Whether a registry file differs from what was read or last saved (checked at most once
    // per interval, and sticky once true).
    bool FilesChangedSinceRead(CheckTime now);
    bool FilesDifferFromStamps();
    void MarkChanged(const CRegistryNode& node);
    bool WritesAllowed() { return !WriteRefusal().has_value(); }

    IFileIo& files_;
    std::filesystem::path prefix_;
    std::unique_ptr<CMemoryRegistry> memory_;
    std::vector<Branch> branches_;
    std::vector<WineRegDiagnostic> diagnostics_;
    std::optional<std::string> damage_;  // why the files cannot be written back
    // Zero stands for never.
    CheckTime lastServerCheck_{};
    bool serverRunning_ = false;
    CheckTime lastFilesCheck_{};
    bool filesChanged_ = false;
};

}  // namespace quillary
