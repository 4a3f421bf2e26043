#pragma once

// The registry half of the platform surface. Its operations mirror the advapi32 and shlwapi
// functions of the same names: the same arguments where they matter, the same error codes and
// the same edge behaviour (buffer sizes in UTF-16 units or bytes, ERROR_MORE_DATA when a
// buffer is short, ERROR_NO_MORE_ITEMS at the end of an enumeration). Every target — the
// in-memory store, a Wine prefix, offline hives, the live Windows registry — implements it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace quillary {

// The deepest a key may lie below the root of its hive (a machine's key, a user's key): 512
// names. Stores refuse to create a deeper key, and readers of registry files refuse a file
// that holds one, so that nothing walking a registry has to go deeper than this.
inline constexpr std::size_t kMaxRegistryKeyDepth = 512;

// What RegQueryInfoKeyW reports. Lengths of names are in UTF-16 units without the
// terminator; the longest value data is in bytes.
struct RegKeyInfo {
    std::u16string className;
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyLength = 0;
    std::uint32_t maxClassLength = 0;
    std::uint32_t values = 0;
    std::uint32_t maxValueNameLength = 0;
    std::uint32_t maxValueDataLength = 0;
    FileTime lastWriteTime = 0;
};

class IRegistry {
public:
    virtual ~IRegistry() = default;

    // Opens parent\subKey. An empty subKey opens the parent itself anew. *result receives the
    // new handle on success and is left unchanged on failure.
    virtual LStatus RegOpenKeyExW(HKey parent, std::u16string_view subKey, std::uint32_t options,
                                  RegSam samDesired, HKey* result) = 0;

    // Opens parent\subKey, creating every missing key on the way. *disposition (optional)
    // tells whether the last key was created or already existed.
    virtual LStatus RegCreateKeyExW(HKey parent, std::u16string_view subKey,
                                    std::u16string_view className, std::uint32_t options,
                                    RegSam samDesired, HKey* result,
                                    std::uint32_t* disposition) = 0;

    // Closing a predefined root handle succeeds and does nothing.
    virtual LStatus RegCloseKey(HKey key) = 0;

    // The subkey at index. nameLength holds the buffer size in units (terminator included) on
    // entry and the name's length without terminator on success; a short buffer gives
    // ERROR_MORE_DATA. lastWriteTime is optional.
    virtual LStatus RegEnumKeyExW(HKey key, std::uint32_t index, char16_t* name,
                                  std::uint32_t* nameLength, FileTime* lastWriteTime) = 0;

    // The value at index, in the order the key keeps its values. name/nameLength as for
    // RegEnumKeyExW. type, data and dataSize are optional; with data null, *dataSize receives
    // the size; with a short data buffer the result is ERROR_MORE_DATA and *dataSize the
    // size needed.
    virtual LStatus RegEnumValueW(HKey key, std::uint32_t index, char16_t* name,
                                  std::uint32_t* nameLength, RegType* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) = 0;

    virtual LStatus RegQueryInfoKeyW(HKey key, RegKeyInfo* info) = 0;

    // Reads a value (an empty name reads the default value). With data null, *dataSize
    // receives the size; with a short buffer the result is ERROR_MORE_DATA and *dataSize the
    // size needed. The bytes are returned exactly as stored: no terminator is added.
    virtual LStatus RegQueryValueExW(HKey key, std::u16string_view valueName, RegType* type,
                                     std::uint8_t* data, std::uint32_t* dataSize) = 0;

    virtual LStatus RegSetValueExW(HKey key, std::u16string_view valueName, RegType type,
                                   const std::uint8_t* data, std::uint32_t dataSize) = 0;

    virtual LStatus RegDeleteValueW(HKey key, std::u16string_view valueName) = 0;

    // Deletes key\subKey, which must have no subkeys (ERROR_ACCESS_DENIED otherwise). An empty
    // subKey deletes the key itself. The view of the handle applies.
    virtual LStatus RegDeleteKeyW(HKey key, std::u16string_view subKey) = 0;

    // As RegDeleteKeyW, in the view given by samDesired (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
    // Windows offers it from Vista on; callers ask HasRegDeleteKeyExW first, as a program
    // that looks the function up at run time would.
    virtual LStatus RegDeleteKeyExW(HKey key, std::u16string_view subKey, RegSam samDesired,
                                    std::uint32_t reserved) = 0;
    virtual bool HasRegDeleteKeyExW() const = 0;

    // shlwapi's SHDeleteKeyW: deletes key\subKey with everything below it.
    virtual LStatus SHDeleteKeyW(HKey key, std::u16string_view subKey);

    virtual LStatus RegFlushKey(HKey key) = 0;

    // Saves the key and everything below it to a new file (ERROR_ALREADY_EXISTS when the file
    // exists). The file format belongs to the store; RegReplaceKeyW of the same store reads it.
    virtual LStatus RegSaveKeyW(HKey key, std::u16string_view file) = 0;

    // Arranges for key\subKey to be replaced by the contents of newFile at the next start of
    // the system; the current contents are then kept in oldFile.
    virtual LStatus RegReplaceKeyW(HKey key, std::u16string_view subKey,
                                   std::u16string_view newFile, std::u16string_view oldFile) = 0;
};

}  // namespace quillary
