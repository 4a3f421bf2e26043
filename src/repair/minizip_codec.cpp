#include "repair/minizip_codec.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "repair/local_time_text.h"

namespace quillary {
namespace {

// ZIP without its 64-bit extensions holds entries below 4 GiB; minizip writes in chunks that
// its 32-bit length arguments can carry.
constexpr std::size_t kMaxEntryBytes = 0xFFFFFFFFu;
constexpr std::size_t kChunkBytes = 1 << 20;
// The count of entries of an archive's end record when the real count does not fit in it.
constexpr std::uint64_t kCutEntryCount = 0xFFFF;
// Names longer than this are not ours.
constexpr std::size_t kMaxNameBytes = 1024;

// A growable byte buffer behind minizip's file functions. A read-only stream refuses writes.
struct MemoryStream {
    std::vector<std::uint8_t>* writable = nullptr;
    std::span<const std::uint8_t> readable;
    std::size_t position = 0;
    bool failed = false;

    std::span<const std::uint8_t> Bytes() const {
        return writable != nullptr ? std::span<const std::uint8_t>(*writable) : readable;
    }
};

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int) {
    auto* stream = static_cast<MemoryStream*>(opaque);
    stream->position = 0;
    return stream;
}

uLong ZCALLBACK ReadStream(voidpf, voidpf handle, void* buffer, uLong size) {
    auto* stream = static_cast<MemoryStream*>(handle);
    std::span<const std::uint8_t> bytes = stream->Bytes();
    if (stream->position >= bytes.size())
        return 0;
    std::size_t count = std::min<std::size_t>(size, bytes.size() - stream->position);
    std::memcpy(buffer, bytes.data() + stream->position, count);
    stream->position += count;
    return static_cast<uLong>(count);
}

uLong ZCALLBACK WriteStream(voidpf, voidpf handle, const void* buffer, uLong size) {
    auto* stream = static_cast<MemoryStream*>(handle);
    if (stream->writable == nullptr) {
        stream->failed = true;
        return 0;
    }
    std::vector<std::uint8_t>& bytes = *stream->writable;
    if (bytes.size() < stream->position + size)
        bytes.resize(stream->position + size);
    std::memcpy(bytes.data() + stream->position, buffer, size);
    stream->position += size;
    return size;
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf handle) {
    return static_cast<MemoryStream*>(handle)->position;
}

long ZCALLBACK SeekStream(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    auto* stream = static_cast<MemoryStream*>(handle);
    const std::size_t size = stream->Bytes().size();
    std::size_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = stream->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = size;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    // A reader never goes past the end of what it was given; a writer may, and fills the gap.
    const std::size_t limit = stream->writable != nullptr ? kMaxEntryBytes * 2 : size;
    if (base > limit || offset > limit - base)
        return -1;
    stream->position = base + static_cast<std::size_t>(offset);
    return 0;
}

int ZCALLBACK CloseStream(voidpf, voidpf handle) {
    auto* stream = static_cast<MemoryStream*>(handle);
    // minizip ends an archive with its end record: anything after it is left over from the
    // central directory the new one replaced.
    if (stream->writable != nullptr)
        stream->writable->resize(std::min(stream->writable->size(), stream->position));
    return 0;
}

int ZCALLBACK StreamError(voidpf, voidpf handle) {
    return static_cast<MemoryStream*>(handle)->failed ? 1 : 0;
}

zlib_filefunc64_def FunctionsFor(MemoryStream& stream) {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenStream;
    functions.zread_file = ReadStream;
    functions.zwrite_file = WriteStream;
    functions.ztell64_file = TellStream;
    functions.zseek64_file = SeekStream;
    functions.zclose_file = CloseStream;
    functions.zerror_file = StreamError;
    functions.opaque = &stream;
    return functions;
}

std::string Failure(std::string_view what, int code) {
    return std::string(what) + " (minizip error " + std::to_string(code) + ")";
}

// An archive opened for reading; closed with it.
class CUnzip {
public:
    explicit CUnzip(std::span<const std::uint8_t> archive) {
        stream_.readable = archive;
        functions_ = FunctionsFor(stream_);
        handle_ = unzOpen2_64("", &functions_);
    }
    ~CUnzip() {
        if (handle_ != nullptr)
            unzClose(handle_);
    }
    CUnzip(const CUnzip&) = delete;
    CUnzip& operator=(const CUnzip&) = delete;

    unzFile Handle() const { return handle_; }

    // Calls visit(name) for each entry in order until it returns true; the entry it stopped
    // on stays current. False with error set when the directory cannot be read.
    template <typename Visit>
    bool ForEachEntry(Visit visit, std::string& error) {
        // minizip writes an archive of more than 65,535 entries without the ZIP64 end record,
        // its count of entries cut to 0xFFFF; reading one, it walks the directory until the
        // next header is not one, which is then the end of the list.
        unz_global_info64 global{};
        const bool countCut =
            unzGetGlobalInfo64(handle_, &global) == UNZ_OK && global.number_entry == kCutEntryCount;
        std::uint64_t walked = 0;
        for (int status = unzGoToFirstFile(handle_); status != UNZ_END_OF_LIST_OF_FILE;
             status = unzGoToNextFile(handle_), ++walked) {
            if (status == UNZ_BADZIPFILE && countCut && walked >= kCutEntryCount)
                return true;
            if (status != UNZ_OK) {
                error = Failure("cannot read the archive's directory", status);
                return false;
            }
            char name[kMaxNameBytes + 1] = {};
            unz_file_info64 info{};
            status =
                unzGetCurrentFileInfo64(handle_, &info, name, sizeof name, nullptr, 0, nullptr, 0);
            if (status != UNZ_OK) {
                error = Failure("cannot read an entry of the archive", status);
                return false;
            }
            std::size_t length = std::min<std::size_t>(info.size_filename, kMaxNameBytes);
            if (visit(std::string_view(name, length), info))
                return true;
        }
        return true;
    }

private:
    MemoryStream stream_;
    zlib_filefunc64_def functions_{};
    unzFile handle_ = nullptr;
};

// An archive whose directory was read once: each entry's place is kept by name (the first
// of a name wins, as a search from the start would find it).
class CMinizipReader final : public IZipReader {
public:
    explicit CMinizipReader(std::span<const std::uint8_t> archive) : unzip_(archive) {}

    ZipError ReadDirectory() {
        if (unzip_.Handle() == nullptr)
            return std::string("not a ZIP archive");
        std::string error;
        const bool listed = unzip_.ForEachEntry(
            [this](std::string_view name, const unz_file_info64& info) {
                unz64_file_pos position{};
                unzGetFilePos64(unzip_.Handle(), &position);
                names_.emplace_back(name);
                places_.try_emplace(std::string(name), Place{position, info.uncompressed_size});
                return false;
            },
            error);
        if (!listed)
            return error;
        return std::nullopt;
    }

    const std::vector<std::string>& Names() const override { return names_; }
    bool Holds(std::string_view name) const override {
        return places_.find(std::string(name)) != places_.end();
    }

    ZipError ReadEntry(std::string_view name, std::size_t maxBytes,
                       std::vector<std::uint8_t>& content) override {
        content.clear();
        const std::string entryName(name);
        auto place = places_.find(entryName);
        if (place == places_.end())
            return "the archive holds no entry " + entryName;
        if (place->second.size > maxBytes)
            return "entry " + entryName + " is larger than " + std::to_string(maxBytes) + " bytes";
        unzFile handle = unzip_.Handle();
        int status = unzGoToFilePos64(handle, &place->second.position);
        if (status == UNZ_OK)
            status = unzOpenCurrentFile(handle);
        if (status != UNZ_OK)
            return Failure("cannot open entry " + entryName, status);
        std::vector<std::uint8_t> chunk(std::min(kChunkBytes, maxBytes) + 1);
        for (;;) {
            int read =
                unzReadCurrentFile(handle, chunk.data(), static_cast<unsigned>(chunk.size()));
            if (read < 0) {
                unzCloseCurrentFile(handle);
                content.clear();
                return Failure("entry " + entryName + " is damaged", read);
            }
            if (read == 0)
                break;
            // The directory may understate the size: never hold more than was allowed.
            if (content.size() + static_cast<std::size_t>(read) > maxBytes) {
                unzCloseCurrentFile(handle);
                content.clear();
                return "entry " + entryName + " is larger than " + std::to_string(maxBytes) +
                       " bytes";
            }
            content.insert(content.end(), chunk.begin(), chunk.begin() + read);
        }
        status = unzCloseCurrentFile(handle);
        if (status != UNZ_OK) {
            content.clear();
            return Failure("entry " + entryName + " fails its CRC check", status);
        }
        return std::nullopt;
    }

private:
    struct Place {
        unz64_file_pos position;
        std::uint64_t size;
    };

    CUnzip unzip_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, Place> places_;
};

// Writes one entry into an open archive; the status of the first call that failed.
int WriteEntry(zipFile zip, const std::string& name, std::span<const std::uint8_t> content,
               std::chrono::system_clock::time_point modified) {
    const std::tm local = LocalTimeOf(modified);
    zip_fileinfo info{};
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    int status = zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0);
    for (std::size_t offset = 0; status == ZIP_OK && offset < content.size();
         offset += kChunkBytes) {
        std::size_t count = std::min(kChunkBytes, content.size() - offset);
        status = zipWriteInFileInZip(zip, content.data() + offset, static_cast<unsigned>(count));
    }
    if (status == ZIP_OK)
        status = zipCloseFileInZip(zip);
    return status;
}

// A new archive in memory, kept open between its entries.
class CMinizipBuilder final : public IZipBuilder {
public:
    CMinizipBuilder() {
        stream_.writable = &bytes_;
        functions_ = FunctionsFor(stream_);
        zip_ = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &functions_);
    }
    ~CMinizipBuilder() override {
        if (zip_ != nullptr)
            zipClose(zip_, nullptr);
    }
    CMinizipBuilder(const CMinizipBuilder&) = delete;
    CMinizipBuilder& operator=(const CMinizipBuilder&) = delete;

    ZipError Add(std::string_view name, std::span<const std::uint8_t> content,
                 std::chrono::system_clock::time_point modified) override {
        const std::string entryName(name);
        if (zip_ == nullptr)
            return std::string("the archive is not open");
        if (content.size() > kMaxEntryBytes)
            return "the file " + entryName + " is too large for the archive";
        if (int status = WriteEntry(zip_, entryName, content, modified); status != ZIP_OK)
            return Failure("cannot add " + entryName + " to the archive", status);
        return std::nullopt;
    }

    ZipError Finish(std::vector<std::uint8_t>& archive) override {
        if (zip_ == nullptr)
            return std::string("the archive is not open");
        const int status = zipClose(zip_, nullptr);
        zip_ = nullptr;
        if (status != ZIP_OK)
            return Failure("cannot end the archive", status);
        archive = std::move(bytes_);
        return std::nullopt;
    }

private:
    std::vector<std::uint8_t> bytes_;
    MemoryStream stream_;
    zlib_filefunc64_def functions_{};
    zipFile zip_ = nullptr;
};

}  // namespace

std::unique_ptr<IZipBuilder> CMinizipCodec::NewArchive() const {
    return std::make_unique<CMinizipBuilder>();
}

ZipError CMinizipCodec::AddEntry(std::vector<std::uint8_t>& archive, std::string_view name,
                                 std::span<const std::uint8_t> content,
                                 std::chrono::system_clock::time_point modified) const {
    if (content.size() > kMaxEntryBytes)
        return "the file is too large for the archive";
    std::vector<std::uint8_t> bytes = archive;
    MemoryStream stream;
    stream.writable = &bytes;
    zlib_filefunc64_def functions = FunctionsFor(stream);
    zipFile zip = zipOpen2_64("", bytes.empty() ? APPEND_STATUS_CREATE : APPEND_STATUS_ADDINZIP,
                              nullptr, &functions);
    if (zip == nullptr)
        return std::string("the archive cannot be opened for adding: it is not a ZIP archive");
    const std::string entryName(name);
    int status = WriteEntry(zip, entryName, content, modified);
    int closeStatus = zipClose(zip, nullptr);
    if (status != ZIP_OK || closeStatus != ZIP_OK)
        return Failure("cannot add " + entryName + " to the archive",
                       status != ZIP_OK ? status : closeStatus);
    archive = std::move(bytes);
    return std::nullopt;
}

ZipError CMinizipCodec::ListEntries(std::span<const std::uint8_t> archive,
                                    std::vector<std::string>& names) const {
    names.clear();
    CUnzip unzip(archive);
    if (unzip.Handle() == nullptr)
        return std::string("not a ZIP archive");
    std::string error;
    bool listed = unzip.ForEachEntry(
        [&](std::string_view name, const unz_file_info64&) {
            names.emplace_back(name);
            return false;
        },
        error);
    if (!listed)
        return error;
    return std::nullopt;
}

ZipError CMinizipCodec::ReadEntry(std::span<const std::uint8_t> archive, std::string_view name,
                                  std::size_t maxBytes, std::vector<std::uint8_t>& content) const {
    content.clear();
    std::unique_ptr<IZipReader> reader;
    if (ZipError error = OpenArchive(archive, reader))
        return error;
    return reader->ReadEntry(name, maxBytes, content);
}

ZipError CMinizipCodec::OpenArchive(std::span<const std::uint8_t> archive,
                                    std::unique_ptr<IZipReader>& reader) const {
    auto opened = std::make_unique<CMinizipReader>(archive);
    if (ZipError error = opened->ReadDirectory())
        return error;
    reader = std::move(opened);
    return std::nullopt;
}

}  // namespace quillary
