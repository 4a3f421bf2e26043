#pragma once

// Reading one of Wine's registry files into a branch of the key tree, reporting each line it
// does not understand.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "targets/memory/registry_tree.h"
#include "targets/wine/wine_reg_format.h"

namespace quillary {

// One thing the reader did not understand, with where it was.
struct WineRegDiagnostic {
    std::string file;
    std::size_t line = 0;
    std::string message;
};

std::string DescribeDiagnostic(const WineRegDiagnostic& diagnostic);

// Reads a file's bytes into branch (the key the file is relative to). Keys without a time get
// loadTime. Returns true when every line was understood; otherwise every line that was not is
// reported and the rest is loaded where that is safe. A file without Wine's header line is
// not read at all.
bool ReadWineRegFile(std::string_view bytes, const std::string& fileName, CRegistryNode& branch,
                     FileTime loadTime, WineRegHeader* header,
                     std::vector<WineRegDiagnostic>* diagnostics);

// Reads a file handed over in pieces of any size as they come from the disk, so that the
// whole file is never held at once. The pieces read in turn give the same tree, header and
// diagnostics as ReadWineRegFile on the whole file. header and diagnostics must outlive the
// reader.
class CWineRegPieceReader {
public:
    CWineRegPieceReader(const std::string& fileName, CRegistryNode& branch, FileTime loadTime,
                        WineRegHeader* header, std::vector<WineRegDiagnostic>* diagnostics);
    ~CWineRegPieceReader();
    CWineRegPieceReader(const CWineRegPieceReader&) = delete;
    CWineRegPieceReader& operator=(const CWineRegPieceReader&) = delete;

    // Takes the next piece of the file and reads the keys it completes.
    void Feed(std::string_view piece);
    // Reads the rest once the file has ended; true when every line was understood.
    bool Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quillary
