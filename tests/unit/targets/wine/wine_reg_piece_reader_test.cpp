// Reading Wine's registry files piece by piece, as they come from the disk: however a file is
// split, the pieces must give what the whole file gives.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "targets/wine/wine_reg_reader.h"
#include "targets/wine/wine_reg_writer.h"

namespace quillary {
namespace {

constexpr FileTime kLoadTime = 0x1d000000000000;

// What a read leaves behind, in a form two reads can be compared by.
struct Outcome {
    std::string tree;  // the branch as the writer formats it
    WineRegHeader header;
    std::vector<std::string> diagnostics;
    bool understood = false;

    bool operator==(const Outcome& other) const {
        return tree == other.tree && header.arch == other.header.arch &&
               header.relativeTo == other.header.relativeTo && diagnostics == other.diagnostics &&
               understood == other.understood;
    }
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.understood ? "understood" : "not understood") << ", arch \""
         << outcome.header.arch << "\", relative to \"" << outcome.header.relativeTo << "\"\n";
    for (const std::string& diagnostic : outcome.diagnostics) {
        *out << "  " << diagnostic << "\n";
    }
    *out << outcome.tree;
}

Outcome Describe(const CRegistryNode& root, const WineRegHeader& header,
                 const std::vector<WineRegDiagnostic>& diagnostics, bool understood) {
    Outcome outcome{FormatWineRegFile(root, header), header, {}, understood};
    for (const WineRegDiagnostic& diagnostic : diagnostics) {
        outcome.diagnostics.push_back(DescribeDiagnostic(diagnostic));
    }
    return outcome;
}

Outcome ReadWhole(std::string_view text) {
    CRegistryNode root(u"", KeyOrder::LowerCase, true);
    WineRegHeader header;
    std::vector<WineRegDiagnostic> diagnostics;
    const bool understood =
        ReadWineRegFile(text, "system.reg", root, kLoadTime, &header, &diagnostics);
    return Describe(root, header, diagnostics, understood);
}

Outcome ReadInPieces(const std::vector<std::string_view>& pieces) {
    CRegistryNode root(u"", KeyOrder::LowerCase, true);
    WineRegHeader header;
    std::vector<WineRegDiagnostic> diagnostics;
    CWineRegPieceReader reader("system.reg", root, kLoadTime, &header, &diagnostics);
    for (std::string_view piece : pieces) {
        reader.Feed(piece);
    }
    const bool understood = reader.Finish();
    return Describe(root, header, diagnostics, understood);
}

std::vector<std::string_view> PiecesOf(std::string_view text, std::size_t size) {
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < text.size(); at += size) {
        pieces.push_back(text.substr(at, size));
    }
    return pieces;
}

struct PieceCase {
    const char* name;
    std::string_view text;
};

const PieceCase kCases[] = {
    // Files the reader understands.
    {"keys, values, a link and a wrapped hex run",
     "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
     "[Software\\\\A\\\\B] 1796861392\n#time=1dd883ac71e8de0\n\"Name\"=\"value [x]\"\n\n"
     "[Software\\\\Classes\\\\Wow6432Node\\\\AppId] 1796861387\n#link\n"
     "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,\\\n  69,00,73,00\n\n"
     "[Software\\\\A\\\\C] 1796861392\n#class=\"c\"\n@=dword:00000001\n"
     "[Software\\\\A\\\\C\\\\D] 1796861392\n"},
    {"line breaks with carriage returns",
     "WINE REGISTRY Version 2\r\n#arch=win32\r\n\r\n[A] 1\r\n\"v\"=\"1\"\r\n[A\\\\B] 2\r\n"
     "\"w\"=hex:01,\\\r\n  02\r\n"},
    // Damaged files: what is reported, and where, must not depend on the split.
    {"a continuation that runs into a key line",
     "WINE REGISTRY Version 2\n[A] 1\n\"h\"=hex:01,02,\\\n[B] 2\n\"v\"=\"x\"\n"},
    {"a value before the first key and a bad time",
     "WINE REGISTRY Version 2\n\"early\"=\"x\"\n[A] never\n[B] 3\n\"v\"=dword:1\n"},
    {"cut short in the middle of a line", "WINE REGISTRY Version 2\n[A] 1\n\"v\"=\"x"},
    {"not a Wine registry file", "REGEDIT4\n[A] 1\n\"v\"=\"x\"\n"},
    {"empty", ""},
};

TEST(WineRegPieceReaderTest, PiecesOfAnySizeGiveWhatTheWholeFileGives) {
    for (const PieceCase& test : kCases) {
        SCOPED_TRACE(test.name);
        const Outcome whole = ReadWhole(test.text);
        for (std::size_t size : {1, 2, 3, 5, 8, 64}) {
            SCOPED_TRACE("pieces of " + std::to_string(size));
            EXPECT_EQ(ReadInPieces(PiecesOf(test.text, size)), whole);
        }
    }
}

TEST(WineRegPieceReaderTest, EverySplitInTwoGivesWhatTheWholeFileGives) {
    for (const PieceCase& test : kCases) {
        SCOPED_TRACE(test.name);
        const Outcome whole = ReadWhole(test.text);
        for (std::size_t cut = 0; cut <= test.text.size(); ++cut) {
            SCOPED_TRACE("split at " + std::to_string(cut));
            EXPECT_EQ(ReadInPieces({test.text.substr(0, cut), test.text.substr(cut)}), whole);
        }
    }
}

}  // namespace
}  // namespace quillary
