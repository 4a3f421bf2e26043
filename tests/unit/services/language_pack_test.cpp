#include "services/language_pack.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "services/language_locale.h"
#include "services/language_table.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text, bool bigEndian) {
    std::vector<std::uint8_t> bytes =
        bigEndian ? std::vector<std::uint8_t>{0xFE, 0xFF} : std::vector<std::uint8_t>{0xFF, 0xFE};
    for (const char16_t unit : text) {
        const auto high = static_cast<std::uint8_t>(unit >> 8);
        const auto low = static_cast<std::uint8_t>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

class LanguagePackTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("quillary-language-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path WriteFile(const std::vector<std::uint8_t>& bytes) {
        const fs::path path = folder_ / "test_kvl.ini";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // A pack reading the given UTF-8 file, whose reports land in reports_.
    CLanguagePack& Pack(std::string_view fileText) { return PackOf(WriteFile(Bytes(fileText))); }
    CLanguagePack& PackOf(const fs::path& path) {
        pack_.emplace(files_, path,
                      [this](std::u16string_view text) { reports_.emplace_back(text); });
        return *pack_;
    }

    fs::path folder_;
    CPosixFileIo files_;
    std::optional<CLanguagePack> pack_;
    std::vector<std::u16string> reports_;
};

TEST_F(LanguagePackTest, ValueRules) {
    const struct {
        const char* line;
        const char16_t* identifier;
        std::u16string expected;
    } cases[] = {
        {"Plain=Hello", u"Plain", u"Hello"},
        {"Equation=a=b", u"Equation", u"a=b"},
        {"Spaced  =   text with blanks   ", u"Spaced", u"text with blanks"},
        {"MixedCase=found", u"MIXEDCASE", u"found"},
        {"Empty=", u"Empty", u""},
        {"Bare", u"Bare", u""},
        {"Twice=first\nTwice=second", u"Twice", u"first"},
        {";Commented=hidden", u";Commented", u""},
        // Quotes: a pair around the whole value goes, a lone leading one becomes a blank.
        {"Quoted=\"  Hello  \"", u"Quoted", u"Hello"},
        {"Leading=\"Hello", u"Leading", u"Hello"},
        {"Trailing=Hello\"", u"Trailing", u"Hello\""},
        {"Inner=say \"hi\"", u"Inner", u"say \"hi\""},
        {"Lone=\"", u"Lone", u""},
        {"Doubled=\"\"Hi\"\"", u"Doubled", u"Hi\""},
        // Escapes, replaced one kind at a time: \n, \t, \r, then \\.
        {R"(Escapes=a\nb\tc\rd\\e)", u"Escapes", u"a\nb\tc\rd\\e"},
        {R"(Quad=\\\\)", u"Quad", u"\\\\"},
        {R"(Order=a\\nb)", u"Order", u"a\\\nb"},
        {R"(Unknown=\q\)", u"Unknown", u"\\q\\"},
        {R"(TrimAfterEscapes=\n text \t)", u"TrimAfterEscapes", u"text"},
    };
    std::string file = "[RESOURCESTRING]\n";
    for (const auto& row : cases) {
        file += row.line + std::string("\n");
    }
    CLanguagePack& pack = Pack(file);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(pack.LookupText(row.identifier), row.expected);
        EXPECT_EQ(pack.LookupText(row.identifier), row.expected) << "second, cached lookup";
    }
    EXPECT_TRUE(reports_.empty());
}

TEST_F(LanguagePackTest, Sections) {
    CLanguagePack& pack = Pack(
        "Orphan=above every section\n"
        "[ResourceString]\n"
        "Title=Main\n"
        "  [ IDD_SCAN_PROGRESS ]  \n"
        "Title=Progress\n"
        "[RESOURCESTRING]\n"
        "Late=in a repeated section\n"
        "[A]\n"
        "BC=joined\n"
        "[AB]\n"
        "[Unclosed\n"
        "Key=value\n");
    const struct {
        const char16_t* identifier;
        const char16_t* section;
        const char16_t* expected;
    } cases[] = {
        {u"Title", u"", u"Main"},
        {u"Title", u"resourcestring", u"Main"},
        {u"Title", u"IDD_SCAN_PROGRESS", u"Progress"},
        {u"Title", u"IDD_SCANTAB3_RESULTS", u""},
        {u"Orphan", u"", u""},
        // The reader stops at the first section of a name.
        {u"Late", u"", u""},
        {u"BC", u"A", u"joined"},
        // Section and identifier spell the same as "A" + "BC" but name another text.
        {u"C", u"AB", u""},
        {u"Key", u"Unclosed", u"value"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(Utf16ToUtf8(std::u16string(row.section) + u"/" + row.identifier));
        EXPECT_EQ(pack.LookupText(row.identifier, row.section), row.expected);
    }
}

TEST_F(LanguagePackTest, TextsAreCutAt3071Units) {
    const std::u16string pair = u"\U0001F600";
    const struct {
        const char* name;
        std::u16string value;
        std::u16string expected;
    } cases[] = {
        {"exactly 3071", std::u16string(3071, u'x'), std::u16string(3071, u'x')},
        {"longer", std::u16string(5000, u'x'), std::u16string(3071, u'x')},
        {"quotes go before the cut", u"\"" + std::u16string(3071, u'x') + u"\"",
         std::u16string(3071, u'x')},
        {"a surrogate pair is not split", std::u16string(3070, u'x') + pair + u"y",
         std::u16string(3070, u'x')},
        {"escapes shrink the cut text", std::u16string(3069, u'x') + u"\\\\\\",
         std::u16string(3069, u'x') + u"\\"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        CLanguagePack& pack = Pack("[RESOURCESTRING]\nLong=" + Utf16ToUtf8(row.value) + "\n");
        EXPECT_EQ(pack.LookupText(u"Long"), row.expected);
    }
}

TEST_F(LanguagePackTest, MissingTextsAreEmpty) {
    CLanguagePack& missingFile = PackOf(folder_ / "absent_kvl.ini");
    EXPECT_EQ(missingFile.LookupText(u"Title"), u"");
    EXPECT_TRUE(reports_.empty()) << "a missing file is not reported";

    CLanguagePack& pack = Pack("[RESOURCESTRING]\nTitle=Main\n");
    EXPECT_EQ(pack.LookupText(u"Absent"), u"");
    EXPECT_EQ(pack.LookupText(u"Title", u"NO_SUCH_SECTION"), u"");
    EXPECT_TRUE(reports_.empty());

    EXPECT_EQ(pack.LookupText(u""), u"");
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], u"Fail to Read from dependent file. This application will close now! ");
}

TEST_F(LanguagePackTest, UnreadableFileIsReportedOnce) {
    const struct {
        const char* name;
        fs::path path;
    } cases[] = {
        {"larger than the cap", WriteFile(std::vector<std::uint8_t>((8u << 20) + 1, 'x'))},
        {"a folder", folder_},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        reports_.clear();
        CLanguagePack& pack = PackOf(row.path);
        EXPECT_EQ(pack.LookupText(u"Title"), u"");
        EXPECT_EQ(pack.LookupText(u"Other"), u"");
        ASSERT_EQ(reports_.size(), 1u);
        EXPECT_NE(reports_[0].find(row.path.u16string()), std::u16string::npos);
    }
}

TEST_F(LanguagePackTest, Encodings) {
    const std::u16string text = u"[RESOURCESTRING]\r\nTitle=Fran\u00E7ais \u05E2\u05B4\r\n";
    const std::string utf8 = Utf16ToUtf8(text);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"UTF-8", Bytes(utf8)},
        {"UTF-8 with a byte-order mark", Bytes("\xEF\xBB\xBF" + utf8)},
        {"UTF-16LE", Utf16Bytes(text, false)},
        {"UTF-16BE", Utf16Bytes(text, true)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        CLanguagePack& pack = PackOf(WriteFile(row.bytes));
        EXPECT_EQ(pack.LookupText(u"Title"), u"Fran\u00E7ais \u05E2\u05B4");
    }
}

TEST_F(LanguagePackTest, HostileFileStillAnswers) {
    std::string file = "[RESOURCESTRING]\nBefore=ok\n";
    file += std::string("Nul\0led=a\0b\n", 12);
    file += "Broken=\xC3\x28\xFF end\n";
    file += "Huge=" + std::string(1 << 20, 'h') + "\n";
    file += "[\xFF\xFE]\n";
    file += "After=still ok\n";
    file += "Cut=\xE2\x82";  // ends inside a sequence
    CLanguagePack& pack = Pack(file);
    EXPECT_EQ(pack.LookupText(u"Before"), u"ok");
    EXPECT_EQ(pack.LookupText(u"Nulled"), u"ab");
    EXPECT_EQ(pack.LookupText(u"Broken"), u"\uFFFD(\uFFFD end");
    EXPECT_EQ(pack.LookupText(u"Huge").size(), 3071u);
    EXPECT_EQ(pack.LookupText(u"After", u"\uFFFD\uFFFD"), u"still ok");
    EXPECT_EQ(pack.LookupText(u"Cut", u"\uFFFD\uFFFD"), u"\uFFFD");

    // Half a UTF-16 character at the end is dropped.
    std::vector<std::uint8_t> odd = Utf16Bytes(u"[RESOURCESTRING]\nTitle=x", false);
    odd.push_back(0x41);
    EXPECT_EQ(PackOf(WriteFile(odd)).LookupText(u"Title"), u"x");
}

TEST_F(LanguagePackTest, FileIsReadOnceOnFirstLookup) {
    const fs::path path = WriteFile(Bytes("[RESOURCESTRING]\nTitle=before\n"));
    CLanguagePack& pack = PackOf(path);
    // Written after construction but before the first lookup: seen.
    WriteFile(Bytes("[RESOURCESTRING]\nTitle=first\n"));
    EXPECT_EQ(pack.LookupText(u"Title"), u"first");
    WriteFile(Bytes("[RESOURCESTRING]\nTitle=changed\nAdded=new\n"));
    EXPECT_EQ(pack.LookupText(u"Title"), u"first");
    EXPECT_EQ(pack.LookupText(u"Added"), u"");
}

TEST_F(LanguagePackTest, ConcurrentLookups) {
    std::string file = "[RESOURCESTRING]\n";
    for (int index = 0; index < 50; ++index) {
        file += "Text" + std::to_string(index) + "=value " + std::to_string(index) + "\n";
    }
    CLanguagePack& pack = Pack(file);
    std::vector<int> failures(8, 0);
    {
        std::vector<std::jthread> threads;
        for (std::size_t thread = 0; thread < failures.size(); ++thread) {
            threads.emplace_back([&pack, &failure = failures[thread], thread] {
                for (int round = 0; round < 500; ++round) {
                    const int index = static_cast<int>((thread * 7 + round) % 60);
                    const std::u16string expected =
                        index < 50 ? Utf8ToUtf16("value " + std::to_string(index)) : u"";
                    if (pack.LookupText(Utf8ToUtf16("Text" + std::to_string(index))) != expected) {
                        ++failure;
                    }
                }
            });
        }
    }
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}

TEST(LanguageTableTest, ResolveLanguageFile) {
    const fs::path executable = "/opt/quillary/bin/quillary";
    const struct {
        int index;
        fs::path expected;
    } cases[] = {
        {0, "/opt/quillary/bin/eng_kvl.ini"},      {1, "/opt/quillary/bin/Chinese_kvl.ini"},
        {11, "/opt/quillary/bin/russian_kvl.ini"}, {13, "/opt/quillary/bin/swedish_kvl.ini"},
        {14, "/opt/quillary/bin/eng_kvl.ini"},     {-1, "/opt/quillary/bin/eng_kvl.ini"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(ResolveLanguageFile(executable, row.index), row.expected);
    }
}

TEST(LanguageTableTest, DisplayNamesKeepTheirMarks) {
    EXPECT_EQ(LanguageTable[6].displayName,
              u"\u05E2\u05B4\u05D1\u05B0\u05E8\u05B4\u05D9\u05EA (Hebrew)");
    EXPECT_EQ(LanguageTable[1].displayName, u"\u4E2D\u570B\u50B3\u7D71 (Chinese)");
    EXPECT_EQ(LanguageTable[10].displayName, u"Portugu\u00EAs (Portuguese)");
}

// Records the calls instead of changing the process locale; accepts only installed names.
class LanguageLocaleTest : public ::testing::Test {
protected:
    void SetUp() override { savedCaseLocale_ = GetCaseLocale(); }
    void TearDown() override { SetCaseLocale(savedCaseLocale_); }

    std::string Apply(int languageIndex) {
        return ApplyLanguageLocale(
            languageIndex,
            [this](int category, const char* name) {
                calls_.emplace_back(category, name);
                return installed_.count(name) > 0;
            },
            [this](std::u16string_view line) { log_.emplace_back(line); });
    }

    // The calls a successful choice of name makes after the LC_COLLATE tries.
    static std::vector<std::pair<int, std::string>> FollowingCalls(const std::string& name) {
        return {{LC_CTYPE, name},
                {LC_MONETARY, name},
                {LC_NUMERIC, name},
                {LC_TIME, name},
                {LC_ALL, name}};
    }

    std::set<std::string> installed_;
    std::vector<std::pair<int, std::string>> calls_;
    std::vector<std::u16string> log_;
    CaseLocale savedCaseLocale_ = CaseLocale::Classic;
};

TEST_F(LanguageLocaleTest, EveryLanguageHasLocaleNames) {
    for (const LanguageRow& row : LanguageTable) {
        SCOPED_TRACE(row.localeName);
        EXPECT_FALSE(LocaleCandidates(row.localeName).empty());
    }
}

TEST_F(LanguageLocaleTest, InstalledLocaleIsSetForEveryCategoryInOrder) {
    installed_ = {"fr_FR.UTF-8", "C.UTF-8"};
    SetCaseLocale(CaseLocale::Classic);
    EXPECT_EQ(Apply(4), "fr_FR.UTF-8");
    auto expected = FollowingCalls("fr_FR.UTF-8");
    expected.emplace(expected.begin(), LC_COLLATE, "fr_FR.UTF-8");
    EXPECT_EQ(calls_, expected);
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(GetCaseLocale(), CaseLocale::Language);
}

TEST_F(LanguageLocaleTest, SecondChoiceAndFallbacks) {
    const struct {
        const char* name;
        int index;
        std::set<std::string> installed;
        std::vector<std::string> collateTries;
        std::string applied;
        bool logged;
        CaseLocale caseLocale;
    } cases[] = {
        {"Brazil's Portuguese",
         10,
         {"pt_BR.UTF-8"},
         {"pt_PT.UTF-8", "pt_BR.UTF-8"},
         "pt_BR.UTF-8",
         false,
         CaseLocale::Language},
        {"an index outside the table means English",
         99,
         {"en_US.UTF-8"},
         {"en_US.UTF-8"},
         "en_US.UTF-8",
         false,
         CaseLocale::Language},
        {"missing locale",
         8,
         {"C.UTF-8"},
         {"ja_JP.UTF-8", "C.UTF-8"},
         "C.UTF-8",
         true,
         CaseLocale::Language},
        {"not even C.UTF-8", 6, {}, {"he_IL.UTF-8", "C.UTF-8"}, "C", true, CaseLocale::Classic},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        installed_ = row.installed;
        calls_.clear();
        log_.clear();
        EXPECT_EQ(Apply(row.index), row.applied);
        std::vector<std::pair<int, std::string>> expected;
        for (const std::string& tried : row.collateTries) {
            expected.emplace_back(LC_COLLATE, tried);
        }
        for (auto& call : FollowingCalls(row.applied)) {
            expected.push_back(call);
        }
        EXPECT_EQ(calls_, expected);
        EXPECT_EQ(GetCaseLocale(), row.caseLocale);
        ASSERT_EQ(log_.size(), row.logged ? 1u : 0u);
        if (row.logged) {
            EXPECT_NE(log_[0].find(Utf8ToUtf16(row.collateTries[0])), std::u16string::npos);
        }
    }
}

}  // namespace
}  // namespace quillary
