#pragma once

// The ZIP archives of partial backups through zlib's minizip, reading and writing bytes in
// memory through minizip's replaceable file functions.

#include "repair/zip_codec.h"

namespace quillary {

class CMinizipCodec final : public IZipCodec {
public:
    std::unique_ptr<IZipBuilder> NewArchive() const override;
    ZipError OpenArchive(std::span<const std::uint8_t> archive,
                         std::unique_ptr<IZipReader>& reader) const override;
    ZipError AddEntry(std::vector<std::uint8_t>& archive, std::string_view name,
                      std::span<const std::uint8_t> content,
                      std::chrono::system_clock::time_point modified) const override;
    ZipError ListEntries(std::span<const std::uint8_t> archive,
                         std::vector<std::string>& names) const override;
    ZipError ReadEntry(std::span<const std::uint8_t> archive, std::string_view name,
                       std::size_t maxBytes, std::vector<std::uint8_t>& content) const override;
};

}  // namespace quillary
