#pragma once

// ZIP archives (PKZIP format, deflate) held in memory: the archive of a partial backup is
// built and read as bytes, and written to disk whole by its owner, so the file on disk is
// always a complete archive. The portable core sees only this interface; the host build
// supplies the implementation over its ZIP library.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillary {

// What went wrong with an archive, in words for the log; empty optional means success.
using ZipError = std::optional<std::string>;

// A new archive built entry by entry in one pass, for archives of many entries.
class IZipBuilder {
public:
    virtual ~IZipBuilder() = default;
    // Adds content under name, as AddEntry does.
    [[nodiscard]] virtual ZipError Add(std::string_view name, std::span<const std::uint8_t> content,
                                       std::chrono::system_clock::time_point modified) = 0;
    // Ends the archive and hands over its bytes; nothing may be added afterwards.
    [[nodiscard]] virtual ZipError Finish(std::vector<std::uint8_t>& archive) = 0;
};

// An archive opened for reading many entries: its directory is read once, and each entry is
// then found by name without reading the directory again.
class IZipReader {
public:
    virtual ~IZipReader() = default;
    // The names of every entry, in archive order.
    virtual const std::vector<std::string>& Names() const = 0;
    virtual bool Holds(std::string_view name) const = 0;
    // As IZipCodec::ReadEntry.
    [[nodiscard]] virtual ZipError ReadEntry(std::string_view name, std::size_t maxBytes,
                                             std::vector<std::uint8_t>& content) = 0;
};

class IZipCodec {
public:
    virtual ~IZipCodec() = default;

    // Opens archive, which must outlive the reader.
    [[nodiscard]] virtual ZipError OpenArchive(std::span<const std::uint8_t> archive,
                                               std::unique_ptr<IZipReader>& reader) const = 0;

    [[nodiscard]] virtual std::unique_ptr<IZipBuilder> NewArchive() const = 0;

    // Adds content under name, compressed with deflate and stamped with modified (local time
    // of day, as ZIP keeps it). archive holds a whole archive, or nothing for a new one. On
    // failure archive is left as it was.
    [[nodiscard]] virtual ZipError AddEntry(
        std::vector<std::uint8_t>& archive, std::string_view name,
        std::span<const std::uint8_t> content,
        std::chrono::system_clock::time_point modified) const = 0;

    // The names of every entry, in archive order.
    [[nodiscard]] virtual ZipError ListEntries(std::span<const std::uint8_t> archive,
                                               std::vector<std::string>& names) const = 0;

    // The content of the first entry named exactly name (case-sensitive), checked against
    // its CRC. An entry larger than maxBytes, a missing entry and damaged data are errors.
    [[nodiscard]] virtual ZipError ReadEntry(std::span<const std::uint8_t> archive,
                                             std::string_view name, std::size_t maxBytes,
                                             std::vector<std::uint8_t>& content) const = 0;
};

}  // namespace quillary
