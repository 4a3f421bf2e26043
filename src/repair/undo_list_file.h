#pragma once

// The list file of a partial backup (.rmx): its description, counters, last change time and
// operation records, in the archive encoding of the program's data files:
//
//   description          string
//   record count         integer
//   archived file count  integer
//   export count         integer
//   last change time     the marker 0x8000000A, then 64-bit seconds since 1970 (UTC)
//   each record          kind, text count, texts, number count, numbers, data length, the
//                        data bytes (or the integer 0 when the length is 0), view flag
//
// A reader that finds another value in place of the time marker takes that value as the
// time and reads nothing more for it: files of the oldest form stored the time that way.
//
// A record's texts (T0, T1 …) and numbers (N0, N1 …) by kind; the view flag is 1 for an entry
// of the 64-bit view, 0 otherwise (and for files):
//
//   1 copy file            T0 source, T1 target; N0 overwrite flag (0 or 1)
//   2 move file            T0 source, T1 target
//   3 archive, delete file T0 file path, T1 archive entry name (added when performed)
//   4 create key           T0 sub-key; N0 root
//   5 delete key           T0 sub-key; N0 root
//   6 delete key tree      as kind 5; as the record of an archived export text: T0 "waste",
//                          T1 archive entry name, N0 1
//   7 create key and value T0 sub-key, T1 value name, T2 text; N0 value kind, N1 root,
//                          N2 DWORD
//   8 set value            T0 sub-key, T1 value name, T2 text; N0 value kind, N1 root,
//                          N2 DWORD (for a DWORD value only)
//   9 delete value         T0 sub-key, T1 value name; N0 root
//
// Roots are numbered 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS, 4 HKEY_CURRENT_CONFIG. No kind carries data. A record with data, with other
// counts of texts or numbers, or with a root or a flag out of range is read as a
// ForeignRecord, which is written back byte for byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "repair/operation.h"

namespace quillary {

class CArchiveWriter;
class CArchiveReader;

// Whether a record may name this root: only the five roots the list file numbers.
bool IsRecordRoot(HKey root);

// The kind number a record is stored under.
std::int32_t ListFileKindOf(const COperation& record);

// One operation record, as the list file holds it.
void EncodeUndoRecord(CArchiveWriter& writer, const COperation& record);
// nullopt when the record is cut short or damaged; the reader then says why.
std::optional<COperation> DecodeUndoRecord(CArchiveReader& reader);

struct UndoListHeader {
    std::u16string description;
    std::int32_t archivedFileCount = 0;
    std::int32_t exportCount = 0;
    std::int64_t lastChangeTime = 0;  // seconds since 1970, UTC
};

std::vector<std::uint8_t> EncodeUndoList(const UndoListHeader& header,
                                         std::span<const COperation> records);

struct DecodedUndoList {
    // Set only when the whole header could be read.
    bool headerRead = false;
    UndoListHeader header;
    // The records read before any error.
    std::vector<COperation> records;
    // Empty when the whole file was read; else what was wrong and where.
    std::string error;
};

// Reads bytes that may be damaged or hostile: every count is checked against what is left.
DecodedUndoList DecodeUndoList(std::span<const std::uint8_t> bytes);

}  // namespace quillary
