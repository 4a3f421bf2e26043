#pragma once

// The demo prefix opened as the program opens it: written by the generator into the data home
// of a test's own folder, where the program's settings are kept too, and loaded as start-up
// loads it.

#include <gtest/gtest.h>

#include <memory>

#include "app/target_factory.h"
#include "demo_prefix.h"
#include "support/temp_folder.h"

namespace quillary::testing {

inline std::unique_ptr<COpenTarget> OpenDemoTarget(const CTempFolder& folder) {
    TargetOptions options{{folder.Path() / "config", folder.Path() / "data",
                           std::filesystem::current_path() / "lang" / "quillary"},
                          {},
                          false,
                          [](int, const char*) { return true; }};
    std::string error;
    std::unique_ptr<COpenTarget> target =
        COpenTarget::OpenDemoPrefix(demo::WriteDemoPrefix, options, &error);
    EXPECT_TRUE(target) << error;
    if (target) {
        EXPECT_EQ(target->Context().Load(), std::vector<std::string>());
    }
    return target;
}

}  // namespace quillary::testing
