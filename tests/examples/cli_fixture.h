#pragma once

// quillary-cli run as a user runs it, on a fresh demo prefix of the test's own, with the
// program's data and settings in the test's folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../integration/command.h"
#include "demo_prefix.h"
#include "support/temp_folder.h"
#include "targets/posix/posix_file_io.h"

namespace quillary::testing {

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        std::filesystem::create_directories(folder_.Path() / "run");
        std::filesystem::permissions(folder_.Path() / "run", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        EXPECT_EQ(demo::WriteDemoPrefix(files_, Prefix()), std::nullopt);
    }

    std::filesystem::path Prefix() const { return folder_.Path() / "prefix"; }
    std::filesystem::path DataHome() const { return folder_.Path() / "data"; }

    CommandResult Cli(std::vector<std::string> arguments,
                      std::vector<std::string> environment = {}) {
        arguments.insert(arguments.begin(), QUILLARY_CLI);
        const std::filesystem::path& root = folder_.Path();
        // A variable the caller gives replaces the fixture's own.
        for (std::string variable :
             {"XDG_DATA_HOME=" + DataHome().string(),
              "XDG_CONFIG_HOME=" + (root / "config").string(),
              "XDG_RUNTIME_DIR=" + (root / "run").string(), "WINEPREFIX=" + Prefix().string()}) {
            const std::string name = variable.substr(0, variable.find('=') + 1);
            if (std::none_of(environment.begin(), environment.end(),
                             [&](const std::string& given) { return given.starts_with(name); }))
                environment.push_back(std::move(variable));
        }
        return RunCommand(arguments, environment);
    }

    // HKEY_LOCAL_MACHINE as quillary-cli exports it.
    std::string Export(const std::string& name) {
        std::filesystem::path file = folder_.Path() / name;
        EXPECT_EQ(Cli({"export", "HKEY_LOCAL_MACHINE", file.string()}).exitCode, 0);
        return ReadBytes(file);
    }

    static std::string ReadBytes(const std::filesystem::path& path) {
        std::ifstream stream(path, std::ios::binary);
        std::stringstream bytes;
        bytes << stream.rdbuf();
        return bytes.str();
    }

    CTempFolder folder_;
    CPosixFileIo files_;
};

}  // namespace quillary::testing
