// `quillary-cli report` on a scan of the demo prefix: the document it writes, and the desktop
// programs it hands the file to.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fstream>

#include "cli_fixture.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using testing::CliTest;

std::size_t CountElements(xmlNode* node, std::string_view name) {
    std::size_t count = 0;
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(node->name))
            ++count;
        count += CountElements(node->children, name);
    }
    return count;
}

TEST_F(CliTest, TheReportHasOneEntryPerProblemOfTheSavedScan) {
    ASSERT_EQ(Cli({"scan", "--categories", "all", "--json"}).exitCode, 0);
    const fs::path output = folder_.Path() / "report.xml";
    testing::CommandResult report = Cli({"report", "--output", output.string()});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    EXPECT_EQ(report.out, output.string() + "\n");

    const std::string document = ReadBytes(output);
    xmlDoc* parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr,
                                   nullptr, XML_PARSE_NONET);
    ASSERT_NE(parsed, nullptr);
    xmlNode* root = xmlDocGetRootElement(parsed);
    EXPECT_EQ(CountElements(root, "EntryDetails"), 57u);
    EXPECT_EQ(CountElements(root, "Scanning"), 14u);
    xmlFreeDoc(parsed);
}

// Stands in for xdg-utils: each program writes its arguments, one a line, to a file.
class CliReportDesktopTest : public CliTest {
protected:
    CliReportDesktopTest() {
        fs::create_directories(Bin());
        for (const char* program : {"xdg-open", "xdg-email"}) {
            std::ofstream(Bin() / program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \""
                                           << (folder_.Path() / program).string() << ".args\"\n";
            fs::permissions(Bin() / program, fs::perms::owner_all);
        }
    }
    fs::path Bin() const { return folder_.Path() / "bin"; }
    std::vector<std::string> Desktop() const {
        return {"PATH=" + Bin().string() + ":/usr/bin:/bin", "DISPLAY=:99"};
    }
    std::string Arguments(const char* program) const {
        return ReadBytes(folder_.Path() / (std::string(program) + ".args"));
    }
};

TEST_F(CliReportDesktopTest, MailsTheReportToTheStoredAddressOnly) {
    testing::CommandResult unaddressed = Cli({"report", "--mail"}, Desktop());
    EXPECT_EQ(unaddressed.exitCode, 2);
    EXPECT_NE(unaddressed.err.find("report --mail-to ADDRESS"), std::string::npos)
        << unaddressed.err;
    EXPECT_FALSE(fs::exists(folder_.Path() / "xdg-email.args"));
    EXPECT_EQ(Cli({"report", "--mail-to", "-x@example.org"}, Desktop()).exitCode, 2);

    ASSERT_EQ(Cli({"report", "--mail-to", "me@example.org"}, Desktop()).exitCode, 0);
    testing::CommandResult mailed = Cli({"report", "--mail", "--open"}, Desktop());
    ASSERT_EQ(mailed.exitCode, 0) << mailed.err;
    const std::string report = mailed.out.substr(0, mailed.out.find('\n'));
    EXPECT_TRUE(report.ends_with("/KVLscanlog.xml")) << report;
    EXPECT_EQ(Arguments("xdg-open"), report + "\n");
    EXPECT_EQ(Arguments("xdg-email"),
              "--attach\n" + report + "\n--subject\nQuillary scan report\nme@example.org\n");
}

TEST_F(CliReportDesktopTest, WithoutAGraphicalSessionNothingIsStarted) {
    testing::CommandResult result =
        Cli({"report", "--open"},
            {"PATH=" + Bin().string() + ":/usr/bin:/bin", "DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("no graphical session"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(folder_.Path() / "xdg-open.args"));
}

}  // namespace
}  // namespace quillary
