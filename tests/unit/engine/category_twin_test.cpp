#include <gtest/gtest.h>

#include "engine/category.h"
#include "support/scan_fixture.h"

namespace quillary {
namespace {

using testing::CScanFixture;

class CTwinCategory : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
};

constexpr std::u16string_view kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product";

TEST(CategoryTwinTest, OnlyAnExactRecordedProblemOutsideThe32BitViewIsATwin) {
    CScanFixture fixture("");
    fixture.Exclusions().AddToHistory(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Dropped");
    CTwinCategory category(fixture.Environment());
    ASSERT_GE(category.AddProblem(false, 42, kKey, u"Path", u"C:\\gone.exe", u""), 0);
    ASSERT_GE(category.AddProblem(true, 42, kKey, u"Other", u"C:\\gone.exe", u""), 0);
    // Dropped by the history list: never recorded, so never a twin.
    ASSERT_EQ(category.AddProblem(false, 27, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Dropped", u"",
                                  u"", u""),
              -1);

    struct {
        const char* why;
        std::int32_t entryType;
        std::u16string_view key;
        std::u16string_view valueName;
        std::u16string_view valueData;
        bool twin;
    } cases[] = {
        {"same fields", 42, kKey, u"Path", u"C:\\gone.exe", true},
        {"other entry type", 43, kKey, u"Path", u"C:\\gone.exe", false},
        {"key in another case", 42, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR\\Product", u"Path",
         u"C:\\gone.exe", false},
        {"value name in another case", 42, kKey, u"path", u"C:\\gone.exe", false},
        {"data in another case", 42, kKey, u"Path", u"C:\\GONE.exe", false},
        {"fields moved between parts", 42, kKey, u"PathC:\\gone.exe", u"", false},
        {"only a 32-bit problem has them", 42, kKey, u"Other", u"C:\\gone.exe", false},
        {"dropped problem", 27, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Dropped", u"", u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(category.Has64BitTwin(c.entryType, c.key, c.valueName, c.valueData), c.twin);
    }
}

}  // namespace
}  // namespace quillary
