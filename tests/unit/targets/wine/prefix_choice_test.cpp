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
    fs::path homeWithWine = folder.Write("home1/.wine/system.reg").parent_path().parent_path();
    fs::path homeWithBrokenWine = folder.MakeFolder("home2/.wine").parent_path();
    fs::path emptyHome = folder.MakeFolder("home3");
    fs::path notPrefix = folder.MakeFolder("plain");

    using Path = std::optional<fs::path>;
    constexpr const char* kNotAPrefix = "is not a Wine prefix";
    constexpr const char* kNoneNamed = "no Wine prefix was named";
    struct {
        const char* name;
        Path argument, winePrefix, home;
        Path chosen;  // nullopt: an error
        PrefixOrigin origin;
        const char* error = nullptr;
    } cases[] = {
        {"argument first", a, b, homeWithWine, a, PrefixOrigin::Argument},
        {"then WINEPREFIX", {}, b, homeWithWine, b, PrefixOrigin::WinePrefixVariable},
        {"then ~/.wine", {}, {}, homeWithWine, homeWithWine / ".wine", PrefixOrigin::HomeWine},
        // What the user named is used or refused, never swapped for another prefix.
        {"argument not a prefix", notPrefix, b, {}, {}, {}, kNotAPrefix},
        {"WINEPREFIX not a prefix", {}, notPrefix, homeWithWine, {}, {}, kNotAPrefix},
        {"~/.wine not a prefix", {}, {}, homeWithBrokenWine, {}, {}, kNotAPrefix},
        // Nothing named is an error too: the demo prefix is never taken in its place.
        {"home without ~/.wine", {}, {}, emptyHome, {}, {}, kNoneNamed},
        {"no home", {}, {}, {}, {}, {}, kNoneNamed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        std::optional<PrefixChoice> choice =
            ChoosePrefix({c.argument, c.winePrefix, c.home}, &error);
        if (c.chosen) {
            ASSERT_TRUE(choice) << error;
            EXPECT_EQ(choice->folder, *c.chosen);
            EXPECT_EQ(choice->origin, c.origin);
        } else {
            EXPECT_FALSE(choice);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

TEST(PrefixChoiceTest, MayWriteAPrefixThatExists) {
    testing::CTempFolder folder;
    fs::path prefix = folder.Write("p/system.reg").parent_path();
    EXPECT_TRUE(MayWritePrefix(prefix));
    EXPECT_FALSE(MayWritePrefix(folder.Path() / "missing"));
}

}  // namespace
}  // namespace quillary
