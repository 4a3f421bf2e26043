#include "services/scan_report.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <memory>

#include "support/scan_fixture.h"
#include "targets/memory/memory_registry.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

using testing::CScanFixture;

class CIdleCategory : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
};

// Entry type 4's detail text names the problem's key.
constexpr std::int32_t kKeyOnlyEntryType = 4;

class ScanReportTest : public ::testing::Test {
protected:
    ScanReportTest()
        : fixture_(""),
          driver_([this](int) { return std::make_unique<CIdleCategory>(fixture_.Environment()); },
                  ScanDriverOptions{}) {
        texts_[u"IDS_PROBLEM_DETAIL_5"] = u"Key %s";
        texts_[u"IDS_ERROR"] = u"problem";
        texts_[u"IDS_ERRORS"] = u"problems";
        settings_.StrLastScan = u"Mon. March 02, 2026. 09:15 AM";
        settings_.LastScanProblemCount = u"3";
    }

    // Every text the language lacks reads as its identifier.
    std::u16string Text(std::u16string_view id) const {
        auto found = texts_.find(std::u16string(id));
        return found == texts_.end() ? std::u16string(id) : found->second;
    }

    void AddProblem(std::uint32_t bit, std::u16string_view label, std::u16string_view key) {
        CCategory& category = *driver_.CategoryOf(bit);
        const int index = category.AddProblem(false, kKeyOnlyEntryType, key, u"", u"", u"");
        ASSERT_GE(index, 0);
        category.AddDetailLine(index, label);
    }

    std::string Report() {
        const CTextTables tables([this](std::u16string_view id) { return Text(id); });
        const ScanReportSource source{driver_, tables, settings_,
                                      [this](std::u16string_view id) { return Text(id); },
                                      u"1.2.3"};
        std::string document;
        EXPECT_EQ(BuildScanReport(source, document), std::nullopt);
        return document;
    }

    CScanFixture fixture_;
    CScanDriver driver_;
    SettingsValues settings_;
    std::map<std::u16string, std::u16string> texts_;
};

TEST_F(ScanReportTest, ListsTheCategoriesWithProblemsInIndexOrder) {
    // History lists (index 5) with one problem, application paths (index 1) with two,
    // shortcuts (index 7) with none.
    driver_.CreateCategories(0x20 | 0x2 | 0x80, 3);
    AddProblem(0x20, u"Recent file", u"HKEY_CURRENT_USER\\Recent");
    AddProblem(0x2, u"app.exe", u"HKEY_LOCAL_MACHINE\\App");
    AddProblem(0x2, u"tool.exe", u"HKEY_LOCAL_MACHINE\\Tool");

    EXPECT_EQ(Report(), R"(<?xml version="1.0" encoding="UTF-8"?>
<KVLscanlog>
  <KVLVERSION>1.2.3</KVLVERSION>
  <ScanningDate>Mon. March 02, 2026. 09:15 AM</ScanningDate>
  <TotalErrorsFound>3</TotalErrorsFound>

  <Scanning Section="IDS_APPLICATION">
    <Description>IDS_BDES_APPLICATION</Description>
    <ErrorsInThisSection>2 problems</ErrorsInThisSection>

    <EntryDetails>
      <Entry>app.exe</Entry>

      <Details>Key HKEY_LOCAL_MACHINE\App</Details>
    </EntryDetails>

    <EntryDetails>
      <Entry>tool.exe</Entry>

      <Details>Key HKEY_LOCAL_MACHINE\Tool</Details>
    </EntryDetails>

  </Scanning>

  <Scanning Section="IDS_HISTORYLIST">
    <Description>IDS_BDES_HISTORYLIST</Description>
    <ErrorsInThisSection>1 problem</ErrorsInThisSection>

    <EntryDetails>
      <Entry>Recent file</Entry>

      <Details>Key HKEY_CURRENT_USER\Recent</Details>
    </EntryDetails>

  </Scanning>

</KVLscanlog>
)");
}

TEST_F(ScanReportTest, AScanWithoutProblemsGivesTheHeaderOnly) {
    driver_.CreateCategories(0x2 | 0x80, 2);
    settings_.LastScanProblemCount = u"0";
    settings_.StrLastScan.clear();

    EXPECT_EQ(Report(), R"(<?xml version="1.0" encoding="UTF-8"?>
<KVLscanlog>
  <KVLVERSION>1.2.3</KVLVERSION>
  <ScanningDate></ScanningDate>
  <TotalErrorsFound>0</TotalErrorsFound>

</KVLscanlog>
)");
}

// The first element of that name at or below node, or null.
xmlNode* FindElement(xmlNode* node, std::string_view name) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(node->name))
            return node;
        if (xmlNode* below = FindElement(node->children, name))
            return below;
    }
    return nullptr;
}

// Takes over a string libxml2 allocated.
std::string Taken(xmlChar* text) {
    if (text == nullptr)
        return "(none)";
    std::string copy(reinterpret_cast<const char*>(text));
    xmlFree(text);
    return copy;
}

TEST_F(ScanReportTest, HostileRegistryTextStillGivesAWellFormedDocument) {
    const std::u16string hostile = std::u16string(
                                       u"a\x01"
                                       u"b") +
                                   u'\0' + u"c\x1F" + u'\xD800' + u"]]>&<>\"\r\t\U0001F600" +
                                   u'\xDC00' + u'\xFFFE';
    // What the report holds instead: escapes for the control characters, U+FFFD for the lone
    // surrogates and the non-character; the rest as it was.
    const std::string expected =
        "a\\x01b\\x00c\\x1f\xEF\xBF\xBD]]>&<>\"\r\t\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD";
    texts_[u"IDS_APPLICATION"] = hostile;
    driver_.CreateCategories(0x2, 1);
    // Straight into the list: the exclusion rules would drop a key this odd.
    auto problem = std::make_unique<CProblem>();
    problem->EntryType = kKeyOnlyEntryType;
    problem->Key = hostile;
    problem->detailLines = {hostile};
    driver_.CategoryOf(0x2)->MutableProblems().push_back(std::move(problem));

    const std::string document = Report();
    xmlDoc* parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr,
                                   nullptr, XML_PARSE_NONET);
    ASSERT_NE(parsed, nullptr) << document;
    xmlNode* root = xmlDocGetRootElement(parsed);
    EXPECT_EQ(Taken(xmlNodeGetContent(FindElement(root, "Entry"))), expected);
    EXPECT_EQ(Taken(xmlNodeGetContent(FindElement(root, "Details"))), "Key " + expected);
    EXPECT_EQ(Taken(xmlGetProp(FindElement(root, "Scanning"),
                               reinterpret_cast<const xmlChar*>("Section"))),
              expected);
    xmlFreeDoc(parsed);
}

TEST_F(ScanReportTest, AFileThatCannotBeWrittenIsAnErrorThatNamesIt) {
    driver_.CreateCategories(0x2, 1);
    CPosixFileIo files;
    const CTextTables tables;
    const ScanReportSource source{driver_, tables, settings_, {}, u""};
    const std::filesystem::path path = fixture_.Folder().Path() / "missing" / "KVLscanlog.xml";
    FileError failure = WriteScanReport(files, path, source);
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find(path.parent_path().string()), std::string::npos) << *failure;
}

TEST(ReportRecipientTest, IsEmptyUntilStoredAndKeptAfterwards) {
    CMemoryRegistry config;
    EXPECT_EQ(ReadReportRecipient(config), u"");
    ASSERT_TRUE(StoreReportRecipient(config, u"me@example.org"));
    EXPECT_EQ(ReadReportRecipient(config), u"me@example.org");
}

}  // namespace
}  // namespace quillary
