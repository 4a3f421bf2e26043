#pragma once

// One change that a repair makes, described well enough to perform it and to undo it: the
// record a partial backup performs, keeps in its list file and reverses on undo.
//
// Texts (T0, T1 …) and numbers (N0, N1 …) by kind:
//
//   1 copy file            T0 source, T1 target; N0 overwrite flag
//   2 move file            T0 source, T1 target
//   3 archive, delete file T0 file path, T1 archive entry name (added when performed)
//   4 create key           T0 sub-key; N0 root
//   5 delete key tree      T0 sub-key; N0 root
//   6 delete key tree      as kind 5; as the record of an archived export file: T0 "waste",
//                          T1 archive entry name, N0 1
//   7 create key and value T0 sub-key, T1 value name, T2 text; N0 value kind, N1 root,
//                          N2 DWORD
//   8 set value            T0 sub-key, T1 value name, T2 text, T3 entry name; N0 value kind,
//                          N1 root, N2 DWORD
//   9 delete value         T0 sub-key, T1 value name, T2 text; N0 root, N1 value kind,
//                          N2 DWORD; data (binary values)
//
// Roots are numbered 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS, 4 HKEY_CURRENT_CONFIG.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace quillary {

// Operation kinds.
inline constexpr std::int32_t kOpCopyFile = 1;
inline constexpr std::int32_t kOpMoveFile = 2;
inline constexpr std::int32_t kOpArchiveDeleteFile = 3;
inline constexpr std::int32_t kOpCreateKey = 4;
inline constexpr std::int32_t kOpDeleteKey = 5;
inline constexpr std::int32_t kOpDeleteKeyTree = 6;
inline constexpr std::int32_t kOpCreateKeyAndValue = 7;
inline constexpr std::int32_t kOpSetValue = 8;
inline constexpr std::int32_t kOpDeleteValue = 9;

// Value kinds of kinds 7, 8 and 9.
inline constexpr std::int32_t kValueText = 0;        // REG_SZ
inline constexpr std::int32_t kValueDword = 1;       // REG_DWORD
inline constexpr std::int32_t kValueBinary = 2;      // REG_BINARY, from the data
inline constexpr std::int32_t kValueExpandText = 3;  // REG_EXPAND_SZ

struct COperation {
    std::vector<std::u16string> texts;
    std::vector<std::int32_t> numbers;
    // Empty: the record has no data.
    std::vector<std::uint8_t> data;
    // 1 when the entry belongs to the 64-bit view (always 0 on a 32-bit system).
    std::int32_t viewFlag = 0;
    std::int32_t kind = 0;

    bool Is64BitView() const { return viewFlag != 0; }
    // A record read from a file may be short of what its kind needs.
    bool HasTexts(std::size_t count) const { return texts.size() >= count; }
    bool HasNumbers(std::size_t count) const { return numbers.size() >= count; }
};

// The root a record's number names; nullopt for any number outside 0-4.
std::optional<HKey> RootKeyOfNumber(std::int32_t number);
// The number of one of the five roots; nullopt for any other handle.
std::optional<std::int32_t> RootNumberOf(HKey root);

}  // namespace quillary
