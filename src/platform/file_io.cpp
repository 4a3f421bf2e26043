#include "platform/file_io.h"

namespace quillary {

FileError IFileIo::ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes,
                                 std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    FileError failure = ReadFileInPieces(path, maxBytes, 1u << 16, [&bytes](auto piece) {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return true;
    });
    if (failure) {
        bytes.clear();
    }
    return failure;
}

}  // namespace quillary
