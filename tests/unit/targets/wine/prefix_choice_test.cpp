#include "targets/wine/prefix_choice.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

TEST(PrefixChoiceTest, FirstNamedPrefixWinsAndMustBeAPrefix) {
    testing::CTempFolder folder;
    fs::path a = folder.Write("a/system.reg").parent_path();
    fs::path b = folder.Write("b/system.reg").parent_path();
    fs::path demo = folder.Write("demo/system.reg").parent_path();
    fs::path homeWithWine = folder.Write("home1/.wine/system.reg").parent_path().parent_path();
    fs::path homeWithBrokenWine = folder.MakeFolder("home2/.wine").parent_path();
    fs::path emptyHome = folder.MakeFolder("home3");
    fs::path notPrefix = folder.MakeFolder("plain");

    using Path = std::optional<fs::path>;
    struct {
        const char* name;
        Path argument, winePrefix, home;
        Path chosen;  // nullopt: an error
        PrefixOrigin origin;
    } cases[] = {
        {"argument first", a, b, homeWithWine, a, PrefixOrigin::Argument},
        {"then WINEPREFIX", {}, b, homeWithWine, b, PrefixOrigin::WinePrefixVariable},
        {"then ~/.wine", {}, {}, homeWithWine, homeWithWine / ".wine", PrefixOrigin::HomeWine},
        {"then the demo", {}, {}, emptyHome, demo, PrefixOrigin::Demo},
        {"no home", {}, {}, {}, demo, PrefixOrigin::Demo},
        // What the user named is used or refused, never swapped for another prefix.
        {"argument not a prefix", notPrefix, b, {}, {}, PrefixOrigin::Argument},
        {"WINEPREFIX not a prefix", {}, notPrefix, homeWithWine, {}, PrefixOrigin::Argument},
        {"~/.wine not a prefix", {}, {}, homeWithBrokenWine, {}, PrefixOrigin::Argument},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        std::optional<PrefixChoice> choice =
            ChoosePrefix({c.argument, c.winePrefix, c.home, demo}, &error);
        if (c.chosen) {
            ASSERT_TRUE(choice) << error;
            EXPECT_EQ(choice->folder, *c.chosen);
            EXPECT_EQ(choice->origin, c.origin);
        } else {
            EXPECT_FALSE(choice);
            EXPECT_NE(error.find("is not a Wine prefix"), std::string::npos) << error;
        }
    }
}

TEST(PrefixChoiceTest, MissingDemoPrefixIsAnError) {
    testing::CTempFolder folder;
    std::string error;
    EXPECT_FALSE(ChoosePrefix({{}, {}, {}, folder.Path() / "demo"}, &error));
    EXPECT_NE(error.find("demo"), std::string::npos);
}

TEST(PrefixChoiceTest, MayWriteAPrefixThatExists) {
    testing::CTempFolder folder;
    fs::path prefix = folder.Write("p/system.reg").parent_path();
    EXPECT_TRUE(MayWritePrefix(prefix));
    EXPECT_FALSE(MayWritePrefix(folder.Path() / "missing"));
}

}  // namespace
}  // namespace quillary
