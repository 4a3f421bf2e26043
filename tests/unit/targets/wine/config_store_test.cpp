#include "targets/linux/config_store.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "core/registry_access.h"
#include "targets/posix/posix_file_io.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

TEST(ConfigStoreTest, KeepsTheProgramsValuesAcrossRuns) {
    const fs::path folder =
        fs::temp_directory_path() / ("quillary-config-" + std::to_string(::getpid())) / "quillary";
    fs::remove_all(folder.parent_path());
    CPosixFileIo files;
    std::string error;
    {
        auto store = OpenConfigStore(files, folder, &error);
        ASSERT_NE(store, nullptr) << error;
        ConfigKey key(*store, HKeyCurrentUser);
        ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV\\LANG", true));
        ASSERT_TRUE(key.WriteDword(u"LangID", 5));
        key.Close();
        ASSERT_FALSE(store->Save().has_value());
    }
    auto store = OpenConfigStore(files, folder, &error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_TRUE(store->Diagnostics().empty());
    ConfigKey key(*store, HKeyCurrentUser);
    key.SetAccessMask(kMaskReadOnly);
    ASSERT_TRUE(key.Open(HKeyCurrentUser, u"Software\\Kestrow\\ORV\\LANG", false));
    std::uint32_t language = 0;
    EXPECT_TRUE(key.ReadDword(u"LangID", language));
    EXPECT_EQ(language, 5u);
    fs::remove_all(folder.parent_path());

    EXPECT_EQ(OpenConfigStore(files, {}, &error), nullptr);
    EXPECT_NE(error.find("HOME"), std::string::npos);
}

}  // namespace
}  // namespace quillary
