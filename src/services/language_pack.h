#pragma once

// The texts the user sees, looked up by identifier in the language file of the language in
// use. No user-visible text is built into the program.

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_io.h"
#include "services/ini_index.h"
#include "services/text_sink.h"

namespace quillary {

// The language file of the language at languageIndex (outside the table: English): the file
// name of its row in the folder of the running executable.
std::filesystem::path ResolveLanguageFile(const std::filesystem::path& executablePath,
                                          int languageIndex);

// The application title, the product name. It is a constant of the program, not a language
// text. Being a value, each result is the caller's own copy and stays valid for as long as
// the caller keeps it.
std::u16string LoadAppTitle();

// Text lookup in one language file. Safe to call from any thread.
class CLanguagePack {
public:
    // The file is read once, on the first lookup; it is not read again when it changes.
    // report hears of what the user should learn about: a language file that exists but
    // cannot be read, and a lookup without an identifier. A missing file is not reported:
    // every text is then empty. The file is read through files, which must outlive the pack.
    CLanguagePack(IFileIo& files, std::filesystem::path languageFilePath, TextSink report);

    CLanguagePack(const CLanguagePack&) = delete;
    CLanguagePack& operator=(const CLanguagePack&) = delete;

    // The text of identifier in section ("RESOURCESTRING" when section is empty); empty when
    // the file, the section or the identifier is missing. The escapes \n \t \r and \\ stand
    // for a line break, a tab, a carriage return and one backslash; white space around the
    // text is removed.
    std::u16string LookupText(std::u16string_view identifier, std::u16string_view section = {});

    const std::filesystem::path& LanguageFilePath() const { return languageFilePath_; }

private:
    // Texts found so far, by section and identifier. Only non-empty texts are kept: the file
    // is read once, so an empty text would come out empty again anyway, and a caller asking
    // for many missing identifiers does not grow the cache.
    using TextCache = std::map<std::pair<std::u16string, std::u16string>, std::u16string>;

    void LoadFileOnce();

    IFileIo& files_;
    const std::filesystem::path languageFilePath_;
    const TextSink report_;
    std::mutex mutex_;  // serialises every lookup: loading, reading and caching
    bool loaded_ = false;
    CIniIndex index_;
    TextCache textCache_;
};

}  // namespace quillary
