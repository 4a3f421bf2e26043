#pragma once

// The records of the changes a repair makes, one type per kind of change, each describing its
// change well enough to make it and to undo it. A partial backup performs them, keeps the ones
// an undo needs in its list file (undo_list_file.h says how they are stored) and reverses
// those on undo.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/win_types.h"

namespace quillary {

// The registry view an entry belongs to. On a 64-bit system that is the view of 32-bit
// programs (KEY_WOW64_32KEY) or the 64-bit one (KEY_WOW64_64KEY); a 32-bit system has the
// 32-bit view only.
enum class RegistryView : std::uint8_t { Bits32, Bits64 };

constexpr bool IsSixtyFourBit(RegistryView view) {
    return view == RegistryView::Bits64;
}

// What a key deletion records that the repair asked for: the key alone or its whole tree.
// Either way the key goes with everything below it, so that nothing is left without a parent.
enum class KeyScope : std::uint8_t { Key, Tree };

// The kinds of value a record writes, numbered as the list file stores them.
enum class RecordValueKind : std::int32_t {
    Text = 0,        // REG_SZ
    Dword = 1,       // REG_DWORD
    Binary = 2,      // REG_BINARY: never written from a record
    ExpandText = 3,  // REG_EXPAND_SZ
};

struct RecordValue {
    std::u16string name;
    RecordValueKind kind = RecordValueKind::Text;
    std::u16string text;      // the data of Text and ExpandText
    std::uint32_t dword = 0;  // the data of Dword
    bool operator==(const RecordValue&) const = default;
};

struct CopyFileRecord {
    std::u16string source;
    std::u16string target;
    bool overwrite = false;
    bool operator==(const CopyFileRecord&) const = default;
};

struct MoveFileRecord {
    std::u16string source;
    std::u16string target;
    bool operator==(const MoveFileRecord&) const = default;
};

// The largest file an archive-and-delete record stores; a larger one is left in place.
inline constexpr std::size_t kMaxArchivedFileBytes = 512u * 1024 * 1024;

// Deletes a file once its bytes are stored in the archive.
struct ArchiveDeleteFileRecord {
    std::u16string path;
    // The archive entry that holds the bytes; given when the deletion is performed.
    std::optional<std::u16string> entryName;
    bool operator==(const ArchiveDeleteFileRecord&) const = default;
};

struct CreateKeyRecord {
    HKey root = HKey::None;
    std::u16string subKey;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const CreateKeyRecord&) const = default;
};

struct DeleteKeyRecord {
    HKey root = HKey::None;
    std::u16string subKey;
    KeyScope scope = KeyScope::Tree;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const DeleteKeyRecord&) const = default;
};

// An export text of the archive: importing it puts back what a run's registry changes in
// that view deleted or overwrote.
struct ExportTextRecord {
    std::u16string entryName;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const ExportTextRecord&) const = default;
};

struct CreateKeyAndValueRecord {
    HKey root = HKey::None;
    std::u16string subKey;
    RecordValue value;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const CreateKeyAndValueRecord&) const = default;
};

struct SetValueRecord {
    HKey root = HKey::None;
    std::u16string subKey;
    RecordValue value;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const SetValueRecord&) const = default;
};

struct DeleteValueRecord {
    HKey root = HKey::None;
    std::u16string subKey;
    std::u16string valueName;
    RegistryView view = RegistryView::Bits32;
    bool operator==(const DeleteValueRecord&) const = default;
};

// A record of a list file that is none of the above: a kind this program does not know, or
// fields that do not have the shape of their kind. It is kept as it was stored, so that it
// can be named and written back unchanged; nothing performs or reverses it.
struct ForeignRecord {
    std::int32_t kind = 0;
    std::vector<std::u16string> texts;
    std::vector<std::int32_t> numbers;
    std::vector<std::uint8_t> data;
    std::int32_t viewFlag = 0;
    bool operator==(const ForeignRecord&) const = default;
};

using COperation =
    std::variant<CopyFileRecord, MoveFileRecord, ArchiveDeleteFileRecord, CreateKeyRecord,
                 DeleteKeyRecord, ExportTextRecord, CreateKeyAndValueRecord, SetValueRecord,
                 DeleteValueRecord, ForeignRecord>;

}  // namespace quillary
