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

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "repair/operation.h"

namespace quillary {

class CArchiveWriter;
class CArchiveReader;

// One operation record, as the list file holds it.
void EncodeUndoRecord(CArchiveWriter& writer, const COperation& record);
// Null when the record is cut short or damaged; the reader then says why.
std::unique_ptr<COperation> DecodeUndoRecord(CArchiveReader& reader);

struct UndoListHeader {
    std::u16string description;
    std::int32_t archivedFileCount = 0;
    std::int32_t exportCount = 0;
    std::int64_t lastChangeTime = 0;  // seconds since 1970, UTC
};

std::vector<std::uint8_t> EncodeUndoList(const UndoListHeader& header,
                                         std::span<const std::unique_ptr<COperation>> records);

struct DecodedUndoList {
    // Set only when the whole header could be read.
    bool headerRead = false;
    UndoListHeader header;
    // The records read before any error.
    std::vector<std::unique_ptr<COperation>> records;
    // Empty when the whole file was read; else what was wrong and where.
    std::string error;
};

// Reads bytes that may be damaged or hostile: every count is checked against what is left.
DecodedUndoList DecodeUndoList(std::span<const std::uint8_t> bytes);

}  // namespace quillary
