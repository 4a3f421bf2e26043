#include "services/language_pack.h"

#include <cstdint>
#include <system_error>
#include <vector>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "platform/file_io.h"
#include "services/language_table.h"

namespace quillary {
namespace {

constexpr std::u16string_view kAppTitle = u"Quillary";
constexpr std::u16string_view kDefaultSection = u"RESOURCESTRING";
// The reader's buffer; with its terminating null a text is at most 3071 characters long.
constexpr std::size_t kReaderBufferSize = 3072;
// Language files are a few hundred KiB; the cap keeps a hostile file from exhausting memory.
constexpr std::size_t kMaxLanguageFileBytes = 8u << 20;
constexpr std::u16string_view kNoIdentifierMessage =
    u"Fail to Read from dependent file. This application will close now! ";

void ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to) {
    for (std::size_t pos = text.find(from); pos != std::u16string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

// Turns the reader's value into the text callers get.
std::u16string CleanText(std::u16string value) {
    // A double quote left at the start had no partner at the end for the reader to drop.
    if (!value.empty() && value.front() == u'"') {
        value.front() = u' ';
    }
    // One pass per escape, in this order; stored language files are written for it.
    ReplaceAll(value, u"\\n", u"\n");
    ReplaceAll(value, u"\\t", u"\t");
    ReplaceAll(value, u"\\r", u"\r");
    ReplaceAll(value, u"\\\\", u"\\");
    return Trim(value);
}

}  // namespace

std::filesystem::path ResolveLanguageFile(const std::filesystem::path& executablePath,
                                          int languageIndex) {
    return executablePath.parent_path() / LanguageRowAt(languageIndex).fileName;
}

std::u16string LoadAppTitle() {
    return std::u16string(kAppTitle);
}

CLanguagePack::CLanguagePack(IFileIo& files, std::filesystem::path languageFilePath,
                             TextSink report)
    : files_(files), languageFilePath_(std::move(languageFilePath)), report_(std::move(report)) {}

std::u16string CLanguagePack::LookupText(std::u16string_view identifier,
                                         std::u16string_view section) {
    if (identifier.empty()) {
        if (report_) {
            report_(kNoIdentifierMessage);
        }
        return {};
    }
    if (section.empty()) {
        section = kDefaultSection;
    }
    const std::lock_guard lock(mutex_);
    LoadFileOnce();
    std::pair<std::u16string, std::u16string> key(section, identifier);
    if (const auto cached = textCache_.find(key); cached != textCache_.end()) {
        return cached->second;
    }
    std::u16string text = CleanText(index_.ReadString(section, identifier, kReaderBufferSize));
    if (!text.empty()) {
        textCache_.emplace(std::move(key), text);
    }
    return text;
}

void CLanguagePack::LoadFileOnce() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    std::vector<std::uint8_t> bytes;
    if (FileError failure = files_.ReadWholeFile(languageFilePath_, kMaxLanguageFileBytes, bytes)) {
        std::error_code error;
        if (report_ && std::filesystem::exists(languageFilePath_, error)) {
            report_(Utf8ToUtf16("The language texts are missing: " + *failure));
        }
        return;
    }
    index_ = CIniIndex::FromBytes(bytes);
}

}  // namespace quillary
