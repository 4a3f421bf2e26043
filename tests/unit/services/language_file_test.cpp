// Checks the English language file lang/eng_kvl.ini: it is a well-formed file, it holds every
// text the program looks up, and its format texts take the arguments the program passes.
// The layout is checked line by line here, since the program's reader skips what it cannot
// use without a word; the texts are checked as the program's reader (CLanguagePack) yields
// them. Tests run with the project's folder as working directory.

#include "services/language_pack.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "engine/entry_types.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMainSection = "RESOURCESTRING";
// The reader takes a text into a buffer of 3072 UTF-16 units, the terminator included.
constexpr std::size_t kMaxTextUnits = 3071;

fs::path ProjectFile(const fs::path& relative) {
    return fs::current_path() / relative;
}

fs::path EnglishFilePath() {
    return ProjectFile("lang/eng_kvl.ini");
}

// --- The file's lines --------------------------------------------------------------------------

// Number of UTF-16 units of a well-formed UTF-8 text, or nothing when it is not well-formed
// (overlong forms, surrogates, values above U+10FFFF and cut sequences are refused).
std::optional<std::size_t> Utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[pos]);
        std::size_t extra = 0;
        std::uint32_t value = lead;
        std::uint32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, value = lead & 0x1Fu, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, value = lead & 0x0Fu, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, value = lead & 0x07u, minimum = 0x10000;
        } else if (lead >= 0x80) {
            return std::nullopt;
        }
        if (utf8.size() - pos <= extra) {
            return std::nullopt;
        }
        for (std::size_t i = 1; i <= extra; ++i) {
            const auto next = static_cast<unsigned char>(utf8[pos + i]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            value = (value << 6) | (next & 0x3Fu);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return std::nullopt;
        }
        units += value >= 0x10000 ? 2 : 1;
        pos += extra + 1;
    }
    return units;
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Section and identifier names match without regard to case, as the reader matches them.
std::string Upper(std::string_view name) {
    std::string upper(name);
    for (char& ch : upper) {
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
    }
    return upper;
}

bool IsName(std::string_view name) {
    static const std::regex kName("[A-Za-z0-9_]+");
    return std::regex_match(name.begin(), name.end(), kName);
}

struct FileEntry {
    std::string section;
    std::string identifier;  // as written
    int line = 0;
};

struct LanguageFileLayout {
    std::vector<FileEntry> entries;   // in file order
    std::vector<std::string> errors;  // each with its line number

    bool Contains(std::string_view section, std::string_view identifier) const {
        for (const FileEntry& entry : entries) {
            if (Upper(entry.section) == Upper(section) &&
                Upper(entry.identifier) == Upper(identifier)) {
                return true;
            }
        }
        return false;
    }
    bool ContainsAnywhere(std::string_view identifier) const {
        for (const FileEntry& entry : entries) {
            if (Upper(entry.identifier) == Upper(identifier)) {
                return true;
            }
        }
        return false;
    }
};

// Reads the file line by line and notes everything that is not a comment, a section header
// or identifier=text, and whatever the reader would silently take differently than written.
LanguageFileLayout ReadLayout(const fs::path& path) {
    LanguageFileLayout layout;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        layout.errors.push_back("cannot open " + path.string());
        return layout;
    }
    std::string content{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (content.rfind("\xEF\xBB\xBF", 0) != 0) {
        layout.errors.push_back("the file does not start with the UTF-8 byte-order mark");
    } else {
        content.erase(0, 3);
    }

    std::set<std::string> sectionsSeen;
    std::set<std::pair<std::string, std::string>> identifiersSeen;
    std::string section;
    int lineNumber = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string_view line(content.data() + start, end - start);
        start = end + 1;
        const std::string where = "line " + std::to_string(++lineNumber) + ": ";

        if (!Utf16Length(line)) {
            layout.errors.push_back(where + "not valid UTF-8");
            continue;
        }
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';') {
            continue;
        }
        if (trimmed.front() == '[') {
            const std::string_view name = trimmed.substr(1, trimmed.size() - 2);
            if (trimmed.size() < 2 || trimmed.back() != ']' || !IsName(name)) {
                layout.errors.push_back(where + "malformed section header");
                continue;
            }
            section = name;
            if (!sectionsSeen.insert(Upper(section)).second) {
                // The reader only ever looks at the first section of a name.
                layout.errors.push_back(where + "section [" + section + "] appears again");
            }
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) {
            layout.errors.push_back(where + "neither a comment, a section nor identifier=text");
            continue;
        }
        const std::string identifier(Trim(trimmed.substr(0, equals)));
        const std::string_view value = Trim(trimmed.substr(equals + 1));
        if (!IsName(identifier)) {
            layout.errors.push_back(where + "malformed identifier '" + identifier + "'");
            continue;
        }
        if (section.empty()) {
            layout.errors.push_back(where + identifier + " stands before any section");
            continue;
        }
        if (!identifiersSeen.emplace(Upper(section), Upper(identifier)).second) {
            // The reader takes the first one; the second is dead text.
            layout.errors.push_back(where + identifier + " appears twice in [" + section + "]");
        }
        if (!value.empty() && value.front() == '"' && (value.size() < 2 || value.back() != '"')) {
            // The reader turns a quote without a partner at the end into a blank.
            layout.errors.push_back(where + identifier + " starts with an unmatched quote");
        }
        if (*Utf16Length(value) > kMaxTextUnits) {
            layout.errors.push_back(where + identifier + " is longer than 3071 characters");
        }
        layout.entries.push_back({section, identifier, lineNumber});
    }
    return layout;
}

const LanguageFileLayout& EnglishLayout() {
    static const LanguageFileLayout layout = ReadLayout(EnglishFilePath());
    return layout;
}

// --- The texts, as the program reads them -----------------------------------------------------

std::vector<std::string>& ReaderReports() {
    static std::vector<std::string> reports;
    return reports;
}

std::string Text(std::string_view section, std::string_view identifier) {
    static CPosixFileIo files;
    static CLanguagePack pack(files, EnglishFilePath(), [](std::u16string_view report) {
        ReaderReports().push_back(Utf16ToUtf8(report));
    });
    return Utf16ToUtf8(pack.LookupText(Utf8ToUtf16(identifier), Utf8ToUtf16(section)));
}

std::string Text(std::string_view identifier) {
    return Text(kMainSection, identifier);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += "\n  " + line;
    }
    return text;
}

// --- printf conversions ------------------------------------------------------------------------

struct Conversion {
    std::string spelling;  // as written, from '%' to the conversion letter
    char letter = 0;       // 0 for a '%' that does not start a conversion the texts may use
};

// Every '%' of the text as a conversion: "%%", or the flags - + 0 #, a width, a precision and
// one of the letters s d i u x X c f. A blank flag ("% s"), a length modifier or any other
// letter is refused: the texts only need the plain forms.
std::vector<Conversion> Conversions(std::string_view text) {
    static const std::regex kConversion(R"re(%%|%[-+0#]*[0-9]*(\.[0-9]+)?[sdiuxXcf])re");
    std::vector<Conversion> conversions;
    for (std::size_t pos = text.find('%'); pos != std::string_view::npos;
         pos = text.find('%', pos)) {
        std::match_results<std::string_view::const_iterator> match;
        if (std::regex_search(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end(), match,
                              kConversion, std::regex_constants::match_continuous)) {
            const std::string spelling = match.str();
            conversions.push_back({spelling, spelling.back()});
            pos += spelling.size();
        } else {
            conversions.push_back({std::string(text.substr(pos, 3)), 0});
            pos += 1;
        }
    }
    return conversions;
}

// The letters of the conversions that take an argument, in order, %i counted as %d.
std::string ArgumentLetters(std::string_view text) {
    std::string letters;
    for (const Conversion& conversion : Conversions(text)) {
        if (conversion.letter != '%') {
            letters.push_back(conversion.letter == 'i' ? 'd' : conversion.letter);
        }
    }
    return letters;
}

// --- Entry types -----------------------------------------------------------------------------

struct ArgumentCounts {
    std::size_t detail = 0;
    std::size_t description = 0;
};

// How many texts entry type t passes to IDS_PROBLEM_DETAIL_(t+1) and IDS_PROBLEM_DESC_(t+1),
// as the engine's entry-type table fills them.
ArgumentCounts ExpectedArguments(int type) {
    return {EntryTypeInfo(type).detailArguments.size(),
            EntryTypeInfo(type).descriptionArguments.size()};
}

// --- Tests -----------------------------------------------------------------------------------

TEST(LanguageFileTest, IsWellFormedUtf8IniFileWithByteOrderMark) {
    const LanguageFileLayout& layout = EnglishLayout();
    EXPECT_TRUE(layout.errors.empty()) << Joined(layout.errors);
    EXPECT_FALSE(layout.entries.empty());
    // The reader reads the file on its first lookup and reports a file it cannot read.
    EXPECT_FALSE(Text("AFX_IDS_APP_TITLE").empty());
    EXPECT_TRUE(ReaderReports().empty()) << Joined(ReaderReports());
}

TEST(LanguageFileTest, NamesTheProductAndTheLanguage) {
    EXPECT_EQ(Text("AFX_IDS_APP_TITLE"), "Quillary");
    EXPECT_EQ(Text("IDS_LANGUAGE"), "english");
}

TEST(LanguageFileTest, HoldsEveryIdentifierTheProgramLooksUp) {
    const LanguageFileLayout& layout = EnglishLayout();
    const fs::path sources = ProjectFile("src");
    ASSERT_TRUE(fs::is_directory(sources)) << sources;

    // String literals naming a text. A literal ending in '_' is the stem of a numbered
    // family (checked below), not an identifier.
    static const std::regex kTextLiteral(
        R"re((?:u8|u|U|L)?"((?:IDS_|IDC_|ID_|SCANPROG|SCANTAB)[A-Za-z0-9_]*[A-Za-z0-9])re"
        R"re(|AFX_IDS_APP_TITLE|SCANDLG5|DEFRAG_CLICK_OPT_BTN_DESC)")re");
    const std::set<fs::path> kSourceExtensions = {".cpp", ".cc", ".h", ".hpp", ".inc"};
    std::map<std::string, std::string> lookedUp;  // identifier -> first source using it
    for (const auto& item : fs::recursive_directory_iterator(sources)) {
        if (!item.is_regular_file() || kSourceExtensions.count(item.path().extension()) == 0) {
            continue;
        }
        std::ifstream stream(item.path(), std::ios::binary);
        const std::string code{std::istreambuf_iterator<char>(stream),
                               std::istreambuf_iterator<char>()};
        for (auto match = std::sregex_iterator(code.begin(), code.end(), kTextLiteral);
             match != std::sregex_iterator(); ++match) {
            lookedUp.emplace((*match)[1].str(), fs::relative(item.path(), sources).string());
        }
    }
    for (const auto& [identifier, source] : lookedUp) {
        EXPECT_TRUE(layout.ContainsAnywhere(identifier)) << identifier << ", used in " << source;
    }

    // Identifiers the program builds from a stem and a number.
    for (int number = 1; number <= kEntryTypeCount; ++number) {
        for (const std::string stem : {"IDS_PROBLEM_DETAIL_", "IDS_PROBLEM_DESC_"}) {
            const std::string identifier = stem + std::to_string(number);
            EXPECT_TRUE(layout.Contains(kMainSection, identifier)) << identifier;
        }
    }

    // Controls of the compaction pages, read from the sections named after their dialogs.
    const struct {
        std::string_view section;
        std::string_view identifier;
    } kDialogTexts[] = {
        {"IDD_SCAN_PROGRESS", "IDCANCEL"},
        {"IDD_SCAN_PROGRESS", "IDC_ST_TEXT"},
        {"IDD_SCANTAB3_RESULTS", "IDC_BTN_OPTIMIZE"},
    };
    for (const auto& [section, identifier] : kDialogTexts) {
        EXPECT_TRUE(layout.Contains(section, identifier)) << section << " / " << identifier;
    }
}

TEST(LanguageFileTest, TextsAreNotEmptyAndReadTheSameInEverySection) {
    // The only text left empty on purpose: no support address is published.
    const std::set<std::string, std::less<>> kMayBeEmpty = {"IDS_SUPPORT_ADDRESS"};
    for (const FileEntry& entry : EnglishLayout().entries) {
        const std::string text = Text(entry.section, entry.identifier);
        EXPECT_TRUE(!text.empty() || kMayBeEmpty.count(entry.identifier) != 0)
            << entry.section << " / " << entry.identifier << " (line " << entry.line
            << ") reads as empty";
        if (Upper(entry.section) != kMainSection &&
            EnglishLayout().Contains(kMainSection, entry.identifier)) {
            EXPECT_EQ(text, Text(entry.identifier)) << entry.identifier << " reads differently in ["
                                                    << entry.section << "] and [RESOURCESTRING]";
        }
    }
}

TEST(LanguageFileTest, ProblemTextsTakeOneTextPlaceholderPerArgumentOfTheirEntryType) {
    for (int type = 0; type < kEntryTypeCount; ++type) {
        const ArgumentCounts expected = ExpectedArguments(type);
        const std::string number = std::to_string(type + 1);
        const struct {
            std::string identifier;
            std::size_t arguments;
        } texts[] = {
            {"IDS_PROBLEM_DETAIL_" + number, expected.detail},
            {"IDS_PROBLEM_DESC_" + number, expected.description},
        };
        for (const auto& [identifier, arguments] : texts) {
            const std::string text = Text(identifier);
            // Every argument is a text: "%s" once per argument, and no other conversion.
            EXPECT_EQ(ArgumentLetters(text), std::string(arguments, 's'))
                << identifier << " (entry type " << type << "): " << text;
            for (const Conversion& conversion : Conversions(text)) {
                EXPECT_EQ(conversion.spelling, "%s") << identifier << ": " << text;
            }
        }
    }
}

TEST(LanguageFileTest, FormatTextsTakeTheArgumentsTheProgramPasses) {
    // The letters of the conversions each format text needs, in order (d a whole number,
    // s a text, f a fraction); "%%" may stand anywhere.
    const struct {
        std::string_view identifier;
        std::string_view letters;
    } kFormats[] = {
        {"IDS_TOTAL_SELECTED_FOR_CLEAN", "ds"},  // count, plural ending
        {"IDS_ERRORS_PROCESSED", "dd"},          // done, selected
        {"IDS_TOTAL_ERR_FOUND", "ds"},           // count, "problem" or "problems"
        {"IDS_TOTAL_TWEAKS", "ds"},              // count, "tweak" or "tweaks"
        {"IDS_STARTMENU_HIST", "ss"},            // "shortcut" or "folder", item
        {"IDS_MISSING_SHARED_FILE", "s"},        // file name or description
        {"IDS_REG_DEFRAG_KEY_COUNT", "d"},       // number of hives
        {"IDS_REG_DEFRAG_PROGRESS", "d"},        // percent done
        {"IDS_FRGMENTATION", "f"},               // percent, one hive
        {"SCANTAB3ERRCOUNT", "f"},               // percent, all hives
        {"SCANTAB3LISTFILESIZE", "ss"},          // size after, size now
        {"IDS_DEFRAG_BTN_FIX_ERRORS", "s"},      // button caption
    };
    for (const auto& [identifier, letters] : kFormats) {
        const std::string text = Text(identifier);
        EXPECT_EQ(ArgumentLetters(text), letters) << identifier << ": " << text;
    }

    // In every text, each '%' starts a conversion the program's formatter takes.
    for (const FileEntry& entry : EnglishLayout().entries) {
        for (const Conversion& conversion : Conversions(Text(entry.section, entry.identifier))) {
            EXPECT_NE(conversion.letter, 0)
                << entry.section << " / " << entry.identifier << " (line " << entry.line << "): '"
                << conversion.spelling << "' is not one of %s %d %i %u %x %X %c %f %%";
        }
    }
}

TEST(LanguageFileTest, TextsJoinedToOtherTextsOrCutShortStillReadWell) {
    enum class Rule { EndsInSeparator, StartsWithSeparator, AtMost63Characters };
    const struct {
        std::string_view identifier;
        Rule rule;
    } kRules[] = {
        // Followed directly by a name, a path or a date: the reader removes trailing blanks,
        // so a mark such as a colon has to keep the two apart.
        {"IDS_INCOMPLETE_ENTRY", Rule::EndsInSeparator},
        {"IDS_ENG_MISSING_FILE", Rule::EndsInSeparator},
        {"IDS_EMPTY_KEY_STARTMENU", Rule::EndsInSeparator},
        {"IDS_INVALID_REF_STARTMENU", Rule::EndsInSeparator},
        {"IDS_HISTORY_LIST_FOR", Rule::EndsInSeparator},
        {"IDS_OPEN_SAVE_MRU", Rule::EndsInSeparator},
        {"IDS_USERASSIST_KEY", Rule::EndsInSeparator},
        {"IDS_USERASSIST_PATHITEM", Rule::EndsInSeparator},
        {"IDS_PARTIAL_BACKUP", Rule::EndsInSeparator},
        {"IDS_DAY", Rule::EndsInSeparator},
        // Placed directly after the name of a scan area.
        {"IDS_STR_REG_ERR_DETAILS", Rule::StartsWithSeparator},
        // Descriptions of system restore points, cut after 63 characters.
        {"IDS_ZAN_BEFORE_ONE_CLICK", Rule::AtMost63Characters},
        {"IDS_RESTOREPT_BEFORE_OPTIMIZE", Rule::AtMost63Characters},
    };
    const auto isWordCharacter = [](char ch) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    };
    for (const auto& [identifier, rule] : kRules) {
        const std::string text = Text(identifier);
        switch (rule) {
            case Rule::EndsInSeparator:
                EXPECT_TRUE(!text.empty() && !isWordCharacter(text.back()))
                    << identifier << " runs into what follows it: '" << text << "'";
                break;
            case Rule::StartsWithSeparator:
                EXPECT_TRUE(!text.empty() && !isWordCharacter(text.front()))
                    << identifier << " runs into what precedes it: '" << text << "'";
                break;
            case Rule::AtMost63Characters:
                EXPECT_LE(Utf16Length(text).value_or(0), 63u) << identifier << ": " << text;
                break;
        }
    }
}

}  // namespace
}  // namespace quillary
