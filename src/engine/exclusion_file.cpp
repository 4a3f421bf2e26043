#include "engine/exclusion_file.h"

#include <system_error>
#include <utility>

#include "core/archive.h"

namespace quillary {

std::vector<std::uint8_t> EncodeExclusionFile(std::span<const std::u16string> entries) {
    CArchiveWriter writer;
    writer.WriteInt32(static_cast<std::int32_t>(entries.size()));
    writer.WriteCount(static_cast<std::uint32_t>(entries.size()));
    for (const std::u16string& entry : entries) {
        writer.WriteString(entry);
    }
    return writer.Bytes();
}

DecodedExclusions DecodeExclusionFile(std::span<const std::uint8_t> bytes) {
    DecodedExclusions decoded;
    CArchiveReader reader(bytes);
    const auto count = reader.ReadInt32() ? reader.ReadCount(kMinStringRecordBytes) : std::nullopt;
    if (count) {
        for (std::uint32_t index = 0; index < *count; ++index) {
            auto entry = reader.ReadString();
            if (!entry) {
                break;
            }
            decoded.entries.push_back(std::move(*entry));
        }
    }
    if (reader.Failed()) {
        decoded.damage = reader.Error();
    } else if (!reader.AtEnd()) {
        decoded.damage = std::to_string(reader.Remaining()) +
                         " unexpected bytes after the last entry at offset " +
                         std::to_string(reader.Offset());
    }
    return decoded;
}

CExclusionFile::CExclusionFile(IFileIo& files, std::filesystem::path fileName, std::size_t maxBytes)
    : files_(files), fileName_(std::move(fileName)), maxBytes_(maxBytes) {}

FileError CExclusionFile::SetAsideDamaged(const std::filesystem::path& path,
                                          const std::string& damage, std::size_t entriesKept) {
    std::filesystem::path aside = path;
    aside += ".damaged";
    std::error_code error;
    // Replacing an older copy first, since renaming over a file fails on some systems.
    std::filesystem::remove(aside, error);
    std::filesystem::rename(path, aside, error);
    const std::string what = path.string() + " is damaged (" + damage + "); " +
                             std::to_string(entriesKept) + " entries before the damage are used";
    if (error) {
        keepStoredFile_ = true;
        return what + ". It could not be moved aside (" + error.message() +
               "), so it is kept as it is and changes to this list are not saved";
    }
    return what + ", and the file was moved to " + aside.string();
}

FileError CExclusionFile::Load(const std::filesystem::path& folder, CExclusionList& list) {
    const std::filesystem::path path = folder / fileName_;
    keepStoredFile_ = false;
    storedRevision_.reset();

    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        list.Assign({});
        storedRevision_ = list.Revision();
        return std::nullopt;
    }
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > maxBytes_) {
        list.Assign({});
        return SetAsideDamaged(path,
                               "it holds " + std::to_string(size) + " bytes, more than the " +
                                   std::to_string(maxBytes_) + " allowed",
                               0);
    }
    std::vector<std::uint8_t> bytes;
    if (FileError readError = files_.ReadWholeFile(path, maxBytes_, bytes)) {
        list.Assign({});
        keepStoredFile_ = true;
        storedRevision_ = list.Revision();
        return *readError + "; the file is kept as it is and changes to this list are not saved";
    }
    DecodedExclusions decoded = DecodeExclusionFile(bytes);
    const std::size_t entriesKept = decoded.entries.size();
    list.Assign(std::move(decoded.entries));
    if (!decoded.damage.empty()) {
        return SetAsideDamaged(path, decoded.damage, entriesKept);
    }
    storedRevision_ = list.Revision();
    return std::nullopt;
}

FileError CExclusionFile::Save(const std::filesystem::path& folder, const CExclusionList& list) {
    const std::filesystem::path path = folder / fileName_;
    if (storedRevision_ == list.Revision()) {
        return std::nullopt;
    }
    if (keepStoredFile_) {
        return "changes to " + path.string() +
               " are not saved: the file could not be read at start-up and is kept as it is";
    }
    const std::vector<std::uint8_t> bytes = EncodeExclusionFile(list.Entries());
    if (bytes.size() > maxBytes_) {
        return "cannot save " + path.string() + ": the list would take " +
               std::to_string(bytes.size()) + " bytes, more than the " + std::to_string(maxBytes_) +
               " that can be read back";
    }
    if (FileError writeError = files_.ReplaceFileAtomically(path, bytes)) {
        return writeError;
    }
    storedRevision_ = list.Revision();
    return std::nullopt;
}

}  // namespace quillary
