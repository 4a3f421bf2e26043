#include "app/command_line.h"

#include <gtest/gtest.h>

#include "core/text_encoding.h"

namespace quillary {
namespace {

TEST(CommandLineTest, FirstArgumentSelectsTheMode) {
    struct {
        std::vector<std::u16string> arguments;
        bool isAdministrator;
        bool scheduledScan, updateCheck, afterOptimization;
        ElevationVerb verb;
    } cases[] = {
        {{}, false, false, false, false, ElevationVerb::None},
        {{u"-S"}, false, true, false, false, ElevationVerb::None},
        {{u"-updatecheck"}, false, false, true, false, ElevationVerb::None},
        {{u"StartedAfterOptimization"}, false, false, false, true, ElevationVerb::None},
        {{u"-autorun"}, false, false, false, false, ElevationVerb::None},
        // Only the first argument counts.
        {{u"-autorun", u"-s"}, false, false, false, false, ElevationVerb::None},
        // A verb counts only with administrator rights.
        {{u"ZANVISTASCAN"}, false, false, false, false, ElevationVerb::None},
        {{u"ZANVISTASCAN"}, true, false, false, false, ElevationVerb::Scan},
        {{u"zanvistafullbackuprestore"},
         true,
         false,
         false,
         false,
         ElevationVerb::FullBackupRestore},
        {{u"zanvistaschedule", u"x"}, true, false, false, false, ElevationVerb::Schedule},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "none" : Utf16ToUtf8(c.arguments[0]));
        CommandLine line = ParseCommandLine(c.arguments, c.isAdministrator);
        EXPECT_EQ(line.hasArguments, !c.arguments.empty());
        EXPECT_EQ(line.scheduledScan, c.scheduledScan);
        EXPECT_EQ(line.updateCheck, c.updateCheck);
        EXPECT_EQ(line.commandLineMode, c.scheduledScan || c.updateCheck);
        EXPECT_EQ(line.startedAfterOptimization, c.afterOptimization);
        EXPECT_EQ(line.verb, c.verb);
    }
    std::vector<std::u16string> arguments = {u"-s", u"two words"};
    EXPECT_EQ(ParseCommandLine(arguments, false).joined, u"-s two words ");
}

TEST(CommandLineTest, VerbsResumeTheirOperation) {
    using enum CommandTarget;
    EXPECT_EQ(CommandsForVerb(ElevationVerb::Scan),
              (std::vector<PostedCommand>{{MainWindow, 1154}}));
    EXPECT_EQ(CommandsForVerb(ElevationVerb::PartialBackupRestore),
              (std::vector<PostedCommand>{{MainWindow, 388}, {BackupPage, 426}}));
    EXPECT_EQ(CommandsForVerb(ElevationVerb::Schedule),
              (std::vector<PostedCommand>{{MainWindow, 390}, {SettingsPage, 339}}));
    EXPECT_TRUE(CommandsForVerb(ElevationVerb::None).empty());
}

}  // namespace
}  // namespace quillary
