#pragma once

// The languages the program speaks. The position of a row is the language index stored in
// the settings ("LangID") and answered by the platform queries.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillary {

struct LanguageRow {
    std::u16string_view displayName;  // what the language selection list shows
    std::u16string_view fileName;     // the language file, beside the executable
    std::string_view localeName;      // the runtime's name for the language's locale
    std::u16string_view fontFace;
    std::int32_t fontHeight;    // logical height; negative: character height
    std::uint8_t characterSet;  // the font's character set number
};

inline constexpr std::size_t kLanguageCount = 14;

// The file names differ in case from row to row; they are used exactly as they stand, since
// the files are looked up on case-sensitive file systems too.
inline constexpr std::array<LanguageRow, kLanguageCount> LanguageTable{{
    {u"English", u"eng_kvl.ini", "english", u"Arial", -12, 1},
    {u"中國傳統 (Chinese)", u"Chinese_kvl.ini", "chinese-simplified", u"Arial", -12, 136},
    {u"Danske (Danish)", u"Danish_kvl.ini", "danish", u"Arial", -12, 1},
    {u"Nederlands (Dutch)", u"Dutch_kvl.ini", "dutch", u"Arial", -11, 1},
    {u"Français (French)", u"French_kvl.ini", "french", u"Arial", -12, 1},
    {u"Deutsch (German)", u"German_kvl.ini", "german", u"Arial", -12, 1},
    {u"עִבְרִית (Hebrew)", u"Hebrew_kvl.ini", "hebrew", u"Arial", -12, 177},
    {u"Italiano (Italian)", u"Italian_kvl.ini", "italian", u"Arial", -12, 1},
    {u"日本語 (Japanese)", u"Japanese_kvl.ini", "japanese", u"Arial", -12, 128},
    {u"Norsk (Norwegian)", u"Norwegian_kvl.ini", "norwegian", u"Arial", -12, 1},
    {u"Português (Portuguese)", u"Portuguese_kvl.ini", "portuguese", u"Arial", -12, 1},
    {u"Русский (Russian)", u"russian_kvl.ini", "russian", u"Arial", -11, 204},
    {u"Español (Spanish)", u"spanish_kvl.ini", "spanish", u"Arial", -11, 1},
    {u"Svenska (Swedish)", u"swedish_kvl.ini", "swedish", u"Arial", -12, 1},
}};

// The row of a language index; an index outside the table means English, row 0.
const LanguageRow& LanguageRowAt(int languageIndex);

}  // namespace quillary
