#pragma once

// The registry access layer: root names and registry path text, the view rule of 64-bit
// systems, the two key objects (ConfigKey for the program's own values, RegKey for scanning
// and repairing), enumeration helpers and whole-tree deletion. All of it runs against any
// store that implements the platform surface.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace quillary {

// The registry being scanned or repaired, with what the layer needs to know about it.
struct RegistryTarget {
    IRegistry* store = nullptr;
    // A 64-bit system has two views, and every scan and repair access names one.
    bool is64Bit = false;
    // Lets the calling thread dispatch its pending window messages during long walks.
    std::function<void()> pumpMessages;
    // Whether the browser's URL history can be changed. A Wine prefix has none to change: its
    // URL history object answers every operation (add, query, list, delete) "not
    // implemented", so an entry reported there could never be repaired.
    bool keepsUrlHistory = false;
    // The registry tweaks (bit n for tweak n) whose settings the system behind the registry
    // reads. A Wine prefix reads none of them: they are settings of the Windows kernel.
    std::uint32_t honouredTweaks = 0;
};

// Access masks in use.
inline constexpr RegSam kMaskReadWrite = 0x2001F;
inline constexpr RegSam kMaskReadOnly = 0x20019;
inline constexpr RegSam kMaskFullAccess = 0xF003F;

// --- root names and paths ------------------------------------------------------------------

// The predefined handle of one of the five root names, matched exactly (case-sensitive, the
// whole text); nullopt for any other text.
std::optional<HKey> RootKeyFromName(std::u16string_view name);

// The root name of a predefined handle; empty for any other handle.
std::u16string_view RootKeyName(HKey root);

struct RegistryPath {
    std::u16string_view rootName;
    std::u16string_view subKey;  // empty when the text has no backslash
};

// Cuts a full registry path at its first backslash.
RegistryPath SplitRegistryPath(std::u16string_view path);

// parent, a backslash and name.
std::u16string JoinKeyPath(std::u16string_view parent, std::u16string_view name);

// True when parent\name is a symbolic link, opened without following it in the view of mask.
bool IsSymbolicLink(IRegistry& store, HKey parent, std::u16string_view name, RegSam mask);

// The shortest leading part of missingSubKey, a key that cannot be opened in the view of mask,
// that cannot be opened either: the key that creating missingSubKey creates first, so that
// deleting it removes everything created on the way. A key that opens has every key above it,
// so the search goes up from the parent and mostly ends after one open.
std::u16string_view FirstMissingKey(IRegistry& store, HKey root, std::u16string_view missingSubKey,
                                    RegSam mask);

// --- views -----------------------------------------------------------------------------------

// The view bit an access to an entry adds: none on a 32-bit system; on a 64-bit one
// KEY_WOW64_32KEY for an entry of the 32-bit view and KEY_WOW64_64KEY otherwise.
RegSam ViewMask(const RegistryTarget& target, bool is32BitEntry);

// --- ConfigKey -------------------------------------------------------------------------------

// The key object for the program's own values (settings, run entries, schedule values).
class ConfigKey {
public:
    ConfigKey(IRegistry& store, HKey root);
    ~ConfigKey();
    ConfigKey(const ConfigKey&) = delete;
    ConfigKey& operator=(const ConfigKey&) = delete;

    // 0x2001F unless set before opening; 0x20019 marks a read-only use that never creates.
    void SetAccessMask(RegSam mask) { accessMask_ = mask; }
    RegSam AccessMask() const { return accessMask_; }
    HKey Handle() const { return handle_; }
    const std::u16string& KeyPath() const { return keyPath_; }

    // Opens parent\path; when that fails, creates it if asked to and the mask is not the
    // read-only one.
    bool Open(HKey parent, std::u16string_view path, bool createIfMissing);
    // The result of closing, or 0 when nothing was open.
    LStatus Close();

    bool HasValue(std::u16string_view name);
    // True when the value exists as REG_SZ or REG_EXPAND_SZ (returned unexpanded); the text
    // is the data up to its first NUL. On failure text is left unchanged.
    bool ReadString(std::u16string_view name, std::u16string& text);
    bool WriteString(std::u16string_view name, std::u16string_view text);
    // True only when the value exists as REG_DWORD; on failure value is left unchanged.
    bool ReadDword(std::u16string_view name, std::uint32_t& value);
    bool WriteDword(std::u16string_view name, std::uint32_t value);
    bool DeleteValue(std::u16string_view name);
    // The value names of this key's sub-key; true when it opened and every name was read.
    bool ListValueNamesOf(std::u16string_view subKey, std::vector<std::u16string>& names);

private:
    IRegistry& store_;
    RegSam accessMask_ = kMaskReadWrite;
    HKey handle_;
    std::u16string keyPath_;
};

// True when HKEY_CURRENT_USER\subKey exists and holds the value. Never creates the key.
bool HasUserValue(IRegistry& store, std::u16string_view subKey, std::u16string_view valueName);

// --- RegKey ----------------------------------------------------------------------------------

// The view-aware key handle of scanners and repairs. Closes itself when destroyed.
class RegKey {
public:
    explicit RegKey(IRegistry& store) : store_(&store) {}
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;

    HKey Handle() const { return handle_; }
    bool IsOpen() const { return handle_ != HKey::None; }
    RegSam ViewBits() const { return viewBits_; }
    IRegistry& Store() const { return *store_; }

    // On success any open handle is closed first and the view bits become mask & 0x300; on
    // failure the object is unchanged.
    LStatus Open(HKey parent, std::u16string_view path, RegSam mask);
    LStatus Close();

    // Reads a REG_SZ or REG_EXPAND_SZ value into buffer, whose size *length gives in UTF-16
    // units. On success *length is the data's length in units, terminator included. Data
    // that is not a terminated string gives ERROR_INVALID_DATA; a buffer may be null to ask
    // the length only.
    LStatus QueryString(std::u16string_view valueName, char16_t* buffer, std::uint32_t* length);

    // Deletes this key, which must have no subkeys, in the view it was opened in.
    LStatus DeleteSelf();

private:
    IRegistry* store_;
    HKey handle_ = HKey::None;
    RegSam viewBits_ = 0;
};

// --- enumeration helpers (each empties its output first) ----------------------------------

// Every subkey name (up to 254 characters); on a 64-bit system names that begin with
// "wow6432node" once lower-cased and trimmed are skipped. True when the list is not empty.
bool ListSubkeyNames(const RegistryTarget& target, HKey key, std::vector<std::u16string>& names);
// Every value name (up to 1023 characters); returns how many were listed.
std::size_t ListValueNames(IRegistry& store, HKey key, std::vector<std::u16string>& names);
// As ListValueNames with names up to 254 characters, except that the name at index 0 is left
// out when it is blank.
std::size_t ListValueNamesNoBlankFirst(IRegistry& store, HKey key,
                                       std::vector<std::u16string>& names);
// The value count RegQueryInfoKeyW reports (0 when it fails).
std::uint32_t CountValues(IRegistry& store, HKey key);

// --- reading one value -----------------------------------------------------------------------

// Reads the text of root\subKey's value (the default value for an empty name), trimmed.
// True when the key could be opened for reading; a missing value, another type or a failed read
// leave the text empty. The first variant uses no view and, on a 64-bit system, returns true at
// once without touching the text; the others read the 32-bit or the 64-bit view.
bool ReadValueText(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                   std::u16string_view valueName, std::u16string& text);
bool ReadValueText32(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                     std::u16string_view valueName, std::u16string& text);
bool ReadValueText64(const RegistryTarget& target, HKey root, std::u16string_view subKey,
                     std::u16string_view valueName, std::u16string& text);
// The trimmed text of an open key's value; empty when the value is missing, of another type
// or cannot be read.
std::u16string ReadKeyText(RegKey& key, std::u16string_view valueName);

// --- deletion --------------------------------------------------------------------------------

// Deletes parent\name with everything below it in the view of mask. A key named Wow6432Node
// is never deleted, nor anything below one; a symbolic link is deleted itself, never what it
// points to.
LStatus DeleteKeyTree(const RegistryTarget& target, HKey parent, std::u16string_view name,
                      RegSam mask);

}  // namespace quillary
