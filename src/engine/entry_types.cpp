#include "engine/entry_types.h"

namespace quillary {
namespace {

constexpr TextArgument kKey{ProblemField::Key};
constexpr TextArgument kName{ProblemField::ValueName};
constexpr TextArgument kData{ProblemField::ValueData};
constexpr TextArgument kNameOrDefault{ProblemField::ValueNameOrDefault};
constexpr TextArgument kLine0 = LineArgument(0);
constexpr TextArgument kLine1 = LineArgument(1);
constexpr TextArgument kLine2 = LineArgument(2);
constexpr TextArgument kLine3 = LineArgument(3);

using enum RepairCode;

// Row t is entry type t: detail text arguments, description text arguments, repair.
// clang-format off
constexpr std::array<EntryTypeRow, kEntryTypeCount> kEntryTypes = {{
    /*  0 */ {{kKey, kLine1, kData}, {kLine1, kData}, R1},
    /*  1 */ {{kLine1, kKey}, {kLine1}, R2},
    /*  2 */ {{kKey, kData}, {kData}, R10},
    /*  3 */ {{kKey, kData}, {kData}, R3},
    /*  4 */ {{kKey}, {kKey}, R2},
    /*  5 */ {{kKey, kLine1}, {kLine2}, R2},
    /*  6 */ {{kKey, kData}, {kData}, R3},
    /*  7 */ {{kKey, kData}, {kData, kLine1}, R1},
    /*  8 */ {{kKey}, {kLine1}, R2},
    /*  9 */ {{kKey}, {kLine1}, R2},
    /* 10 */ {{kKey, kData}, {kData, kLine1}, R2},
    /* 11 */ {{kKey, kData}, {kData}, R3},
    /* 12 */ {{kKey, kData}, {kData}, R3},
    /* 13 */ {{kKey, kLine0, kData}, {kData, kLine0}, R3},
    /* 14 */ {{kKey}, {}, R4},
    /* 15 */ {{kKey, kLine2}, {kLine0, kData}, R3},
    /* 16 */ {{kKey}, {kKey}, R4},
    /* 17 */ {{kKey, kData}, {kData}, R3},
    /* 18 */ {{kKey}, {kKey}, R2},
    /* 19 */ {{kKey, kLine1}, {kData}, R1},
    /* 20 */ {{kKey}, {kKey}, R2},
    /* 21 */ {{kData, kKey}, {kLine1, kData}, R1},
    /* 22 */ {{kKey, kLine2, kLine1}, {kLine1}, R3},
    /* 23 */ {{kName, kKey, kData}, {kData}, R10},
    /* 24 */ {{kName, kKey}, {kData}, R10},
    /* 25 */ {{kName, kKey}, {kData}, R10},
    /* 26 */ {{kKey, kLine1}, {}, R5},
    /* 27 */ {{kData, kKey}, {kLine1}, R6},
    /* 28 */ {{kLine2, kData, kKey}, {kLine1}, R10},
    /* 29 */ {{kLine1}, {kLine2}, R10},
    /* 30 */ {{kLine1}, {kLine2}, R10},
    /* 31 */ {{kLine1}, {kLine2}, R10},
    /* 32 */ {{kLine1}, {kLine2}, R7},
    /* 33 */ {{kName, kKey}, {kLine1}, R10},
    /* 34 */ {{kLine2, kLine2}, {kLine2, kLine2}, R8},
    /* 35 */ {{kKey}, {}, R2},
    /* 36 */ {{kKey, kData}, {kData}, R3},
    /* 37 */ {{kKey, kData}, {kData, kLine1}, R9},
    /* 38 */ {{kKey}, {kLine1}, R2},
    /* 39 */ {{kKey, kLine1}, {kLine1}, R3},
    /* 40 */ {{kLine1, kLine2}, {kLine3, kLine2}, R8},
    /* 41 */ {{kName, kKey, kData}, {kData}, R10},
    /* 42 */ {{kName, kKey, kData}, {kNameOrDefault, kKey, kData}, R10},
    /* 43 */ {{kName, kKey, kData}, {kNameOrDefault, kKey, kData}, R10},
}};
// clang-format on

constexpr EntryTypeRow kUnknownEntryType{};

}  // namespace

bool IsKnownEntryType(int type) {
    return type >= 0 && type < kEntryTypeCount;
}

const EntryTypeRow& EntryTypeInfo(int type) {
    return IsKnownEntryType(type) ? kEntryTypes[static_cast<std::size_t>(type)] : kUnknownEntryType;
}

}  // namespace quillary
